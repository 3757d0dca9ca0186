#!/usr/bin/env python3
"""pulvo probe against things no one here wrote.

1. A probe calls three pulvo reflect instances (one through pulvo-relay with
   seeded loss each way); its /metrics passes `promtool check metrics`, the
   impaired path's lost packets equal the relay's truth for each way, the
   clean paths lose none.
2. SIGHUP with a configuration that has an error keeps the running one; a
   good one adds a path and keeps the calls of the paths that did not change.
3. A reflector that stops answering shows as down (pulvo_probe_path_up 0)
   and its call is started afresh.
4. Prometheus scrapes the probe; its alerting rules fire for the impaired
   path alone and the alert reaches Alertmanager (when both are installed).

Usage: probe_proofs.py BUILD_DIR
"""
import csv
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from bench_common import check, failures, free_port, wait_for_udp_port  # noqa: E402

BUILD = sys.argv[1]
PULVO = os.path.join(BUILD, "src/app/pulvo")
RELAY = os.path.join(BUILD, "tools/relay/pulvo-relay")
WORK = tempfile.mkdtemp(prefix="pulvo-probe-")
children = []


def start(argv, **kwargs):
    child = subprocess.Popen(argv, **kwargs)
    children.append(child)
    return child


def metrics(port):
    with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5) as reply:
        return reply.read().decode()


