#!/usr/bin/env bash
# Whole-process and per-stage benchmark of Cimbrel on generated studies.
# Not part of the tests. Usage:
#   bench/run_bench.sh [work dir] [shape ...]
# Shapes: 450k     485,577 probes x 100 samples, 2 groups, 1 covariable
#         450k200  485,577 x 200 (the sample-doubling check)
#         450kgz   the 450k study with gzip-compressed data files
#         450kv    the 450k study written the way the vendor's software writes
#                  data files (6-decimal betas, detection p-values like 1.49560e-11)
#         450kmix  the 450k study in mixed number forms with CR LF line ends
#         epic     865,918 x 400, 3 groups, 2 covariables
#         100k1000 100,000 x 1,000, 2 groups, 1 covariable
# Prints, per shape, the median wall time and peak resident memory of 3 runs
# of `cimbrel -n 2` (default run: normalisation and both region stages), then
# the per-stage timings with the read stage's throughput (MB of data-file
# text per second of wall time and per CPU second). With CIMBREL_MEMORY set
# (for example 128M) every run uses that budget, so a study larger than it
# runs out of core, and the stage table shows the out-of-core path;
# BASELINE=path/to/cimbrel adds the same 3 runs of another build, alternating
# with this one.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-/tmp/cimbrel_bench}"; shift || true
shapes=("${@:-450k}")
"$here/scripts/setup.sh" >/dev/null   # incremental: the benchmark always measures the current tree
mkdir -p "$work"

gen_args() {
  case "$1" in
    450k)     echo "--probes 485577 --samples 100 --groups 2 --covariables 1" ;;
    450k200)  echo "--probes 485577 --samples 200 --groups 2 --covariables 1" ;;
    450kgz)   echo "--probes 485577 --samples 100 --groups 2 --covariables 1 --gzip" ;;
    450kv)    echo "--probes 485577 --samples 100 --groups 2 --covariables 1 --style vendor" ;;
    450kmix)  echo "--probes 485577 --samples 100 --groups 2 --covariables 1 --style mixed --crlf" ;;
    epic)     echo "--probes 865918 --samples 400 --groups 3 --covariables 2" ;;
    100k1000) echo "--probes 100000 --samples 1000 --groups 2 --covariables 1" ;;
    *) echo "unknown shape $1" >&2; exit 2 ;;
  esac
}
covariables() { case "$1" in epic) echo 2 ;; *) echo 1 ;; esac; }
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

# Three runs of each binary on one study, alternating between them: median
# wall time and peak memory per binary.
measure() {
  local dir=$1 shape=$2 label=$3 i w m b
  shift 3
  local binaries=("$@")
  declare -A walls rss
  for i in 1 2 3; do
    for b in "${!binaries[@]}"; do
      ( cd "$dir/run" && /usr/bin/time -f "%e %M" -o "$work/time.$b.$i" \
          "${binaries[$b]}" --covariable "$(covariables "$shape")" -n 2 > "$work/log.$b.$i" )
      read -r w m < "$work/time.$b.$i"
      walls[$b]+="$w "; rss[$b]+="$m "
    done
  done
  for b in "${!binaries[@]}"; do
    # shellcheck disable=SC2086
    echo "$label, ${binaries[$b]}: median of 3: $(median ${walls[$b]}) s wall, peak RSS $(( $(median ${rss[$b]}) / 1024 )) MB (runs: ${walls[$b]}s)"
  done
}

for shape in "${shapes[@]}"; do
  dir="$work/$shape"
  if [ ! -f "$dir/etc/description.xls" ]; then
    echo "generating $shape in $dir"
    # shellcheck disable=SC2046
    "$here/build/cimbrel_generate" $(gen_args "$shape") --seed 7 --out "$dir" >/dev/null
  fi
  mkdir -p "$dir/run"
  binaries=("$here/build/cimbrel")
  [ -n "${BASELINE:-}" ] && binaries+=("$BASELINE")
  measure "$dir" "$shape" "$shape${CIMBREL_MEMORY:+ (CIMBREL_MEMORY=$CIMBREL_MEMORY)}" "${binaries[@]}"
  "$here/build/cimbrel_bench" "$dir" -n 2 --covariable "$(covariables "$shape")" --no-reference
done
