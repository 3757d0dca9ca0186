#!/usr/bin/env bash
# pulvo probe at scale. Usage: bench/probe.sh [calls, default 500] [seconds, default 30]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" python3 libcpp-httplib-dev
"$root/scripts/build.sh" "$root/build-bench" -DPULVO_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
/usr/bin/python3 "$root/bench/probe_bench.py" "$root/build-bench" "${1:-500}" "${2:-30}"
