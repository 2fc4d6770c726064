#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/. The files are kept in
# the tree; run this again after changing the seeds below.
import hashlib
import pathlib

HERE = pathlib.Path(__file__).resolve().parent

# fuzz_session input: a byte of flags, then records (see FuzzSession.cpp).
LOGIN, PLAYER, EMPTY_CREDENTIALS, LOGGING = 1, 2, 4, 8


def chunk(data):
    data = data.encode("latin-1") if isinstance(data, str) else data
    out = b""
    while True:
        out += bytes([0, min(len(data), 255)]) + data[:255]
        data = data[255:]
        if not data:
            return out


def keys(text):
    return b"".join(chunk(c) for c in text)


def advance(half_seconds):
    return bytes([4, half_seconds])


HANG_UP_OR_CONNECT = bytes([5])
RESTART = bytes([6])


def change(flags):
    return bytes([7, flags])


def lines(*texts):
    return chunk("".join(t + "\r\n" for t in texts))


LOGIN_KEYS = keys("user\r\n") + keys("pw\r\n")

session = {
    "character-mode-session": bytes([LOGIN | PLAYER]) + LOGIN_KEYS
    + b"".join(keys(t + "\r\n") for t in ["pwd", "ls", "cd Rock", "ls *.mp3", "load song.mp3",
                                           "cd ..", "exit"]),
    "every-verb": bytes([PLAYER | LOGGING]) + lines(
        "help", "help ls", "help  HELP", "status", "volup 3", "voldn 2.5", "volup 1e9",
        "voldn -4", "play", "pause", "stop", "ff", "rw", "shuffle", "repeat", "clear", "close",
        "open", "load", "load ", "pwd", " ", "", "bogus verb"),
    "player-absent": bytes([0]) + lines("status", "volup 255", "play", "load Rock", "open"),
    "escapes": bytes([PLAYER]) + lines(
        "cd ..", "cd ..\\..", "ls ..\\*", "load ..\\secret.txt", "cd Rock\\Best\\..\\..\\..",
        "ls Loop\\..\\..\\*", "load /etc/passwd", "cd \\\\..\\\\..", "ls \\..\\outside\\*",
        "cd ..\\musicx", "ls ..\\musicx\\*", "load ..\\music\\..\\secret.txt", "cd Loop\\..\\..",
        "cd /", "cd \\", "ls ../*", "load Rock\\Best\\..\\..\\..\\secret.txt", "cd ...",
        "cd Rock\\..\\..\\music\\Rock", "ls //..//..//*"),
    "names-and-wildcards": bytes([PLAYER]) + lines(
        "ls *.*", "ls r*", "ls Rock\\*.MP3", "ls ?ock", "cd mixed case", "ls", "cd \\",
        "cd ROCK\\live", "pwd", "load a.mp3", "cd \\", "cd a b", "ls x?y", "load x?y",
        "cd Rock\\", "cd ..", "cd Rock\\Best", "ls", "load", "cd Empty", "ls", "load "),
    "control-bytes-in-names": bytes([PLAYER]) + chunk(
        b"cd Ro\x01ck\r\nls \x1b[2J\r\nload song\x00.mp3\r\ncd Rock\x7f\x7f\x7f\x7f\r\n"),
    "failed-login-and-pause": bytes([LOGIN | PLAYER]) + chunk("user\rwrong\ruser\rpw\r")
    + advance(1) + advance(2) + chunk("user\rpw\rpwd\r"),
    "login-time-limit": bytes([LOGIN]) + keys("us") + advance(130) + HANG_UP_OR_CONNECT
    + LOGIN_KEYS + advance(200) + lines("pwd"),
    "telnet-negotiation": bytes([LOGIN | PLAYER]) + chunk(
        b"\xff\xfd\x18\xff\xfb\x01\xff\xfa\x18\x00xterm\xff\xf0user\r\x00p\xff\xfe\x01w\r\n")
    + chunk(b"ls \xff\xff\r\x00pwd\n"),
    "backspace-everywhere": bytes([LOGIN | PLAYER]) + chunk("\x08usx\x08er\r")
    + chunk("p\x7fpw\x08w\r") + chunk("lz\x08s\r\x08\x08\x08"),
    "overlong-lines": bytes([LOGIN]) + chunk("u" * 1100 + "\r") + chunk("p" * 1100 + "\r")
    + advance(3) + LOGIN_KEYS + chunk("cd " + "Rock\\..\\" * 200 + "\r") + lines("pwd"),
    "empty-credentials": bytes([LOGIN | EMPTY_CREDENTIALS]) + chunk("\r\r") + lines("pwd"),
    "congested-client": bytes([PLAYER]) + change(32) + lines("help", "help", "ls")
    + change(32) + lines("pwd"),
    "restart-and-busy-port": bytes([LOGIN | PLAYER]) + LOGIN_KEYS + change(4) + RESTART
    + HANG_UP_OR_CONNECT + RESTART + change(4) + RESTART + HANG_UP_OR_CONNECT + LOGIN_KEYS
    + change(1) + lines("exit") + HANG_UP_OR_CONNECT + lines("pwd"),
    "exit-with-more-behind": bytes([PLAYER]) + chunk("exit\rpwd\r") + HANG_UP_OR_CONNECT
    + chunk("pwd\rexit now\r") + HANG_UP_OR_CONNECT + chunk("help\r"),
    "client-gone-before-accept": bytes([LOGIN]) + change(8) + HANG_UP_OR_CONNECT
    + HANG_UP_OR_CONNECT + change(8) + HANG_UP_OR_CONNECT + LOGIN_KEYS,
    "lf-only-lines": bytes([LOGIN | PLAYER]) + chunk("user\npw\npwd\nls\ncd Rock\npwd\n"),
    "credentials-changed-mid-login": bytes([LOGIN]) + keys("user\r") + change(16)
    + keys("pw\r") + advance(3) + chunk("\r\r") + lines("pwd"),
    "queue-verbs": bytes([PLAYER]) + lines(
        "np", "queue", "queue 2", "queue 99", "queue x", "goto 2", "goto 0", "goto", "vol",
        "vol 37", "vol +200", "vol -5", "vol 101", "seek +30", "seek -1:00", "seek 1:00:00",
        "seek 1:7", "help np") + advance(14) + lines("np", "queue", "goto 14", "seek 5")
    + advance(20) + lines("vol 10", "queue 1"),
    "np-follow": bytes([PLAYER]) + lines("np follow") + advance(14) + advance(20)
    + chunk("x") + lines("np follow", "np") + HANG_UP_OR_CONNECT + lines("np follow"),
    "find-everywhere": bytes([PLAYER]) + lines(
        "find song", "find *.MP3", "find ?", "find ..", "find Loop", "find ../secret",
        "find *", "cd Rock", "find best", "find b*", "cd Best", "find *", "find"),
    "sleep-timer": bytes([PLAYER]) + lines("sleep", "sleep 1", "sleep 721", "sleep off",
                                           "sleep 1") + HANG_UP_OR_CONNECT + RESTART
    + advance(200) + HANG_UP_OR_CONNECT + lines("sleep", "sleep 720"),
}


