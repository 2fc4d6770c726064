# SPDX-License-Identifier: MIT
"""What the tests against real players share: a sandbox with a private session bus and sound
server, a headless zelvor in it, and Debian's telnet typing the verbs.

Everything the sandbox starts carries its home folder in HOME, also what zelvor's "open" starts,
so at the end every such process is found and ended by its pid, whatever became of the test.
"""
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pexpect

from script_run import process_gone, wait_until
from test_helpers import PortHolding, check

PROMPT = b"\r\nZelvor>"
FAILURE = "Command Failed - Winamp may not be running"
SKIPPED = 77


def skip(reason):
    print("skipped: " + reason)
    sys.exit(SKIPPED)


def tone(path, seconds=200, hertz=440, title=None):
    """A sine tone as Ogg Vorbis; title sets the TITLE tag, else the file has none."""
    comment = ["--comment", "TITLE=" + title] if title else ["--comment", ""]
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1"] + comment +
                   [path, "synth", str(seconds), "sine", str(hertz)], check=True)


class Client:
    """Debian's telnet: each line typed, the reply up to the next prompt."""

    def __init__(self, port, spawn=pexpect.spawn):
        self.telnet = spawn("telnet", ["127.0.0.1", str(port)], timeout=20)
        self.telnet.expect_exact(b"Zelvor>")

    def run(self, line):
        self.telnet.send(line.encode() + b"\r")
        self.telnet.expect_exact(PROMPT)
        # The line comes back as echo; what follows it is the reply.
        text = self.telnet.before.decode("utf-8", "replace")
        return text[text.find(line) + len(line):] if line in text else text

    def close(self):
        self.telnet.send(b"exit\r")
        self.telnet.expect([b"Connection closed by foreign host", pexpect.EOF])
        self.telnet.close()


