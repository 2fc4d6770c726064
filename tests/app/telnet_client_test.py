#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Drives a headless zelvor with real clients through pexpect.

- netcat: gets the exact greeting and no telnet command; its transcript is the reference for
  the bytes of the other clients' `help`.
- Debian's telnet (inetutils) on a plain port number does not negotiate: its default line mode
  and its character mode both work.
- The same telnet with the port given as "-port" negotiates as it does on port 23, and so does
  PuTTY's plink in telnet mode: the server puts them in character mode with the server echoing,
  so the typed command shows once, the password not at all, and `help` arrives byte for byte.
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pexpect

ZELVOR = sys.argv[1]
USER = b"ann"
PASSWORD = b"tulip7"
# The password as zelvor.ini stores it (scrambled with the program's key, hex, length prefix).
STORED_PASSWORD = b"120542011B425C"
GREETING_START = b"Zelvor v.1.0\r\n"
PROMPT = b"\r\nZelvor>"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def count_in(path, text):
    with open(path, "rb") as f:
        return f.read().count(text)


def wait_for_count(path, text, count, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if count_in(path, text) >= count:
            return True
        time.sleep(0.02)
    return False


def start_zelvor(home, port):
    folder = os.path.join(home, "config", "zelvor")
    os.makedirs(folder)
    with open(os.path.join(folder, "zelvor.ini"), "wb") as f:
        f.write(b"[Zelvor]\r\nPort=%d\r\nUser=%s\r\nPassword=%s\r\n"
                % (port, USER, STORED_PASSWORD))
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(XDG_CONFIG_HOME=os.path.join(home, "config"), HOME=home,
               MPD_HOST="127.0.0.1", MPD_PORT=str(free_port()))
    errors = os.path.join(home, "stderr.txt")
    process = subprocess.Popen([ZELVOR], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=open(errors, "wb"))
    if not wait_for_count(errors, b" started\n", 1):
        raise SystemExit("zelvor did not start listening")
    return process, errors


def check(condition, what, got):
    if not condition:
        raise SystemExit("%s: got %r" % (what, got))


def netcat_session(port):
    """The whole visit in one paste; returns the reply of help."""
    typed = USER + b"\r\n" + PASSWORD + b"\r\nhelp\r\nexit\r\n"
    got = subprocess.run(["nc", "127.0.0.1", str(port)], input=typed, capture_output=True,
                         timeout=20).stdout
    check(b"\xff" not in got, "netcat was sent a telnet command", got)
    check(got.startswith(GREETING_START), "netcat greeting", got)
    notice_end = got.index(b"\r\n", len(GREETING_START)) + 2
    notice = got[len(GREETING_START):notice_end - 2]
    check(b"\r" not in notice and b"\n" not in notice and notice, "notice line", got)
    rest = got[notice_end:]
    head = b"User:" + USER + b"\r\nPass:" + PROMPT + b"help"
    tail = PROMPT + b"exit"
    check(rest.startswith(head) and rest.endswith(tail), "netcat transcript", got)
    help_reply = rest[len(head):-len(tail)]
    check(help_reply.startswith(b"\r\nZelvor: "), "help reply", help_reply)
    return help_reply


def plain_telnet_session(port, character_mode):
    """Debian's telnet on a plain port number does not negotiate; both of its modes work."""
    telnet = pexpect.spawn("telnet", ["127.0.0.1", str(port)], timeout=10)
    telnet.expect_exact(GREETING_START)
    telnet.expect_exact(b"User:")
    if character_mode:
        telnet.sendcontrol("]")
        telnet.expect_exact(b"telnet>")
        telnet.sendline("mode character")
    telnet.send(USER + b"\r")
    telnet.expect_exact(b"Pass:")
    telnet.send(PASSWORD + b"\r")
    telnet.expect_exact(b"Zelvor>")
    telnet.send(b"dance\r")
    telnet.expect_exact(b"I don't know how to dance" + PROMPT)
    telnet.send(b"exit\r")
    telnet.expect([b"Connection closed by foreign host", pexpect.EOF])
    telnet.close()


def negotiating_session(command, help_reply):
    """A client that negotiates: no local echo, everything shown comes from the server."""
    client = pexpect.spawn(command[0], command[1:], timeout=10)
    client.expect_exact(b"User:")
    # The client turns its terminal's echo off once the server has said it echoes.
    check(client.waitnoecho(timeout=10), "%s kept echoing locally" % command[0], client.before)
    client.send(USER + b"\r")
    client.expect_exact(b"Pass:")
    check(client.before + client.after == USER + b"\r\nPass:", "user name shown once",
          client.before)
    client.send(PASSWORD + b"\r")
    client.expect_exact(b"Zelvor>")
    check(client.before + client.after == PROMPT, "password not shown", client.before)
    client.send(b"help\r")
    client.expect_exact(PROMPT)
    check(client.before + client.after == b"help" + help_reply + PROMPT,
          "help byte for byte", client.before)
    client.send(b"exit\r")
    client.expect(pexpect.EOF)
    check(PASSWORD not in client.before, "password shown", client.before)
    client.close()


def main():
    sessions = 0
    with tempfile.TemporaryDirectory() as home:
        port = free_port()
        process, errors = start_zelvor(home, port)
        try:
            clients = [
                ("netcat", lambda: netcat_session(port)),
                ("telnet, line mode", lambda: plain_telnet_session(port, False)),
                ("telnet, character mode", lambda: plain_telnet_session(port, True)),
            ]
            help_reply = None
            for name, run in clients:
                result = run()
                help_reply = help_reply or result
                sessions += 1
                # The listener is back before the next client comes.
                if not wait_for_count(errors, b" started\n", sessions + 1):
                    raise SystemExit("not listening again after " + name)
            for command in (["telnet", "--", "127.0.0.1", "-%d" % port],
                            ["plink", "-telnet", "-P", str(port), "127.0.0.1"]):
                negotiating_session(command, help_reply)
                sessions += 1
                if not wait_for_count(errors, b" started\n", sessions + 1):
                    raise SystemExit("not listening again after " + command[0])
        finally:
            process.send_signal(signal.SIGTERM)
            code = process.wait(timeout=10)
        if code != 0:
            raise SystemExit("zelvor exited with %d" % code)
    print("real clients: %d sessions passed, 0 failed" % sessions)


if __name__ == "__main__":
    main()
