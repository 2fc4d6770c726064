# SPDX-License-Identifier: MIT
"""Small helpers the program tests in Python share."""
import socket
import time


def free_port():
    """A loopback TCP port that nothing listens on right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
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
