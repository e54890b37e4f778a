#!/bin/sh
# Installs the build into a fresh prefix and checks that every program landed
# in <prefix>/bin and runs (its --help exits 0), and that the bundled cell
# reference is installed where cimbrel-covariates finds it.
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
reference="$prefix/share/cimbrel/reference/blood_salas2018.txt"
[ -f "$reference" ] || { echo "the blood reference is not in $prefix/share/cimbrel/reference"; exit 1; }
[ -f "$prefix/share/cimbrel/reference/README.md" ] || { echo "the reference's README is not installed"; exit 1; }
# Two samples of pure granulocytes and pure monocytes, from the installed
# reference itself, run through the installed program from another folder.
study="$prefix/study"
mkdir "$study"
awk 'NR > 1 { gsub(/"/, "", $1); print $1 "\t" $2 "\t0.001" }' "$reference" >"$study/a.txt"
awk 'NR > 1 { gsub(/"/, "", $1); print $1 "\t" $7 "\t0.001" }' "$reference" >"$study/b.txt"
printf 'a.txt\tA\tx\nb.txt\tB\ty\n' >"$study/config"
(cd "$study" && "$prefix/bin/cimbrel-covariates" config --cells blood --out new --table table >/dev/null 2>"$study/err") ||
  { echo "cimbrel-covariates --cells blood failed:"; cat "$study/err"; exit 1; }
awk -F'\t' '$1 == "A" && $2 > 0.99 { a = 1 } $1 == "B" && $7 > 0.99 { b = 1 } END { exit !(a && b) }' "$study/table" ||
  { echo "wrong proportions from the installed reference:"; cat "$study/table"; exit 1; }
