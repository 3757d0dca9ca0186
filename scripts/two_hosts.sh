#!/usr/bin/env bash
# pulvo between two hosts as a newcomer runs it: two network namespaces
# joined by a veth pair (10.200.0.0/24 and fd00:200::/64), a receiver on one,
# a sender on the other given only the receiver's address. Over IPv4 and
# IPv6 the receiver must measure a clean stream; a sender bound where its
# datagrams cannot leave must say why. Needs root (ip netns).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" iproute2 python3
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$root/build" >/dev/null
pulvo=$root/build/src/app/pulvo
near=pulvo-near-$$ far=pulvo-far-$$ work=$(mktemp -d)
cleanup() {
  ip netns del "$near" 2>/dev/null || true
  ip netns del "$far" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$near"
ip netns add "$far"
ip link add pn$$ type veth peer name pf$$
ip link set pn$$ netns "$near"
ip link set pf$$ netns "$far"
ip -n "$near" addr add 10.200.0.1/24 dev pn$$
ip -n "$far" addr add 10.200.0.2/24 dev pf$$
ip -n "$near" addr add fd00:200::1/64 dev pn$$ nodad
ip -n "$far" addr add fd00:200::2/64 dev pf$$ nodad
for ns in "$near" "$far"; do ip -n "$ns" link set lo up; done
ip -n "$near" link set pn$$ up
ip -n "$far" link set pf$$ up

for far_address in 10.200.0.2 fd00:200::2; do
  echo "== send:ra=$far_address from the other host, without la= =="
  ip netns exec "$far" "$pulvo" -j "recv:la=$far_address,lp=56010,ws=2,sai=1,to=10" \
    >"$work/recv.json" &
  receiver=$!
  ip netns exec "$far" python3 "$root/bench/bench_common.py" wait 56010 "$far_address"
  ip netns exec "$near" "$pulvo" "send:ra=$far_address,rp=56010,lp=56011,td=10,sai=5" >/dev/null
  wait "$receiver"
  python3 - "$work/recv.json" <<'PY'
import json, sys
samples = json.load(open(sys.argv[1]))
lost = [s["LostPackets"] for s in samples]
print("samples: %d, lost per window: %s" % (len(samples), lost))
assert len(samples) >= 5 and not any(lost), "not a clean stream"
PY
done

echo "== a sender bound to the loopback address cannot reach the other host =="
status=0
ip netns exec "$near" "$pulvo" "send:la=127.0.0.1,ra=10.200.0.2,rp=56010,lp=56011,td=10" \
  >/dev/null 2>"$work/err" || status=$?
cat "$work/err"
[ "$status" -eq 2 ]
grep -q "TrafGen: Error sending packet (.*): is la= an address of this host on the path to ra=" \
  "$work/err"
echo "two-host checks passed"
