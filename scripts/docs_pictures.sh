#!/usr/bin/env bash
# Regenerates the pictures of the docs from real runs:
#   docs/test-through-relay.png  a 60 s loopback test through pulvo-relay:
#                                1 % random loss for 20 s, a burst of 15 lost
#                                packets at 30 s, 30 ms jitter from 40 s on
#   docs/mos.png                 the MOS model beside the E-model (listening,
#                                and conversational over 150 ms one way), from
#                                the table pulvo-mos-table prints (docs/mos.csv)
#   docs/delay.csv               the E-model's rating against the mouth-to-ear
#                                delay (G.114's curve), for docs/mos.md
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
"$root/scripts/install-deps.sh" python3-matplotlib
"$root/scripts/build.sh" "$root/build" >/dev/null
bin=$root/build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
recv_port=$(free_port)
relay_port=$(free_port)

"$bin/src/app/pulvo" recv:lp=$recv_port,ws=4,sai=1,to=10 --json-lines "$work/test.jsonl" >/dev/null &
receiver=$!
"$bin/tools/relay/pulvo-relay" --listen "$relay_port" --forward "$recv_port" --seed 7 \
  --loss 0.01:0-999 --drop-seq "$(seq -s, 1500 1514)" --jitter 30:2000- --idle-exit 3 &
relay=$!
wait_udp_port "$recv_port"
wait_udp_port "$relay_port"
"$bin/src/app/pulvo" send:rp=$relay_port,lp=$(free_port),td=60,sai=5 --json-lines "$work/test.jsonl" >/dev/null
wait $receiver $relay
"$root/tools/plot/pulvo-plot" "$work/test.jsonl" -o "$root/docs/test-through-relay.png"
cp "$work/test.jsonl" "$root/docs/test-through-relay.jsonl"

"$bin/tools/mos_table/pulvo-mos-table" >"$root/docs/mos.csv"
"$bin/tools/mos_table/pulvo-mos-table" --delay >"$root/docs/delay.csv"
"$root/tools/plot/pulvo-plot" --mos-table "$root/docs/mos.csv" -o "$root/docs/mos.png"
