#!/usr/bin/env python3
"""Writes a pcap of N 20 ms PCMU streams over Ethernet and IPv4, as a
capture of that many calls on one link would hold: 172-byte RTP datagrams,
interleaved in time, a little jitter, 1 % of packets missing.

Usage: make_capture.py FILE [STREAMS, default 10] [SECONDS, default 3600]
"""
import random
import struct
import sys

path = sys.argv[1]
streams = int(sys.argv[2]) if len(sys.argv) > 2 else 10
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
t0 = 1700000000 * 1000000
rng = random.Random(1)
audio = b"\xff" * 160


def frame(stream, seq, ts):
    rtp = struct.pack(">BBHII", 0x80, 0, seq & 0xFFFF, ts & 0xFFFFFFFF, 0x1000 + stream) + audio
    udp = struct.pack(">HHHH", 40000 + stream, 50000 + stream, len(rtp) + 8, 0) + rtp
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, len(udp) + 20, 0, 0, 64, 17, 0,
                     bytes([10, 0, 0, 1]), bytes([10, 0, 1, stream])) + udp
    return b"\x02" * 12 + b"\x08\x00" + ip


with open(path, "wb") as out:
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    # Each stream starts at its own offset within the first 20 ms; packets
    # are written in capture-time order.
    for i in range(seconds * 50):
        batch = []
        for s in range(streams):
            if rng.random() < 0.01:
                continue
            t = t0 + i * 20000 + s * 1500 + rng.randrange(0, 400)
            batch.append((t, frame(s, 1000 * s + i, 7919 * s + i * 160)))
        batch.sort(key=lambda x: x[0])
        out.write(b"".join(struct.pack("<IIII", t // 1000000, t % 1000000, len(f), len(f)) + f
                           for t, f in batch))
