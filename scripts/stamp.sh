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
/usr/bin/python3 "$root/tests/stamp/stamp_proofs.py" "$root/build"
/usr/bin/python3 "$root/tests/stamp/twamp_proofs.py" "$root/build"