def value(text, name, **labels):
    for line in text.splitlines():
        if not line.startswith(name + "{"):
            continue
        found = dict(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', line.split("}")[0]))
        if all(found.get(k) == v for k, v in labels.items()):
            return float(line.rsplit(" ", 1)[1])
    return None


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if condition():
                return True
        except OSError:
            pass
        time.sleep(0.5)
    return False


def relay_drops(path):
    return sum(1 for r in csv.DictReader(open(path)) if r["action"] == "drop" and r["kind"] == "data")


def write_config(path, metrics_port, lines):
    with open(path, "w") as f:
        f.write("# pulvo probe proof\nmetrics 127.0.0.1:%d\n" % metrics_port)
        f.write("".join(line + "\n" for line in lines))


def main():
    reflectors = [free_port() for _ in range(3)]
    reflector_metrics = free_port("tcp")
    for port in reflectors:
        own = ",mt=127.0.0.1:%d" % reflector_metrics if port == reflectors[0] else ""
        start([PULVO, "reflect:la=::,lp=%d%s" % (port, own)], stdout=subprocess.DEVNULL)
        wait_for_udp_port(port, "::")
    relay_port = free_port()
    out_truth, back_truth = os.path.join(WORK, "out.csv"), os.path.join(WORK, "back.csv")
    relay = start([RELAY, "--listen", str(relay_port), "--forward", str(reflectors[2]), "--stamp",
                   "--seed", "11", "--loss", "0.04:10-300", "--back-loss", "0.03:10-280",
                   "--record", out_truth,
                   "--back-record", back_truth])
    wait_for_udp_port(relay_port)
    metrics_port = free_port("tcp")
    config = os.path.join(WORK, "probe.conf")
    paths = ["path clean-v4 ra=127.0.0.1,rp=%d" % reflectors[0],
             "path clean-v6 ra=::1,rp=%d" % reflectors[1],
             "path impaired ra=127.0.0.1,rp=%d,to=2" % relay_port]
    write_config(config, metrics_port, paths)
    probe = start([PULVO, "probe:cf=%s" % config], stdout=subprocess.DEVNULL,
                  stderr=subprocess.PIPE, text=True)

    print("== the probe's /metrics ==")
    check(wait_for(lambda: value(metrics(metrics_port), "pulvo_probe_mos", path="impaired",
                                 direction="forward") is not None, 20),
          "every path scored within 20 s")
    # The losses lie in the first 300 packets (6 s); at 450 sent, and once
    # the last window's answers have settled, every one is known.
    check(wait_for(lambda: value(metrics(metrics_port), "pulvo_probe_sent_packets_total",
                                 path="impaired") >= 450, 20), "450 packets sent on the path")
    time.sleep(2.5)
    text = metrics(metrics_port)
    with open(os.path.join(WORK, "metrics.txt"), "w") as f:
        f.write(text)
    promtool = shutil.which("promtool")
    if promtool:
        lint = subprocess.run([promtool, "check", "metrics"], input=text, capture_output=True,
                              text=True)
        check(lint.returncode == 0, "promtool check metrics: %s" % (lint.stdout + lint.stderr).strip())
    for name in ("clean-v4", "clean-v6"):
        check(value(text, "pulvo_probe_path_up", path=name) == 1 and
              value(text, "pulvo_probe_lost_packets_total", path=name, direction="forward") == 0 and
              value(text, "pulvo_probe_lost_packets_total", path=name, direction="reverse") == 0,
              "%s: up, nothing lost" % name)
    forward = value(text, "pulvo_probe_lost_packets_total", path="impaired", direction="forward")
    reverse = value(text, "pulvo_probe_lost_packets_total", path="impaired", direction="reverse")
    check(forward == relay_drops(out_truth) and reverse == relay_drops(back_truth),
          "impaired: lost %s out and %s back, the relay's truth %d and %d"
          % (forward, reverse, relay_drops(out_truth), relay_drops(back_truth)))
    labels = set(re.findall(r"(\w+)=\"", text))
    check(labels == {"path", "peer", "direction", "codec"}, "labels: %s" % sorted(labels))
    own = metrics(reflector_metrics)
    if promtool:
        lint = subprocess.run([promtool, "check", "metrics"], input=own, capture_output=True,
                              text=True)
        check(lint.returncode == 0, "the reflector's /metrics pass promtool too")
    reflected = re.search(r"^pulvo_reflect_reflected_packets_total (\d+)$", own, re.M)
    check(reflected is not None and int(reflected.group(1)) > 400 and
          re.search(r"^pulvo_reflect_sessions 1$", own, re.M) is not None,
          "pulvo reflect serves its counters: %s reflected, one session"
          % (reflected.group(1) if reflected else None))

    print("== the impaired path's reflector gone silent ==")
    relay.send_signal(signal.SIGINT)
    relay.wait(timeout=30)
    check(wait_for(lambda: value(metrics(metrics_port), "pulvo_probe_path_up", path="impaired") == 0,
                   15), "impaired: down once its reflector stops answering")
    check(wait_for(lambda: value(metrics(metrics_port), "pulvo_probe_restarts_total",
                                 path="impaired") >= 1, 15), "impaired: its call started afresh")

    print("== SIGHUP ==")
    sent_before = value(metrics(metrics_port), "pulvo_probe_sent_packets_total", path="clean-v4")
    write_config(config, metrics_port, paths + ["path broken ra=127.0.0.1,co=G729"])
    probe.send_signal(signal.SIGHUP)
    time.sleep(2.5)
    text = metrics(metrics_port)
    check(value(text, "pulvo_probe_path_up", path="broken") is None and
          value(text, "pulvo_probe_path_up", path="clean-v4") == 1,
          "a configuration with an error is refused, the running one kept")
    # /metrics stays where it was served from: a reload that moves it is refused.
    write_config(config, metrics_port + 1, paths)
    probe.send_signal(signal.SIGHUP)
    time.sleep(2.5)
    check(value(metrics(metrics_port), "pulvo_probe_path_up", path="clean-v4") == 1,
          "a configuration that moves /metrics is refused, the running one kept")
    write_config(config, metrics_port, paths[:2] + ["path added ra=::1,rp=%d" % reflectors[2]])
    probe.send_signal(signal.SIGHUP)
    check(wait_for(lambda: value(metrics(metrics_port), "pulvo_probe_mos", path="added",
                                 direction="reverse") is not None, 20), "a good one adds a path")
    text = metrics(metrics_port)
    check(value(text, "pulvo_probe_path_up", path="impaired") is None and
          value(text, "pulvo_probe_sent_packets_total", path="clean-v4") > sent_before,
          "the removed path is gone; an unchanged path kept its call (sent %s > %s)"
          % (value(text, "pulvo_probe_sent_packets_total", path="clean-v4"), sent_before))
    probe.send_signal(signal.SIGTERM)
    err = probe.communicate(timeout=30)[1]
    check(probe.returncode == 0, "the probe ends at SIGTERM with 0")
    check("path broken: codec G729 is neither G711 nor GSM0610" in err and
          "the metrics line moves /metrics from 127.0.0.1:%d" % metrics_port in err and
          "configuration reloaded: 3 paths" in err, "its reloads said on standard error: %s"
          % err.strip().replace("\n", " | "))


def get_json(url):
    with urllib.request.urlopen(url, timeout=5) as reply:
        return json.loads(reply.read().decode())


def prometheus_proof():
    prometheus, alertmanager = shutil.which("prometheus"), shutil.which("prometheus-alertmanager")
    if not prometheus or not alertmanager:
        print("== Prometheus and Alertmanager: not installed, skipped ==")
        return
    print("== Prometheus scrapes the probe; the alert reaches Alertmanager ==")
    reflectors = [free_port() for _ in range(3)]
    for port in reflectors:
        start([PULVO, "reflect:la=::,lp=%d" % port], stdout=subprocess.DEVNULL)
        wait_for_udp_port(port, "::")
    relay_port = free_port()
    out_truth = os.path.join(WORK, "prom-out.csv")
    start([RELAY, "--listen", str(relay_port), "--forward", str(reflectors[2]), "--stamp",
           "--seed", "5", "--loss", "0.10:0-1500", "--record", out_truth])
    wait_for_udp_port(relay_port)
    metrics_port, prom_port, am_port = free_port("tcp"), free_port("tcp"), free_port("tcp")
    config = os.path.join(WORK, "fleet.conf")
    write_config(config, metrics_port, ["path clean-1 ra=127.0.0.1,rp=%d" % reflectors[0],
                                        "path clean-2 ra=::1,rp=%d" % reflectors[1],
                                        "path impaired ra=127.0.0.1,rp=%d" % relay_port])
    probe = start([PULVO, "probe:cf=%s" % config], stdout=subprocess.DEVNULL)
    # The shipped rules, with their waits cut to seconds for a one-minute run.
    rules = open(os.path.join(ROOT, "packaging/prometheus/pulvo-rules.yml")).read()
    rules = rules.replace("for: 2m", "for: 5s").replace("for: 1m", "for: 5s")
    with open(os.path.join(WORK, "rules.yml"), "w") as f:
        f.write(rules)
    with open(os.path.join(WORK, "alertmanager.yml"), "w") as f:
        f.write("route:\n  receiver: nobody\n  group_wait: 1s\nreceivers:\n  - name: nobody\n")
    with open(os.path.join(WORK, "prometheus.yml"), "w") as f:
        f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                "rule_files: [%s]\n"
                "alerting:\n  alertmanagers:\n    - static_configs:\n"
                "        - targets: ['127.0.0.1:%d']\n"
                "scrape_configs:\n  - job_name: pulvo-probe\n    static_configs:\n"
                "      - targets: ['127.0.0.1:%d']\n"
                % (os.path.join(WORK, "rules.yml"), am_port, metrics_port))
    start([alertmanager, "--config.file", os.path.join(WORK, "alertmanager.yml"),
           "--storage.path", os.path.join(WORK, "am"), "--web.listen-address",
           "127.0.0.1:%d" % am_port, "--cluster.listen-address="],
          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    start([prometheus, "--config.file", os.path.join(WORK, "prometheus.yml"),
           "--storage.tsdb.path", os.path.join(WORK, "tsdb"), "--web.listen-address",
           "127.0.0.1:%d" % prom_port], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    am = "http://127.0.0.1:%d/api/v2/alerts" % am_port

    def alerts():
        return [a["labels"] for a in get_json(am)]

    # 10 % random loss on the way out: the conversational MOS (R about 63)
    # and the trained model's second opinion both fire, for that way alone.
    expected = {("PulvoConversationPoor", "impaired", "forward"),
                ("PulvoVoiceQualityLow", "impaired", "forward")}

    def fired():
        return {(a.get("alertname"), a.get("path"), a.get("direction")) for a in alerts()}

    check(wait_for(lambda: expected <= fired(), 60),
          "PulvoConversationPoor and PulvoVoiceQualityLow for the impaired path reach "
          "Alertmanager")
    check(fired() == expected, "and no other alert: %s" % sorted(fired()))
    # The losses lie in the first 1500 packets (30 s); once 1700 are sent
    # and the last of them settled and scraped, every one is known.
    query = "http://127.0.0.1:%d/api/v1/query?query=" % prom_port

    def series(expr):
        result = get_json(query + urllib.parse.quote(expr))["data"]["result"]
        return {r["metric"].get("path"): float(r["value"][1]) for r in result}

    check(wait_for(lambda: series('pulvo_probe_sent_packets_total{path="impaired"}')
                   .get("impaired", 0) >= 1700, 60), "1700 packets sent on the impaired path")
    time.sleep(4)
    lost = series('pulvo_probe_lost_packets_total{direction="forward"}')
    check(lost == {"clean-1": 0, "clean-2": 0, "impaired": relay_drops(out_truth)},
          "Prometheus: forward losses %s; the relay's truth %d" % (lost, relay_drops(out_truth)))
    ratio = series('max_over_time(pulvo_probe_loss_ratio{direction="forward"}[60s])')
    check(ratio.get("clean-1") == 0 and ratio.get("clean-2") == 0 and 0 < ratio.get("impaired", 0),
          "Prometheus: the clean paths' loss ratio stayed 0: %s" % ratio)
    probe.send_signal(signal.SIGTERM)
    probe.wait(timeout=30)


if __name__ == "__main__":
    try:
        main()
        prometheus_proof()
    finally:
        for child in children:
            if child.poll() is None:
                child.send_signal(signal.SIGINT)
        for child in children:
            try:
                child.wait(timeout=10)
            except subprocess.TimeoutExpired:
                child.kill()
        shutil.rmtree(WORK, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all probe proofs passed")
