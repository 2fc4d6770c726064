#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Builds the Debian package, unpacks it into a temp folder (never into the system), checks its
control fields and contents, has lintian and systemd-analyze look at it where they are installed,
and runs the program from the unpacked tree, headless on a free port, with a client session."""
import gzip
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from test_helpers import free_port

BUILD_DIR = sys.argv[1]
VERSION = sys.argv[2]
DEADLINE = 20  # seconds for each wait on the program


def run(*command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


def read_text(path):
    with open(path) as text:
        return text.read()


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="zelvor-package-")
        run("cpack", "-G", "DEB", "-B", os.path.join(cls.temp, "out"), cwd=BUILD_DIR)
        cls.deb = os.path.join(cls.temp, "out", f"zelvor_{VERSION}_amd64.deb")
        cls.root = os.path.join(cls.temp, "root")
        run("dpkg-deb", "-x", cls.deb, cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.temp, ignore_errors=True)

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).strip()

    def test_control_fields(self):
        self.assertEqual(self.field("Package"), "zelvor")
        self.assertEqual(self.field("Version"), VERSION)
        self.assertEqual(self.field("Architecture"), "amd64")
        self.assertEqual(self.field("Recommends"), "mpd")
        self.assertEqual(self.field("Section"), "sound")
        depends = self.field("Depends")
        for library in ("libc6", "libmpdclient2", "libqt6core6", "libqt6widgets6"):
            self.assertIn(library, depends)
        self.assertNotIn("mpd,", depends + ",")

    def test_contents(self):
        listing = run("dpkg-deb", "-c", self.deb)
        for path in ("./usr/bin/zelvor",
                     "./usr/share/applications/zelvor.desktop",
                     "./usr/share/icons/hicolor/48x48/apps/zelvor.png",
                     "./usr/share/icons/hicolor/scalable/apps/zelvor.svg",
                     "./usr/share/man/man1/zelvor.1.gz",
                     "./usr/lib/systemd/user/zelvor.service",
                     "./usr/share/doc/zelvor/copyright",
                     "./usr/share/doc/zelvor/changelog.gz",
                     "./usr/share/doc/zelvor/examples/zelvor-autostart.desktop"):
            self.assertIn(" " + path + "\n", listing)
        self.assertNotIn("./etc/", listing)
        with gzip.open(os.path.join(self.root, "usr/share/man/man1/zelvor.1.gz"), "rt") as page:
            text = page.read()
        self.assertIn('.TH "zelvor" "1"', text)
        for option in ("--port", "--root", "--player", "--config-dir", "SIGHUP", "MPD_HOST"):
            self.assertIn(option, text)
        unit = read_text(os.path.join(self.root, "usr/lib/systemd/user/zelvor.service"))
        self.assertIn("ExecStart=/usr/bin/zelvor $ZELVOR_OPTIONS\n", unit)
        self.assertIn("ExecReload=/bin/kill -HUP $MAINPID\n", unit)

    @unittest.skipUnless(shutil.which("lintian"), "lintian is not installed")
    def test_lintian_finds_no_errors(self):
        result = subprocess.run(["lintian", "--fail-on", "error", self.deb],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_systemd_accepts_the_user_unit(self):
        # The unit as installed, but pointing at the unpacked program and man page.
        unit = read_text(os.path.join(self.root, "usr/lib/systemd/user/zelvor.service"))
        checked = os.path.join(self.temp, "unit", "zelvor.service")
        os.makedirs(os.path.dirname(checked), exist_ok=True)
        with open(checked, "w") as out:
            out.write(unit.replace("/usr/bin/zelvor", os.path.join(self.root, "usr/bin/zelvor")))
        env = dict(os.environ, MANPATH=os.path.join(self.root, "usr/share/man"))
        result = subprocess.run(["systemd-analyze", "verify", checked],
                                capture_output=True, text=True, env=env)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stderr, "")

    def test_unpacked_program_serves_a_client(self):
        port = free_port()
        home = os.path.join(self.temp, "home")
        config = os.path.join(self.temp, "config-dir")
        os.makedirs(home, exist_ok=True)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update(HOME=home, XDG_CONFIG_HOME=home, MPD_HOST="127.0.0.1",
                   MPD_PORT=str(free_port()))
        program = os.path.join(self.root, "usr/bin/zelvor")
        with open(os.path.join(self.temp, "stderr.txt"), "w+") as errors:
            zelvor = subprocess.Popen(
                [program, "--port", str(port), "--root", home, "--config-dir", config],
                env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors)
            try:
                self.session(port, errors)
            finally:
                zelvor.send_signal(signal.SIGTERM)
                self.assertEqual(zelvor.wait(DEADLINE), 0)
        with open(os.path.join(config, "zelvor.ini"), newline="") as ini:
            self.assertIn(f"Port={port}\r\nServer Root={home}\r\n", ini.read())

    def session(self, port, errors):
        deadline = time.monotonic() + DEADLINE
        while " started\n" not in read_text(errors.name):
            self.assertLess(time.monotonic(), deadline, "the program did not listen")
            time.sleep(0.01)
        with socket.create_connection(("127.0.0.1", port), timeout=DEADLINE) as client:
            received = b""

            def read_until(text):
                nonlocal received
                while text not in received:
                    chunk = client.recv(4096)
                    self.assertTrue(chunk, received)
                    received += chunk
                head, _, received = received.partition(text)
                return head + text

            self.assertTrue(read_until(b"User:").startswith(
                b"\xff\xfb\x01\xff\xfb\x03Zelvor v.1.0\r\n"))
            client.sendall(b"user\r\n")
            read_until(b"Pass:")
            client.sendall(b"\r\n")
            read_until(b"Zelvor>")
            client.sendall(b"pwd\r\n")
            self.assertEqual(read_until(b"Zelvor>"), b"pwd\r\n\\\r\nZelvor>")
            client.sendall(b"play\r\n")
            self.assertEqual(read_until(b"Zelvor>"),
                             b"play\r\nCommand Failed - Winamp may not be running\r\nZelvor>")
            client.sendall(b"exit\r\n")
            while chunk := client.recv(4096):
                received += chunk
            self.assertTrue(received.startswith(b"exit"), received)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
