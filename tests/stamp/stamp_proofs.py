#!/usr/bin/env python3
"""pulvo reflect against things no one here wrote.

1. Session-sender packets built by Debian's scapy STAMP layer
   (scapy.contrib.stamp), sent over IPv4 and IPv6 to a reflector on "::":
   every answer parses as scapy's reflector packet, is as long as the
   request, numbers its own sequence per session, echoes the sender's
   sequence number, time stamp, error estimate and session identifier,
   returns the padding TLV, and stamps T2 <= T3.
2. The same exchange captured by tcpdump and decoded by tshark's TWAMP-test
   dissector, field by field.
3. A source outside the allow-list gets no answer and is counted.
4. pulvo call against a reflector that scapy's STAMP layer builds (its
   answers, and the parsing of pulvo's requests, are scapy's), which drops
   chosen requests and answers: each direction's windows count exactly its
   own drops; tshark decodes the call's requests.
5. pulvo call through pulvo-relay, impaired differently each way, to pulvo
   reflect: each direction's losses equal the relay's truth for that way,
   and its MOS equals what pulvo recv reports for a one-way stream through
   the same impairment. Through the relay to a stateless reflector (scapy's
   layers, its numbers the sender's), only the round trip is scored, with
   the relay's losses. A reflector that stops for 3 s and starts afresh:
   the windows that end in the silence say so, both directions go on.
6. nokia/twampy's TWAMP Light responder (38 to 44-byte answers) against
   pulvo call: both directions scored, the round trip within 0.1 ms of a
   capture's; its sender (41, 44 and 160-byte requests) against pulvo
   reflect: no loss in its own report.
7. Authenticated mode: pulvo reflect's answers carry the HMAC that Python's
   hmac module and `openssl dgst -hmac` compute, every field at its offset;
   forged, cut and replayed requests get no answer and are counted; pulvo
   call's requests carry the HMAC Python computes, and forged or replayed
   answers from a reflector written here are counted and never scored.

Usage: stamp_proofs.py BUILD_DIR [PROOF...]   (needs root for tcpdump on lo)
"""
import collections
import csv
import hashlib
import hmac
import json
import struct
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

from scapy.all import UDP, rdpcap
from scapy.contrib.stamp import (STAMPSessionReflectorTestUnauthenticated as Reflection,
                                 STAMPSessionSenderTestUnauthenticated as Request, STAMPTestTLV,
                                 ErrorEstimate)

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from bench_common import call_rows, check, failures, free_port, wait_for_udp_port  # noqa: E402

PULVO = os.path.join(sys.argv[1], "src/app/pulvo")
RELAY = os.path.join(sys.argv[1], "tools/relay/pulvo-relay")
WORK = tempfile.mkdtemp(prefix="pulvo-stamp-")



def request(seq, ssid, padding):
    packet = Request(seq=seq, ssid=ssid, err_estimate=ErrorEstimate(S=1, scale=2, multiplier=3),
                     tlv_objects=[STAMPTestTLV(type=1, len=padding, value=b"\0" * padding)])
    return bytes(UDP(sport=1, dport=2) / packet)[8:], packet


REQUEST_TTL = 77  # the hops the reflector reports are counted down from what it saw


def exchange(port, family, address, ssid, count):
    s = socket.socket(family, socket.SOCK_DGRAM)
    s.settimeout(2)
    if family == socket.AF_INET6:
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_UNICAST_HOPS, REQUEST_TTL)
    else:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, REQUEST_TTL)
    answers = []
    for seq in range(100, 100 + count):
        raw, sent = request(seq, ssid, 100)
        s.sendto(raw, (address, port))
        try:
            data, _ = s.recvfrom(4096)
        except socket.timeout:
            answers.append((sent, raw, None))
            continue
        answers.append((sent, raw, data))
    s.close()
    return answers


