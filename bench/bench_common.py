"""Helpers shared by the benchmark scripts. Run as a program it prints a
free port, for the shell scripts: bench_common.py [udp|tcp]."""
import socket
import sys


def free_port(kind="udp"):
    """A UDP (or TCP) port on 127.0.0.1 that was free a moment ago."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if kind == "udp" else socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


if __name__ == "__main__":
    print(free_port(sys.argv[1] if len(sys.argv) > 1 else "udp"))
