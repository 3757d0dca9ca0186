#!/usr/bin/env python3
"""The trained MOS model and the E-model side by side on the relay's
scenarios, with the relay's record as the truth. Every scenario carries one
pulvo send -> pulvo recv test (G711, 20 ms, 4 s windows every second) through
pulvo-relay; the scenarios run side by side. The receiver is told the
relay's delay (--one-way-delay), as a user who knows the path would tell it.
Prints a Markdown table.

Usage: bench/emodel.py BUILD_DIR [SECONDS]
"""
from bench_common import free_port, relay_truth, wait_for_udp_port
import json, os, subprocess, sys, tempfile
from concurrent.futures import ThreadPoolExecutor

build = sys.argv[1]
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 60
pulvo = os.path.join(build, "src/app/pulvo")
relay = os.path.join(build, "tools/relay/pulvo-relay")

SCENARIOS = [
    ("clean", []),
    ("1 % random loss", ["--loss", "0.01"]),
    ("3 % random loss", ["--loss", "0.03"]),
    ("2 % in bursts of 2", ["--drop-every", "100:2"]),
    ("2 % in bursts of 5", ["--drop-every", "250:5"]),
    ("2 % in bursts of 15", ["--drop-every", "750:15"]),
    ("jitter +-15 ms", ["--jitter", "15"]),
    ("jitter +-30 ms around 40 ms", ["--delay", "40", "--jitter", "30"]),
    ("3 % random loss, 150 ms one way", ["--loss", "0.03", "--delay", "150"]),
    ("clean, 300 ms one way", ["--delay", "300"]),
]


def one_way_delay(args):
    return args[args.index("--delay") + 1] if "--delay" in args else "0"


def run(scenario):
    name, args = scenario
    with tempfile.TemporaryDirectory() as work:
        recv_port, relay_port = free_port(), free_port()
        record = os.path.join(work, "truth.csv")
        receiver = subprocess.Popen(
            [pulvo, "-j", "--emodel", "--one-way-delay", one_way_delay(args),
             "recv:ws=4,sai=1,to=5,lp=%d" % recv_port],
            stdout=subprocess.PIPE, text=True)
        forwarder = subprocess.Popen([relay, "--listen", str(relay_port), "--forward",
                                      str(recv_port), "--seed", "7", "--record", record,
                                      "--idle-exit", "2"] + args)
        wait_for_udp_port(recv_port)
        wait_for_udp_port(relay_port)
        subprocess.run([pulvo, "send:td=%d,sai=5,rp=%d,lp=%d" % (seconds, relay_port, free_port())],
                       stdout=subprocess.DEVNULL, check=True)
        samples = json.loads(receiver.communicate()[0])
        forwarder.wait()
        truth = relay_truth(record, "data")
    n = max(len(samples), 1)
    mean = lambda key: sum(s[key] for s in samples) / n
    return ("| %s | loss %.2f %%, burst %.2f, jitter %.1f ms | %.2f | %.2f | %d of %d "
            "| %.1f | %.2f | %.2f | %.1f | %.2f | %.0f ms |"
            % (name, truth["loss"], truth["burst"], truth["jitter_mean"], mean("MOS"),
               min(s["MOS"] for s in samples), sum(s["MOS"] == 0 for s in samples), len(samples),
               mean("EModelR"), mean("EModelMOS"), min(s["EModelMOS"] for s in samples),
               mean("ConversationalR"), mean("ConversationalMOS"), mean("MouthToEarDelay")))


def main():
    with ThreadPoolExecutor(len(SCENARIOS)) as pool:
        rows = list(pool.map(run, SCENARIOS))
    print("| scenario | truth | pulvo MOS, mean | lowest | windows reading 0 "
          "| E-model R, mean | E-model MOS, mean | lowest | conversational R, mean "
          "| conversational MOS, mean | mouth to ear |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for row in rows:
        print(row)


main()
