#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Real players from Debian's packages, each in a sandbox of its own (player_harness): zelvor
drives the player over telnet, and the player's own tools (playerctl, audtool, cmus-remote, mpc)
confirm from outside what each verb changed.

usage: real_players_test.py PLAYER ZELVOR, with PLAYER one of vlc, audacious, cmus, strawberry,
mopidy.
"""
import os
import re
import sys

import pexpect

from player_harness import FAILURE, Sandbox, check, tone, wait_until


def url_of(box, player):
    return box.run("playerctl", "--player=" + player, "metadata", "xesam:url") or ""


def volume(box, player):
    """The player's volume in percent, read from outside."""
    text = box.run("playerctl", "--player=" + player, "volume")
    return round(float(text) * 100) if text else None


def vlc(zelvor):
    with Sandbox("vlc", ordinary_user=True) as box:
        tone(os.path.join(box.music, "one.ogg"), hertz=440)
        tone(os.path.join(box.music, "two.ogg"), hertz=550)
        # cvlc, reached through a folder with a blank in its name: the start tries "…/my" first.
        folder = box.mkdir("my player")
        os.symlink("/usr/bin/cvlc", os.path.join(folder, "cvlc"))
        client = box.start_zelvor(zelvor, "%s/cvlc --control dbus -A pulse %s/one.ogg %s/two.ogg"
                                  % (folder, box.music, box.music))
        reply = client.run("open")
        check(FAILURE not in reply, "open of cvlc, which registers as vlc", reply)
        check(box.copies("vlc") == 1, "one VLC on the bus", box.players())
        wait_until(lambda: box.run("playerctl", "--player=vlc", "status") == "Playing",
                   "VLC playing what it was started with")
        # The player is there: a second open starts no second copy.
        reply = client.run("open")
        check(FAILURE not in reply, "second open", reply)
        check(box.copies("vlc") == 1, "still one VLC after the second open", box.players())

        # Untagged files: the title is the file's name from xesam:url.
        reply = client.run("np")
        check(re.search(r"Playing: 1/2 one\.ogg \(0:\d\d/3:20\)", reply), "np", reply)
        # VLC says HasTrackList false, yet publishes its Tracks.
        reply = client.run("queue")
        check(re.search(r"^\r\n>1 one\.ogg\r\n 2 two\.ogg\r\n\(1-2 of 2\)$", reply), "queue",
              reply)
        client.run("next")
        wait_until(lambda: url_of(box, "vlc").endswith("/two.ogg"), "next")
        client.run("prev")
        wait_until(lambda: url_of(box, "vlc").endswith("/one.ogg"), "prev")
        client.run("goto 2")
        wait_until(lambda: url_of(box, "vlc").endswith("/two.ogg"), "goto 2")
        # HasTrackList false: the file goes through OpenUri and plays.
        check(client.run("load one.ogg") == "", "load", "")
        wait_until(lambda: re.search(r"Playing: 3/3 one\.ogg", client.run("np")), "np after load")

        # VLC applies a volume a moment after it answered: the reply waits for it.
        reply = client.run("vol 70")
        check(reply == "\r\nVolume: 70%", "vol 70", reply)
        wait_until(lambda: volume(box, "vlc") == 70, "vol 70 from outside")
        client.run("volup 9")
        wait_until(lambda: volume(box, "vlc") == 80, "volup 9 from 70")
        client.run("voldn 4")
        wait_until(lambda: volume(box, "vlc") == 75, "voldn 4 from 80")

        client.run("close")
        wait_until(lambda: "vlc" not in box.players(), "VLC gone after close")
        check(FAILURE in client.run("play"), "play after close", "")
        check(FAILURE in client.run("load one.ogg"), "load without a player", "")

        # A name that is not VLC's: open waits in vain, and the next open starts no second copy.
        os.symlink("/usr/bin/cvlc", os.path.join(folder, "myvlc"))
        box.stop_zelvor()
        client = box.start_zelvor(zelvor, '"%s/myvlc" --control dbus -A pulse' % folder)
        check(FAILURE in client.run("open"), "open of a player that never appears", "")
        check(FAILURE in client.run("open"), "open again", "")
        check(box.copies("vlc") == 1, "one VLC after two opens", box.players())
    return 9


