#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""zelvor.exe under wine next to the Linux program, over loopback: time from start to
listening, keystroke echo and the `status` reply (no player on either side), p50 and p99.

   bench/windows/bench_exe.py ZELVOR_EXE WINDOW_TOOL_EXE LINUX_ZELVOR SCRATCH_FOLDER

Run it through `make bench-windows`, which sets up the wine prefix of the Windows suite."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

from test_helpers import free_port

ZELVOR_EXE, WINDOW_TOOL, LINUX_ZELVOR, SCRATCH = sys.argv[1:5]
STARTS = 5
KEYSTROKES = 500
STATUS_QUERIES = 200
LIMIT = 30.0


def ini(port):
    # Login off: the session starts at the command prompt.
    return b"[Zelvor]\r\nPort=%d\r\nLogin=True\r\n" % port


def wait_listening(port, started):
    deadline = started + LIMIT
    while time.monotonic() < deadline:
        try:
            client = socket.create_connection(("127.0.0.1", port), timeout=LIMIT)
            return time.monotonic() - started, client
        except ConnectionRefusedError:
            time.sleep(0.002)
    raise SystemExit("nothing listened on port %d" % port)


def read_until(client, ending):
    data = b""
    while not data.endswith(ending):
        chunk = client.recv(65536)
        if not chunk:
            raise SystemExit("connection closed")
        data += chunk
    return data


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def measure_session(client):
    client.settimeout(LIMIT)
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    read_until(client, b"Zelvor>")
    echo = []
    for _ in range(KEYSTROKES):
        started = time.perf_counter()
        client.sendall(b"a")
        read_until(client, b"a")
        echo.append(time.perf_counter() - started)
        client.sendall(b"\b")
        read_until(client, b"\b \b")
    status = []
    for _ in range(STATUS_QUERIES):
        started = time.perf_counter()
        client.sendall(b"status\r")
        read_until(client, b"\r\nZelvor>")
        status.append(time.perf_counter() - started)
    return echo, status


class Windows:
    name = "zelvor.exe under wine"

    def __init__(self):
        self.folder = os.path.join(SCRATCH, "windows")
        os.makedirs(self.folder)
        shutil.copy(ZELVOR_EXE, os.path.join(self.folder, "zelvor.exe"))

    def start(self, port):
        with open(os.path.join(self.folder, "zelvor.ini"), "wb") as f:
            f.write(ini(port))
        return subprocess.Popen(["wine", os.path.join(self.folder, "zelvor.exe")],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def stop(self, process):
        subprocess.run(["wine", WINDOW_TOOL, "close", "ZelvorSettingsWindow"], timeout=LIMIT)
        process.wait(timeout=LIMIT)


class Linux:
    name = "Linux program"

    def __init__(self):
        self.home = os.path.join(SCRATCH, "linux")
        os.makedirs(os.path.join(self.home, "config", "zelvor"))

    def start(self, port):
        with open(os.path.join(self.home, "config", "zelvor", "zelvor.ini"), "wb") as f:
            f.write(ini(port))
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update(XDG_CONFIG_HOME=os.path.join(self.home, "config"), HOME=self.home,
                   MPD_HOST="127.0.0.1", MPD_PORT=str(free_port()))
        return subprocess.Popen([LINUX_ZELVOR], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self, process):
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=LIMIT)


def run(program):
    starts = []
    echo = status = None
    for attempt in range(STARTS):
        port = free_port()
        started = time.monotonic()
        process = program.start(port)
        elapsed, client = wait_listening(port, started)
        starts.append(elapsed)
        with client:
            if attempt == 0:
                echo, status = measure_session(client)
        program.stop(process)
    return starts, echo, status


def ms(seconds):
    return "%.2f ms" % (seconds * 1000)


def main():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    rows = []
    for program in (Windows(), Linux()):
        starts, echo, status = run(program)
        rows.append((program.name, percentile(starts, 0.5), percentile(echo, 0.5),
                     percentile(echo, 0.99), percentile(status, 0.5), percentile(status, 0.99)))
    print("| Program | start to listening (median of %d) | echo p50 | echo p99 | status p50 |"
          " status p99 |" % STARTS)
    print("|---|---|---|---|---|---|")
    for name, start, e50, e99, s50, s99 in rows:
        print("| %s | %s | %s | %s | %s | %s |"
              % (name, ms(start), ms(e50), ms(e99), ms(s50), ms(s99)))


if __name__ == "__main__":
    main()