def scapy_proof(port):
    print("== scapy's STAMP packets, over IPv4 and IPv6, to a reflector on :: ==")
    for family, address, ssid in ((socket.AF_INET, "127.0.0.1", 7), (socket.AF_INET6, "::1", 9)):
        answers = exchange(port, family, address, ssid, 5)
        check(all(data is not None for _, _, data in answers),
              "%s: every request answered" % address)
        good = True
        for own, (sent, raw, data) in enumerate(answers):
            if data is None:
                continue
            r = Reflection(data, _parent=UDP(len=8 + len(data)))
            good &= len(data) == len(raw)
            good &= r.seq == own and r.seq_sender == sent.seq and r.ssid == ssid
            good &= bytes(r.err_estimate_sender) == bytes(sent.err_estimate)
            good &= raw[4:12] == data[28:36]  # the sender's time stamp, T1
            good &= r.ts_rx <= r.ts
            good &= [t.type for t in r.tlv_objects] == [1] and r.tlv_objects[0].flags == 0
        check(good, "%s: same length, own sequence 0-4, sender's fields echoed, padding TLV "
              "returned, T2 <= T3" % address)


def tshark_proof(port):
    print("== the exchange captured and decoded by tshark's TWAMP-test dissector ==")
    capture = os.path.join(WORK, "stamp.pcap")
    dump = subprocess.Popen(["tcpdump", "-i", "lo", "--immediate-mode", "-U", "-n", "-w", capture,
                             "udp port %d" % port], stderr=subprocess.PIPE, text=True)
    if "listening" not in dump.stderr.readline():
        raise SystemExit("tcpdump did not start")
    time.sleep(0.5)  # "listening" can come a moment before the capture does
    exchange(port, socket.AF_INET, "127.0.0.1", 11, 3)
    time.sleep(0.3)
    dump.send_signal(signal.SIGINT)
    dump.wait(timeout=20)
    out = subprocess.run(
        ["tshark", "-r", capture, "-d", "udp.port==%d,twamp.test" % port, "-T", "fields",
         "-e", "udp.srcport", "-e", "twamp.test.seq_number", "-e", "twamp.test.sender_seq_number",
         "-e", "twamp.test.error_estimate.s", "-e", "twamp.test.error_estimate.multiplier",
         "-e", "twamp.test.sender_ttl", "-e", "twamp.test.mbz1", "-e", "ip.ttl"],
        capture_output=True, text=True, check=True).stdout.split("\n")
    rows = [line.split("\t") for line in out if line.strip()]
    answers = [r for r in rows if r[0] == str(port)]
    requests = [r for r in rows if r[0] != str(port)]
    check(len(requests) == 3 and len(answers) == 3,
          "tshark sees 3 requests and 3 answers (%d, %d)" % (len(requests), len(answers)))
    check([r[1] for r in requests] == ["100", "101", "102"], "the requests' sequence numbers")
    check([r[1] for r in answers] == ["0", "1", "2"] and [r[2] for r in answers] ==
          ["100", "101", "102"], "the answers' own and sender sequence numbers")
    # (tshark lays a TWAMP reflector's fields over the requests too: the first
    # error estimate is the request's own)
    check(requests and all(r[3].split(",")[0] in ("1", "True") and r[4].split(",")[0] == "3"
                           for r in requests),
          "the requests' error estimate (S set, multiplier 3)")
    check(answers and all(r[5] == str(REQUEST_TTL) and r[7] == "255" for r in answers),
          "the answers' sender TTL field: the request's %d; the answers' own TTL 255" % REQUEST_TTL)
    check(answers and all(r[6] in ("11", "0x000b", "0x0b") for r in answers),
          "the session identifier where TWAMP has its first MBZ field: %s"
          % [r[6] for r in answers])


class ScapyReflector(threading.Thread):
    """A STAMP session-reflector made of scapy's layers. Requests whose
    sequence is in `drop_requests` are never answered (lost on the way out);
    answers whose own sequence is in `drop_answers` are numbered but never
    sent (lost on the way back)."""

    def __init__(self, drop_requests, drop_answers, stateless=False):
        super().__init__(daemon=True)
        self.stateless = stateless  # numbers each answer as its request, as RFC 8762 4.2 allows
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.drop_requests, self.drop_answers = drop_requests, drop_answers
        self.requests, self.bad, self.stopping = [], 0, False

    def run(self):
        own = 0
        while not self.stopping:
            try:
                data, peer = self.sock.recvfrom(4096)
            except socket.timeout:
                continue
            t2 = ntp_now()
            try:
                req = Request(data, _parent=UDP(len=8 + len(data)))
            except Exception:  # noqa: BLE001 -- any parse failure is a bad request
                self.bad += 1
                continue
            self.requests.append((len(data), req.seq, req.ssid,
                                  [(t.type, t.len) for t in req.tlv_objects]))
            if req.seq in self.drop_requests:
                continue
            # scapy's time stamp fields hold seconds since 1900 (a decimal)
            t1 = req.ts
            answer = Reflection(seq=req.seq if self.stateless else own, ssid=req.ssid, ts_rx=t2, seq_sender=req.seq,
                                ts_sender=t1, err_estimate_sender=req.err_estimate,
                                ttl_sender=255, tlv_objects=req.tlv_objects)
            answer.ts = ntp_now()
            own += 1
            if own - 1 in self.drop_answers:
                continue
            self.sock.sendto(bytes(UDP(sport=1, dport=2) / answer)[8:], peer)


