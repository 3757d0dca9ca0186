#!/usr/bin/env bash
# pulvo analyze against real things: GStreamer's RTP through pulvo-relay,
# captured by tcpdump, checked window by window against the relay's truth
# and stream by stream against tshark; and a live pulvo test captured beside
# its receiver. tcpdump needs root (or CAP_NET_RAW) on the loopback device.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" tcpdump tshark gstreamer1.0-tools gstreamer1.0-plugins-base \
  gstreamer1.0-plugins-good python3
PULVO_TARGET="pulvo pulvo-relay" "$root/scripts/build.sh" "$root/build" >/dev/null
python3 "$root/tests/captures/capture_proofs.py" "$root/build"
