#!/usr/bin/env python3
"""STAMP figures: one pulvo reflect under N sessions of 20 ms (CPU, loss,
residence time T3-T2, memory per session), and the CPU of one pulvo call
beside pulvo send plus pulvo recv at 20 ms for the same time.

Usage: stamp_bench.py BUILD_DIR [SESSIONS] [SECONDS]"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_common import cpu_seconds, free_port, rss_kb, wait_for_udp_port  # noqa: E402

BUILD = sys.argv[1]
SESSIONS = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 20
PULVO = os.path.join(BUILD, "src/app/pulvo")


def run_timed(argv):
    """Runs a program to its end: its CPU seconds (user + system)."""
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, usage = os.wait4(child.pid, 0)
    return usage.ru_utime + usage.ru_stime


def reflector_load():
    port = free_port()
    # All the sessions come from 127.0.0.1, and one address may hold a
    # quarter of the table: a table four times the load holds them all.
    reflector = subprocess.Popen([PULVO, "reflect:la=127.0.0.1,lp=%d,rt=0,ms=%d"
                                  % (port, SESSIONS * 4)], stdout=subprocess.DEVNULL)
    wait_for_udp_port(port)
    idle_kb = rss_kb(reflector.pid)
    before = cpu_seconds(reflector.pid)
    started = time.monotonic()
    out = subprocess.run([os.path.join(BUILD, "bench/stamp_load"), str(port), str(SESSIONS),
                          str(SECONDS)], capture_output=True, text=True, check=True).stdout
    cpu = cpu_seconds(reflector.pid) - before
    elapsed = time.monotonic() - started
    loaded_kb = rss_kb(reflector.pid)
    reflector.terminate()
    reflector.wait(timeout=30)
    print("== pulvo reflect, %d sessions of one packet per 20 ms (%d packets/s each way) =="
          % (SESSIONS, SESSIONS * 50))
    print(out.strip())
    # The figures below are per session offered: they mean nothing when some
    # were refused.
    lost = re.search(r"lost (\d+)", out)
    if lost and int(lost.group(1)) > SESSIONS * SECONDS * 50 // 100:
        sys.exit("more than 1 % of the requests went unanswered: the figures would mislead")
    print("reflector CPU: %.2f s in %.1f s = %.1f %% of one core" % (cpu, elapsed, 100 * cpu / elapsed))
    print("reflector memory: %d kB idle, %d kB with the sessions: %.0f bytes per session"
          % (idle_kb, loaded_kb, 1024.0 * (loaded_kb - idle_kb) / SESSIONS))


def call_versus_send_recv():
    seconds = int(SECONDS)
    port = free_port()
    reflector = subprocess.Popen([PULVO, "reflect:la=127.0.0.1,lp=%d" % port],
                                 stdout=subprocess.DEVNULL)
    wait_for_udp_port(port)
    call = run_timed([PULVO, "-j", "call:ra=127.0.0.1,rp=%d,td=%d" % (port, seconds)])
    reflector.terminate()
    reflector.wait(timeout=30)
    recv = subprocess.Popen([PULVO, "-j", "recv:la=127.0.0.1,lp=50000"], stdout=subprocess.DEVNULL)
    wait_for_udp_port(50000)
    send = run_timed([PULVO, "send:ra=127.0.0.1,rp=50000,td=%d" % seconds])
    _, _, usage = os.wait4(recv.pid, 0)
    receive = usage.ru_utime + usage.ru_stime
    print("== %d s at 20 ms: pulvo call against pulvo send + pulvo recv ==" % seconds)
    print("pulvo call  %.2f s CPU (both directions scored)" % call)
    print("pulvo send  %.2f s + pulvo recv %.2f s = %.2f s CPU (one direction)"
          % (send, receive, send + receive))


if __name__ == "__main__":
    reflector_load()
    call_versus_send_recv()
