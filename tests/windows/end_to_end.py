#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""zelvor.exe under wine, driven from the Linux side through a real loopback socket.

   end_to_end.py ZELVOR_EXE STANDIN_EXE WINDOW_TOOL_EXE SCRATCH_FOLDER

One script of commands runs against zelvor.exe without a player and, when ZELVOR_LINUX_PROGRAM
names the Linux program, against that one too: the bytes must be the same, paths aside. Then
the same script drives the stand-in player, a second client that logs in takes the session
over while no other program can bind the port, a wrong password is refused, and shutting down
through the window (WM_CLOSE, and the end of the Windows session) writes zelvor.ini with the
right bytes. With login off, a second client is told the server is busy, and 10,000 clients
that each connect the moment the previous one has closed are all greeted at the first try."""
import os
import re
import select
import getpass
import shutil
import socket
import subprocess
import sys
import time

from test_helpers import free_port, held_port

ZELVOR, STANDIN, WINDOW_TOOL, SCRATCH = sys.argv[1:5]
LINUX_PROGRAM = os.environ.get("ZELVOR_LINUX_PROGRAM", "")
MAIN_WINDOW = "ZelvorSettingsWindow"
PLAYER_WINDOW = "Winamp v1.x"
LIMIT = 30.0
# IAC WILL ECHO, IAC WILL SUPPRESS-GO-AHEAD: what the server offers in front of the greeting.
OFFER = b"\xff\xfb\x01\xff\xfb\x03"
SCRIPT = ["help", "status", "volup 3", "pwd", "cd Rock", "ls", "load a.mp3", "play", "exit"]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# How often a program is started on another port when another program took the one picked.
PORT_PICKS = 5


def listener_status(log_path, start, port):
    """Waits, bounded, for what the program logged after byte start about opening its
    listener: "started", or "in use" when another program holds the port."""
    in_use = b"\tport %d in use\"" % port
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline:
        try:
            with open(log_path, "rb") as f:
                f.seek(start)
                said = f.read()
        except FileNotFoundError:
            said = b""
        if b"\tstarted\"" in said:
            return "started"
        if in_use in said:
            return "in use"
        time.sleep(0.02)
    fail("the program said nothing of its listener on port %d" % port)


def log_size(path):
    return os.path.getsize(path) if os.path.exists(path) else 0


def fail(message):
    raise SystemExit("FAILED: " + message)


def check(condition, message):
    if not condition:
        fail(message)


def wait_listening(port):
    """Waits, bounded, for a program that has just started to open its listener."""
    deadline = time.monotonic() + LIMIT
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=LIMIT).close()
            return
        except ConnectionRefusedError:
            if time.monotonic() > deadline:
                fail("nothing listens on port %d" % port)
            # Nothing to wait on from outside the process: poll, bounded by the deadline.
            time.sleep(0.02)


def connect(port, host="127.0.0.1", source=None):
    """One connection, at the first try: the listener is open for the program's life."""
    try:
        client = socket.create_connection((host, port), timeout=LIMIT,
                                          source_address=(source, 0) if source else None)
    except ConnectionRefusedError:
        fail("connection to port %d refused" % port)
    client.settimeout(LIMIT)
    return client


