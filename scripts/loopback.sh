#!/usr/bin/env bash
# The main job: a short measurement over loopback. A receiver and a sender
# run on 127.0.0.1; the receiver prints one sample per second.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
"$root/scripts/install-deps.sh"
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$root/build"
pulvo="$root/build/src/app/pulvo"
port=${PULVO_PORT:-50000}
echo "== pulvo recv:ws=2,sai=1,to=5,lp=$port   (and pulvo send:td=10,rp=$port) =="
"$pulvo" "recv:ws=2,sai=1,to=5,lp=$port" &
receiver=$!
wait_udp_port "$port"
"$pulvo" "send:td=10,sai=5,rp=$port" >/dev/null
wait "$receiver"
