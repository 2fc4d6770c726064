#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Drives a headless zelvor with real clients through pexpect.

- netcat never answers the server's offer: it gets IAC WILL ECHO IAC WILL SUPPRESS-GO-AHEAD in
  front of the greeting and everything else as ever; its transcript is the reference for the
  bytes of the other clients' `help`.
- Debian's telnet (inetutils) with a plain port number, the same telnet with the port given as
  "-port" (negotiating as on port 23), and PuTTY's plink in telnet mode all take the offer:
  character mode with the server echoing, so the typed command shows once, the password not at
  all, and `help` arrives byte for byte.
- The README's first five minutes, typed into Debian's telnet as written.
- With Negotiate=False in zelvor.ini, netcat gets the bytes of old exactly, and Debian's telnet
  works in its default line mode and in character mode.
"""
import os
import subprocess
import sys

import pexpect

from script_run import Run, fail
from test_helpers import check

ZELVOR = sys.argv[1]
USER = b"ann"
PASSWORD = b"tulip7"
# The password as zelvor.ini stores it (scrambled with the program's key, hex, length prefix).
STORED_PASSWORD = b"120542011B425C"
GREETING_START = b"Zelvor v.1.0\r\n"
PROMPT = b"\r\nZelvor>"
# IAC WILL ECHO, IAC WILL SUPPRESS-GO-AHEAD: what the server offers in front of the greeting.
OFFER = b"\xff\xfb\x01\xff\xfb\x03"


def start_zelvor(run, home, ini_lines=b"", arguments=(), own_mpd=False):
    """With ini_lines None, a first start: no zelvor.ini, the port from the command line.
    With own_mpd, `open` starts Zelvor's own MPD in the settings folder, as for a new user;
    otherwise MPD is looked for at a port where none answers."""
    port = run.hold_port()
    folder = os.path.join(home, "config", "zelvor")
    os.makedirs(folder)
    if ini_lines is None:
        arguments = ["--port", str(port)] + list(arguments)
    else:
        with open(os.path.join(folder, "zelvor.ini"), "wb") as f:
            f.write(b"[Zelvor]\r\nPort=%d\r\nUser=%s\r\nPassword=%s\r\n%s"
                    % (port, USER, STORED_PASSWORD, ini_lines))
    env = run.environment(home)
    if not own_mpd:
        env.update(MPD_HOST="127.0.0.1", MPD_PORT=str(run.hold_port()))
    return run.start_zelvor(ZELVOR, env, port, arguments)


def netcat_transcript(port, user, password):
    """The whole visit in one paste."""
    typed = user + b"\r\n" + password + b"\r\nhelp\r\nexit\r\n"
    return subprocess.run(["nc", "127.0.0.1", str(port)], input=typed, capture_output=True,
                          timeout=20).stdout


def netcat_session(port, offered):
    """Returns the reply of help and the transcript without the offer."""
    got = netcat_transcript(port, USER, PASSWORD)
    if offered:
        check(got.startswith(OFFER), "netcat was not sent the offer first", got)
        got = got[len(OFFER):]
    check(b"\xff" not in got, "netcat was sent another telnet command", got)
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
    return help_reply, got


def plain_telnet_session(run, port, character_mode):
    """Debian's telnet on a plain port number does not negotiate; both of its modes work."""
    telnet = run.spawn("telnet", ["127.0.0.1", str(port)], timeout=10)
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


def character_mode_client(run, command, user, password):
    """Logs in through a client that took the offer; everything shown comes from the server."""
    client = run.spawn(command[0], command[1:], timeout=10)
    client.expect_exact(b"User:")
    # The client turns its terminal's echo off once the server has said it echoes.
    check(client.waitnoecho(timeout=10), "%s kept echoing locally" % command[0], client.before)
    client.send(user + b"\r")
    client.expect_exact(b"Pass:")
    check(client.before + client.after == user + b"\r\nPass:", "user name shown once",
          client.before)
    client.send(password + b"\r")
    client.expect_exact(b"Zelvor>")
    check(client.before + client.after == PROMPT, "password not shown", client.before)
    return client


def negotiating_session(run, command, help_reply):
    client = character_mode_client(run, command, USER, PASSWORD)
    client.send(b"help\r")
    client.expect_exact(PROMPT)
    check(client.before + client.after == b"help" + help_reply + PROMPT,
          "help byte for byte", client.before)
    client.send(b"exit\r")
    client.expect(pexpect.EOF)
    check(PASSWORD not in client.before, "password shown", client.before)
    client.close()


def first_five_minutes(run, port):
    """The README's first visit, as written: the default login, then each command once."""
    client = character_mode_client(run, ["telnet", "localhost", str(port)], b"user", b"")
    for command in (b"open", b"ls", b"cd quiet album", b"load", b"play", b"status"):
        client.send(command + b"\r")
        client.expect_exact(PROMPT)
        shown = client.before
        check(shown.startswith(command) and not shown[len(command):].startswith(command),
              "%r shown once" % command, shown)
    client.send(b"exit\r")
    client.expect(pexpect.EOF)
    check(client.before.startswith(b"exit") and not client.before.startswith(b"exitexit"),
          "exit shown once", client.before)
    client.close()


def run_clients(run, clients, ini_lines=b"", arguments=(), own_mpd=False, home=None):
    """Runs each client against one zelvor in a home of its own; returns how many sessions
    passed. The MPD that `open` may have started there ends with it."""
    home = home or run.home()
    zelvor = start_zelvor(run, home, ini_lines, arguments, own_mpd)
    sessions = 0
    for name, client in clients:
        client(zelvor.port)
        sessions += 1
        # The listener is back before the next client comes.
        zelvor.wait_for(b" started\n", sessions + 1, "listening again after " + name)
    code = zelvor.stop()
    run.end_marked(home)
    if code != 0:
        fail("zelvor exited with %d" % code)
    return sessions


def main(run):
    sessions = 0
    replies = {}

    def keep_netcat(port, offered):
        replies[offered] = netcat_session(port, offered)

    sessions += run_clients(run, [
        ("netcat", lambda port: keep_netcat(port, True)),
        ("telnet, plain port", lambda port: negotiating_session(
            run, ["telnet", "127.0.0.1", str(port)], replies[True][0])),
        ("telnet, negotiating", lambda port: negotiating_session(
            run, ["telnet", "--", "127.0.0.1", "-%d" % port], replies[True][0])),
        ("plink", lambda port: negotiating_session(
            run, ["plink", "-telnet", "-P", str(port), "127.0.0.1"], replies[True][0])),
    ])
    home = run.home()
    music = os.path.join(home, "Music")
    for folder in ("Other", "Quiet Album"):
        os.makedirs(os.path.join(music, folder))
    sessions += run_clients(run, [("README", lambda port: first_five_minutes(run, port))],
                            ini_lines=None, arguments=["--root", music], own_mpd=True,
                            home=home)
    sessions += run_clients(run, [
        ("netcat, Negotiate=False", lambda port: keep_netcat(port, False)),
        ("telnet, line mode", lambda port: plain_telnet_session(run, port, False)),
        ("telnet, character mode", lambda port: plain_telnet_session(run, port, True)),
    ], ini_lines=b"Negotiate=False\r\n")
    check(replies[False][1] == replies[True][1], "Negotiate=False changed more than the offer",
          replies[False][1])
    print("real clients: %d sessions passed, 0 failed" % sessions)


if __name__ == "__main__":
    with Run() as current:
        main(current)
