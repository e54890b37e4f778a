#!/usr/bin/env bash
# Sets up (scripts/setup.sh, building the programs only, not the tests), then
# runs cimbrel on the bundled example study with its default paths. Results
# land in examples/demo/run/.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_TARGET=cimbrel_programs scripts/setup.sh
cd examples/demo/run
../../../build/cimbrel --covariable 1 -n 2 "$@"
echo
echo "Results are in $(pwd):"
ls -1 *.txt *.BedGraph
