#!/usr/bin/env bash
# STAMP figures: a reflector under many sessions, a call's CPU beside send
# and recv. Usage: bench/stamp.sh [sessions, default 1000] [seconds, default 20]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" python3
"$root/scripts/build.sh" "$root/build-bench" -DPULVO_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
/usr/bin/python3 "$root/bench/stamp_bench.py" "$root/build-bench" "${1:-1000}" "${2:-20}"
