#!/usr/bin/env python3
"""Pacing and cost: pulvo send/recv against iperf3 at the same packet rate.

Both streams pass a pulvo-relay that only records: its arrival times are the
kernel's receive timestamps. Reports packets sent against nominal, the mean
interval and the deviation of each interval from the nominal one, plus the
CPU time and peak resident memory of each program (GNU time).

Usage: bench/pacing.py BUILD_DIR [INTERVAL_MS:SECONDS ...]
"""
from bench_common import free_port
import csv, os, re, socket, subprocess, sys, tempfile, time

build = sys.argv[1]
pulvo = os.path.join(build, "src/app/pulvo")
relay = os.path.join(build, "tools/relay/pulvo-relay")
RUNS = [tuple(int(x) for x in run.split(":")) for run in sys.argv[2:]] or [(20, 60), (1, 10)]




def timed(cmd, log, **kw):
    return subprocess.Popen(["/usr/bin/time", "-v", "-o", log] + cmd, **kw)


def cost(log):
    text = open(log).read()
    user = float(re.search(r"User time \(seconds\): ([\d.]+)", text).group(1))
    system = float(re.search(r"System time \(seconds\): ([\d.]+)", text).group(1))
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    return "%.2f s CPU, %d kB" % (user + system, rss)


def pacing(record, interval_ms, seconds, pulvo_stream):
    rows = [r for r in csv.DictReader(open(record))
            if int(r["length"]) == 160 and (r["kind"] == "data" or not pulvo_stream)]
    times = sorted(int(r["arrival_us"]) for r in rows)
    gaps = [(b - a) / 1000.0 for a, b in zip(times, times[1:])]
    dev = sorted(abs(g - interval_ms) for g in gaps)
    pick = lambda q: dev[min(len(dev) - 1, int(q * len(dev)))]
    nominal = seconds * 1000 // interval_ms
    return ("%d of %d (%.2f %%), mean %.4f ms, deviation p50 %.3f / p99 %.3f / max %.3f ms"
            % (len(times), nominal, 100.0 * len(times) / nominal, sum(gaps) / len(gaps),
               pick(0.5), pick(0.99), dev[-1]))


def run_pulvo(j, interval, seconds):
    """pulvo send -> relay (records) -> pulvo recv"""
    recv_port, relay_port = free_port(), free_port()
    recv = timed([pulvo, "recv:ws=4,sai=1,to=10,lp=%d" % recv_port], j("precv"),
                 stdout=subprocess.DEVNULL)
    rl = subprocess.Popen([relay, "--listen", str(relay_port), "--forward", str(recv_port),
                           "--record", j("pulvo.csv"), "--idle-exit", "2"])
    time.sleep(0.5)
    sender = timed([pulvo, "send:sti=%d,td=%d,sai=1,rp=%d,lp=%d"
                    % (interval, seconds, relay_port, free_port())], j("psend"),
                   stdout=subprocess.DEVNULL)
    for p in (sender, recv, rl):
        p.wait()


def run_iperf3(j, interval, seconds):
    """iperf3 client -> relay (records) -> server; the control connection through socat"""
    server_port, irelay_port = free_port(), free_port()
    server = timed(["iperf3", "-s", "-1", "-p", str(server_port)], j("iserver"),
                   stdout=subprocess.DEVNULL)
    control = subprocess.Popen(["socat", "TCP-LISTEN:%d,reuseaddr,bind=127.0.0.1" % irelay_port,
                                "TCP:127.0.0.1:%d" % server_port])
    irl = subprocess.Popen([relay, "--listen", str(irelay_port), "--forward", str(server_port),
                            "--record", j("iperf3.csv"), "--idle-exit", "3"])
    time.sleep(0.5)
    rate = 160 * 8 * 1000 // interval
    client = timed(["iperf3", "-c", "127.0.0.1", "-p", str(irelay_port), "-u", "-b", str(rate),
                    "-l", "160", "-t", str(seconds)], j("iclient"), stdout=subprocess.DEVNULL)
    for p in (client, irl):
        p.wait()
    control.kill()
    server.wait(timeout=10)


def run_reference(j, interval, seconds):
    """A sender that spins on an absolute schedule and never sleeps: its packets
    leave on time to within microseconds, so what the relay sees of it is the
    noise of the observation itself (the kernel's send path up to the stamp)."""
    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sink.bind(("127.0.0.1", 0))
    relay_port = free_port()
    rl = subprocess.Popen([relay, "--listen", str(relay_port), "--forward", str(sink.getsockname()[1]),
                           "--record", j("reference.csv"), "--idle-exit", "1"])
    time.sleep(0.5)
    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    payload = bytes(160)
    due = time.perf_counter_ns()
    for _ in range(seconds * 1000 // interval):
        while time.perf_counter_ns() < due:
            pass
        out.sendto(payload, ("127.0.0.1", relay_port))
        due += interval * 1000000
    rl.wait()
    sink.close()


def main():
    print("| stream | tool | packets sent vs nominal, interval | sender cost | receiver cost |")
    print("|---|---|---|---|---|")
    # One tool at a time, so that each paces on an otherwise idle machine.
    for interval, seconds in RUNS:
        stream = "%d ms for %d s" % (interval, seconds)
        with tempfile.TemporaryDirectory() as work:
            j = lambda name: os.path.join(work, name)
            run_pulvo(j, interval, seconds)
            print("| %s | pulvo | %s | %s | %s |" % (stream, pacing(j("pulvo.csv"), interval, seconds, True),
                                                  cost(j("psend")), cost(j("precv"))))
            sys.stdout.flush()
            run_iperf3(j, interval, seconds)
            print("| %s | iperf3 | %s | %s | %s |" % (stream, pacing(j("iperf3.csv"), interval, seconds, False),
                                                   cost(j("iclient")), cost(j("iserver"))))
            sys.stdout.flush()
            run_reference(j, interval, seconds)
            print("| %s | spinning reference | %s | one core busy | - |"
                  % (stream, pacing(j("reference.csv"), interval, seconds, False)))
            sys.stdout.flush()


main()
