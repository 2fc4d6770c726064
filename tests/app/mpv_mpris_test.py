#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A real player end to end: mpv with Debian's mpv-mpris on a private session bus.

A headless zelvor whose player location is an mpv command line; Debian's telnet types the
verbs, and playerctl, from outside, confirms what each one changed in mpv.
"""
import os
import re
import signal
import socket
import subprocess
import sys

import pexpect

import player_harness
from player_harness import FAILURE, PROMPT, tone
from script_run import Run, wait_until
from test_helpers import check

ZELVOR = sys.argv[1]


def make_music(folder):
    os.makedirs(folder)
    for name, hertz in (("one.ogg", 440), ("two.ogg", 550), ("three song.ogg", 660)):
        tone(os.path.join(folder, name), hertz=hertz)


class Outside:
    """playerctl on the private bus."""

    def __init__(self, env):
        self.env = env

    def __call__(self, *args):
        done = subprocess.run(["playerctl", "--player=mpv"] + list(args), env=self.env,
                              capture_output=True, timeout=10)
        return done.stdout.decode().strip() if done.returncode == 0 else None

    def pid(self):
        """The process that holds mpv's name on the bus."""
        done = subprocess.run(["dbus-send", "--session", "--print-reply",
                               "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus.GetConnectionUnixProcessID",
                               "string:org.mpris.MediaPlayer2.mpv"],
                              env=self.env, capture_output=True, timeout=10)
        found = re.search(rb"uint32 (\d+)", done.stdout)
        return int(found.group(1)) if found else None

    def players(self):
        done = subprocess.run(["playerctl", "--list-all"], env=self.env, capture_output=True,
                              timeout=10)
        return done.stdout.decode().split()


class Client(player_harness.Client):
    """Debian's telnet, started by the run; a reply keeps the echoed line."""

    def __init__(self, run, port):
        super().__init__(port, spawn=run.spawn)

    def run(self, line):
        self.telnet.send(line.encode() + b"\r")
        # Line mode echoes the line locally and the server echoes it again.
        self.telnet.expect_exact(PROMPT)
        return self.telnet.before.decode("utf-8", "replace")


def busy_line(port):
    """What a second client is told while the first one is served."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as other:
        got = b""
        while b"busy" not in got:
            chunk = other.recv(4096)
            if not chunk:
                break
            got += chunk
        return got


def waiting(client):
    """True while the client has had no reply to what it typed."""
    try:
        client.telnet.expect_exact(PROMPT, timeout=0)
        return False
    except pexpect.TIMEOUT:
        return True


def frozen(client, outside, port):
    """mpv stopped by SIGSTOP: a status waits for its answer while the program serves the others,
    and ends with the player missing once the call's time limit passed."""
    pid = outside.pid()
    os.kill(pid, signal.SIGSTOP)
    try:
        client.telnet.send(b"status\r")
        client.telnet.expect_exact(b"status")
        got = busy_line(port)
        check(b"Zelvor is busy: one client at a time." in got, "busy line while frozen", got)
        check(waiting(client), "status still waiting for the frozen player", client.telnet.before)
        client.telnet.expect_exact(PROMPT)
        reply = client.telnet.before.decode("utf-8", "replace")
        check("Winamp is not running" in reply, "status of the frozen player", reply)
    finally:
        os.kill(pid, signal.SIGCONT)
    reply = client.run("status")
    check("Winamp is Playing" in reply, "status once mpv goes on", reply)
    return 2


def terminated_while_frozen(client, outside, zelvor):
    """SIGTERM is served while a status waits for a frozen mpv: the program ends before the
    answer, which could only have come after the call's time limit."""
    reply = client.run("open")
    check(FAILURE not in reply, "open again", reply)
    pid = wait_until(outside.pid, "mpv on the bus again")
    os.kill(pid, signal.SIGSTOP)
    try:
        client.telnet.send(b"status\r")
        client.telnet.expect_exact(b"status")
        code = zelvor.stop()
        rest = b""
        try:
            rest = client.telnet.read()
        except pexpect.ExceptionPexpect:
            pass
        check(code == 0 and b"Winamp" not in rest, "SIGTERM while the status waits", (code, rest))
    finally:
        os.kill(pid, signal.SIGCONT)
    return 1


