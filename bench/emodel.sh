#!/usr/bin/env bash
# Regenerates the side-by-side table of docs/mos.md: the trained model and the
# E-model on the relay's scenarios, against the relay's record.
# Usage: bench/emodel.sh [seconds per run, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" python3
PULVO_TARGET= "$root/scripts/build.sh" "$root/build" >/dev/null
python3 "$root/bench/emodel.py" "$root/build" "${1:-60}"
