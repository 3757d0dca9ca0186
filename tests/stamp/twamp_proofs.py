#!/usr/bin/env python3
"""pulvo reflect and pulvo call in full TWAMP (RFC 5357), against things no
one here wrote.

1. nokia/twampy's controller (its TWAMP control client and session-sender)
   against pulvo reflect:mode=twamp: the session set up over TCP 862,
   started, run and stopped; twampy's own report says 0 % loss each way,
   and through pulvo-relay, the relay's drops each way.
2. pulvo call:mode=twamp against pulvo reflect:mode=twamp, captured and
   decoded by tshark's TWAMP-Control and TWAMP-Test dissectors: every
   control message in order (greeting, set-up, Server-Start, the session's
   request with its ports, padding and EF in its Type-P descriptor,
   Accept-Session, Start-Sessions, Start-Ack, Stop-Sessions), every test
   packet, and no malformed packet or expert warning.
3. pulvo probe with a TWAMP path beside a STAMP one: both scored.
4. What a TWAMP reflector refuses: test packets of no session set up (a
   STAMP caller) are counted and never answered; a caller whose control
   port is closed, or that asks for another mode, is told why.

Usage: twamp_proofs.py BUILD_DIR   (needs root: TCP port 862 and tcpdump on lo)
"""
import csv
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from bench_common import call_rows, check, failures, free_port, wait_for_udp_port  # noqa: E402

PULVO = os.path.join(sys.argv[1], "src/app/pulvo")
RELAY = os.path.join(sys.argv[1], "tools/relay/pulvo-relay")
TWAMPY = os.path.join(ROOT, "tests", "third_party", "twampy")
WORK = tempfile.mkdtemp(prefix="pulvo-twamp-")


