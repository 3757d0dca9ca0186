#!/usr/bin/env bash
# pulvo probe against promtool, pulvo-relay's truth and its own reloads.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" python3 libcpp-httplib-dev prometheus
PULVO_TARGET="pulvo pulvo-relay pulvo-metrics-http" "$root/scripts/build.sh" "$root/build" >/dev/null
/usr/bin/python3 "$root/tests/probe/probe_proofs.py" "$root/build"
