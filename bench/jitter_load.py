#!/usr/bin/env python3
"""Jitter under CPU load: the relay adds a known jitter (alternately 0 and
10 ms, so every transit step is exactly 10 ms) while two busy loops keep both
cores busy. Prints what the receiver reports against the relay's truth.

Usage: bench/jitter_load.py PULVO [RELAY] [SECONDS]
"""
from bench_common import free_port
import csv, json, multiprocessing, os, socket, subprocess, sys, tempfile, time

pulvo = sys.argv[1]
relay = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(pulvo), "../../tools/relay/pulvo-relay")
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 20




def hog(stop):
    while not stop.is_set():
        pass


def run(load):
    stop = multiprocessing.Event()
    hogs = [multiprocessing.Process(target=hog, args=(stop,)) for _ in range(os.cpu_count() if load else 0)]
    for h in hogs:
        h.start()
    with tempfile.TemporaryDirectory() as work:
        rec = os.path.join(work, "truth.csv")
        recv_port, relay_port = free_port(), free_port()
        r = subprocess.Popen([pulvo, "-j", "recv:ws=2,sai=1,to=5,lp=%d" % recv_port], stdout=subprocess.PIPE, text=True)
        rl = subprocess.Popen([relay, "--listen", str(relay_port), "--forward", str(recv_port),
                               "--alternate", "0,10", "--record", rec, "--idle-exit", "2"])
        time.sleep(0.3)
        subprocess.run([pulvo, "send:td=%d,sai=5,rp=%d,lp=%d" % (seconds, relay_port, free_port())],
                       stdout=subprocess.DEVNULL)
        samples = json.loads(r.communicate()[0])
        rl.wait()
    stop.set()
    for h in hogs:
        h.join()
    j = sorted(s["AvgJitter"] for s in samples)
    lost = sum(s["LostPackets"] for s in samples)
    return "mean %.2f ms, min %d, max %d, lost %d over %d samples" % (sum(j) / len(j), j[0], j[-1], lost, len(j))


print("| load | pulvo avg jitter (truth: 10 ms) |")
print("|---|---|")
print("| idle | %s |" % run(False))
print("| both cores busy | %s |" % run(True))
