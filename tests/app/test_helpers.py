# SPDX-License-Identifier: MIT
"""Small helpers the program tests in Python share."""
import socket
import time


def held_port():
    """A TCP port, and the socket that holds it: bound on every address with SO_REUSEADDR and
    not listening, so no other program's bind or connect takes the port while the socket lives,
    yet a listener that asks for SO_REUSEADDR too (Zelvor, Mopidy-MPD) still gets it."""
    probe = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    probe.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
    probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    probe.bind(("::", 0))
    return probe.getsockname()[1], probe


class PortHolding:
    """hold_port and release_port for a class that keeps its held ports in self.held."""

    def hold_port(self):
        """A port no other program takes until release_port (see held_port)."""
        port, probe = held_port()
        self.held[port] = probe
        return port

    def release_port(self, port):
        probe = self.held.pop(port, None)
        if probe:
            probe.close()


def free_port():
    """A TCP port free on every address of both families right now (the program listens on all
    of them, and a port taken on 127.0.0.2 or ::1 alone is free on 127.0.0.1)."""
    with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
        s.bind(("::", 0))
        return s.getsockname()[1]


def unix_answers(path):
    """True when something accepts connections on the Unix socket at path."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
        try:
            probe.connect(path)
            return True
        except OSError:
            return False


def check(condition, what, got=None):
    if not condition:
        raise SystemExit("%s: got %r" % (what, got))


def wait_for(condition, what, timeout=10.0):
    """Waits for the condition, looking again every 20 ms, for at most timeout seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.02)
    raise SystemExit("timed out waiting for " + what)
