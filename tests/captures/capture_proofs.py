#!/usr/bin/env python3
"""pulvo analyze against things no one here wrote.

1. Real RTP from GStreamer (PCMU through pulvo-relay with seeded loss and a
   loss burst every 97 packets, its sequence number and timestamp wrapping;
   PCMA over IPv6 beside it), captured by tcpdump. pulvo analyze must count,
   window by window, exactly the drops of the relay's truth, and its stream
   list and totals must equal those of tshark -z rtp,streams.
2. A call with silences: three GStreamer talk spurts on one SSRC, seconds
   of silence between them, through the relay with seeded loss. The windows
   count exactly the relay's drops, and a window without a drop reads no
   loss, however little voice it holds.
3. Captures from other projects' test suites (tests/data): the same streams
   and the same totals as tshark, and no loss in a stream without gaps.
4. A live pulvo send -> pulvo recv test through the relay, captured beside
   the receiver: pulvo analyze of the capture against the live samples.

Usage: capture_proofs.py BUILD_DIR   (needs root for tcpdump on lo)
"""
import csv
import json
import math
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from bench_common import check, failures, free_port  # noqa: E402

BUILD = sys.argv[1]
PULVO = os.path.join(BUILD, "src/app/pulvo")
RELAY = os.path.join(BUILD, "tools/relay/pulvo-relay")
WINDOW, SAMPLE = 4, 1
EDGE = 0.05  # s: how far the live windows may lie from the capture's
WORK = tempfile.mkdtemp(prefix="pulvo-captures-")



def start_capture(path, ports):
    expression = " or ".join("udp port %d" % p for p in ports)
    proc = subprocess.Popen(["tcpdump", "-i", "lo", "-U", "-n", "-w", path, expression],
                            stderr=subprocess.PIPE, text=True)
    # tcpdump says "listening on lo" once its filter is in place.
    line = proc.stderr.readline()
    if "listening" not in line:
        raise SystemExit("tcpdump did not start: " + line)
    return proc


def stop(proc):
    proc.send_signal(signal.SIGINT)
    proc.wait(timeout=20)


def gstreamer(encoder, payloader, host, port, packets, extra=""):
    pipeline = ("audiotestsrc is-live=true num-buffers=%d samplesperbuffer=160 wave=sine ! "
                "audio/x-raw,rate=8000,channels=1 ! %s ! %s min-ptime=20000000 "
                "max-ptime=20000000 %s ! udpsink host=%s port=%d"
                % (packets, encoder, payloader, extra, host, port))
    return subprocess.Popen(["gst-launch-1.0", "-q"] + pipeline.split(),
                            stdout=subprocess.DEVNULL)


def analyze(capture, *params):
    out = subprocess.run([PULVO, "-j", "analyze:file=%s,ws=%d,sai=%d%s" % (
        capture, WINDOW, SAMPLE, "".join("," + p for p in params))],
        capture_output=True, text=True, timeout=120)
    if out.returncode != 0:
        raise SystemExit("pulvo analyze failed: %s" % out.stderr)
    return [o for o in json.loads(out.stdout) if "MOS" in o]  # the samples, not the totals


def analyze_text(capture):
    return subprocess.run([PULVO, "analyze:file=%s,ws=%d,sai=%d" % (capture, WINDOW, SAMPLE)],
                          capture_output=True, text=True, timeout=120).stdout


def rtp_packets(capture, port):
    """(capture time, RTP sequence number) of every RTP packet to `port`, by tshark."""
    out = subprocess.run(["tshark", "-r", capture, "-d", "udp.port==%d,rtp" % port,
                          "-Y", "rtp && udp.dstport==%d" % port, "-T", "fields",
                          "-e", "frame.time_epoch", "-e", "rtp.seq"],
                         capture_output=True, text=True, check=True).stdout
    return [(float(t), int(s)) for t, s in (line.split() for line in out.splitlines())]


def unwrap(sequences):
    out, cycles, last = [], 0, None
    for s in sequences:
        if last is not None and s < last and last - s > 32768:
            cycles += 65536
        out.append(cycles + s)
        last = s
    return out


