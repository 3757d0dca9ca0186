#!/usr/bin/env bash
# The MOS model per call, a sample pass over a full 20 s window of a 1 ms
# stream, 1,000 meters fed and ticked in one thread, a live 1 ms stream into
# a 20 s window, and jitter under CPU load.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" python3
"$root/scripts/build.sh" "$root/build" -DPULVO_BUILD_BENCH=ON >/dev/null
"$root/build/bench/engine_bench" "$root/build/src/app/pulvo" 30
python3 "$root/bench/jitter_load.py" "$root/build/src/app/pulvo" "$root/build/tools/relay/pulvo-relay" 20