def ntp_now():
    return time.time() + 2208988800


def call_proof():
    print("== pulvo call against a reflector built of scapy's STAMP layer ==")
    drop_requests, drop_answers = {30, 31, 32, 100, 250}, {50, 51, 200}
    reflector = ScapyReflector(drop_requests, drop_answers)
    reflector.start()
    capture = os.path.join(WORK, "call.pcap")
    dump = subprocess.Popen(["tcpdump", "-i", "lo", "--immediate-mode", "-U", "-n", "-w", capture,
                             "udp dst port %d" % reflector.port], stderr=subprocess.PIPE, text=True)
    if "listening" not in dump.stderr.readline():
        raise SystemExit("tcpdump did not start")
    time.sleep(0.5)
    out = subprocess.run([PULVO, "-j", "call:ra=127.0.0.1,rp=%d,td=8" % reflector.port],
                         capture_output=True, text=True, timeout=60)
    reflector.stopping = True
    dump.send_signal(signal.SIGINT)
    dump.wait(timeout=20)
    check(out.returncode == 0, "the call ends with 0 (%s)" % out.stderr.strip())
    samples = call_rows(out.stdout)
    forward = [s for s in samples if s["Direction"] == "forward"]
    reverse = [s for s in samples if s["Direction"] == "reverse"]
    check(len(forward) == 5 and len(reverse) == 5,
          "five ticks, both directions scored (%d, %d)" % (len(forward), len(reverse)))
    # The windows of the first and the fifth tick, [0 s, 4 s) and [4 s, 8 s),
    # tile the call.
    check(forward[0]["LostPackets"] + forward[4]["LostPackets"] == len(drop_requests),
          "forward: exactly the %d dropped requests (%s)"
          % (len(drop_requests), [s["LostPackets"] for s in forward]))
    check(reverse[0]["LostPackets"] + reverse[4]["LostPackets"] == len(drop_answers),
          "reverse: exactly the %d dropped answers (%s)"
          % (len(drop_answers), [s["LostPackets"] for s in reverse]))
    check(all(0 <= s["RoundTripMin"] <= s["RoundTripMax"] < 1000 and s["OneWayDelay"] is None
              for s in samples),
          "round trips in range; one-way delay unknown (S bit clear): %s"
          % [(s["RoundTripMin"], s["RoundTripMax"], s["OneWayDelay"]) for s in samples[:2]])
    requests = reflector.requests
    check(reflector.bad == 0 and len(requests) >= 390, "scapy parsed all %d requests" % len(requests))
    check([r[1] for r in requests] == list(range(len(requests))), "sequence numbers 0, 1, 2, ...")
    check(len({r[2] for r in requests}) == 1 and requests[0][2] != 0, "one session identifier")
    check(all(r[0] == 160 and r[3] == [(5, 12), (4, 4), (3, 4), (1, 80)] for r in requests),
          "G.711's 160 bytes: Direct Measurement, Class of Service and Timestamp Information "
          "TLVs, then an Extra Padding TLV of 80")
    fields = subprocess.run(
        ["tshark", "-r", capture, "-d", "udp.port==%d,twamp.test" % reflector.port, "-T", "fields",
         "-e", "udp.length", "-e", "twamp.test.seq_number"],
        capture_output=True, text=True, check=True).stdout.split("\n")
    rows = [f.split("\t") for f in fields if f.strip()]
    check(len(rows) == len(requests) and all(r[0] == "168" for r in rows) and
          [int(r[1]) for r in rows] == list(range(len(rows))),
          "tshark decodes %d requests of 168 UDP bytes numbered from 0" % len(rows))


def relay_drops(path):
    rows = list(csv.DictReader(open(path)))
    return sum(1 for r in rows if r["action"] == "drop" and r["kind"] == "data")


