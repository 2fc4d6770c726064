# SPDX-License-Identifier: MIT
"""Small helpers the program tests in Python share."""
import socket
import time


def held_port():
    """A TCP port, and the socket that holds it: bound on every address with SO_REUSEADDR and
    not listening, so no other program's bind or connect takes the port while the socket lives,
    yet a listener that asks for SO_REUSEADDR too (Zelvor, Mopidy-MPD) still gets it."""
    probe = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    probe.bind(("::", 0))
    return probe.getsockname()[1], probe


def free_port():
    """A TCP port free on every address right now (the program listens on all of them, and a
    port taken on 127.0.0.2 alone is free on 127.0.0.1)."""
    with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
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
