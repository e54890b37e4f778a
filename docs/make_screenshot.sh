#!/usr/bin/env bash
# Regenerates docs/report_screenshot.png, the picture of cimbrel-report in the
# README: runs cimbrel on the bundled example study (examples/demo) keeping
# every tested probe (-p 1.01 -q 1.01), cimbrel-report on its three tables,
# and headless Chromium on the report, all in a temporary folder that is
# removed afterwards (nothing is written into examples/).
# The picture is the top of the page, as a browser window 1000 pixels wide
# shows it: the header with λ, then the QQ plots of the probes and regions.
#   BUILD_DIR   build folder holding cimbrel and cimbrel-report (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/${BUILD_DIR:-build}"
chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$chromium" ]; then
  echo "chromium not found: install the Debian package chromium (WITH_TESTS=1 scripts/setup.sh does)" >&2
  exit 1
fi
for program in cimbrel cimbrel-report; do
  [ -x "$build/$program" ] || { echo "$build/$program not found: build first (scripts/setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The example's configuration names its data files relative to run/.
ln -s "$root/examples/demo/data" "$work/data"
ln -s "$root/examples/demo/etc" "$work/etc"
mkdir "$work/run"
cd "$work/run"
"$build/cimbrel" --covariable 1 -n 2 -p 1.01 -q 1.01 >cimbrel.log
"$build/cimbrel-report" probe.txt --r1 r1.txt --r2 r2.txt \
  --title "Example study: 6 cases, 6 controls, 2,000 probes" --out report.html
"$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --hide-scrollbars --window-size=1000,1040 \
  --screenshot="$work/report.png" "file://$work/run/report.html" 2>/dev/null
cp "$work/report.png" "$root/docs/report_screenshot.png"
echo "wrote docs/report_screenshot.png"