def port_bindable(port):
    """Whether another program could bind the port now, as servers do (SO_REUSEADDR)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("0.0.0.0", port))
            return True
        except OSError:
            return False


BUSY = b"Zelvor is busy: one client at a time.\r\n"


def log_in(client, source_name):
    read_until(client, ends_with(b"User:"))
    client.sendall(b"ann\r")
    read_until(client, ends_with(b"Pass:"))
    client.sendall(b"\r")
    check(read_until(client, ends_with(b"\r\nZelvor>")).endswith(b"\r\nZelvor>"),
          "no login from " + source_name)


def take_over(port):
    """A second client that logs in takes the session over; nobody can bind the port."""
    first = connect(port)
    with first:
        log_in(first, "the first client")
        check(not port_bindable(port), "another program bound the port during a session")
        second = connect(port, source="127.0.0.2")
        with second:
            log_in(second, "127.0.0.2")
            told = read_until(first, lambda d: False)
            check(told == b"Logged in from 127.0.0.2.\r\n", "the first client got %r" % told)
            second.sendall(b"exit\r")
            read_until(second, lambda d: False)


def busy_and_reconnects(port, cycles):
    """With login off: a second client gets the busy line alone and the first goes on; then
    clients that connect the moment the previous one has closed. Returns seconds per cycle."""
    first = connect(port)
    with first:
        read_until(first, ends_with(b"\r\nZelvor>"))
        first.sendall(b"pw")
        read_until(first, ends_with(b"pw"))
        second = connect(port, source="127.0.0.3")
        with second:
            got = read_until(second, lambda d: False)
            check(got == BUSY, "the second client got %r" % got)
        first.sendall(b"d\r")
        got = read_until(first, ends_with(b"\r\nZelvor>"))
        check(got.startswith(b"d\r\n") and b"\\" in got, "the first client got %r" % got)
        first.sendall(b"exit\r")
        read_until(first, lambda d: False)
    started = time.monotonic()
    for cycle in range(cycles):
        client = connect(port)
        with client:
            greeting = read_until(client, ends_with(b"\r\nZelvor>"))
            check(greeting.startswith(OFFER + b"Zelvor v.1.0\r\n")
                  and greeting.endswith(b"Zelvor>"), "cycle %d: %r" % (cycle, greeting))
            if cycle % 2 == 0:
                client.sendall(b"exit\r")
                read_until(client, lambda d: False)
    return (time.monotonic() - started) / cycles


def read_until(client, done, seen=b""):
    """Reads until done(bytes) holds or the connection ends; the bytes read after seen."""
    data = b""
    while not done(seen + data):
        try:
            chunk = client.recv(65536)
        except socket.timeout:
            fail("no answer; so far %r" % data)
        if not chunk:
            break
        data += chunk
    return data


def wait_for_file(path, text):
    """Whether the file holds the text within the time limit."""
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline:
        with open(path, "rb") as f:
            if text in f.read():
                return True
        time.sleep(0.02)
    return False


def ends_with(*endings):
    return lambda data: any(data.endswith(e) for e in endings)


def run_script(port, wrong_password_first):
    """Logs in (with a wrong password first when asked), runs SCRIPT; the bytes received."""
    client = connect(port)
    with client:
        transcript = read_until(client, ends_with(b"User:"))
        for password in ([b"bad"] if wrong_password_first else []) + [b""]:
            client.sendall(b"ann\r")
            transcript += read_until(client, ends_with(b"Pass:"))
            client.sendall(password + b"\r")
            transcript += read_until(client, ends_with(b"User:", b"\r\nZelvor>"))
        check(transcript.endswith(b"\r\nZelvor>"), "no login: %r" % transcript)
        replies = {}
        for command in SCRIPT:
            client.sendall(command.encode() + b"\r")
            last = command == "exit"
            reply = read_until(client, (lambda d: False) if last else ends_with(b"\r\nZelvor>"))
            replies[command] = reply
            transcript += reply
        return transcript, replies


def telnet_session(port):
    """Debian's telnet, in its line mode on a plain port number, logs in and types play."""
    import pexpect
    child = pexpect.spawn("telnet", ["127.0.0.1", str(port)], timeout=LIMIT)
    try:
        child.expect_exact("User:")
        child.sendline("ann")
        child.expect_exact("Pass:")
        child.sendline("")
        child.expect_exact("Zelvor>")
        child.sendline("play")
        child.expect_exact("Zelvor>")
        check(b"Command Failed" not in child.before, "play from telnet: %r" % child.before)
        child.sendline("exit")
        child.expect(pexpect.EOF)
    finally:
        child.close(force=True)


def without_paths(transcript, root, separator):
    """The transcript with the music folder's host path, and the separators after it, neutral."""
    lines = transcript.split(b"\r\n")
    for i, line in enumerate(lines):
        if line.startswith(root):
            lines[i] = b"<root>" + line[len(root):].replace(separator, b"/")
    return b"\r\n".join(lines)


