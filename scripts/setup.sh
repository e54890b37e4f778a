#!/usr/bin/env bash
# Installs what the build needs (Debian packages, only those missing) and
# builds Cimbrel, its companion programs and their tests into build/. The
# default build compiles the tests, so GoogleTest is always installed. Extra
# arguments go to cmake, e.g.
#   scripts/setup.sh -DCIMBREL_SANITIZE=ON      (AddressSanitizer + UBSan)
# BUILD_DIR selects another build folder (default: build); BUILD_TARGET one
# target to build instead of everything (cimbrel_programs: the programs
# alone). WITH_TESTS=1 also installs what only running the tests needs
# (Chromium, for the report's browser test). scripts/fuzz.sh installs the
# fuzzing tools itself.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make libgsl-dev libboost-thread-dev libisal-dev libfast-float-dev libopenblas-dev
          googletest libgtest-dev)
if [ "${WITH_TESTS:-0}" = 1 ]; then packages+=(chromium); fi
scripts/install_missing.sh "${packages[@]}"

build_dir="${BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
target=()
if [ -n "${BUILD_TARGET:-}" ]; then target=(--target "$BUILD_TARGET"); fi
cmake --build "$build_dir" -j "$(nproc)" "${target[@]}"
