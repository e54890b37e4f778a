#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, AddressSanitizer and
# UBSan, in build-fuzz/) and runs each from its seed corpus.
#   scripts/fuzz.sh [SECONDS]   run every target for SECONDS (default 60)
#   scripts/fuzz.sh --list      print the target names, one a line
# Each run works on a copy of tests/fuzz/corpus/<target>/ in a scratch
# folder, so the repository never grows. Exit status 0 when nothing was
# found; otherwise 1, and each crashing, leaking or hanging input is kept as
# fuzz-findings/<target>/<kind>-<hash> with the run's log beside it.
# Environment: FUZZ_JOBS targets at a time (default 2), FUZZ_TARGETS a
# blank-separated subset, FUZZ_BUILD_DIR the build folder, FUZZ_FLAGS extra
# libFuzzer flags (e.g. -runs=1000000), FUZZ_NICE a nice level for the runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# Longest input per target: enough for a few dozen lines of its format.
max_len() {
  case "$1" in
    command_line) echo 512 ;;
    gzip) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

list_only=false
seconds=60
if [ "${1:-}" = "--list" ]; then
  list_only=true
else
  seconds=${1:-60}
  if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: scripts/fuzz.sh [SECONDS] | --list" >&2
    exit 2
  fi
fi

# clang's sanitizer and libFuzzer runtimes come in a package named after its
# major version (libclang-rt-14-dev for clang 14).
scripts/install_missing.sh clang zlib1g-dev cmake make libgsl-dev libboost-thread-dev libisal-dev \
  libfast-float-dev >&2
scripts/install_missing.sh "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev" >&2

# The build defines the targets: one per tests/fuzz/<reader>_fuzzer.cpp.
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCIMBREL_FUZZ=ON -DCIMBREL_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
list_targets() { cat "$build_dir/tests/fuzz/targets.txt"; }
if $list_only; then
  list_targets
  exit 0
fi
cmake --build "$build_dir" -j "$(nproc)" --target cimbrel_fuzzers >/dev/null

targets=${FUZZ_TARGETS:-$(list_targets)}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/cimbrel-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Runs one target; its log and outcome land in $scratch/<target>.{log,status}.
run_target() {
  local name=$1 findings="$root/fuzz-findings/$1" dict=tests/fuzz/$1.dict
  local binary="$build_dir/tests/fuzz/${name}_fuzzer"
  local work="$scratch/$name" status=0
  mkdir -p "$work/corpus" "$findings"
  cp -r "tests/fuzz/corpus/$name/." "$work/corpus/" 2>/dev/null || true
  local flags=(-max_total_time="$seconds" -max_len="$(max_len "$name")" -timeout=10 -rss_limit_mb=2048
               -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "$dict" ] && flags+=(-dict="$root/$dict")
  # shellcheck disable=SC2086
  (cd "$work" && TMPDIR="$work" nice -n "${FUZZ_NICE:-0}" "$root/$binary" "${flags[@]}" ${FUZZ_FLAGS:-} "$work/corpus") \
    >"$scratch/$name.log" 2>&1 || status=$?
  echo "$status" >"$scratch/$name.status"
}

# Final figures of a run: executions, coverage and features.
summary() {
  local log=$1 runs cov ft
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -oE '(DONE|pulse|NEW|REDUCE) +cov: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+$' || true)
  ft=$(grep -oE ' ft: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+$' || true)
  echo "executions ${runs:-?}, cov ${cov:-?}, ft ${ft:-?}"
}

jobs=${FUZZ_JOBS:-2}
for name in $targets; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_target "$name" &
done
wait

clean=0 found=0
for name in $targets; do
  status=$(cat "$scratch/$name.status" 2>/dev/null || echo 1)
  findings="$root/fuzz-findings/$name"
  if [ "$status" = 0 ]; then
    echo "fuzz $name: clean; $(summary "$scratch/$name.log")"
    rmdir "$findings" 2>/dev/null || true
    clean=$((clean + 1))
    continue
  fi
  found=$((found + 1))
  cp "$scratch/$name.log" "$findings/log.txt"
  echo "fuzz $name: FOUND (libFuzzer status $status); $(summary "$scratch/$name.log")"
  { grep -E '^(==[0-9]+==ERROR|SUMMARY|.*broken promise)' "$scratch/$name.log" || true; } | head -3 | sed 's/^/  /'
  for input in "$findings"/*; do
    [ "$(basename "$input")" = log.txt ] || echo "  input kept: ${input#"$root"/}"
  done
  echo "  log: fuzz-findings/$name/log.txt; repeat with: $build_dir/tests/fuzz/${name}_fuzzer <input>"
done
rmdir "$root/fuzz-findings" 2>/dev/null || true
echo "fuzz: $clean passed, $found failed"
[ "$found" = 0 ]
