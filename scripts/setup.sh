#!/usr/bin/env bash
# Installs what the build needs (Debian packages, only those missing) and
# builds Cimbrel and its companion programs into build/. Extra arguments go
# to cmake, e.g.
#   scripts/setup.sh -DCIMBREL_SANITIZE=ON      (AddressSanitizer + UBSan)
# BUILD_DIR selects another build folder (default: build). WITH_TESTS=1 also
# installs what only the tests need (GoogleTest, Chromium for the report's
# browser test).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make libgsl-dev libboost-thread-dev libisal-dev libfast-float-dev
          googletest libgtest-dev)
# Tests only: Chromium for the report's browser test; clang, its sanitizer
# and libFuzzer runtimes and zlib for the fuzz targets (scripts/fuzz.sh).
if [ "${WITH_TESTS:-0}" = 1 ]; then packages+=(chromium clang libclang-rt-14-dev zlib1g-dev); fi
scripts/install_missing.sh "${packages[@]}"

build_dir="${BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