class Sandbox(PortHolding):
    """A home folder, a session bus and a PulseAudio null sink of the test's own.

    ordinary_user: run everything as an ordinary user (VLC refuses root); when the test runs
    as root that is "nobody", else the test's own user.
    """

    def __init__(self, name, ordinary_user=False, sound=True):
        self.name = name
        self.user = None
        if ordinary_user and os.geteuid() == 0:
            try:
                entry = pwd.getpwnam("nobody")
            except KeyError:
                skip("%s refuses to run as root, and there is no user nobody" % name)
            self.user = (entry.pw_uid, entry.pw_gid)
        self.sound = sound
        self.home = tempfile.mkdtemp(prefix="zelvor-%s-" % name)
        os.chmod(self.home, 0o755)
        self.music = os.path.join(self.home, "music")
        self.zelvor = None
        self.client = None
        self.started = []
        self.held = {}

    # Processes -----------------------------------------------------------------------------

    def _as_user(self):
        if self.user is None:
            return {}
        return {"user": self.user[0], "group": self.user[1], "extra_groups": []}

    def mkdir(self, *parts):
        path = os.path.join(self.home, *parts)
        os.makedirs(path, exist_ok=True)
        if self.user:
            os.chown(path, *self.user)
        return path

    def spawn(self, args, **options):
        process = subprocess.Popen(args, env=options.pop("env", self.env), stdin=subprocess.DEVNULL,
                                   **self._as_user(), **options)
        self.started.append(process)
        return process

    def run(self, *args, check_ok=False):
        """A tool's output, or None when it failed."""
        done = subprocess.run(list(args), env=self.env, capture_output=True, timeout=15,
                              stdin=subprocess.DEVNULL, **self._as_user())
        if done.returncode != 0:
            if check_ok:
                raise SystemExit("%s failed: %s" % (args, done.stderr.decode(errors="replace")))
            return None
        return done.stdout.decode("utf-8", "replace").strip()

    def pid_of(self, bus_name):
        """The process that owns a name on the bus, or None."""
        found = self.run("dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                         "/org/freedesktop/DBus",
                         "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + bus_name)
        return int(found.split()[-1]) if found else None

    def players(self):
        return (self.run("playerctl", "--list-all") or "").split()

    def copies(self, player):
        """How many processes are on the bus as this player (VLC takes two names)."""
        names = [n for n in self.players() if n == player or n.startswith(player + ".")]
        return len({self.pid_of("org.mpris.MediaPlayer2." + n) for n in names})

    def running(self, program):
        """How many of the sandbox's processes run the program (its own name or its script's)."""
        count = 0
        for pid in self._sandbox_pids():
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    words = f.read().split(b"\0")[:2]
            except OSError:
                continue
            count += any(os.path.basename(w.decode(errors="replace")) == program for w in words)
        return count

    def _sandbox_pids(self):
        """Every process whose environment holds this sandbox's HOME."""
        marker = ("HOME=" + self.home).encode() + b"\0"
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if marker in f.read():
                        pids.append(int(entry))
            except OSError:
                pass
        return pids

    # Start and end -------------------------------------------------------------------------

    def __enter__(self):
        if self.user:
            os.chown(self.home, *self.user)
        self.mkdir("music")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "MPD_HOST",
                                 "MPD_PORT", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR",
                                 "PULSE_SERVER")}
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                        XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                        XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                        XDG_RUNTIME_DIR=self.mkdir("runtime"), TERM="xterm")
        try:
            os.chmod(self.env["XDG_RUNTIME_DIR"], 0o700)
            daemon = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            address = daemon.stdout.readline().decode().strip()
            if not address:
                raise SystemExit("dbus-daemon did not start")
            self.env["DBUS_SESSION_BUS_ADDRESS"] = address
            if self.sound:
                self._start_sound()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start_sound(self):
        """PulseAudio with one null sink: players keep time and have a volume to set."""
        folder = self.mkdir("pulse")
        os.chmod(folder, 0o700)
        self.env["PULSE_SERVER"] = "unix:" + os.path.join(folder, "native")
        env = dict(self.env, PULSE_RUNTIME_PATH=folder)
        self.spawn(["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                    "--use-pid-file=no", "--load=module-null-sink",
                    "--load=module-native-protocol-unix"], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: os.path.exists(os.path.join(folder, "native")), "PulseAudio")

    def start_zelvor(self, zelvor, location):
        """A headless zelvor on a port held for it until it listens, and a client on it."""
        program = zelvor
        if self.user:
            # The build tree may lie where the ordinary user cannot reach it.
            program = os.path.join(self.home, "zelvor")
            shutil.copy(zelvor, program)
            os.chmod(program, 0o755)
        errors = os.path.join(self.home, "zelvor-stderr.txt")
        port = self.hold_port()
        self._write_settings(port, location)
        self.zelvor = self.spawn([program], stdout=subprocess.DEVNULL, stderr=open(errors, "wb"))
        # With a desktop platform (Strawberry needs QT_QPA_PLATFORM) zelvor prints nothing.
        try:
            wait_until(lambda: listening(port) or self.zelvor.poll() is not None,
                       "zelvor listening", timeout=30)
        except SystemExit as failed:
            raise SystemExit("%s; its errors: %r" % (failed, open(errors, "rb").read()[-2000:]))
        self.release_port(port)
        if not listening(port):
            raise SystemExit("zelvor ended (%s) before it listened; its errors: %r"
                             % (self.zelvor.returncode, open(errors, "rb").read()[-2000:]))
        self.client = Client(port)
        return self.client

    def _write_settings(self, port, location):
        folder = self.mkdir(".config", "zelvor")
        with open(os.path.join(folder, "zelvor.ini"), "wb") as f:
            f.write(b"[Zelvor]\r\nPort=%d\r\nLogin=True\r\nServer Root=%s\r\n"
                    b"Winamp Location=%s\r\n" % (port, self.music.encode(), location.encode()))
        if self.user:
            os.chown(os.path.join(folder, "zelvor.ini"), *self.user)

    def stop_zelvor(self):
        self.client.close()
        self.client = None
        self.zelvor.send_signal(signal.SIGTERM)
        check(self.zelvor.wait(timeout=10) == 0, "zelvor's exit status", self.zelvor.returncode)

    def __exit__(self, kind, value, trace):
        if self.client:
            try:
                self.client.close()
            except (pexpect.ExceptionPexpect, OSError):
                pass
        code = None
        if self.zelvor and self.zelvor.poll() is None:
            self.zelvor.send_signal(signal.SIGTERM)
            code = self.zelvor.wait(timeout=10)
        # What the sandbox started, zelvor's "open" included; the bus goes last.
        bus = self.started[0].pid if self.started else None
        ours = [pid for pid in self._sandbox_pids() if pid != bus] + ([bus] if bus else [])
        for pid in ours:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and any(os.path.exists("/proc/%d" % p) and
                                                  not process_gone(p) for p in ours):
            for process in self.started:
                process.poll()
            time.sleep(0.05)
        for pid in ours:
            try:
                if not process_gone(pid):
                    os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for process in self.started:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        for port in list(self.held):
            self.release_port(port)
        shutil.rmtree(self.home, ignore_errors=True)
        if kind is None and code not in (None, 0):
            raise SystemExit("zelvor exited with %d" % code)
        return False


def listening(port):
    """True when a socket listens on the TCP port (read from /proc, so nobody connects)."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                rows = [line.split() for line in f.readlines()[1:]]
        except OSError:
            continue
        if any(row[1].endswith(":%04X" % port) and row[3] == "0A" for row in rows):
            return True
    return False

