# Shell helpers shared by the scripts; sourced, with $root set to the
# checkout.

# A UDP (or, with "tcp", TCP) port on 127.0.0.1 that was free a moment ago.
free_port() { python3 "$root/bench/bench_common.py" "${1:-udp}"; }

# Waits until a receiver has bound the UDP port (on 127.0.0.1 unless an
# address is given); fails after 20 seconds.
wait_udp_port() { python3 "$root/bench/bench_common.py" wait "$1" "${2:-127.0.0.1}"; }

# pair NAME RECEIVER SENDER [ADDRESS]: one five-second test on loopback
# (127.0.0.1 unless an address is given), RECEIVER and SENDER being the
# commands that run pulvo. Both must end with 0, and the receiver must have
# measured a clean stream.
pair() {
  local name=$1 receiver=$2 sender=$3 address=${4:-127.0.0.1}
  local out rport
  out=$(mktemp)
  rport=$(free_port)
  echo "== $name =="
  $receiver -j "recv:ws=2,sai=1,to=10,la=$address,lp=$rport" >"$out" &
  local rpid=$!
  wait_udp_port "$rport" "$address"
  $sender "send:td=5,sai=1,la=$address,ra=$address,rp=$rport,lp=$(free_port)" >/dev/null
  wait "$rpid"
  cat "$out"
  grep -q '"LostPackets":0,"EstimatedPackets":100' "$out"
  ! grep -q '"LostPackets":[1-9]' "$out"
  rm -f "$out"
}
