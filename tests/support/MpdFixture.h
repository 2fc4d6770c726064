// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace zelvor::test {

/** Writes a WAV file of silence (16-bit, mono 8 kHz unless told), creating its folders. */
void writeWav(const std::filesystem::path& file, unsigned milliseconds, unsigned rate = 8000,
              unsigned channels = 1);

/**
 * Songs like real ones: "one.wav" and "two.wav", 70 s each of 44.1 kHz stereo, more than MPD's
 * buffer holds, so MPD decodes them as it plays. Written once into a folder that every test of
 * this build shares.
 */
std::filesystem::path realLengthSongs();

/** Sends one protocol line to the MPD on that local socket; the whole answer, or "" when MPD
 * did not answer. */
std::string mpdCommand(const std::filesystem::path& socket, const std::string& line);

/**
 * A real MPD for one test process, in a fresh temp folder of its own: its mpd.conf, a music
 * folder with a few short WAV files written here, its database, log and pid file, a unix
 * socket, and a free loopback TCP port. Output goes to a "null" output with a software mixer,
 * so no sound device is touched and volume changes work.
 *
 * Music folder: top.wav, album/{01 first,02 second,10 tenth}.wav, album/cover.txt,
 * album/disc2/a.wav, other/b.wav.
 */
class MpdFixture
{
public:
    /** Writes the folder; start() runs MPD. */
    MpdFixture();
    /** Stops MPD, also one started from commandLine() by the code under test. */
    ~MpdFixture();
    MpdFixture(const MpdFixture&) = delete;
    MpdFixture& operator=(const MpdFixture&) = delete;

    /** Starts MPD and waits until it answers; the first start also fills its database.
     * False (and the reason in error()) when it did not come up within ten seconds. */
    bool start();
    /** Ends MPD: SIGCONT and SIGTERM, SIGKILL after five seconds; waits until it is gone. */
    void stop();
    /** Ends the MPD that the pid file names, when it runs on this fixture's config. */
    void stopLaunched();
    /** Rescans the music folder and waits until the database is up to date. */
    bool update(std::chrono::seconds timeout = std::chrono::seconds(10));
    /** Puts realLengthSongs() into the music folder as long/one.wav and long/two.wav and
     * updates the database. */
    bool addRealLengthSongs();
    /** MPD's log so far. */
    std::string logText() const;

    pid_t pid() const { return m_pid; }
    const std::string& error() const { return m_error; }
    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path musicDir() const { return m_folder / "music"; }
    std::filesystem::path configPath() const { return m_folder / "mpd.conf"; }
    std::filesystem::path socketPath() const { return m_folder / "socket"; }
    std::string host() const { return "127.0.0.1"; }
    unsigned port() const { return m_port; }
    /** The command line that starts this MPD in the foreground: "mpd --no-daemon <conf>". */
    std::string commandLine() const;

    /** Points libmpdclient's MPD_HOST at the unix socket (MPD_PORT unset). */
    void useSocket() const;
    /** Points MPD_HOST and MPD_PORT at the loopback TCP port. */
    void useTcp() const;

    /** Sends one protocol line on a fresh socket connection; the whole answer, including the
     * closing "OK" or "ACK ..." line, or "" when MPD did not answer. */
    std::string command(const std::string& line) const;
    /** The fields of MPD's "status" answer. */
    std::map<std::string, std::string> status() const;
    /** The file URIs of MPD's queue, in queue order. */
    std::vector<std::string> queue() const;
    /** The protocol version from MPD's greeting, e.g. "0.23.5"; "" when it does not answer. */
    std::string protocolVersion() const;
    /** True when MPD answers on the unix socket. */
    bool answering() const;

    /** The output's mixer, read by start(): "none" gives an MPD without volume control. */
    std::string mixerType = "software";
    /** Read by start(): MPD logs at its verbose level, every command and every output opened
     * or closed. */
    bool verboseLog = false;

    /** Polls the condition until it holds or the time is up; true when it held. */
    static bool waitFor(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    /** True when the process has ended (gone, or a zombie nobody reaped yet). */
    static bool processGone(pid_t pid);

private:
    void writeMusic() const;
    void writeConfig() const;
    bool spawn();
    pid_t launchedPid() const;

    std::filesystem::path m_folder;
    unsigned m_port = 0;
    pid_t m_pid = -1;
    bool m_updated = false;
    std::string m_error;
};

} // namespace zelvor::test