def expected_windows(received, dropped):
    """Lost packets per sample, from the received (time, extended seq) in
    arrival order and the dropped extended sequence numbers. The windows
    tick from 1 us after the first packet, once per sampling interval; the
    first sample comes after a whole window; the last tick that is not after
    the last packet is the last sample. A drop is counted in the window
    that holds the first packet received after it."""
    first, last = received[0][0], received[-1][0]
    warm = math.ceil(WINDOW / SAMPLE)
    ticks = []
    k = warm
    while first + 1e-6 + k * SAMPLE <= last:
        ticks.append(first + 1e-6 + k * SAMPLE)
        k += 1
    counted_at = []
    seqs = [s for _, s in received]
    for d in dropped:
        after = [t for (t, s) in received if s > d]
        if after and d > seqs[0]:
            counted_at.append(min(after))
    return [sum(1 for c in counted_at if tick - WINDOW <= c < tick) for tick in ticks]


def pulvo_packets(capture, port):
    """(capture time, sequence number, end of stream) of pulvo's packets to `port`."""
    out = subprocess.run(["tshark", "-r", capture, "-Y", "udp.dstport==%d" % port, "-T", "fields",
                          "-e", "frame.time_epoch", "-e", "udp.payload"],
                         capture_output=True, text=True, check=True).stdout
    packets = []
    for line in out.splitlines():
        t, payload = line.split()
        header = bytes.fromhex(payload[:30])
        packets.append((float(t), int.from_bytes(header[1:5], "big"),
                        header[5:13] == bytes(8)))
    return packets


def tshark_streams(capture, ports):
    args = ["tshark", "-r", capture, "-q", "-z", "rtp,streams"]
    for p in ports:
        args += ["-d", "udp.port==%d,rtp" % p]
    out = subprocess.run(args, capture_output=True, text=True, check=True).stdout
    streams = {}
    for line in out.splitlines():
        m = re.match(r"\s*[\d.]+\s+[\d.]+\s+(\S+)\s+(\d+)\s+(\S+)\s+(\d+)\s+(0x[0-9A-Fa-f]+)\s+"
                     r"(\S+)\s+(\d+)\s+(-?\d+)", line)
        if m:
            src, sport, dst, dport, ssrc, payload, packets, lost = m.groups()
            streams[(src, int(sport), dst, int(dport), int(ssrc, 16))] = (
                payload, int(packets), int(lost))
    return streams


def endpoint(text):
    host, port = text.rsplit(":", 1)
    return host.strip("[]"), int(port)


def pulvo_streams(text):
    """Stream list and totals from pulvo's text output."""
    heads = re.findall(r"^stream (\d+): (\S+) -> (\S+)  ssrc = (0x[0-9a-f]+)  codec = \S+ \(PT (\d+)\)",
                       text, re.M)
    totals = dict(re.findall(r"^stream (\d+) totals: packets = \d+  lost = (-?\d+)", text, re.M))
    streams = {}
    for index, src, dst, ssrc, pt in heads:
        streams[endpoint(src) + endpoint(dst) + (int(ssrc, 16),)] = (int(pt), int(totals[index]))
    return streams


def gstreamer_proof():
    print("== GStreamer RTP through the relay, and tshark ==")
    listen, forward, direct = free_port(), free_port(), free_port()
    capture = os.path.join(WORK, "gstreamer.pcap")
    truth_path = os.path.join(WORK, "truth.csv")
    dump = start_capture(capture, [forward, direct])
    relay = subprocess.Popen([RELAY, "--listen", str(listen), "--forward", str(forward), "--rtp",
                              "--seed", "11", "--loss", "0.03", "--drop-every", "97:4",
                              "--record", truth_path, "--idle-exit", "2"])
    time.sleep(0.3)
    # PCMU: its sequence number wraps after 236 packets, its timestamp after 45.
    pcmu = gstreamer("mulawenc", "rtppcmupay", "127.0.0.1", listen, 600,
                     "seqnum-offset=65300 timestamp-offset=4294960000")
    pcma = gstreamer("alawenc", "rtppcmapay", "::1", direct, 400)
    pcmu.wait(timeout=60)
    pcma.wait(timeout=60)
    relay.wait(timeout=30)
    time.sleep(0.3)
    stop(dump)

    with open(truth_path) as f:
        rows = [r for r in csv.DictReader(f) if r["kind"] == "data"]
    sent_seqs = unwrap([int(r["seq"]) for r in rows])
    dropped = sorted(s for s, r in zip(sent_seqs, rows) if r["action"] == "drop")
    received = rtp_packets(capture, forward)
    received = list(zip([t for t, _ in received], unwrap([s for _, s in received])))
    check(len(dropped) > 10, "the relay dropped %d of %d packets" % (len(dropped), len(rows)))
    check(len(received) + len(dropped) == len(rows),
          "capture (%d) and drops (%d) account for every packet sent (%d)"
          % (len(received), len(dropped), len(rows)))

    samples = [s for s in analyze(capture) if s["Destination"].endswith(":%d" % forward)]
    expected = expected_windows(received, dropped)
    got = [s["LostPackets"] for s in samples]
    check(got == expected, "window by window, pulvo counts the relay's drops: %s (truth %s)"
          % (got, expected))
    check(all(s["EstimatedPackets"] == WINDOW * 50 for s in samples),
          "every window expects %d packets" % (WINDOW * 50))

    ours = pulvo_streams(analyze_text(capture))
    theirs = tshark_streams(capture, [forward, direct])
    check(set(ours) == set(theirs), "the stream list equals tshark's: %s" % sorted(theirs))
    for key, (payload, packets, lost) in theirs.items():
        pt, our_lost = ours.get(key, (None, None))
        check(our_lost == lost and {"g711U": 0, "g711A": 8}.get(payload) == pt,
              "stream %s: lost %s (tshark %d), payload type %s (tshark %s)"
              % (key, our_lost, lost, pt, payload))