def audacious(zelvor):
    with Sandbox("audacious") as box:
        tone(os.path.join(box.music, "one.ogg"), title="First")
        tone(os.path.join(box.music, "two.ogg"), title="Second")
        client = box.start_zelvor(zelvor, "audacious --headless %s/one.ogg %s/two.ogg"
                                  % (box.music, box.music))
        reply = client.run("open")
        check(FAILURE not in reply, "open", reply)
        audtool = lambda *args: box.run("audtool", *args)
        wait_until(lambda: audtool("playback-status") == "playing", "Audacious playing")
        reply = client.run("np")
        check(re.search(r"Playing: First \(0:\d\d/3:20\)", reply), "np", reply)
        client.run("next")
        wait_until(lambda: audtool("playlist-position") == "2", "next")
        # Audacious seeks a moment after it answered: the reply waits for its Seeked.
        reply = client.run("seek 1:00")
        check(re.search(r"Playing: Second \(1:0\d/3:20\)", reply), "seek 1:00", reply)
        wait_until(lambda: 60 <= int(audtool("current-song-output-length-seconds") or 0) < 70,
                   "seek 1:00 from outside")
        reply = client.run("seek 2:00")
        check(re.search(r"Playing: Second \(2:0\d/3:20\)", reply), "seek 2:00", reply)
        # Audacious's Position may lag behind the seek for a while: a relative seek goes as its
        # own Seek, which counts from where Audacious really is.
        wait_until(lambda: int(audtool("current-song-output-length-seconds") or 0) >= 120,
                   "seek 2:00 from outside")
        reply = client.run("seek +10")
        check(re.search(r"Playing: Second \(2:1\d/3:20\)", reply), "seek +10", reply)
        wait_until(lambda: 130 <= int(audtool("current-song-output-length-seconds") or 0) < 140,
                   "seek 2:00, then +10, from outside")
        # No OpenUri: files go through Audacious's own interface, appended to its playlist.
        reply = client.run("load one.ogg")
        check(reply == "" and audtool("playlist-length") == "3", "load of a file",
              (reply, audtool("playlist-length")))
        client.run("load")
        check(audtool("playlist-length") == "5", "load of a folder", audtool("playlist-length"))
        check(audtool("playlist-position") == "2", "what plays stays", audtool("playlist-position"))
        client.run("close")
        wait_until(lambda: "audacious" not in box.players(), "Audacious gone after close")
    return 5


def cmus(zelvor):
    with Sandbox("cmus") as box:
        tone(os.path.join(box.music, "one.ogg"), title="First")
        tone(os.path.join(box.music, "two.ogg"))
        # cmus-remote makes cmus's settings folders as cmus does on its first start; when the
        # two make them at once, cmus finds its folder already there and stops ("creating
        # directory ...: File exists"). A user's cmus has them from its first run.
        box.mkdir(".config", "cmus", "playlists")
        # cmus wants a terminal; zelvor finds it on the bus.
        terminal = pexpect.spawn("cmus", env=box.env, cwd=box.home, dimensions=(24, 80))
        drawn = bytearray()
        try:
            def remote(*args):
                # What cmus draws is read away, so a full terminal never holds it up.
                try:
                    while True:
                        drawn.extend(terminal.read_nonblocking(65536, timeout=0))
                        del drawn[:-2000]
                except (pexpect.TIMEOUT, pexpect.EOF):
                    pass
                if not terminal.isalive():
                    raise SystemExit("cmus ended (%s): %r" % (terminal.exitstatus,
                                                              bytes(drawn[-500:])))
                return box.run("cmus-remote", *args)
            socket = os.path.join(box.env["XDG_RUNTIME_DIR"], "cmus-socket")
            wait_until(lambda: os.path.exists(socket) or remote("-Q"), "cmus's socket",
                       timeout=30)
            wait_until(lambda: remote("-Q"), "cmus answering")
            wait_until(lambda: "cmus" in box.players(), "cmus on the bus")
            remote("-C", "set output_plugin=pulse")
            remote("-C", "player-play %s/one.ogg" % box.music)
            field = lambda name: next((line[len(name) + 1:] for line in remote("-Q").splitlines()
                                       if line.startswith(name + " ")), None)
            wait_until(lambda: field("status") == "playing", "cmus playing")
            client = box.start_zelvor(zelvor, "cmus")
            reply = client.run("np")
            check(re.search(r"Playing: First \(0:\d\d/3:20\)", reply), "np", reply)
            client.run("seek 1:00")
            wait_until(lambda: 60 <= int(field("position") or 0) < 70, "seek 1:00 from outside")
            reply = client.run("seek +10")
            check(re.search(r"Playing: First \(1:1\d/3:20\)", reply), "seek +10", reply)
            wait_until(lambda: 70 <= int(field("position") or 0) < 80, "seek +10 from outside")
            client.run("pause")
            wait_until(lambda: field("status") == "paused", "pause")
            # cmus takes a plain path and plays it at once. It tells neither the title of an
            # untagged file nor its address.
            client.run("load two.ogg")
            wait_until(lambda: field("file") == box.music + "/two.ogg", "load of a file")
            reply = client.run("load")
            check(reply == "\r\nLoad not available: cmus takes no folders over the bus",
                  "load of a folder", reply)
            reply = client.run("np")
            check(re.search(r"^\r\nPlaying: \(0:\d\d/3:20\)$", reply), "np untagged", reply)
            # CanQuit is false, and zelvor did not start it.
            reply = client.run("close")
            check(reply == "\r\nClose not available", "close", reply)
            check("cmus" in box.players(), "cmus still there", box.players())
        finally:
            terminal.terminate(force=True)
    return 4


