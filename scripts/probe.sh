#!/usr/bin/env bash
# pulvo probe against promtool, pulvo-relay's truth, its own reloads, and
# Debian's Prometheus and Alertmanager; the shipped rules under promtool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" python3 libcpp-httplib-dev prometheus prometheus-alertmanager
(cd "$root/packaging/prometheus" && promtool check rules pulvo-rules.yml &&
   promtool test rules pulvo-rules.test.yml)
PULVO_TARGET="pulvo pulvo-relay pulvo-metrics-http" "$root/scripts/build.sh" "$root/build" >/dev/null
/usr/bin/python3 "$root/tests/probe/probe_proofs.py" "$root/build"
