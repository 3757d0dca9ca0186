#!/usr/bin/env bash
# Builds pulvo with its tests and runs the whole suite.
# Usage: scripts/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
"$root/scripts/install-deps.sh" python3-matplotlib
"$root/scripts/build.sh" "$dir" "$@"
cd "$dir"
# Most end-to-end tests wait on the wall clock; four at a time is plenty on
# two cores. PULVO_CTEST_SELECT narrows the run (ctest's -L/-LE by label).
# shellcheck disable=SC2086
ctest --output-on-failure -j 4 ${PULVO_CTEST_SELECT:-}