def strawberry(zelvor):
    with Sandbox("strawberry") as box:
        tone(os.path.join(box.music, "one.ogg"), title="First")
        box.env["QT_QPA_PLATFORM"] = "offscreen"
        client = box.start_zelvor(zelvor, "strawberry")
        reply = client.run("open")
        check(FAILURE not in reply, "open", reply)
        # No editable track list: the file goes through OpenUri and plays.
        client.run("load one.ogg")
        player = lambda *args: box.run("playerctl", "--player=strawberry", *args)
        wait_until(lambda: player("status") == "Playing", "Strawberry playing what was loaded")
        check(player("metadata", "xesam:title") == "First", "title", player("metadata"))
        # Its Tracks is always empty: np, seek and goto answer as for a player without a queue.
        reply = client.run("np")
        check(re.search(r"^\r\nPlaying: First \(0:\d\d/3:20\)$", reply), "np", reply)
        client.run("seek 1:00")
        wait_until(lambda: 60 <= float(player("position") or 0) < 70, "seek 1:00 from outside")
        reply = client.run("goto 2")
        check("Queue not available: the player shows none" in reply, "goto", reply)
        client.run("pause")
        wait_until(lambda: player("status") == "Paused", "pause")
        client.run("close")
        wait_until(lambda: "strawberry" not in box.players(), "Strawberry gone after close")
    return 4


def mopidy(zelvor):
    with Sandbox("mopidy", sound=False) as box:
        album = box.mkdir("music", "Album")
        tone(os.path.join(album, "one.ogg"), title="First")
        tone(os.path.join(album, "two.ogg"), title="Second")
        # Held until Mopidy-MPD listens on it (it asks for SO_REUSEADDR, as zelvor does).
        port = box.hold_port()
        config = os.path.join(box.home, "mopidy.conf")
        with open(config, "w") as f:
            f.write("[core]\ncache_dir = {0}/cache\nconfig_dir = {0}/config\n"
                    "data_dir = {0}/data\n[audio]\noutput = fakesink sync=true\n"
                    "[file]\nmedia_dirs = {1}|Music\n[mpd]\nhostname = 127.0.0.1\nport = {2}\n"
                    "[http]\nenabled = false\n[stream]\nenabled = false\n"
                    "[m3u]\nenabled = false\n".format(box.home, box.music, port))
        box.env.update(MPD_HOST="127.0.0.1", MPD_PORT=str(port))
        client = box.start_zelvor(zelvor, "mopidy --config " + config)
        reply = client.run("open")
        check(FAILURE not in reply, "open", reply)
        mpc = lambda *args: box.run("mpc", *args)
        wait_until(lambda: mpc("status") is not None, "Mopidy answering", timeout=30)
        box.release_port(port)
        # The Mopidy that open started runs: a second open starts no second one.
        check(FAILURE not in client.run("open"), "second open", "")
        check(box.running("mopidy") == 1, "one Mopidy after two opens", box.running("mopidy"))
        client.run("load Album/one.ogg")
        check(mpc("playlist") == "First", "load of a file", mpc("playlist"))
        # Mopidy names its library "Files/Music/...": the folder goes file by file.
        client.run("clear")
        reply = client.run("load Album")
        check(mpc("playlist") == "First\nSecond", "load of a folder", (reply, mpc("playlist")))
        client.run("play")
        wait_until(lambda: "[playing]" in (mpc("status") or ""), "play")
        reply = client.run("np")
        check(re.search(r"Playing: 1/2 First \(0:\d\d", reply), "np", reply)
        # Mopidy starts the entry a moment after it answered: the reply waits for it.
        reply = client.run("goto 2")
        check(re.search(r"^\r\nPlaying: 2/2 Second \(0:0\d/3:20\)$", reply), "goto 2", reply)
        wait_until(lambda: (mpc("current") or "") == "Second", "goto 2 from outside")
        # Mopidy refuses "kill": its reason follows the failure line, and it plays on.
        reply = client.run("close")
        check(reply == "\r\n%s\r\nyou don't have permission for \"kill\"" % FAILURE, "close",
              reply)
        check("[playing]" in (mpc("status") or ""), "Mopidy plays on", mpc("status"))
    return 6


PLAYERS = {"vlc": vlc, "audacious": audacious, "cmus": cmus, "strawberry": strawberry,
           "mopidy": mopidy}


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in PLAYERS:
        raise SystemExit(__doc__)
    steps = PLAYERS[sys.argv[1]](sys.argv[2])
    print("%s: %d passed, 0 failed" % (sys.argv[1], steps))


if __name__ == "__main__":
    main()
