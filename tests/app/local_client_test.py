#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The local socket end to end, with the real program on both sides.

- A headless zelvor listens on zelvor.sock (mode 0600) in $XDG_RUNTIME_DIR beside its telnet
  port; `zelvor -c` prints replies without greeting or prompts and exits 0, or 1 after a failed
  line; `zelvor --attach` without a terminal takes one line per input line, and with
  SSH_ORIGINAL_COMMAND runs that one line.
- `zelvor --attach` on a real terminal (pexpect's pty): raw, echoed once by the server, relayed
  until `exit`, until Ctrl-D, and until a signal ends it; the terminal's settings are the same
  afterwards every time.
- Eight local clients are served at once, and a ninth is told that Zelvor is busy.
- A second zelvor finds the socket in use and says so; a killed one leaves a stale file that the
  next start replaces; after a clean shutdown the file is gone and `zelvor -c` exits 3 at once,
  naming the socket.
"""
import os
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time

import pexpect

from test_helpers import check, free_port, unix_answers, wait_for

ZELVOR = sys.argv[1]
# Every server the test started, ended whatever way the test ends.
STARTED = []


class Home:
    def __init__(self, root, name):
        self.home = os.path.join(root, name)
        self.run = os.path.join(root, "run")
        os.makedirs(os.path.join(self.home, "config", "zelvor"), exist_ok=True)
        os.makedirs(self.run, mode=0o700, exist_ok=True)
        self.socket = os.path.join(self.run, "zelvor.sock")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                 "SSH_ORIGINAL_COMMAND")}
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                        XDG_RUNTIME_DIR=self.run, MPD_HOST="127.0.0.1",
                        MPD_PORT=str(free_port()))
        self.errors = os.path.join(self.home, "stderr.txt")

    def start(self):
        process = subprocess.Popen([ZELVOR, "--port", str(free_port())], env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=open(self.errors, "wb"))
        STARTED.append(process)
        wait_for(lambda: b" started\n" in self.error_text(), "the start")
        # The local socket opens right after the telnet listener.
        wait_for(lambda: unix_answers(self.socket), "the local socket")
        return process

    def error_text(self):
        with open(self.errors, "rb") as f:
            return f.read()

    def client(self, *arguments, stdin=b"", env=None):
        return subprocess.run([ZELVOR] + list(arguments), input=stdin, capture_output=True,
                              env=env or self.env, timeout=20)


def check_commands(home):
    mode = os.lstat(home.socket).st_mode
    check(stat.S_ISSOCK(mode) and stat.S_IMODE(mode) == 0o600, "the socket's mode", oct(mode))
    done = home.client("-c", "pwd", "-c", "cd", "-c", "help sleep")
    check(done.returncode == 0, "-c exit status", done)
    check(done.stdout == b"\\\nSleep: Sleep timer\nusage: sleep m - stops playing in m minutes"
          b" (1 to 720)\n       sleep off - cancels the timer; sleep alone shows it\n",
          "-c output", done.stdout)
    failed = home.client("-c", "pwd", "-c", "bogus", "-c", "play", "-c", "pwd")
    check(failed.returncode == 1, "-c status after failed lines", failed)
    check(failed.stdout == b"\\\nI don't know how to bogus\n"
          b"Command Failed - Winamp may not be running\n\\\n", "failed lines", failed.stdout)
    # Stops after the line that ended the session.
    ended = home.client("-c", "exit", "-c", "pwd")
    check(ended.returncode == 0 and ended.stdout == b"", "-c exit", ended)
    piped = home.client("--attach", stdin=b"pwd\n\ncd\r\nbogus\n")
    check(piped.returncode == 1 and piped.stdout == b"\\\nI don't know how to bogus\n",
          "--attach without a terminal", piped)
    forced = dict(home.env, SSH_ORIGINAL_COMMAND="help pwd")
    one = home.client("--attach", stdin=b"bogus\n", env=forced)
    check(one.returncode == 0 and one.stdout == b"Pwd: Display current directory\n"
          b"usage: pwd - displays current directory\n", "SSH_ORIGINAL_COMMAND", one)


def check_busy(home):
    """Eight owners at once are served; a ninth is told and gets exit status 3."""
    owners = []
    for _ in range(8):
        owner = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        owner.connect(home.socket)
        owners.append(owner)
    for owner in owners:
        got = b""
        while not got.endswith(b"\r\nZelvor>"):
            more = owner.recv(4096)
            check(more, "an owner's greeting", got)
            got += more
    ninth = home.client("-c", "pwd")
    check(ninth.returncode == 3 and ninth.stderr == b"zelvor: Zelvor is busy: one client at a "
          b"time.\n", "the ninth local client", ninth)
    for owner in owners:
        owner.close()
    wait_for(lambda: home.client("-c", "pwd").returncode == 0, "a free place again")


def terminal(home, keys, end, shown=b"pwd"):
    """Runs --attach on a pty between two readings of the terminal's settings."""
    before = os.path.join(home.home, "before")
    after = os.path.join(home.home, "after")
    script = 'stty -g > %s; %s --attach; echo "status $?"; stty -g > %s' % (
        before, ZELVOR, after)
    child = pexpect.spawn("/bin/sh", ["-c", script], env=home.env, timeout=10)
    child.expect_exact(b"\r\nZelvor>")
    check(child.before.startswith(b"Zelvor v.1.0\r\n"), "greeting on the terminal",
          child.before)
    child.send(keys)
    # Raw: the server's echo is the only one, and Enter goes as it is typed.
    child.expect_exact(shown + b"\r\n\\\r\nZelvor>")
    end(child)
    child.expect(pexpect.EOF)
    child.close()
    with open(before) as f, open(after) as g:
        check(f.read() == g.read(), "terminal settings restored")
    return child.before


def check_terminal(home):
    def by_exit(child):
        child.send(b"exit\r")
        child.expect_exact(b"status 0")

    def by_ctrl_d(child):
        child.send(b"\x04")
        child.expect_exact(b"status 0")

    def by_signal(child):
        out = subprocess.run(["pgrep", "-f", "-P", str(child.pid), ZELVOR + " --attach"],
                             capture_output=True, text=True).stdout.split()
        check(len(out) == 1, "the attached client", out)
        os.kill(int(out[0]), signal.SIGTERM)
        child.expect_exact(b"status %d" % (128 + signal.SIGTERM))

    for end in (by_exit, by_ctrl_d, by_signal):
        terminal(home, b"pwd\r", end)
    # Backspace as a terminal sends it (DEL) erases on the server's side.
    terminal(home, b"pwx\x7fd\r", by_exit, shown=b"pwx\b \bd")


def main():
    with tempfile.TemporaryDirectory() as root:
        first = Home(root, "first")
        zelvor = first.start()
        try:
            check_commands(first)
            check_busy(first)
            check_terminal(first)
            # Another Zelvor of the same user goes on without the socket.
            second = Home(root, "second")
            other = second.start()
            wait_for(lambda: b" local socket in use\n" in second.error_text(), "in use")
            other.send_signal(signal.SIGTERM)
            check(other.wait(timeout=10) == 0, "the second's exit")
            check(first.client("-c", "pwd").stdout == b"\\\n", "the first still answers")
        finally:
            zelvor.kill()
            zelvor.wait()
        # Killed: the file stays, and the next start replaces it.
        check(os.path.exists(first.socket), "the stale file")
        zelvor = first.start()
        check(first.client("-c", "pwd").stdout == b"\\\n", "served after a stale file")
        zelvor.send_signal(signal.SIGTERM)
        check(zelvor.wait(timeout=10) == 0, "the exit")
        check(not os.path.exists(first.socket), "the file removed at shutdown")
        started = time.monotonic()
        gone = first.client("-c", "pwd")
        took = time.monotonic() - started
        check(gone.returncode == 3 and gone.stdout == b"", "exit status without a server", gone)
        check(gone.stderr == b"zelvor: Zelvor is not running: nothing answers on %s\n"
              % first.socket.encode(), "the message without a server", gone.stderr)
        check(took < 1.0, "the answer within a second", took)
    print("local client test passed")


try:
    main()
finally:
    for server in STARTED:
        if server.poll() is None:
            server.kill()
            server.wait()