def password_form(password):
    key = b"q7mr2k9tdw3vjn6p"
    body = "".join("%02X" % (b ^ key[i % 16]) for i, b in enumerate(password))
    return "%02d" % len(body) + body


settings = {
    "as-written": "[Zelvor]\r\nPort=23\r\nServer Root=/home/u/Music\r\nWinamp Location=mpd\r\n"
    "LogLevel1=False\r\nLogLevel2=False\r\nLogin=False\r\nServer Logfile=/home/u/zelvor.log\r\n"
    "User=user\r\nPassword=00\r\n",
    "all-on": "[Zelvor]\r\nPort=2323\r\nLogLevel1=True\r\nLogLevel2=true\r\nLogin=1\r\n"
    "User=bob\r\nPassword=" + password_form(b"secret\x00\xff" * 9) + "\r\n",
    "hand-edited": "; my settings\n[zelvor]\n  port = 2323  \nLOGIN=0.0\n\n[Other]\nPort=1\n"
    "[Zelvor]\nUser=second section\n",
    "damaged-password": "[Zelvor]\r\nPassword=99ABCDEFG1z\r\nLogLevel1=maybe\r\n",
    "stray-carriage-returns": "[Zelvor]\rPort=1\r2\n[Zelvor]\r\nServer Root=/a\r/b\r\r\n",
    "value-then-text": "new value\t \n[Zelvor]\r\nPort=23\r\nUser=x\r\n",
    "long-password": b"\xff\x13\x88long password ",
    "no-section": "Port=23\nUser=bob\n",
}


def write(target, seeds):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        data = data.encode("latin-1") if isinstance(data, str) else data
        (folder / name).write_bytes(data)
        print(target, name, len(data), hashlib.sha1(data).hexdigest()[:8])


write("session", session)
write("settings", settings)
