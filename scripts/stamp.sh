#!/usr/bin/env bash
# pulvo reflect and pulvo call against Debian's scapy STAMP layer, tshark's TWAMP-test
# dissector, Python's hmac and openssl dgst, and through the two-way pulvo-relay; in full
# TWAMP against twampy's controller and tshark's TWAMP-Control dissector.
# tcpdump needs root (or CAP_NET_RAW) on the loopback device.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The probe proof serves /metrics, which needs cpp-httplib at build time.
"$root/scripts/install-deps.sh" tcpdump tshark python3-scapy python3 openssl libcpp-httplib-dev
PULVO_TARGET="pulvo pulvo-relay" "$root/scripts/build.sh" "$root/build" >/dev/null
# Three runs side by side, each on ports of its own: the proofs mostly wait
# on calls of a few seconds. Each run's output is shown whole once it ends.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
proofs="/usr/bin/python3 $root/tests/stamp/stamp_proofs.py $root/build"
$proofs relay twampy-sender auth >"$logs/1" 2>&1 &
first=$!
$proofs scapy call stateless outage twampy-responder allow >"$logs/2" 2>&1 &
second=$!
/usr/bin/python3 "$root/tests/stamp/twamp_proofs.py" "$root/build" >"$logs/3" 2>&1 &
third=$!
status=0
for run in "$first:1" "$second:2" "$third:3"; do
  wait "${run%%:*}" || status=1
  cat "$logs/${run#*:}"
done
exit "$status"
