#!/usr/bin/env bash
# pulvo call across a router, as a voice engineer checks a path: three
# network namespaces, caller - router - reflector, the router forwarding
# IPv4 and IPv6 (one hop each way). Clean, every window says DSCP 46 sent
# and received and 1 hop each way; nft on the router then re-marks EF to 0
# on one direction (pulvo call must name that direction and no other, and
# the reflector's answers must still leave in EF, seen in a capture), and
# lowers the TTL of the way back in the middle of a call (a path change,
# said as it happens). Needs root (ip netns, nft, tcpdump).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" iproute2 nftables tcpdump tshark python3
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$root/build" >/dev/null
pulvo=$root/build/src/app/pulvo
caller=pulvo-caller-$$ router=pulvo-router-$$ far=pulvo-far-$$ work=$(mktemp -d)
reflector=""
cleanup() {
  [ -n "$reflector" ] && kill "$reflector" 2>/dev/null || true
  for ns in "$caller" "$router" "$far"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
for ns in "$caller" "$router" "$far"; do
  ip netns add "$ns"
  ip -n "$ns" link set lo up
done
ip link add pc$$ type veth peer name prc$$
ip link add pf$$ type veth peer name prf$$
ip link set pc$$ netns "$caller"
ip link set prc$$ netns "$router"
ip link set pf$$ netns "$far"
ip link set prf$$ netns "$router"
ip -n "$caller" addr add 10.201.1.1/24 dev pc$$
ip -n "$caller" addr add fd00:201:1::1/64 dev pc$$ nodad
ip -n "$router" addr add 10.201.1.254/24 dev prc$$
ip -n "$router" addr add fd00:201:1::fe/64 dev prc$$ nodad
ip -n "$router" addr add 10.201.2.254/24 dev prf$$
ip -n "$router" addr add fd00:201:2::fe/64 dev prf$$ nodad
ip -n "$far" addr add 10.201.2.1/24 dev pf$$
ip -n "$far" addr add fd00:201:2::1/64 dev pf$$ nodad
ip -n "$caller" link set pc$$ up
ip -n "$far" link set pf$$ up
ip -n "$router" link set prc$$ up
ip -n "$router" link set prf$$ up
ip -n "$caller" route add default via 10.201.1.254
ip -n "$caller" -6 route add default via fd00:201:1::fe
ip -n "$far" route add default via 10.201.2.254
ip -n "$far" -6 route add default via fd00:201:2::fe
ip netns exec "$router" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1

ip netns exec "$far" "$pulvo" "reflect:la=::,lp=862,du=120" >/dev/null &
reflector=$!
ip netns exec "$far" python3 "$root/bench/bench_common.py" wait 862 ::

# call ADDRESS NAME: a 4 s call with 2 s windows, its JSON and standard error kept.
call() {
  ip netns exec "$caller" "$pulvo" -j "call:ra=$1,ws=2,sai=1,td=${3:-4}" \
    >"$work/$2.json" 2>"$work/$2.err"
}
# expect NAME FORWARD_RECEIVED REVERSE_RECEIVED FORWARD_HOPS REVERSE_HOPS
expect() {
  python3 - "$work/$1.json" "$2" "$3" "$4" "$5" <<'PY'
import json, sys
rows = [r for r in json.load(open(sys.argv[1])) if r["Direction"] != "verdict"]
want = {"forward": (int(sys.argv[2]), int(sys.argv[4])), "reverse": (int(sys.argv[3]), int(sys.argv[5]))}
seen = {d: [(r["DscpSent"], r["DscpReceived"], r["Hops"]) for r in rows if r["Direction"] == d]
        for d in want}
print("%s: %s" % (sys.argv[1].rsplit("/", 1)[1], seen))
for d, (received, hops) in want.items():
    assert seen[d], "no %s window" % d
    assert all(s == (46, received, hops) for s in seen[d]), "%s: want 46/%d, %d hops" % (d, received, hops)
assert all(r["LostPackets"] == 0 for r in rows), "loss on a clean path"
PY
}

echo "== clean, one router each way, IPv4 and IPv6 =="
call 10.201.2.1 clean4
expect clean4 46 46 1 1
call fd00:201:2::1 clean6
expect clean6 46 46 1 1
! grep -q "re-marks" "$work/clean4.err" "$work/clean6.err"

echo "== the router re-marks the forward direction from EF to 0 =="
ip netns exec "$router" nft -f - <<EOF
table inet remark {
  chain forward {
    type filter hook forward priority 0; policy accept;
    ip saddr 10.201.1.1 ip dscp set cs0
  }
}
EOF
ip netns exec "$caller" tcpdump -i pc$$ -n -U -w "$work/answers.pcap" "udp src port 862" 2>/dev/null &
dump=$!
sleep 1
call 10.201.2.1 forward
sleep 0.5
kill "$dump"
wait "$dump" || true
expect forward 0 46 1 1
cat "$work/forward.err"
grep -q "the forward path re-marks the call's class: DSCP 46 arrives as 0" "$work/forward.err"
! grep -q "the reverse path re-marks" "$work/forward.err"
# The answers keep EF on the clean way back: the class the requests asked
# for, not the one they arrived with.
classes=$(tshark -r "$work/answers.pcap" -T fields -e ip.dsfield.dscp 2>/dev/null | sort | uniq -c)
echo "answers' DSCP as captured: $classes"
[ "$(echo "$classes" | wc -l)" -eq 1 ] && echo "$classes" | grep -q " 46$"

echo "== ... and then the reverse direction instead =="
ip netns exec "$router" nft flush chain inet remark forward
ip netns exec "$router" nft add rule inet remark forward ip saddr 10.201.2.1 ip dscp set cs0
call 10.201.2.1 reverse
expect reverse 46 0 1 1
grep -q "the reverse path re-marks the call's class: DSCP 46 arrives as 0" "$work/reverse.err"
! grep -q "the forward path re-marks" "$work/reverse.err"

echo "== the way back's TTL lowered in the middle of a call =="
ip netns exec "$router" nft flush chain inet remark forward
ip netns exec "$caller" "$pulvo" -j "call:ra=10.201.2.1,ws=2,sai=1,td=8" \
  >"$work/ttl.json" 2>"$work/ttl.err" &
call_pid=$!
sleep 4
ip netns exec "$router" nft add rule inet remark forward ip saddr 10.201.2.1 ip ttl set 100
wait "$call_pid"
cat "$work/ttl.err"
grep -q "the reverse path changed: 1 hops, now 28" "$work/ttl.err"
! grep -q "the forward path changed" "$work/ttl.err"
echo "path checks passed"
