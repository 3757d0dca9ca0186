#!/usr/bin/env bash
# Pacing and cost of pulvo against iperf3 at the same packet rate (20 ms for
# 60 s, 1 ms for 10 s), observed through pulvo-relay's kernel arrival stamps.
# The two tools run one after the other. First, how close the nap itself
# ends to its deadline, read inside the process.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" iperf3 socat python3 time
"$root/scripts/build.sh" "$root/build" -DPULVO_BUILD_BENCH=ON >/dev/null
"$root/build/bench/nap_bench" 20000 1500
"$root/build/bench/nap_bench" 1000 10000
python3 "$root/bench/pacing.py" "$root/build"
