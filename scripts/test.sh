#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and runs every test with CTest.
#   SANITIZE=address  runs the suite under AddressSanitizer + UBSan (build-asan/)
#   SANITIZE=thread   runs it under ThreadSanitizer (build-tsan/)
set -euo pipefail
cd "$(dirname "$0")/.."
case "${SANITIZE:-}" in
  address) export BUILD_DIR=build-asan; extra=(-DCIMBREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  thread)  export BUILD_DIR=build-tsan; extra=(-DCIMBREL_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  "")      extra=() ;;
  *) echo "SANITIZE must be address or thread" >&2; exit 2 ;;
esac
WITH_TESTS=1 scripts/setup.sh "${extra[@]}"
cd "${BUILD_DIR:-build}"
ctest --output-on-failure --no-tests=error -j "$(nproc)"