def flood_without_reading(port, commands):
    # Each "ls" in the big folder answers with some 14 kB.
    """Sends many commands while reading nothing, then reads: every reply arrives, none lost,
    although the server had to stop reading while its replies piled up unsent."""
    client = connect(port)
    with client:
        read_until(client, ends_with(b"User:"))
        client.sendall(b"ann\r")
        read_until(client, ends_with(b"Pass:"))
        client.sendall(b"\r")
        read_until(client, ends_with(b"\r\nZelvor>"))
        client.sendall(b"cd Big\r")
        read_until(client, ends_with(b"\r\nZelvor>"))
        client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        client.setblocking(False)
        sent, pending = 0, b"ls\r" * commands
        received = b""
        deadline = time.monotonic() + LIMIT * 4
        while received.count(b"\r\nZelvor>") < commands:
            check(time.monotonic() < deadline, "only %d of %d replies"
                  % (received.count(b"\r\nZelvor>"), commands))
            if sent < len(pending):
                try:
                    sent += client.send(pending[sent:sent + 65536])
                except BlockingIOError:
                    pass
            # Read only once everything is sent, so that the server's backlog builds up.
            if sent == len(pending):
                try:
                    received += client.recv(1 << 20)
                except BlockingIOError:
                    select.select([client], [], [], 1.0)
        return len(received)


def over_ipv6(port):
    """The dual-stack listener takes IPv6 clients too."""
    client = connect(port, "::1")
    with client:
        return read_until(client, ends_with(b"User:"))


def make_music(folder):
    # Few entries with long names: a big listing that wine enumerates quickly.
    names = ["Big/%03d %s.mp3" % (i, "a long name of a track " * 8) for i in range(70)]
    for name in ["Rock/a.mp3", "Rock/b.mp3", "Rock/Live/c.mp3", "top.mp3"] + names:
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").close()


def write_ini(path, port, root, logfile, login=True):
    # Keys in another order and case, one missing, and a section of someone else's. The key
    # says whether the login is off.
    with open(path, "wb") as f:
        f.write(b"; kept as it is\r\n[zelvor]\r\nport=%d\r\nServer Root=%s\r\nLOGIN=%s\r\n"
                b"LogLevel2=True\r\nServer Logfile=%s\r\nUser=ann\r\nPassword=00\r\n"
                b"[Other]\r\nkeep=1\r\n"
                % (port, root.encode(), b"false" if login else b"true", logfile.encode()))


def expected_ini(port, root, logfile):
    # The nine keys under their own names, in place; the missing ones at the section's end.
    return (b"; kept as it is\r\n[zelvor]\r\nPort=%d\r\nServer Root=%s\r\nLogin=False\r\n"
            b"LogLevel2=True\r\nServer Logfile=%s\r\nUser=ann\r\nPassword=00\r\n"
            b"Winamp Location=C:\\Program Files\\Winamp\\winamp.exe\r\nLogLevel1=False\r\n"
            b"[Other]\r\nkeep=1\r\n" % (port, root.encode(), logfile.encode()))