def followed(client, outside):
    """np follow: what playerctl changes from outside is pushed, without a prompt, until a key."""
    client.telnet.send(b"np follow\r")
    client.telnet.expect(rb"\r\nPlaying: two\.ogg \(\d:\d\d/3:20\)")
    outside("previous")
    client.telnet.expect(rb"\r\nPlaying: one\.ogg \(0:0\d")
    outside("next")
    client.telnet.expect(rb"\r\nPlaying: two\.ogg \(0:0\d")
    check(waiting(client), "no prompt while following", client.telnet.before)
    client.telnet.send(b"\r")
    client.telnet.expect_exact(PROMPT)
    reply = client.run("np")
    check(re.search(r"Playing: two\.ogg \(0:\d\d/3:20\)", reply), "np after follow", reply)
    return 3


def session(client, outside, port):
    steps = 0
    reply = client.run("open")
    check(FAILURE not in reply, "open", reply)
    check("mpv" in outside.players(), "mpv on the bus after open", outside.players())
    wait_until(lambda: outside("status") == "Playing", "mpv playing what it was started with")
    # mpv says Playing before it has read the file's length, which np shows once it has.
    wait_until(lambda: outside("metadata", "mpris:length"), "the length of one.ogg")
    steps += 1

    reply = client.run("np")
    check(re.search(r"Playing: one\.ogg \(0:\d\d/3:20\)", reply), "np", reply)
    client.run("ff")
    wait_until(lambda: (outside("metadata", "xesam:url") or "").endswith("/two.ogg")
               and outside("metadata", "mpris:length"), "next, with its length")
    client.run("pause")
    wait_until(lambda: outside("status") == "Paused", "pause")
    client.run("play")
    wait_until(lambda: outside("status") == "Playing", "play")
    steps += 4

    reply = client.run("vol 40")
    check("Volume: 40%" in reply, "vol 40", reply)
    check(outside("volume") in ("0.4", "0.40", "0.400000"), "volume from outside",
          outside("volume"))
    reply = client.run("seek 1:00")
    check(re.search(r"Playing: two\.ogg \(1:0\d/3:20\)", reply), "seek 1:00", reply)
    position = float(outside("position"))
    check(60 <= position < 70, "position from outside", position)
    reply = client.run("status")
    check("Winamp is Playing" in reply and "Repeat is:Off" in reply, "status", reply)
    steps += 3
    steps += followed(client, outside)

    # mpv-mpris has no track list: the file goes through OpenUri and plays at once.
    reply = client.run("load three song.ogg")
    check(reply.replace("load three song.ogg", "").strip() == "", "load", reply)
    wait_until(lambda: (outside("metadata", "xesam:url") or "").endswith("/three%20song.ogg")
               or (outside("metadata", "xesam:url") or "").endswith("/three song.ogg"), "load")
    reply = client.run("queue")
    check("Queue not available" in reply, "queue without a track list", reply)
    reply = client.run("sleep 30")
    check("Sleep timer: 30 min left" in reply, "sleep", reply)
    check("Sleep timer: off" in client.run("sleep off"), "sleep off", reply)
    steps += 3

    steps += frozen(client, outside, port)

    client.run("close")
    wait_until(lambda: "mpv" not in outside.players(), "mpv gone after close")
    reply = client.run("play")
    check(FAILURE in reply, "play after close", reply)
    steps += 1
    return steps


def main(run):
    home = run.home()
    env = run.environment(home)
    env["DBUS_SESSION_BUS_ADDRESS"] = run.start_bus(env)
    music = os.path.join(home, "music")
    make_music(music)
    port = run.hold_port()
    folder = os.path.join(home, "config", "zelvor")
    os.makedirs(folder)
    location = "mpv --idle=yes --no-video --ao=null %s %s" % (
        os.path.join(music, "one.ogg"), os.path.join(music, "two.ogg"))
    with open(os.path.join(folder, "zelvor.ini"), "wb") as f:
        f.write(b"[Zelvor]\r\nPort=%d\r\nLogin=True\r\nServer Root=%s\r\n"
                b"Winamp Location=%s\r\n" % (port, music.encode(), location.encode()))
    zelvor = run.start_zelvor(ZELVOR, env, port)
    client = Client(run, port)
    outside = Outside(env)
    steps = session(client, outside, port)
    steps += terminated_while_frozen(client, outside, zelvor)
    print("mpv over MPRIS: %d steps passed, 0 failed" % steps)


if __name__ == "__main__":
    with Run() as current:
        main(current)