def through_relay(command, impairment, seconds, reflector_port=None):
    """Runs `command` (a pulvo argument list whose target port is given as
    {port}) through a relay with `impairment`, to a pulvo reflect or pulvo
    recv on the far side; the command's JSON and the truth records."""
    far, near = free_port(), free_port()
    truth, back_truth = os.path.join(WORK, "out.csv"), os.path.join(WORK, "back.csv")
    for path in (truth, back_truth):
        if os.path.exists(path):
            os.remove(path)
    calling = any(c.startswith("call:") for c in command)
    if reflector_port is not None:
        far, far_end = reflector_port, None
    elif calling:
        far_end = subprocess.Popen([PULVO, "reflect:la=127.0.0.1,lp=%d,du=%d" % (far, seconds + 10)],
                                   stdout=subprocess.DEVNULL)
        wait_for_udp_port(far)
    else:
        far_end = subprocess.Popen([PULVO, "-j", "recv:la=127.0.0.1,lp=%d" % far],
                                   stdout=subprocess.PIPE, text=True)
        wait_for_udp_port(far)
    relay = subprocess.Popen([RELAY, "--listen", str(near), "--forward", str(far), "--record", truth,
                              "--back-record", back_truth, "--idle-exit", "3"] + impairment)
    wait_for_udp_port(near)
    out = subprocess.run([PULVO] + [c.replace("{port}", str(near)) for c in command],
                         capture_output=True, text=True, timeout=seconds + 60)
    if far_end is None:
        result = out.stdout
        through_relay.stderr = out.stderr
    elif calling:
        far_end.send_signal(signal.SIGINT)
        result = out.stdout
    else:
        result = far_end.communicate(timeout=seconds + 60)[0]
    if far_end is not None:
        far_end.wait(timeout=30)
    relay.wait(timeout=30)
    return call_rows(result), truth, back_truth


def stateless_proof():
    print("== pulvo call through pulvo-relay to a stateless reflector (scapy's layers) ==")
    # Loss on the way out alone: a reflector that copies the sender's
    # numbers makes it look like loss on the way back, so only the round
    # trip may be scored, with every loss of the way out in it.
    reflector = ScapyReflector(set(), set(), stateless=True)
    reflector.start()
    samples, out, _ = through_relay(["-j", "call:ra=127.0.0.1,rp={port},td=12"],
                                    ["--stamp", "--seed", "3", "--loss", "0.03:5-560"], 12,
                                    reflector_port=reflector.port)
    reflector.stopping = True
    directions = {s["Direction"] for s in samples}
    check(directions == {"round-trip"} and len(samples) == 9,
          "nine ticks, the round trip alone, never a forward or reverse figure (%s)"
          % sorted(directions))
    truth = relay_drops(out)
    lost = sum(samples[i]["LostPackets"] for i in (0, 4, 8)) if len(samples) == 9 else -1
    check(lost == truth, "the round trip's losses are the relay's truth: %d (%d)" % (truth, lost))
    check("the reflector's numbers follow the requests'" in through_relay.stderr,
          "and it says why: %s" % through_relay.stderr.strip())


