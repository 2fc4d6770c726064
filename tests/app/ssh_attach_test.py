#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The encrypted way in: Debian's OpenSSH server in front of the local socket.

A private sshd on a loopback port, with its own host key, configuration and authorized-keys
file, lets one generated key in with the README's line
`command="zelvor --attach",restrict,pty ssh-ed25519 ...`. Through it `ssh -t` lands at the
prompt (driven with pexpect), `ssh host pwd` prints one line, and any other command is only a
command line for Zelvor, never a shell. sshd is ended by its pid.
"""
import os
import pwd
import signal
import socket
import subprocess
import sys
import tempfile

import pexpect

from test_helpers import check, free_port, unix_answers, wait_for

ZELVOR = os.path.abspath(sys.argv[1])
SSHD = "/usr/sbin/sshd"


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def main():
    user = pwd.getpwuid(os.getuid()).pw_name
    if os.getuid() == 0 and not os.path.isdir("/run/sshd"):
        # The privilege-separation folder that Debian's service makes at boot.
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
    with tempfile.TemporaryDirectory() as root:
        run = os.path.join(root, "run")
        os.makedirs(run, mode=0o700)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update(XDG_CONFIG_HOME=os.path.join(root, "config"), XDG_RUNTIME_DIR=run,
                   MPD_HOST="127.0.0.1", MPD_PORT=str(free_port()))
        # Telnet kept to loopback, as the README suggests beside ssh.
        errors = os.path.join(root, "zelvor.txt")
        zelvor = subprocess.Popen([ZELVOR, "--listen", "127.0.0.1", "--port", str(free_port())],
                                  env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=open(errors, "wb"))
        sshd = None
        try:
            wait_for(lambda: unix_answers(os.path.join(run, "zelvor.sock")), "zelvor.sock")
            host_key = os.path.join(root, "host_ed25519")
            client_key = os.path.join(root, "phone_ed25519")
            for key in (host_key, client_key):
                subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key],
                               check=True)
            with open(client_key + ".pub") as f:
                public = f.read().strip()
            authorized = os.path.join(root, "authorized_keys")
            with open(authorized, "w") as f:
                f.write('command="%s --attach",restrict,pty %s\n' % (ZELVOR, public))
            os.chmod(authorized, 0o600)
            port = free_port()
            config = os.path.join(root, "sshd_config")
            with open(config, "w") as f:
                f.write("\n".join([
                    "Port %d" % port,
                    "ListenAddress 127.0.0.1",
                    "HostKey " + host_key,
                    "PidFile " + os.path.join(root, "sshd.pid"),
                    "AuthorizedKeysFile " + authorized,
                    "AllowUsers " + user,
                    "PubkeyAuthentication yes",
                    "PasswordAuthentication no",
                    "KbdInteractiveAuthentication no",
                    "PermitRootLogin prohibit-password",
                    "UsePAM no",
                    "StrictModes no",
                    # A login's session has the desktop's runtime folder (pam_systemd gives it
                    # on a usual system); this sshd runs without PAM, so it is set here.
                    "SetEnv XDG_RUNTIME_DIR=" + run,
                ]) + "\n")
            sshd_log = os.path.join(root, "sshd.txt")
            sshd = subprocess.Popen([SSHD, "-D", "-e", "-f", config], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=open(sshd_log, "wb"))
            wait_for(lambda: answers(port) or sshd.poll() is not None, "sshd")
            check(sshd.poll() is None, "sshd running", open(sshd_log).read())
            ssh = ["ssh", "-F", "/dev/null", "-i", client_key, "-o", "IdentitiesOnly=yes",
                   "-o", "StrictHostKeyChecking=no", "-o", "BatchMode=yes",
                   "-o", "UserKnownHostsFile=" + os.path.join(root, "known_hosts"),
                   "-o", "LogLevel=ERROR", "-p", str(port), user + "@127.0.0.1"]

            # The one-shot command: one line.
            one = subprocess.run(ssh + ["pwd"], capture_output=True, timeout=30)
            check(one.returncode == 0 and one.stdout == b"\\\n", "ssh host pwd", one)
            # np without a player: its one line, and the failure's exit status through ssh.
            np = subprocess.run(ssh + ["np"], capture_output=True, timeout=30)
            check(np.returncode == 1 and
                  np.stdout == b"Command Failed - Winamp may not be running\n", "ssh host np", np)
            # No shell behind the key: a shell command is only an unknown verb.
            shell = subprocess.run(ssh + ["cat /etc/passwd"], capture_output=True, timeout=30)
            check(shell.returncode == 1 and shell.stdout == b"I don't know how to cat\n",
                  "a shell command", shell)

            # The session: the prompt, a command, exit.
            child = pexpect.spawn(ssh[0], ssh[1:] + ["-t"], timeout=30)
            child.expect_exact(b"\r\nZelvor>")
            check(b"Zelvor v.1.0\r\n" in child.before, "the greeting over ssh", child.before)
            child.send(b"help ls\r")
            child.expect_exact(b"\r\nZelvor>")
            check(child.before.startswith(b"help ls\r\nLs: "), "help ls over ssh", child.before)
            child.send(b"exit\r")
            child.expect(pexpect.EOF)
            child.close()
            check(child.exitstatus == 0, "the session's exit status", child.exitstatus)
            with open(errors, "rb") as f:
                log = f.read()
            check(all(b" %s\n" % word in log for word in (b"pwd", b"cat", b"help", b"exit")),
                  "zelvor's words", log)
        finally:
            if sshd is not None:
                os.kill(sshd.pid, signal.SIGTERM)
                sshd.wait(timeout=10)
            zelvor.send_signal(signal.SIGTERM)
            zelvor.wait(timeout=10)
    print("ssh test passed")


main()
