#!/usr/bin/env python3
"""pulvo probe at scale: one probe keeping N calls of 20 ms to reflectors on
loopback (CPU and memory per call, packets sent against nominal, how long a
scrape of /metrics takes), beside one pulvo call process per path.

Usage: probe_bench.py BUILD_DIR [CALLS] [SECONDS]"""
import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_common import cpu_seconds, free_port, rss_kb, wait_for_udp_port  # noqa: E402

BUILD = sys.argv[1]
CALLS = int(sys.argv[2]) if len(sys.argv) > 2 else 500
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 30
PULVO = os.path.join(BUILD, "src/app/pulvo")
REFLECTORS = 4


def main():
    work = tempfile.mkdtemp(prefix="pulvo-probe-bench-")
    ports = [free_port() for _ in range(REFLECTORS)]
    reflectors = [subprocess.Popen([PULVO, "reflect:la=127.0.0.1,lp=%d,rt=0" % p],
                                   stdout=subprocess.DEVNULL) for p in ports]
    for p in ports:
        wait_for_udp_port(p)
    metrics_port = free_port("tcp")
    config = os.path.join(work, "probe.conf")
    with open(config, "w") as f:
        f.write("metrics 127.0.0.1:%d\n" % metrics_port)
        for i in range(CALLS):
            f.write("path p%d ra=127.0.0.1,rp=%d\n" % (i, ports[i % REFLECTORS]))
    probe = subprocess.Popen([PULVO, "-j", "probe:cf=%s" % config], stdout=subprocess.DEVNULL)

    def scrape():
        t = time.monotonic()
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % metrics_port) as reply:
            text = reply.read().decode()
        return text, (time.monotonic() - t) * 1000

    def sent_total(text):
        return sum(float(v) for v in
                   re.findall(r"^pulvo_probe_sent_packets_total\{.*\} (\S+)$", text, re.M))

    time.sleep(5)
    # The paths publish their counts once a second each: two scrapes
    # SECONDS apart give the rate the probe kept.
    first, _ = scrape()
    before, started = cpu_seconds(probe.pid), time.monotonic()
    time.sleep(SECONDS)
    cpu, elapsed = cpu_seconds(probe.pid) - before, time.monotonic() - started
    rss = rss_kb(probe.pid)
    last, took = scrape()
    run = time.monotonic() - started
    sent = sent_total(last) - sent_total(first)
    scrapes = [took]
    for _ in range(9):
        text, took = scrape()
        scrapes.append(took)
    up = [float(v) for v in re.findall(r"^pulvo_probe_path_up\{.*\} (\S+)$", text, re.M)]
    probe.terminate()
    probe.wait(timeout=30)
    print("== pulvo probe, %d calls of 20 ms (%d packets/s each way), %.0f s ==" % (CALLS, CALLS * 50, SECONDS))
    print("CPU %.2f s in %.1f s = %.1f %% of one core; %.1f µs of CPU per call-second"
          % (cpu, elapsed, 100 * cpu / elapsed, 1e6 * cpu / elapsed / CALLS))
    print("memory %d kB: %.1f kB per call" % (rss, rss / CALLS))
    print("paths up %d of %d; sent %.0f in %.1f s against a nominal %.0f (%.2f %%)"
          % (sum(up), CALLS, sent, run, CALLS * run * 50, 100 * sent / (CALLS * run * 50)))
    print("scrape of /metrics (%d bytes): median %.1f ms, max %.1f ms"
          % (len(text), sorted(scrapes)[len(scrapes) // 2], max(scrapes)))

    # One process per path, for comparison (a few of them).
    few = 20
    calls = [subprocess.Popen([PULVO, "-j", "call:ra=127.0.0.1,rp=%d,td=%d" % (ports[i % REFLECTORS], SECONDS + 5)],
                              stdout=subprocess.DEVNULL) for i in range(few)]
    time.sleep(2)
    before = sum(cpu_seconds(c.pid) for c in calls)
    started = time.monotonic()
    time.sleep(SECONDS)
    cpu = sum(cpu_seconds(c.pid) for c in calls) - before
    elapsed = time.monotonic() - started
    rss = sum(rss_kb(c.pid) for c in calls)
    for c in calls:
        c.terminate()
        c.wait(timeout=30)
    print("== %d pulvo call processes, one per path, beside it ==" % few)
    print("%.1f µs of CPU per call-second; %.0f kB per call"
          % (1e6 * cpu / elapsed / few, rss / few))
    for r in reflectors:
        r.terminate()
        r.wait(timeout=30)


if __name__ == "__main__":
    main()
