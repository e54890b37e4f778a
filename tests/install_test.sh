#!/bin/sh
# Installs the build into a fresh prefix and checks that every program landed
# in <prefix>/bin and runs (its --help exits 0).
# Usage: install_test.sh CMAKE BUILD_DIR PROGRAM...
set -eu
cmake=$1 build=$2
shift 2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
for program in "$@"; do
  [ -x "$prefix/bin/$program" ] || { echo "$program is not in $prefix/bin"; exit 1; }
  "$prefix/bin/$program" --help >/dev/null || { echo "$program --help failed"; exit 1; }
done
