#!/usr/bin/env bash
# Receive capacity: the packet rate pulvo recv sustains before it drops
# packets itself, and its memory at each rate.
# Usage: bench/flood.sh [seconds per rate]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DPULVO_BUILD_BENCH=ON >/dev/null
"$root/build/bench/flood_bench" "$root/build/src/app/pulvo" "${1:-6}"