def silence_proof():
    print("== a call with silences (GStreamer talk spurts) through the relay ==")
    listen, forward = free_port(), free_port()
    capture = os.path.join(WORK, "silences.pcap")
    truth_path = os.path.join(WORK, "silences-truth.csv")
    dump = start_capture(capture, [forward])
    relay = subprocess.Popen([RELAY, "--listen", str(listen), "--forward", str(forward), "--rtp",
                              "--seed", "23", "--loss", "0.03", "--record", truth_path,
                              "--idle-exit", "5"])
    time.sleep(0.3)
    # Spurts of 3 s, 2 s and 3 s with 3 s and 2.5 s of silence: the sequence
    # numbers run on, the timestamps jump by the silence, as a sender with
    # voice activity detection sends them.
    seq, start = 0, 0.0
    for packets, silence in ((150, 3.0), (100, 2.5), (150, 0.0)):
        spurt = gstreamer("mulawenc", "rtppcmupay", "127.0.0.1", listen, packets,
                          "seqnum-offset=%d timestamp-offset=%d ssrc=4660"
                          % (seq, int(start * 8000)))
        spurt.wait(timeout=60)
        time.sleep(silence)
        seq += packets
        start += packets * 0.02 + silence
    relay.wait(timeout=30)
    time.sleep(0.3)
    stop(dump)

    with open(truth_path) as f:
        rows = [r for r in csv.DictReader(f) if r["kind"] == "data"]
    dropped = sorted(int(r["seq"]) for r in rows if r["action"] == "drop")
    received = rtp_packets(capture, forward)
    check(len(received) + len(dropped) == len(rows) == 400,
          "capture (%d) and drops (%d) account for the 400 packets sent"
          % (len(received), len(dropped)))
    samples = analyze(capture)
    got = [s["LostPackets"] for s in samples]
    expected = expected_windows(received, dropped)
    check(got == expected, "window by window, pulvo counts the relay's drops: %s (truth %s)"
          % (got, expected))
    check(all(s["LossRate"] == 0 for s in samples if s["LostPackets"] == 0),
          "a window without a drop reads no loss, silence or not (loss rates %s)"
          % [round(s["LossRate"], 3) for s in samples])


def real_captures_proof():
    print("== captures from other projects (tests/data), and tshark ==")
    data = os.path.join(ROOT, "tests", "data")
    for name in sorted(f for f in os.listdir(data) if f.endswith((".pcap", ".pcapng", ".gz"))):
        capture = os.path.join(data, name)
        ours = pulvo_streams(analyze_text(capture))
        ports = sorted({key[3] for key in ours})
        theirs = tshark_streams(capture, ports)
        check(ours and set(ours) == set(theirs),
              "%s: the stream list equals tshark's: %s" % (name, sorted(theirs)))
        for key, (payload, packets, lost) in theirs.items():
            check(ours.get(key, (None, None))[1] == lost,
                  "%s: stream %s lost %s (tshark %d)" % (name, key[4], ours.get(key), lost))
        gapless = {key[4] for key, (_, _, lost) in theirs.items() if lost <= 0}
        windows = [s for s in analyze(capture) if s["SSRC"] in gapless]
        check(all(s["LostPackets"] == 0 and s["LossRate"] == 0 for s in windows),
              "%s: no window of a stream without gaps reads loss (%d windows)"
              % (name, len(windows)))


