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
if [ "${WITH_TESTS:-0}" = 1 ]; then packages+=(chromium); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi

build_dir="${BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
