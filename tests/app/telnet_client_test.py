#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Drives a headless zelvor with Debian's real telnet client, in its default mode and in
character mode: log in, type an unknown word, get the reply and the prompt, exit."""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pexpect

ZELVOR = sys.argv[1]
sys.path.insert(0, os.path.dirname(__file__))


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(path, text, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(path, "rb") as f:
            if text in f.read():
                return True
        time.sleep(0.02)
    return False


def start_zelvor(home, port):
    folder = os.path.join(home, "config", "zelvor")
    os.makedirs(folder)
    # The empty password is stored as "00".
    with open(os.path.join(folder, "zelvor.ini"), "wb") as f:
        f.write(b"[Zelvor]\r\nPort=%d\r\nUser=ann\r\nPassword=00\r\n" % port)
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(XDG_CONFIG_HOME=os.path.join(home, "config"), HOME=home,
               MPD_HOST="127.0.0.1", MPD_PORT=str(free_port()))
    errors = os.path.join(home, "stderr.txt")
    process = subprocess.Popen([ZELVOR], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=open(errors, "wb"))
    if not wait_for(errors, b" started\n"):
        raise SystemExit("zelvor did not start listening")
    return process, errors


def session(port, character_mode):
    telnet = pexpect.spawn("telnet", ["127.0.0.1", str(port)], timeout=10, encoding="latin-1")
    telnet.expect_exact("Zelvor v.1.0\r\n")
    telnet.expect_exact("User:")
    if character_mode:
        telnet.sendcontrol("]")
        telnet.expect_exact("telnet>")
        telnet.sendline("mode character")
    telnet.send("ann\r")
    telnet.expect_exact("Pass:")
    telnet.send("\r")
    telnet.expect_exact("Zelvor>")
    telnet.send("dance\r")
    telnet.expect_exact("I don't know how to dance\r\nZelvor>")
    telnet.send("exit\r")
    telnet.expect(["Connection closed by foreign host", pexpect.EOF])
    telnet.close()


def main():
    with tempfile.TemporaryDirectory() as home:
        port = free_port()
        process, errors = start_zelvor(home, port)
        try:
            for character_mode in (False, True):
                session(port, character_mode)
                # The listener is back before the next client comes.
                deadline = time.monotonic() + 10
                while time.monotonic() < deadline:
                    with open(errors, "rb") as f:
                        if f.read().count(b" started\n") >= (2 if not character_mode else 3):
                            break
                    time.sleep(0.02)
        finally:
            process.send_signal(signal.SIGTERM)
            code = process.wait(timeout=10)
        if code != 0:
            raise SystemExit("zelvor exited with %d" % code)
    print("telnet sessions: 2 passed, 0 failed")


if __name__ == "__main__":
    main()