class WindowsProgram:
    """zelvor.exe copied into its own folder with a prepared zelvor.ini beside it."""

    def __init__(self, folder, music, login=True):
        self.folder = folder
        os.makedirs(folder)
        shutil.copy(ZELVOR, os.path.join(folder, "zelvor.exe"))
        self.port = free_port()
        self.ini = os.path.join(folder, "zelvor.ini")
        self.root = windows_path(music)
        self.logfile = windows_path(os.path.join(folder, "activity.log"))
        write_ini(self.ini, self.port, self.root, self.logfile, login)
        self.process = None

    def start(self):
        """Starts zelvor.exe and returns once it listens itself. The port was free when picked,
        but the probe let go of it before zelvor.exe binds, and another program may take it in
        between; zelvor.exe then logs so and the checks would talk to that program. Another
        port is picked then: no second try of a failed check, it makes sure that the program
        under test is the one that listens."""
        log_path = os.path.join(self.folder, "activity.log")
        for _ in range(PORT_PICKS):
            start = log_size(log_path)
            self.process = subprocess.Popen(["wine", os.path.join(self.folder, "zelvor.exe")],
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            if listener_status(log_path, start, self.port) == "started":
                wait_listening(self.port)
                return
            print("another program took port %d; zelvor.exe starts on another" % self.port)
            # Ended without a word, so that it does not write zelvor.ini on the way out.
            self.process.kill()
            self.process.wait(timeout=LIMIT)
            self.port = free_port()
            with open(self.ini, "rb") as f:
                kept = f.read()
            with open(self.ini, "wb") as f:
                f.write(re.sub(rb"(?im)^port=\d+", b"port=%d" % self.port, kept, count=1))
        fail("other programs took every port picked for zelvor.exe")

    def window_tool(self, verb, window_class=MAIN_WINDOW):
        return subprocess.run(["wine", WINDOW_TOOL, verb, window_class],
                              timeout=LIMIT * 2).returncode

    def stop(self, verb):
        check(self.window_tool(verb) == 0, "zelvor.exe did not answer " + verb)
        self.process.wait(timeout=LIMIT)

    def check_ini(self, how):
        with open(self.ini, "rb") as f:
            written = f.read()
        expected = expected_ini(self.port, self.root, self.logfile)
        check(written == expected, "zelvor.ini after %s:\n%r\nexpected\n%r"
              % (how, written, expected))


def first_run_root(program):
    """With no root in zelvor.ini the music root is the user's Music folder."""
    write_ini(program.ini, program.port, program.root, program.logfile)
    with open(program.ini, "rb") as f:
        kept = [line for line in f.read().split(b"\r\n") if not line.startswith(b"Server Root=")]
    with open(program.ini, "wb") as f:
        f.write(b"\r\n".join(kept))
    program.start()
    with connect(program.port) as client:
        read_until(client, ends_with(b"User:"))
        client.sendall(b"ann\r")
        read_until(client, ends_with(b"Pass:"))
        client.sendall(b"\r")
        read_until(client, ends_with(b"\r\nZelvor>"))
        client.sendall(b"ls *.none\r")
        listing = read_until(client, ends_with(b"Zelvor>"))
        client.sendall(b"exit\r")
    music = ("C:\\users\\%s\\Music\\*.none" % getpass.getuser()).encode()
    check(listing.endswith(b"\r\n" + music + b"\r\nZelvor>"),
          "the first run's root: %r, expected %r" % (listing, music))
    program.stop("close")


def linux_transcript(scratch, music):
    """The same script against the Linux program, headless, with no MPD to reach."""
    home = os.path.join(scratch, "linux")
    config = os.path.join(home, "config", "zelvor")
    os.makedirs(config)
    log_path = os.path.join(home, "activity.log")
    # No MPD to reach: the held port has nothing listening on it, and nothing else takes it.
    mpd_port, mpd_probe = held_port()
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(XDG_CONFIG_HOME=os.path.join(home, "config"), HOME=home,
               MPD_HOST="127.0.0.1", MPD_PORT=str(mpd_port))
    with mpd_probe:
        # The port is held until the program listens on it; as with zelvor.exe, another port
        # is picked should another program have taken it all the same.
        for _ in range(PORT_PICKS):
            port, probe = held_port()
            write_ini(os.path.join(config, "zelvor.ini"), port, os.path.abspath(music), log_path)
            start = log_size(log_path)
            with probe:
                process = subprocess.Popen([LINUX_PROGRAM], env=env, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                status = listener_status(log_path, start, port)
            try:
                if status == "started":
                    wait_listening(port)
                    return run_script(port, wrong_password_first=True)[0]
                print("another program took port %d; the Linux program starts on another"
                      % port)
            finally:
                process.terminate()
                process.wait(timeout=LIMIT)
    fail("other programs took every port picked for the Linux program")


def main():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    music = os.path.join(SCRATCH, "music")
    make_music(music)
    program = WindowsProgram(os.path.join(SCRATCH, "app"), music)
    program.start()
    try:
        # Without a player: the same bytes as the Linux program.
        windows, _ = run_script(program.port, wrong_password_first=True)
        check(windows.startswith(OFFER + b"Zelvor v.1.0\r\n"), "greeting: %r" % windows[:40])
        check(b"I don't know how to" not in windows, "a verb was not known: %r" % windows)
        if LINUX_PROGRAM:
            windows = without_paths(windows, program.root.encode(), b"\\")
            linux = without_paths(linux_transcript(SCRATCH, music),
                                  os.path.abspath(music).encode(), b"/")
            check(windows == linux, "zelvor.exe sent\n%r\nthe Linux program sent\n%r"
                  % (windows, linux))
        else:
            print("ZELVOR_LINUX_PROGRAM not set: no comparison with the Linux program")

        take_over(program.port)

        # With the stand-in player.
        player_log = os.path.join(SCRATCH, "player.log")
        player = subprocess.Popen(["wine", STANDIN, "--log", windows_path(player_log)],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            check(program.window_tool("wait", PLAYER_WINDOW) == 0, "the stand-in did not start")
            _, replies = run_script(program.port, wrong_password_first=False)
            for command in ("volup 3", "load a.mp3", "play"):
                check(b"Command Failed" not in replies[command],
                      "%s: %r" % (command, replies[command]))
            # status asks the report's four questions first, then the rest of the status
            # (queue length and place, times, volume; no title with the queue empty);
            # "volup 3" steps four times, as the player's own hot key does; load hands over
            # the file's path with its closing NUL.
            loaded = (windows_path(music) + "\\Rock\\a.mp3").encode() + b"\0"
            expected = (["user 0 0", "user 0 104", "user 0 250", "user 0 251", "user 0 124",
                         "user 0 125", "user 0 105", "user 1 105",
                         "user 18446744073709550950 122"]
                        + ["command 40058 0"] * 4
                        + ["copydata 100 %d %s" % (len(loaded), loaded.hex()), "command 40045 0"])
            with open(player_log) as f:
                lines = f.read().splitlines()
            check(lines == expected, "the player's log:\n%r\nexpected\n%r" % (lines, expected))
            telnet_session(program.port)
            with open(player_log) as f:
                check(f.read().splitlines()[len(expected):] == ["command 40045 0"],
                      "telnet's play did not reach the player")
        finally:
            player.terminate()

        # Replies piling up unsent past the backlog limit hold the input back; nothing is lost.
        replied = flood_without_reading(program.port, 700)
        check(replied > 8 * 1024 * 1024, "the flood was too small: %d bytes" % replied)
        check(over_ipv6(program.port).startswith(OFFER + b"Zelvor v.1.0\r\n"), "no greeting over IPv6")
        # The server logs "connecting" just after it has sent the prompt.
        log_path = os.path.join(program.folder, "activity.log")
        check(wait_for_file(log_path, b"\t::1\tconnecting"), "no IPv6 client in the log")
        with open(log_path, "rb") as f:
            check(b"\t127.0.0.1\tconnecting" in f.read(), "no IPv4 client in dotted form")

        program.stop("close")
        program.check_ini("WM_CLOSE")

        # Logging off Windows saves too, before the system ends the process.
        write_ini(program.ini, program.port, program.root, program.logfile)
        program.start()
        connect(program.port).close()
        program.stop("endsession")
        program.check_ini("WM_ENDSESSION")

        first_run_root(program)
    finally:
        if program.process and program.process.poll() is None:
            program.process.kill()

    open_program = WindowsProgram(os.path.join(SCRATCH, "open"), music, login=False)
    open_program.start()
    try:
        per_cycle = busy_and_reconnects(open_program.port, 10000)
        print("zelvor.exe: 10000 connect, greet, close cycles, %.2f ms per cycle"
              % (per_cycle * 1000))
        open_program.stop("close")
    finally:
        if open_program.process and open_program.process.poll() is None:
            open_program.process.kill()
    print("zelvor.exe end to end: all checks passed")


if __name__ == "__main__":
    main()