def outage_proof():
    print("== pulvo call while its reflector stops for 3 s and starts afresh ==")
    port = free_port()
    reflector = subprocess.Popen([PULVO, "reflect:la=127.0.0.1,lp=%d" % port],
                                 stdout=subprocess.DEVNULL)
    wait_for_udp_port(port)
    call = subprocess.Popen([PULVO, "-j", "call:ra=127.0.0.1,rp=%d,td=16" % port],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(6)
    reflector.send_signal(signal.SIGINT)
    reflector.wait(timeout=30)
    time.sleep(3)
    # A new process: its sessions and numbers start from nothing.
    reflector = subprocess.Popen([PULVO, "reflect:la=127.0.0.1,lp=%d,du=20" % port],
                                 stdout=subprocess.DEVNULL)
    out, err = call.communicate(timeout=60)
    reflector.send_signal(signal.SIGINT)
    reflector.wait(timeout=30)
    check(call.returncode == 0, "the call ends with 0 (%s)" % err.strip())
    samples = call_rows(out)
    kinds = [s["Direction"] for s in samples]
    silent = [i for i, k in enumerate(kinds) if k == "silent"]
    check(len(silent) >= 2 and silent == list(range(silent[0], silent[-1] + 1)),
          "the windows that end in the silence say so, and only they: %s" % kinds)
    after = samples[silent[-1] + 1:] if silent else []
    check(len(after) >= 8 and [s["Direction"] for s in after[:2]] == ["forward", "reverse"] and
          all(s["Direction"] in ("forward", "reverse") for s in after),
          "both directions go on after the restart (%d rows)" % len(after))
    check(any(s["Direction"] == "forward" and s["LostPackets"] >= 100 for s in after) and
          all(s["LostPackets"] == 0 for s in after if s["Direction"] == "reverse"),
          "the requests of the silence are forward loss, the way back lost none: %s"
          % [(s["Direction"][0], s["LostPackets"]) for s in after[:4]])
    scored = [s for s in samples if s["Direction"] != "silent"]
    check(all(abs(s["LossRate"] * s["EstimatedPackets"] - s["LostPackets"]) < 1e-6 for s in scored),
          "every scored window's loss rate is its losses over its estimated packets")


TWAMPY = os.path.join(ROOT, "tests/third_party/twampy")


def twampy(*arguments):
    env = dict(os.environ, PYTHONPATH=TWAMPY)
    return [sys.executable, "-m", "twampy"] + list(arguments), env


def twampy_responder_proof():
    print("== pulvo call against twampy's TWAMP Light responder (Nokia, BSD-3) ==")
    for padding in (0, 3, 6):
        port = free_port()
        command, env = twampy("responder", "127.0.0.1:%d" % port, "--padding", str(padding), "-q")
        responder = subprocess.Popen(command, env=env)
        wait_for_udp_port(port)
        capture = os.path.join(WORK, "twampy.pcap")
        dump = subprocess.Popen(["tcpdump", "-i", "lo", "--immediate-mode", "-U", "-n", "-w",
                                 capture, "udp port %d" % port], stderr=subprocess.PIPE, text=True)
        if "listening" not in dump.stderr.readline():
            raise SystemExit("tcpdump did not start")
        time.sleep(0.5)
        out = subprocess.run([PULVO, "-j", "call:ra=127.0.0.1,rp=%d,td=6" % port],
                             capture_output=True, text=True, timeout=60)
        time.sleep(0.3)
        dump.send_signal(signal.SIGINT)
        dump.wait(timeout=20)
        responder.kill()
        responder.wait()
        size = 38 + padding
        check(out.returncode == 0, "padding %d: the call ends with 0 (%s)" % (padding, out.stderr.strip()))
        samples = call_rows(out.stdout)
        forward = [s for s in samples if s["Direction"] == "forward"]
        reverse = [s for s in samples if s["Direction"] == "reverse"]
        check(len(forward) == 3 and len(reverse) == 3 and
              all(s["LostPackets"] == 0 for s in samples),
              "padding %d: answers of %d bytes, both directions scored, none lost" % (padding, size))
        check("answers with %d bytes to requests of 160" % size in out.stderr and
              "not scored" not in out.stderr,
              "padding %d: the size said once, nothing left unscored: %s"
              % (padding, out.stderr.strip()))
        # The capture's round trips: each answer's time less its request's,
        # less the responder's residence (T3 - T2, which the answer carries
        # and pulvo leaves out too). What remains apart is where each side
        # stamps: pulvo in user space on either side of the kernel, tcpdump
        # in the kernel: a few tens of microseconds on an idle machine, and
        # more when a loaded one wakes the Python responder late.
        def ntp(raw):
            seconds, fraction = struct.unpack(">II", raw)
            return seconds + fraction / 2**32

        sent, trips = {}, []
        for frame in rdpcap(capture):
            if UDP not in frame:
                continue
            at, data = float(frame.time), bytes(frame[UDP].payload)
            if frame[UDP].sport != port:
                sent[struct.unpack(">I", data[0:4])[0]] = at
            elif len(data) >= 28 and struct.unpack(">I", data[24:28])[0] in sent:
                residence = ntp(data[4:12]) - ntp(data[16:24])
                trips.append(at - sent[struct.unpack(">I", data[24:28])[0]] - residence)
        captured = 1000 * sum(trips) / len(trips) if trips else 0
        measured = sum(s["RoundTripMean"] for s in forward) / len(forward) if forward else -1
        check(len(trips) >= 290 and abs(captured - measured) < 0.25,
              "padding %d: round trip %.3f ms, the capture's %.3f ms net of the responder's "
              "residence (%d answers)" % (padding, measured, captured, len(trips)))


def twampy_sender_proof():
    print("== twampy's TWAMP Light sender against pulvo reflect ==")
    port = free_port()
    reflector = subprocess.Popen([PULVO, "-j", "reflect:la=127.0.0.1,lp=%d,du=60" % port],
                                 stdout=subprocess.PIPE, text=True)
    wait_for_udp_port(port)
    for padding in (27, 30, 146):  # 41, 44 and 160 bytes
        command, env = twampy("sender", "127.0.0.1:%d" % port, ":0", "--padding", str(padding),
                              "-c", "50", "-i", "20")
        out = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
        rows = [line.split() for line in out.stdout.splitlines()
                if line.strip().startswith(("Outbound:", "Inbound:", "Roundtrip:"))]
        check(len(rows) == 3 and all(r[-1] == "0.0%" for r in rows),
              "%d-byte requests: 0 %% loss each way in twampy's own report (%s)"
              % (14 + padding, [r[-1] for r in rows]))
    reflector.send_signal(signal.SIGINT)
    counts = json.loads(reflector.communicate(timeout=30)[0])
    check(counts["Reflected"] == 150 and counts["TooShort"] == 0,
          "pulvo reflect answered all 150: %s" % counts)


def two_way_relay_proof():
    print("== pulvo call through a two-way pulvo-relay to pulvo reflect ==")
    # Random loss of its own each way, numbered by each way's sequence; the
    # windows of ticks 4, 8 and 12 tile the 12 s call.
    samples, out, back = through_relay(
        ["-j", "call:ra=127.0.0.1,rp={port},td=12"],
        ["--stamp", "--seed", "5", "--loss", "0.03:5-560", "--delay", "30",
         "--back-loss", "0.05:5-540", "--back-delay", "10"], 12)
    forward = [s for s in samples if s["Direction"] == "forward"]
    reverse = [s for s in samples if s["Direction"] == "reverse"]
    truth_out, truth_back = relay_drops(out), relay_drops(back)
    check(len(forward) == 9 and len(reverse) == 9, "nine ticks, both directions")
    check(sum(forward[i]["LostPackets"] for i in (0, 4, 8)) == truth_out,
          "forward losses equal the way out's truth: %d" % truth_out)
    check(sum(reverse[i]["LostPackets"] for i in (0, 4, 8)) == truth_back,
          "reverse losses equal the way back's truth: %d" % truth_back)
    check(all(39 <= s["RoundTripMin"] <= s["RoundTripMean"] <= s["RoundTripMax"] < 60
              for s in samples), "round trips of 40 ms and a little: %s"
          % sorted({round(s["RoundTripMin"], 1) for s in samples}))

    # Bursts of a fixed shape and delays, different each way: every window of
    # a direction holds the same losses, so its MOS must be the one pulvo
    # recv gives for a one-way stream through the same impairment. The
    # reflector answers only what reached it, so the way back is checked
    # with a clean way out (its packets are then as many as recv's).
    for impairment, direction, one_way in (
            (["--drop-every", "50:3", "--delay", "30", "--back-drop-every", "40:2",
              "--back-delay", "10"], "forward", "50:3"),
            (["--delay", "5", "--back-drop-every", "40:2", "--back-delay", "25"], "reverse",
             "40:2")):
        samples, _, _ = through_relay(["-j", "call:ra=127.0.0.1,rp={port},td=8"],
                                      ["--stamp"] + impairment, 8)
        def kind(w):
            # What the MOS model is given: losses, bursts and the window's
            # size in packets (lost / loss rate).
            size = round(w["LostPackets"] / w["LossRate"]) if w["LossRate"] else 0
            return w["LostPackets"], w["AverageBurstSize"], size
        windows = [s for s in samples if s["Direction"] == direction]
        kinds = collections.Counter(kind(w) for w in windows)
        typical = kinds.most_common(1)[0][0] if kinds else None
        mos = max((w["MOS"] for w in windows if kind(w) == typical), default=0)
        # The drops repeat every second, as recv's ticks do, so all of a
        # run's recv windows may end inside a burst, whose losses then
        # count in no window (the packet after a gap carries it): recv is
        # run again then, up to three times.
        for attempt in range(3):
            recv, _, _ = through_relay(["send:ra=127.0.0.1,rp={port},td=8,sai=1,lp=%d" % free_port()],
                                       ["--drop-every", one_way], 8)
            recv_mos = [w["MOS"] for w in recv if kind(w) == typical]
            if recv_mos:
                break
        check(len(windows) == 5 and recv_mos and max(abs(mos - m) for m in recv_mos) < 0.005,
              "%s: the typical window loses %s (lost, burst, size) with MOS %.4f; recv through "
              "--drop-every %s gives it MOS %s (its windows: %s)"
              % (direction, typical, mos, one_way, sorted(set(round(m, 4) for m in recv_mos)),
                 sorted(collections.Counter(kind(w) for w in recv).items())))


def sign(key, packet):
    return packet[:96] + hmac.new(key, packet[:96], hashlib.sha256).digest()[:16] + packet[112:]


def auth_request(key, seq, ssid=0x0102):
    ts = int((time.time() + 2208988800) * (1 << 32))
    raw = struct.pack(">I12xQHH68x16x", seq, ts, 0x0001, ssid)
    return sign(key, raw), ts


def openssl_hmac(key, data):
    path = os.path.join(WORK, "signed")
    with open(path, "wb") as f:
        f.write(data)
    out = subprocess.run(["openssl", "dgst", "-sha256", "-mac", "HMAC", "-macopt",
                          "hexkey:" + key.hex(), path], capture_output=True, text=True,
                         check=True).stdout
    return out.strip().split()[-1]


class AuthReflector(threading.Thread):
    """An authenticated STAMP reflector written here with Python's hmac: it
    checks each request's HMAC; the answer to request 40 goes out forged,
    the one to 41 is replaced by a replay of the answer to 39."""

    def __init__(self, key):
        super().__init__(daemon=True)
        self.key = key
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.good = self.bad = 0
        self.stopping = False

    def run(self):
        own, answers = 0, {}
        while not self.stopping:
            try:
                data, peer = self.sock.recvfrom(4096)
            except socket.timeout:
                continue
            t2 = int((time.time() + 2208988800) * (1 << 32))
            if len(data) < 112 or not hmac.compare_digest(
                    hmac.new(self.key, data[:96], hashlib.sha256).digest()[:16], data[96:112]):
                self.bad += 1
                continue
            self.good += 1
            seq, ts, err, ssid = struct.unpack(">I12xQHH", data[:28])
            t3 = int((time.time() + 2208988800) * (1 << 32))
            answer = struct.pack(">I12xQHH4xQ8xI12xQH6xB15x16x", own, t3, 0x0001, ssid, t2, seq,
                                 ts, err, 255) + data[112:]
            answer = sign(self.key, answer)
            own += 1
            answers[seq] = answer
            if seq == 40:
                answer = answer[:100] + bytes([answer[100] ^ 1]) + answer[101:]
            elif seq == 41:
                answer = answers[39]
            self.sock.sendto(answer, peer)


def auth_proof():
    print("== authenticated mode: Python's hmac and openssl dgst against pulvo ==")
    key = os.urandom(32)
    key_file = os.path.join(WORK, "stamp.key")
    with open(key_file, "w") as f:
        f.write(key.hex() + "\n")
    os.chmod(key_file, 0o600)
    port = free_port()
    reflector = subprocess.Popen([PULVO, "-j", "reflect:la=127.0.0.1,lp=%d,du=10,kf=%s"
                                  % (port, key_file)], stdout=subprocess.PIPE, text=True)
    wait_for_udp_port(port)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(1)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, REQUEST_TTL)

    def ask(datagram):
        s.sendto(datagram, ("127.0.0.1", port))
        try:
            return s.recvfrom(4096)[0]
        except socket.timeout:
            return None

    request, ts = auth_request(key, 7)
    answer = ask(request)
    check(answer is not None and len(answer) == 112, "a signed request is answered in kind")
    if answer:
        mac = hmac.new(key, answer[:96], hashlib.sha256).hexdigest()[:32]
        check(answer[96:112].hex() == mac, "the answer's HMAC is Python's hmac over its 96 bytes")
        check(openssl_hmac(key, answer[:96])[:32] == answer[96:112].hex(),
              "and openssl dgst -hmac's")
        own, t3, _, ssid, t2, sender_seq, sender_ts, _, ttl = struct.unpack(
            ">I12xQHH4xQ8xI12xQH6xB", answer[:81])
        check(own == 0 and sender_seq == 7 and sender_ts == ts and ssid == 0x0102 and
              ttl == REQUEST_TTL and 0 < t2 <= t3,
              "fields at their offsets: own 0, sender's 7, T1 and TTL echoed, SSID, T2 <= T3")
    forged = request[:20] + bytes([request[20] ^ 1]) + request[21:]
    check(ask(forged) is None, "a forged request gets no answer")
    check(ask(request[:100]) is None, "a cut request gets no answer")
    check(ask(request) is None, "a replayed request gets no answer")
    reflector.send_signal(signal.SIGINT)
    counts = json.loads(reflector.communicate(timeout=30)[0])
    check(counts["Reflected"] == 1 and counts["AuthFailed"] == 1 and counts["TooShort"] == 1 and
          counts["Replayed"] == 1, "all three counted: %s" % counts)

    theirs = AuthReflector(key)
    theirs.start()
    out = subprocess.run([PULVO, "-j", "call:ra=127.0.0.1,rp=%d,td=8,kf=%s" % (theirs.port, key_file)],
                         capture_output=True, text=True, timeout=60)
    theirs.stopping = True
    check(out.returncode == 0 and theirs.bad == 0 and theirs.good >= 390,
          "pulvo call's %d requests all carry Python's HMAC (%d bad)" % (theirs.good, theirs.bad))
    check("answers not scored: 1 failed authentication, 1 replayed" in out.stderr,
          "the forged and the replayed answer counted: %s" % out.stderr.strip())
    # Only answers go missing and the reflector's numbers stay the sender's:
    # no direction can be told (an authenticated request asks for no
    # counts), so the two count as the round trip's losses.
    samples = call_rows(out.stdout)
    trip = [x["LostPackets"] for x in samples if x["Direction"] == "round-trip"]
    check(len(trip) == 5 and len(samples) == 5 and trip[0] + trip[4] == 2,
          "never scored: their answers count as lost, on the round trip (%s)" % trip)


