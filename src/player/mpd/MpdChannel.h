// SPDX-License-Identifier: MIT
#pragma once

#include "player/PlayerLoop.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

/** One "name: value" line of MPD's answer. */
struct MpdPair
{
    std::string name;
    std::string value;
};

/** MPD's refusal of a command: "ACK [code@at] {command} message". */
struct MpdRefusal
{
    /** MPD's reason (an mpd_server_error). */
    int code = 0;
    /** The refused command's place in its command list, 0 for a single command. */
    unsigned at = 0;
    std::string message;
};

/** MPD's answer to what one send() sent. */
struct MpdReply
{
    /** False when MPD was not reached, or the connection broke or timed out: no answer. */
    bool reached = false;
    /** The answer's lines in order; in a command list each command's end is the pair
     * "list_OK". */
    std::vector<MpdPair> pairs;
    /** Set when MPD refused a command; in a list, the commands after it were not run. */
    std::optional<MpdRefusal> refusal;
};

/** A command: its name, then its arguments (sent quoted). */
using MpdCommand = std::vector<std::string>;

/**
 * One connection to MPD, kept open for as long as MPD keeps it, spoken to without waiting:
 * the descriptor is watched by the event loop and every answer arrives from the loop. While
 * nothing is to be sent and no command line holds it, the connection waits in MPD's "idle",
 * which MPD never drops as silent; "noidle" goes out in front of the next command. A broken
 * connection is opened afresh by the next send. Connecting and every answer wait at most
 * kTimeout; a connection that does not answer in time is closed, and every answer it still
 * owed arrives as not reached.
 *
 * The places tried, in order: the socket that ownSocket names (when it names one), then where
 * libmpdclient looks (MPD_HOST and MPD_PORT, else its default socket, then localhost:6600).
 */
class MpdChannel
{
public:
    using Done = std::function<void(MpdReply)>;

    MpdChannel(PlayerLoop& loop, std::function<std::optional<std::string>()> ownSocket);
    ~MpdChannel();
    MpdChannel(const MpdChannel&) = delete;
    MpdChannel& operator=(const MpdChannel&) = delete;

    /** Sends the commands, several as one command list ("command_list_ok_begin"), and calls
     * done once with the answer, from the loop. */
    void send(std::vector<MpdCommand> commands, Done done);

    /**
     * Waits in "idle" for a change of the subsystem (MPD's "player", say), with no time limit,
     * and calls done when MPD tells of one or once wake() ended the wait (no "changed" lines).
     */
    void idle(const std::string& subsystem, Done done);
    /** Ends a wait of idle(): MPD answers it at once, within kTimeout. */
    void wake();

    /** While held (a command line runs), the connection does not go back to idle. */
    void hold(bool held);

    /** Ends the connection now; answers still owed arrive as not reached. */
    void close();

    bool isOpen() const { return m_fd >= 0; }
    /** The descriptor of the open connection, -1 when there is none. */
    int fd() const { return m_fd; }
    /** MPD's protocol version on the open connection. */
    std::array<unsigned, 3> version() const { return m_version; }
    /** How many connections were opened so far. */
    std::uint64_t connections() const { return m_connections; }

    static constexpr std::chrono::milliseconds kTimeout{2000};

    /** Called from the loop when the idle tells of a change of the player or the queue, and
     * when an open connection ends. */
    std::function<void()> onChange;

private:
    struct Owed
    {
        Done done;
        MpdReply reply;
        bool idle = false;
        /** An idle that wake() ended: its answer is due within kTimeout. */
        bool woken = false;
    };
    struct Place
    {
        std::string host;
        unsigned port = 0;
    };

    void connect();
    bool connectTo(const Place& place);
    /** Tries the places from that index on; false when none took the connection. */
    bool connectFrom(std::size_t index);
    void ready();
    void readSome();
    void writeSome();
    void line(std::string_view text);
    void welcome(std::string_view text);
    void finishFront();
    void fail();
    void idleIfQuiet();
    void arm();
    void restartTime();
    /** True while an answer is owed other than that of an idle nobody woke. */
    bool owesAnswer() const;
    void updateWatch();
    void queue(const std::string& text, Done done, bool idle);
    /** Runs the work from the loop, unless this object is gone by then. */
    void later(std::function<void()> work);
    /** Answers not reached, from the loop. */
    void unreachedLater(Done done);

    PlayerLoop& m_loop;
    std::function<std::optional<std::string>()> m_ownSocket;
    int m_fd = -1;
    PlayerLoop::Id m_watch = 0;
    PlayerLoop::Id m_timer = 0;
    /** When the answer waited for is due. */
    std::chrono::steady_clock::time_point m_deadline{};
    bool m_welcomed = false;
    bool m_held = false;
    /** An "idle" is the last thing sent and no "noidle" went after it yet. */
    bool m_idling = false;
    std::vector<Place> m_places;
    std::size_t m_place = 0;
    std::string m_password;
    std::string m_in;
    std::string m_out;
    std::deque<Owed> m_owed;
    std::array<unsigned, 3> m_version{};
    std::uint64_t m_connections = 0;
    /** Counts the connections ended, so that reading stops at the end of its own. */
    std::uint64_t m_generation = 0;
    /** Timers and watches check it, so one that runs after this object is gone does nothing. */
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

/** The answers of a command list, one part per command (split at "list_OK"). */
std::vector<std::vector<MpdPair>> answersOf(const MpdReply& reply);

/** The value of the first pair of that name; nothing when there is none. */
std::optional<std::string> valueOf(const std::vector<MpdPair>& pairs, std::string_view name);

} // namespace zelvor
