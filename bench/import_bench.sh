#!/usr/bin/env bash
# Benchmark of cimbrel-import against its floor, the time to read the inputs
# and write the outputs with the standard tools. Not part of the tests. Usage:
#   bench/import_bench.sh [work dir] [idat|matrix|vendor ...]
# idat    100 EPIC-sized gzipped IDAT pairs (import_generate idat) -> study;
#         floor: zcat of every IDAT + gzip -1 of every data file written
# matrix  865,918 x 200 GEO-style matrix (import_generate matrix) -> study;
#         floor: zcat of the matrix + gzip -1 of every data file written
# vendor  the same study in the vendor software's export column order
#         (import_generate vendor; seven columns per sample); same floor
# Runs the import and the floor alternately, ROUNDS times (default 2), and
# prints each wall time, the ratio import / floor and the import's peak
# resident memory. SAMPLES overrides the sample count; THREADS (default 2)
# the import's -n.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-/tmp/cimbrel_import_bench}"; shift || true
kinds=("${@:-idat}")
build="$here/build"
rounds="${ROUNDS:-2}"
threads="${THREADS:-2}"
cmake --build "$build" --target cimbrel-import import_generate >/dev/null

now() { date +%s.%N; }

# Floor: decompress the inputs, then compress the decompressed outputs.
floor() {
  local dir=$1 kind=$2 start end
  rm -rf "$dir/plain" && mkdir -p "$dir/plain"
  for f in "$dir"/study/data/*.txt.gz; do zcat "$f" > "$dir/plain/$(basename "$f" .gz)"; done
  start=$(now)
  if [ "$kind" = idat ]; then cat "$dir"/idat/*.idat.gz | zcat > /dev/null; else zcat "$dir/betas.txt.gz" > /dev/null; fi
  for f in "$dir"/plain/*.txt; do gzip -1 -c "$f" > /dev/null; done
  end=$(now)
  rm -rf "$dir/plain"
  echo "$end - $start" | bc
}

import() {
  local dir=$1 kind=$2
  rm -rf "$dir/study"
  if [ "$kind" = idat ]; then
    /usr/bin/time -f "%e %M" -o "$dir/time" "$build/cimbrel-import" idat "$dir/sheet.csv" \
      --manifest "$dir/manifest.csv" --out "$dir/study" -n "$threads" 2> "$dir/log"
  else
    /usr/bin/time -f "%e %M" -o "$dir/time" "$build/cimbrel-import" matrix "$dir/betas.txt.gz" \
      --samples "$dir/sheet.csv" --out "$dir/study" 2> "$dir/log"
  fi
  cat "$dir/time"
}

for kind in "${kinds[@]}"; do
  dir="$work/$kind"
  samples="${SAMPLES:-$([ "$kind" = idat ] && echo 100 || echo 200)}"
  if [ ! -f "$dir/sheet.csv" ]; then
    echo "generating $kind ($samples samples) in $dir"
    "$build/import_generate" "$kind" "$dir" "$samples"
  fi
  for round in $(seq "$rounds"); do
    read -r wall rss <<< "$(import "$dir" "$kind")"
    base=$(floor "$dir" "$kind")
    printf '%s round %s: import %.1f s (peak RSS %d MB), floor %.1f s, ratio %.2f\n' \
      "$kind" "$round" "$wall" $((rss / 1024)) "$base" "$(echo "$wall / $base" | bc -l)"
  done
done
