# SPDX-License-Identifier: MIT
"""What the end-to-end scripts share: one run that owns their homes, their ports and every
process they start, and ends those processes by pid on each way out.

- A port is held from the moment it is chosen until Zelvor listens on it: the probe socket stays
  bound (SO_REUSEADDR, all addresses, not listening), so no other program's bind or connect can
  take the port meanwhile, and Zelvor, whose listener asks for SO_REUSEADDR too, still gets it.
  A port where no MPD may answer is held the same way for as long as the run lasts.
- The players Zelvor starts leave its process tree (setsid, double fork); their command lines
  name files in the run's homes (mpv its songs, MPD its configuration), so they are found by
  that in /proc/<pid>/cmdline, as ps shows it, and ended by that pid.
- A failed step, an exception, SIGTERM, SIGINT or SIGHUP first prints what the run saw (each
  Zelvor's port, exit status and error output, the processes still alive), then ends them all,
  the session bus last, and removes the homes.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pexpect

from test_helpers import PortHolding

STARTED = b" started\n"
STOP_SIGNALS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)


class Interrupted(SystemExit):
    """A signal that ends the run; the finally blocks still run."""


def fail(what):
    raise SystemExit(what)


def wait_until(condition, what, timeout=10.0, interval=0.05):
    """Looks once more after the deadline: a run held up past it is not failed unseen."""
    deadline = time.monotonic() + timeout
    while True:
        late = time.monotonic() >= deadline
        last = condition()
        if last:
            return last
        if late:
            fail("%s: never came within %g s (last %r)" % (what, timeout, last))
        time.sleep(interval)


def process_gone(pid):
    """Gone, or a zombie nobody reaps (the players are orphans)."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            return f.read().rsplit(b")", 1)[1].split()[0] == b"Z"
    except (OSError, IndexError):
        return True


def describe(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
    except OSError:
        return "?"


def end_process(pid, popen=None):
    """SIGTERM, ten seconds, then SIGKILL; reaps a child of ours. Returns its exit status."""
    for number in (signal.SIGCONT, signal.SIGTERM):
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            break
    gone = (lambda: popen.poll() is not None) if popen else (lambda: process_gone(pid))
    deadline = time.monotonic() + 10
    while not gone() and time.monotonic() < deadline:
        time.sleep(0.02)
    if not gone():
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    return popen.wait() if popen else None


class Zelvor:
    """One headless zelvor, its error output in a file of its home."""

    def __init__(self, process, port, errors):
        self.process = process
        self.port = port
        self.errors = errors
        self.code = None

    def output(self):
        try:
            with open(self.errors, "rb") as f:
                return f.read()
        except OSError:
            return b""

    def wait_for(self, text, count=1, what=None):
        """Until the error output holds text count times; a zelvor that ended or that cannot
        listen fails at once."""
        def seen():
            output = self.output()
            if output.count(text) >= count:
                return True
            if self.process.poll() is not None:
                fail("zelvor exited with %d" % self.process.returncode)
            if b"zelvor: cannot listen" in output:
                fail("zelvor cannot listen on port %d" % self.port)
            return False
        wait_until(seen, what or "%r %d times in zelvor's output" % (text, count), interval=0.02)

    def stop(self):
        """SIGTERM; the exit status, 0 when it shut down in order."""
        if self.code is None:
            self.code = end_process(self.process.pid, self.process)
        return self.code


class Run(PortHolding):
    def __init__(self):
        self.root = None
        self.homes = []
        self.held = {}
        self.zelvors = []
        self.children = []
        self.bus = None
        self.ending = False
        self.previous = {}

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="zelvor-script-")
        for number in STOP_SIGNALS:
            self.previous[number] = signal.signal(number, self.interrupted)
        return self

    def interrupted(self, number, frame):
        if not self.ending:
            raise Interrupted("ended by signal %d" % number)

    def __exit__(self, kind, error, trace):
        self.ending = True
        try:
            if kind is not None:
                self.report(error)
            self.end_all()
        finally:
            shutil.rmtree(self.root, ignore_errors=True)
            for number, handler in self.previous.items():
                signal.signal(number, handler)
        return False

    def home(self):
        home = tempfile.mkdtemp(dir=self.root)
        self.homes.append(home)
        return home

    def environment(self, home, **extra):
        """Ours without a display, a session bus, an MPD or a runtime folder of the desktop, at
        home in home: without XDG_RUNTIME_DIR, Zelvor's local socket stays in its settings
        folder."""
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR",
                            "DBUS_SESSION_BUS_ADDRESS", "MPD_HOST", "MPD_PORT")}
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), **extra)
        return env

    def start_bus(self, env):
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.bus = daemon
        address = daemon.stdout.readline().decode().strip()
        if not address:
            fail("dbus-daemon did not start (exit status %r)" % daemon.poll())
        return address

    def start_zelvor(self, program, env, port, arguments=()):
        """Starts zelvor on the held port; returns once it listens, the port free for it."""
        errors = os.path.join(env["HOME"], "stderr.txt")
        with open(errors, "wb") as output:
            process = subprocess.Popen([program] + list(arguments), env=env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=output)
        zelvor = Zelvor(process, port, errors)
        self.zelvors.append(zelvor)
        zelvor.wait_for(STARTED, what="zelvor listening on port %d" % port)
        self.release_port(port)
        return zelvor

    def spawn(self, command, arguments, **options):
        """A client on a terminal (pexpect), ended with the run should a step fail."""
        child = pexpect.spawn(command, arguments, **options)
        self.children.append(child)
        return child

    def marked(self, homes=None):
        """The running processes whose command line names a file in one of our homes."""
        marks = [(home + os.sep).encode() for home in (homes or self.homes)]
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    words = f.read().split(b"\0")
            except OSError:
                continue
            if any(word.startswith(mark) for word in words for mark in marks) and \
                    not process_gone(int(entry)):
                found.append(int(entry))
        return found

    def end_marked(self, home):
        """Ends what is left running on home's files (the MPD that Zelvor's open started)."""
        for pid in self.marked([home]):
            end_process(pid)

    def report(self, error):
        lines = ["%s: %s" % (type(error).__name__, error)]
        for zelvor in self.zelvors:
            status = zelvor.code if zelvor.code is not None else zelvor.process.poll()
            lines.append("zelvor pid %d on port %d, exit status %s, error output:"
                         % (zelvor.process.pid, zelvor.port,
                            "none yet (running)" if status is None else status))
            lines.append(zelvor.output().decode("utf-8", "replace").rstrip() or "(empty)")
        alive = self.marked()
        tracked = [z.process for z in self.zelvors] + ([self.bus] if self.bus else [])
        alive += [p.pid for p in tracked if p.poll() is None and p.pid not in alive]
        alive += [c.pid for c in self.children if c.isalive() and c.pid not in alive]
        lines.append("still alive: " + (", ".join("%d %s" % (pid, describe(pid))
                                                  for pid in alive) or "nothing"))
        print("\n".join(lines), file=sys.stderr, flush=True)

    def end_all(self):
        for probe in self.held.values():
            probe.close()
        self.held.clear()
        for child in self.children:
            if child.isalive():
                child.close(force=True)
        for zelvor in self.zelvors:
            zelvor.stop()
        bus = self.bus.pid if self.bus else None
        for pid in self.marked():
            if pid != bus:
                end_process(pid)
        if self.bus:
            end_process(self.bus.pid, self.bus)
            self.bus.stdout.close()