def scapy_and_tshark_proof():
    port = free_port()
    reflector = subprocess.Popen([PULVO, "-j", "reflect:la=::,lp=%d,du=30" % port],
                                 stdout=subprocess.PIPE, text=True)
    wait_for_udp_port(port, "::")
    try:
        scapy_proof(port)
        tshark_proof(port)
    finally:
        reflector.send_signal(signal.SIGINT)
    counts = json.loads(reflector.communicate(timeout=30)[0])
    check(reflector.returncode == 0 and counts["Reflected"] == 13 and counts["Sessions"] == 3,
          "the reflector answered 13 in 3 sessions and ended at SIGINT with 0: %s" % counts)


def allow_list_proof():
    print("== a source outside the allow-list ==")
    port = free_port()
    reflector = subprocess.Popen([PULVO, "-j", "reflect:la=::,lp=%d,du=3,al=192.0.2.0/24+2001:db8::/32"
                                  % port], stdout=subprocess.PIPE, text=True)
    wait_for_udp_port(port, "::")
    answers = exchange(port, socket.AF_INET, "127.0.0.1", 1, 2)
    counts = json.loads(reflector.communicate(timeout=30)[0])
    check(all(data is None for _, _, data in answers) and counts["NotAllowed"] == 2,
          "no answer, both counted: %s" % counts)


PROOFS = {
    "scapy": scapy_and_tshark_proof,
    "call": call_proof,
    "relay": two_way_relay_proof,
    "stateless": stateless_proof,
    "outage": outage_proof,
    "twampy-responder": twampy_responder_proof,
    "twampy-sender": twampy_sender_proof,
    "auth": auth_proof,
    "allow": allow_list_proof,
}


def main():
    # The proofs named after the build folder, or all of them in this order.
    # They use ports of their own, so several runs of this script may run
    # side by side, each with some of them.
    names = sys.argv[2:] or list(PROOFS)
    unknown = [n for n in names if n not in PROOFS]
    if unknown:
        raise SystemExit("no such proof: %s (there are %s)" % (", ".join(unknown), ", ".join(PROOFS)))
    for name in names:
        PROOFS[name]()


if __name__ == "__main__":
    try:
        main()
    finally:
        subprocess.run(["rm", "-rf", WORK])
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all STAMP proofs passed")
