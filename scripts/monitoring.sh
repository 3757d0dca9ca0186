#!/usr/bin/env bash
# The metrics file against the real thing: Debian's prometheus-node-exporter
# with only its textfile collector serves the folder that a loopback test
# writes its metrics to. The script scrapes it over HTTP during the test and
# after it, and checks that the pulvo gauges hold the values of the last
# sample in the JSON lines file and that the collector reported no error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
"$root/scripts/install-deps.sh" prometheus-node-exporter curl python3
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$root/build" >/dev/null
pulvo=$root/build/src/app/pulvo
work=$(mktemp -d)
http=$(free_port tcp)
prometheus-node-exporter --web.listen-address="127.0.0.1:$http" --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$work" >"$work/exporter.log" 2>&1 &
exporter=$!
trap 'kill $exporter 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$http/metrics" >/dev/null && break; sleep 0.1; done

port=$(free_port udp)
"$pulvo" -j recv:lp=$port,ws=2,sai=1,to=5 --json-lines "$work/live.jsonl" \
  --metrics "$work/pulvo.prom" >"$work/recv.json" &
receiver=$!
wait_udp_port "$port"
"$pulvo" send:rp=$port,lp=$(free_port udp),td=10 >/dev/null &
sender=$!
sleep 5
curl -sf "http://127.0.0.1:$http/metrics" >"$work/during.txt"
wait $sender
wait $receiver
curl -sf "http://127.0.0.1:$http/metrics" >"$work/after.txt"

/usr/bin/python3 - "$work" <<'PY'
import json, re, sys
work = sys.argv[1]

def gauges(path):
    values = {}
    for line in open(path):
        m = re.match(r'^(\w+)(\{[^}]*\})? (\S+)$', line.strip())
        if m and not line.startswith('#'):
            values.setdefault(m.group(1), []).append((m.group(2) or '', float(m.group(3))))
    return values

def one(values, name):
    found = values.get(name)
    assert found and len(found) == 1, '%s: %r' % (name, found)
    return found[0]

during, after = gauges(work + '/during.txt'), gauges(work + '/after.txt')
for scrape in (during, after):
    assert one(scrape, 'node_textfile_scrape_error')[1] == 0, 'textfile collector error'
assert one(during, 'pulvo_test_running')[1] == 1, 'not running during the test'
labels, running = one(after, 'pulvo_test_running')
assert running == 0, 'still running after the test'
assert 'command="recv"' in labels and 'test_id="1"' in labels, labels

lines = [json.loads(l) for l in open(work + '/live.jsonl')]
last = [l for l in lines if l['Event'] == 'sample'][-1]
expected = {
    'pulvo_mos': last['MOS'], 'pulvo_loss_ratio': last['LossRate'],
    'pulvo_lost_packets': last['LostPackets'], 'pulvo_estimated_packets': last['EstimatedPackets'],
    'pulvo_average_burst_size_packets': last['AverageBurstSize'],
    'pulvo_average_jitter_seconds': last['AvgJitter'] / 1000.0,
    'pulvo_emodel_r': last['EModelR'], 'pulvo_emodel_mos': last['EModelMOS'],
    'pulvo_emodel_conversational_r': last['ConversationalR'],
    'pulvo_emodel_conversational_mos': last['ConversationalMOS'],
    'pulvo_mouth_to_ear_delay_seconds': last['MouthToEarDelay'] / 1000.0,
}
for name, value in expected.items():
    got = one(after, name)[1]
    assert abs(got - value) < 1e-9, '%s: %r, last sample %r' % (name, got, value)
designed = json.load(open(work + '/recv.json'))
assert designed[-1]['MOS'] == last['MOS'] and len(designed) == len(lines) - 2
print('node exporter served %d pulvo gauges, values of the last sample (MOS %.4f), no scrape error'
      % (len([n for n in after if n.startswith('pulvo_')]), last['MOS']))
PY