def live_proof():
    print("== a live pulvo test, captured beside the receiver ==")
    listen, port = free_port(), free_port()
    capture = os.path.join(WORK, "live.pcap")
    dump = start_capture(capture, [port])
    truth_path = os.path.join(WORK, "live-truth.csv")
    relay = subprocess.Popen([RELAY, "--listen", str(listen), "--forward", str(port),
                              "--seed", "5", "--drop-every", "47:3", "--idle-exit", "3",
                              "--record", truth_path])
    receiver = subprocess.Popen([PULVO, "-j", "recv:lp=%d,ws=%d,sai=%d,to=10"
                                 % (port, WINDOW, SAMPLE)], stdout=subprocess.PIPE, text=True)
    time.sleep(0.3)
    subprocess.run([PULVO, "send:rp=%d,lp=%d,td=12" % (listen, free_port())],
                   stdout=subprocess.DEVNULL, timeout=60, check=True)
    live = json.loads(receiver.communicate(timeout=60)[0])
    relay.wait(timeout=30)
    stop(dump)
    replay = analyze(capture)
    print("live:    %s" % [s["LostPackets"] for s in live])
    print("capture: %s" % [s["LostPackets"] for s in replay])

    # The live receiver starts its windows when its calculation notices the
    # first packet (up to 10 ms of polling, plus scheduling) and its ticks
    # run late by each sleep's overshoot; the analysis starts them 1 us after
    # the first packet's capture time. A sample may therefore differ only
    # where a loss is counted (by the first packet after a gap) close to a
    # window's edge; and the last tick, which falls about where the first
    # end-of-stream packet arrives, may come before it on one side and after
    # it on the other, giving one sample more or less.
    packets = pulvo_packets(capture, port)
    data = [(t, seq) for t, seq, eos in packets if not eos]
    counting = [t for (t, seq), (_, prev) in zip(data[1:], data) if seq > prev + 1]
    ticks = [data[0][0] + 1e-6 + k * SAMPLE for k in range(math.ceil(WINDOW / SAMPLE), 1000)]
    check(abs(len(live) - len(replay)) <= 1,
          "as many samples as the live receiver (%d live, %d from the capture)"
          % (len(live), len(replay)))
    check(all(a["EstimatedPackets"] == b["EstimatedPackets"] for a, b in zip(live, replay)),
          "the same estimated packets in every sample")
    equal = 0
    for i, (a, b) in enumerate(zip(live, replay)):
        if a["LostPackets"] == b["LostPackets"]:
            equal += 1
            continue
        near_edge = any(abs(c - edge) < EDGE for c in counting for edge in (ticks[i], ticks[i] - WINDOW))
        check(near_edge, "sample %d differs (%d live, %d from the capture) only by a loss "
              "counted within %d ms of a window edge" % (i + 1, a["LostPackets"],
                                                         b["LostPackets"], EDGE * 1000))
    print("       %d of %d samples have the same lost packets live and from the capture"
          % (equal, min(len(live), len(replay))))

    # The text form names the pulvo stream and counts the relay's drops in
    # its totals (a drop after the last packet leaves no gap).
    text = analyze_text(capture)
    with open(truth_path) as f:
        rows = [r for r in csv.DictReader(f) if r["kind"] == "data"]
    last = max(int(r["seq"]) for r in rows if r["action"] != "drop")
    dropped = sum(1 for r in rows if r["action"] == "drop" and int(r["seq"]) < last)
    check(re.search(r"^stream 1: \S+ -> 127\.0\.0\.1:%d  pulvo test stream  codec = G711  "
                    r"packet interval = 20 ms$" % port, text, re.M) is not None,
          "the text output heads the pulvo stream")
    check("stream 1 totals: packets = %d  lost = %d" % (len(data), dropped) in text,
          "its totals count the %d packets captured and the %d the relay dropped"
          % (len(data), dropped))


if __name__ == "__main__":
    try:
        gstreamer_proof()
        silence_proof()
        real_captures_proof()
        live_proof()
    finally:
        if not os.environ.get("KEEP"):
            subprocess.run(["rm", "-rf", WORK])
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all capture proofs passed")
