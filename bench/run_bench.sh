#!/usr/bin/env bash
# Whole-process and per-stage benchmark of Cimbrel on generated studies.
# Not part of the tests. Usage:
#   bench/run_bench.sh [work dir] [shape ...]
# Shapes: 450k (485,577 probes x 100 samples, 2 groups, 1 covariable),
#         epic  (865,918 probes x 400 samples, 3 groups, 2 covariables),
#         450k200 (485,577 x 200: the sample-doubling check).
# Prints, per shape, the median wall time and peak resident memory of 3 runs
# of `cimbrel -n 2` (default run: normalisation and both region stages), then
# the per-stage timings of the fast paths and the reference side by side.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-/tmp/cimbrel_bench}"; shift || true
shapes=("${@:-450k}")
"$here/scripts/setup.sh" >/dev/null   # incremental: the benchmark always measures the current tree
mkdir -p "$work"

gen_args() {
  case "$1" in
    450k)    echo "--probes 485577 --samples 100 --groups 2 --covariables 1" ;;
    450k200) echo "--probes 485577 --samples 200 --groups 2 --covariables 1" ;;
    epic)    echo "--probes 865918 --samples 400 --groups 3 --covariables 2" ;;
    *) echo "unknown shape $1" >&2; exit 2 ;;
  esac
}
covariables() { case "$1" in epic) echo 2 ;; *) echo 1 ;; esac; }

for shape in "${shapes[@]}"; do
  dir="$work/$shape"
  if [ ! -f "$dir/etc/description.xls" ]; then
    echo "generating $shape in $dir"
    # shellcheck disable=SC2046
    "$here/build/cimbrel_generate" $(gen_args "$shape") --seed 7 --out "$dir" >/dev/null
  fi
  mkdir -p "$dir/run"
  walls=(); rss=()
  for i in 1 2 3; do
    ( cd "$dir/run" && /usr/bin/time -f "%e %M" -o "$work/time.$shape.$i" \
        "$here/build/cimbrel" --covariable "$(covariables "$shape")" -n 2 > "$work/log.$shape.$i" )
    read -r w m < "$work/time.$shape.$i"
    walls+=("$w"); rss+=("$m")
  done
  median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
  echo "$shape: whole process, -n 2, median of 3: $(median "${walls[@]}") s wall, peak RSS $(( $(median "${rss[@]}") / 1024 )) MB (runs: ${walls[*]} s)"
  "$here/build/cimbrel_bench" "$dir" -n 2 --covariable "$(covariables "$shape")"
done
