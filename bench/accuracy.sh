#!/usr/bin/env bash
# Regenerates the table of docs/accuracy.md: random impairments through
# pulvo-relay, measured by pulvo and by iperf3, against the relay's record.
# Usage: bench/accuracy.sh [seconds per run, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" iperf3 socat python3
PULVO_TARGET= "$root/scripts/build.sh" "$root/build" >/dev/null
python3 "$root/bench/accuracy.py" "$root/build" "${1:-60}"
