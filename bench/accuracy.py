#!/usr/bin/env python3
"""Ground truth against pulvo and iperf3.

Each random scenario runs twice through pulvo-relay with the same seed: once
carrying a pulvo send -> pulvo recv test, once an iperf3 UDP test at the same
packet rate and size (50 packets/s of 160 bytes). The relay's record is the
truth for both. Prints a Markdown table.

Usage: bench/accuracy.py BUILD_DIR [SECONDS]
"""
from bench_common import free_port, relay_truth as truth
import json, os, socket, subprocess, sys, tempfile, time

build = sys.argv[1]
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 60
pulvo = os.path.join(build, "src/app/pulvo")
relay = os.path.join(build, "tools/relay/pulvo-relay")

SCENARIOS = [
    ("1 % random loss", ["--loss", "0.01"]),
    ("bursty loss, mean burst 3", ["--ge", "0.007,0.3333"]),
    ("jitter +-15 ms", ["--jitter", "15"]),
    ("5 % reordering (held 45 ms)", ["--reorder", "0.05:45"]),
    ("5 % reordering (held 30 ms)", ["--reorder", "0.05:30"]),
    ("jitter +-30 ms around 30 ms, overtaking", ["--delay", "30", "--jitter", "30",
                                                 "--allow-reorder"]),
    ("1 % duplication", ["--duplicate", "0.01"]),
]


def run_pulvo(args, work):
    recv_port, relay_port = free_port(), free_port()
    rec = os.path.join(work, "pulvo.csv")
    r = subprocess.Popen([pulvo, "-j", "recv:ws=4,sai=1,to=5,lp=%d" % recv_port],
                         stdout=subprocess.PIPE, text=True)
    rl = subprocess.Popen([relay, "--listen", str(relay_port), "--forward", str(recv_port),
                           "--seed", "7", "--record", rec, "--idle-exit", "2"] + args)
    time.sleep(0.3)
    subprocess.run([pulvo, "send:td=%d,sai=5,rp=%d,lp=%d" % (seconds, relay_port, free_port())],
                   stdout=subprocess.DEVNULL, check=True)
    out = r.communicate()[0]
    rl.wait()
    samples = json.loads(out)
    n = max(len(samples), 1)
    with_loss = [s for s in samples if s["LostPackets"] > 0]
    return {
        "loss": 100.0 * sum(s["LossRate"] for s in samples) / n,
        "burst": sum(s["AverageBurstSize"] for s in with_loss) / len(with_loss) if with_loss else 0.0,
        "jitter": sum(s["AvgJitter"] for s in samples) / n,
        "mos": sum(s["MOS"] for s in samples) / n,
    }, truth(rec, "data")


def run_iperf3(args, work):
    server_port, relay_port = free_port(), free_port()
    rec = os.path.join(work, "iperf3.csv")
    server = subprocess.Popen(["iperf3", "-s", "-1", "-J", "-p", str(server_port)],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    control = subprocess.Popen(["socat", "TCP-LISTEN:%d,reuseaddr,bind=127.0.0.1" % relay_port,
                                "TCP:127.0.0.1:%d" % server_port])
    rl = subprocess.Popen([relay, "--listen", str(relay_port), "--forward", str(server_port),
                           "--seed", "7", "--record", rec, "--idle-exit", "3",
                           "--impair-all", "100"] + args)
    time.sleep(0.5)
    out = subprocess.run(["iperf3", "-c", "127.0.0.1", "-p", str(relay_port), "-u", "-b", "64K",
                          "-l", "160", "-t", str(seconds), "--json", "--get-server-output"],
                         capture_output=True, text=True).stdout
    rl.wait()
    control.kill()
    server.wait(timeout=10)
    result = json.loads(out)
    server_end = result["server_output_json"]["end"]
    server_sum = server_end["sum"]
    streams = server_end["streams"][0]["udp"]
    return {
        "loss": server_sum["lost_percent"],
        "ooo": streams.get("out_of_order", 0),
        "jitter": server_sum["jitter_ms"],
    }, truth(rec, "any")


def run_scenario(scenario):
    name, args = scenario
    with tempfile.TemporaryDirectory() as work:
        p, pt = run_pulvo(args, work)
        i, it = run_iperf3(args, work)
    return ("| %s | loss %.2f %%, burst %.2f, jitter %.2f ms (RFC 3550: %.2f), reordered %d, duplicated %d "
            "| loss %.2f %%, burst %.2f, jitter %.1f ms, MOS %.2f "
            "| loss %.2f %%, jitter %.2f ms (RFC 3550: %.2f), reordered %d, duplicated %d "
            "| loss %.2f %%, jitter %.2f ms, out of order %d |"
            % (name, pt["loss"], pt["burst"], pt["jitter_mean"], pt["jitter_rfc"], pt["reordered"],
               pt["duplicates"], p["loss"], p["burst"], p["jitter"], p["mos"],
               it["loss"], it["jitter_mean"], it["jitter_rfc"], it["reordered"], it["duplicates"],
               i["loss"], i["jitter"], i["ooo"]))


def main():
    # The scenarios run side by side: each has its own ports, relay and record.
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(len(SCENARIOS)) as pool:
        rows = list(pool.map(run_scenario, SCENARIOS))
    print("| scenario | truth (pulvo run) | pulvo | truth (iperf3 run) | iperf3 |")
    print("|---|---|---|---|---|")
    for row in rows:
        print(row)


main()
