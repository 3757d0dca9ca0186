"""Helpers shared by the benchmark scripts."""
import socket


def free_port():
    """A UDP port on 127.0.0.1 that was free a moment ago."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port
