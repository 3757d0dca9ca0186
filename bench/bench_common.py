"""Helpers shared by the benchmark scripts. Run as a program, for the shell
scripts: `bench_common.py [udp|tcp]` prints a free port; `bench_common.py
wait PORT [ADDRESS] [SECONDS]` waits until a UDP socket is bound to PORT
(exit 1 if none is within SECONDS, 20 by default)."""
import csv
import json
import os
import socket
import sys
import time


def free_port(kind="udp"):
    """A UDP (or TCP) port on 127.0.0.1 that was free a moment ago."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if kind == "udp" else socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def udp_port_bound(port, address="127.0.0.1"):
    """Whether some socket holds the UDP port on that address (or on all)."""
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    s = socket.socket(family, socket.SOCK_DGRAM)
    try:
        s.bind((address, port))
        return False
    except OSError:
        return True
    finally:
        s.close()


def wait_for_udp_port(port, address="127.0.0.1", seconds=20.0):
    """Waits until the port is bound, that is, until a receiver listens."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if udp_port_bound(port, address):
            return True
        time.sleep(0.02)
    return False


def cpu_seconds(pid):
    """A running process's CPU time so far, user and system, in seconds."""
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kb(pid):
    """A running process's resident memory now, in kB."""
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def relay_truth(path, kind):
    """What pulvo-relay's record says it did to the test datagrams: loss,
    mean drop run, jitter (mean step and RFC 3550), reordered, duplicated."""
    # Test datagrams: pulvo data packets, or iperf3's 160-byte datagrams
    # (which may decode as anything).
    rows = [r for r in csv.DictReader(open(path))
            if int(r["length"]) >= 100 and (kind == "any" or r["kind"] == kind)]
    sent = {}
    for r in rows:
        sent.setdefault(r["index"], r)
    incoming = list(sent.values())
    dropped = sum(1 for r in incoming if r["action"] == "drop")
    forwarded = [r for r in rows if r["action"] != "drop"]
    forwarded.sort(key=lambda r: int(r["departure_us"]))
    transits = [(int(r["departure_us"]) - int(r["arrival_us"])) / 1000.0 for r in forwarded]
    steps = [abs(b - a) for a, b in zip(transits, transits[1:])]
    rfc = 0.0
    for d in steps:
        rfc += (d - rfc) / 16.0
    runs, previous = 0, None
    drops = sorted(int(r["index"]) for r in incoming if r["action"] == "drop")
    for i in drops:
        if previous is None or i != previous + 1:
            runs += 1
        previous = i
    reordered = sum(1 for r in rows if r["action"] in ("reorder", "swap"))
    dups = sum(1 for r in rows if r["action"] == "duplicate")
    return {
        "loss": 100.0 * dropped / max(len(incoming), 1),
        "burst": dropped / runs if runs else 0.0,
        "jitter_mean": sum(steps) / len(steps) if steps else 0.0,
        "jitter_rfc": rfc,
        "reordered": reordered,
        "duplicates": dups,
        "packets": len(incoming),
    }



# The checks of a proof script: each printed "ok" or "FAIL", the failures kept.
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def call_rows(text):
    """The windows of pulvo -j call's array, without the verdict that ends it."""
    return [row for row in json.loads(text or "[]") if row.get("Direction") != "verdict"]


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "wait":
        address = sys.argv[3] if len(sys.argv) > 3 else "127.0.0.1"
        seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 20.0
        sys.exit(0 if wait_for_udp_port(int(sys.argv[2]), address, seconds) else 1)
    print(free_port(sys.argv[1] if len(sys.argv) > 1 else "udp"))