def wait_for_tcp_port(port, seconds=20.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def start_reflector(port, seconds):
    reflector = subprocess.Popen([PULVO, "-j", "reflect:mode=twamp,la=127.0.0.1,lp=%d,du=%d"
                                  % (port, seconds)], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
    wait_for_udp_port(port)
    # Each probe of the port is a control connection, counted as one.
    if not wait_for_tcp_port(862):
        raise SystemExit("pulvo reflect does not serve TWAMP control on 862")
    return reflector


def stop_reflector(reflector):
    reflector.send_signal(signal.SIGINT)
    out, err = reflector.communicate(timeout=30)
    return json.loads(out), err


def twampy_controller_proof():
    print("== twampy's TWAMP controller against pulvo reflect:mode=twamp ==")
    port = free_port()
    reflector = start_reflector(port, 120)
    env = dict(os.environ, PYTHONPATH=TWAMPY)
    out = subprocess.run([sys.executable, "-m", "twampy", "controller", "127.0.0.1:%d" % port,
                          "127.0.0.1:%d" % free_port(), "-c", "50", "-i", "100"],
                         env=env, capture_output=True, text=True, timeout=120)
    rows = [line.split() for line in out.stdout.splitlines()
            if line.strip().startswith(("Outbound:", "Inbound:", "Roundtrip:"))]
    check(len(rows) == 3 and all(r[-1] == "0.0%" for r in rows),
          "twampy's report: 0 %% loss each way (%s)" % [r[-1] for r in rows])
    time.sleep(0.5)
    counts, err = stop_reflector(reflector)
    check(counts["TwampSessions"] == 1 and counts["Reflected"] == 50 and
          counts["NotRequested"] == 0 and counts["ControlRefused"] == 0,
          "one session set up, its 50 packets answered: %s" % counts)


def twampy_relay_proof():
    print("== twampy's TWAMP controller through pulvo-relay: its losses are the relay's ==")
    # A TWAMP test session is its sender's address and port, and the relay
    # forwards from its own listening port: twampy sends from that port
    # number on 127.0.0.2, and asks for the session from 127.0.0.1, where the
    # relay's packets come from.
    port, near = free_port(), free_port()
    reflector = start_reflector(port, 120)
    truth, back_truth = os.path.join(WORK, "out.csv"), os.path.join(WORK, "back.csv")
    relay = subprocess.Popen([RELAY, "--listen", str(near), "--forward", str(port), "--stamp",
                              "--record", truth, "--back-record", back_truth, "--idle-exit", "3",
                              "--seed", "11", "--loss", "0.06:5-85", "--back-loss", "0.06:5-75"])
    wait_for_udp_port(near)
    env = dict(os.environ, PYTHONPATH=TWAMPY)
    out = subprocess.run([sys.executable, "-m", "twampy", "controller", "127.0.0.1:%d" % near,
                          "127.0.0.2:%d" % near, "-c", "100", "-i", "100", "--padding", "146"],
                         env=env, capture_output=True, text=True, timeout=120)
    relay.wait(timeout=30)
    rows = {line.split()[0]: float(line.split()[-1].rstrip("%")) for line in out.stdout.splitlines()
            if line.strip().startswith(("Outbound:", "Inbound:", "Roundtrip:"))}
    dropped = [sum(1 for r in csv.DictReader(open(path)) if r["action"] == "drop")
               for path in (truth, back_truth)]
    check(dropped[0] > 0 and dropped[1] > 0 and
          rows == {"Outbound:": dropped[0], "Inbound:": dropped[1],
                   "Roundtrip:": dropped[0] + dropped[1]},
          "twampy's loss of 100 packets each way (%s) is the relay's (%d out, %d back)"
          % (rows, dropped[0], dropped[1]))
    counts, _ = stop_reflector(reflector)
    check(counts["TwampSessions"] == 1 and counts["NotRequested"] == 0,
          "one session, every packet the relay brought answered: %s" % counts)


def tshark_proof():
    print("== pulvo call:mode=twamp to pulvo reflect:mode=twamp, decoded by tshark ==")
    port = free_port()
    reflector = start_reflector(port, 120)
    capture = os.path.join(WORK, "twamp.pcap")
    dump = subprocess.Popen(["tcpdump", "-i", "lo", "--immediate-mode", "-U", "-n", "-w", capture,
                             "tcp port 862 or udp port %d" % port], stderr=subprocess.PIPE,
                            text=True)
    if "listening" not in dump.stderr.readline():
        raise SystemExit("tcpdump did not start")
    time.sleep(0.5)
    out = subprocess.run([PULVO, "-j", "call:mode=twamp,ra=127.0.0.1,rp=%d,td=4" % port],
                         capture_output=True, text=True, timeout=60)
    time.sleep(0.5)
    dump.send_signal(signal.SIGINT)
    dump.wait(timeout=20)
    samples = call_rows(out.stdout)
    check(out.returncode == 0 and len(samples) == 2 and
          all(s["LostPackets"] == 0 and s["EstimatedPackets"] > 190 for s in samples),
          "the call scores both directions, none lost (%s)" % out.stderr.strip())
    reverse = [s for s in samples if s["Direction"] == "reverse"]
    check(reverse and reverse[0]["DscpReceived"] == 46,
          "the answers come back in the class the session asked for (EF)")
    decode = ["-d", "tcp.port==862,twamp.control", "-d", "udp.port==%d,twamp.test" % port]
    fields = subprocess.run(
        ["tshark", "-r", capture] + decode +
        ["-Y", "twamp.control", "-T", "fields", "-E", "separator=;", "-e", "twamp.control.modes",
         "-e", "twamp.control.mode", "-e", "twamp.control.command", "-e", "twamp.control.accept",
         "-e", "twamp.control.sender_port", "-e", "twamp.control.receiver_port",
         "-e", "twamp.control.padding_length", "-e", "twamp.control.type-p"],
        capture_output=True, text=True, timeout=60).stdout.splitlines()
    rows = [row.split(";") for row in fields]
    print("\n".join(";".join(r) for r in rows))
    check(len(rows) >= 8, "tshark sees the control messages (%d)" % len(rows))
    request = [r for r in rows if r[2] == "5"]
    check(len(request) == 1 and request[0][5] == str(port) and request[0][6] == "146" and
          int(request[0][7], 16) == 46 << 24,
          "Request-TW-Session: receiver port %d, padding 146 (160 bytes), Type-P EF: %s"
          % (port, request))
    check([r[2] for r in rows if r[2]] == ["5", "2", "3"],
          "Request-TW-Session, Start-Sessions, Stop-Sessions, in that order")
    check(rows[0][0] == "1" and any(r[1] == "1" for r in rows),
          "the greeting offers unauthenticated mode alone and the caller takes it")
    tests = subprocess.run(["tshark", "-r", capture] + decode +
                           ["-Y", "twamp.test", "-T", "fields", "-e", "twamp.test.seq_number"],
                           capture_output=True, text=True, timeout=60).stdout.split()
    check(len(tests) == 400, "tshark decodes 200 test packets and 200 answers (%d)" % len(tests))
    expert = subprocess.run(["tshark", "-r", capture] + decode + ["-q", "-z", "expert,warn"],
                            capture_output=True, text=True, timeout=60).stdout
    malformed = subprocess.run(["tshark", "-r", capture] + decode + ["-Y", "_ws.malformed"],
                               capture_output=True, text=True, timeout=60).stdout
    check("Warnings" not in expert and "Errors" not in expert and not malformed.strip(),
          "no malformed packet, no expert warning:%s%s" % (expert, malformed))
    counts, _ = stop_reflector(reflector)
    check(counts["TwampSessions"] == 1 and counts["Reflected"] == 200,
          "one session, 200 answers: %s" % counts)


def probe_proof():
    print("== pulvo probe with a TWAMP path beside a STAMP one ==")
    twamp_port, stamp_port = free_port(), free_port()
    reflector = start_reflector(twamp_port, 60)
    stamp = subprocess.Popen([PULVO, "reflect:la=127.0.0.1,lp=%d,du=30" % stamp_port],
                             stdout=subprocess.DEVNULL)
    wait_for_udp_port(stamp_port)
    config = os.path.join(WORK, "probe.conf")
    with open(config, "w") as f:
        f.write("path tw ra=127.0.0.1,rp=%d,mode=twamp,ws=2,sai=1\n" % twamp_port)
        f.write("path st ra=127.0.0.1,rp=%d,ws=2,sai=1\n" % stamp_port)
        f.write("metrics 127.0.0.1:%d\n" % free_port())
    out = subprocess.run([PULVO, "probe:cf=%s,du=5" % config], capture_output=True, text=True,
                         timeout=60)
    lines = out.stdout.splitlines()
    for name in ("tw", "st"):
        mine = [line for line in lines if line.startswith(name + " ")]
        check(len(mine) >= 4 and all("lost packets = 0 " in line for line in mine),
              "path %s: both directions scored, none lost (%d lines)" % (name, len(mine)))
    stamp.kill()
    stamp.wait()
    counts, _ = stop_reflector(reflector)
    check(counts["TwampSessions"] == 1 and counts["NotRequested"] == 0,
          "the TWAMP path's one session: %s" % counts)


def refusal_proof():
    print("== what a TWAMP reflector refuses ==")
    port = free_port()
    reflector = start_reflector(port, 60)
    stamp = subprocess.run([PULVO, "call:ra=127.0.0.1,rp=%d,td=4,to=2" % port],
                           capture_output=True, text=True, timeout=60)
    check(stamp.returncode == 1 and "no answer from the reflector" in stamp.stderr,
          "a STAMP caller gets no answer: %s" % stamp.stderr.strip())
    closed = subprocess.run([PULVO, "call:mode=twamp,cp=%d,ra=127.0.0.1,rp=%d,td=4" %
                             (free_port(), port)], capture_output=True, text=True, timeout=60)
    check(closed.returncode == 2 and "cannot open a TWAMP control connection" in closed.stderr,
          "a closed control port is said: %s" % closed.stderr.strip())
    # An authenticated client: the server answers Server-Start with Accept 3.
    with socket.create_connection(("127.0.0.1", 862), timeout=5) as control:
        greeting = control.recv(64)
        control.sendall((2).to_bytes(4, "big") + bytes(160))
        start = control.recv(48)
    check(len(greeting) == 64 and greeting[12:16] == (1).to_bytes(4, "big") and
          len(start) == 48 and start[15] == 3,
          "modes 1 offered; mode 2 refused with Accept 3")
    counts, err = stop_reflector(reflector)
    check(counts["NotRequested"] >= 50 and counts["Reflected"] == 0 and
          counts["ControlRefused"] == 1,
          "refused and counted: %s" % counts)
    check(err.count("no TWAMP session") == 1 and err.count("mode 2") == 1,
          "each refusal said once: %s" % err.strip())


def main():
    twampy_controller_proof()
    twampy_relay_proof()
    tshark_proof()
    probe_proof()
    refusal_proof()


if __name__ == "__main__":
    try:
        main()
    finally:
        subprocess.run(["rm", "-rf", WORK])
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all TWAMP proofs passed")
