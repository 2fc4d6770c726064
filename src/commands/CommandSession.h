// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

class MusicFolders;
class Player;
struct PlayerStatus;
struct ServerSettings;
enum class PromptSelector : std::int16_t;

/**
 * The end of a command whose reply comes later: the reply (CR LF first, may be empty) and the
 * prompt selector, as the command would have written and returned them.
 */
using LateReply = std::function<void(std::string_view reply, PromptSelector selector)>;

/** Puts the client that typed the line in "np follow" from the status its reply shows. */
using FollowStart = std::function<void(const PlayerStatus& shown)>;

/** The client connection as the command interpreter sees it: bytes out, one write per call. */
class Connection
{
public:
    virtual ~Connection() = default;
    virtual void send(std::string_view bytes) = 0;
};

/** The part of the client's session that the command interpreter reads and changes. */
struct CommandState
{
    /** The line typed since the last prompt; ProcessCommand overwrites it with the verb. */
    std::string CommandLine;
    /** The current folder below the server root: "\" or "\Rock\Live\". */
    std::string CurrentDir = "\\";
};

/** A command's argument without its first character, the blank that separates it. */
inline std::string_view nameOf(std::string_view argument)
{
    return argument.empty() ? argument : argument.substr(1);
}

/** What the command interpreter needs from the server that owns the connection. */
class CommandHost
{
public:
    virtual ~CommandHost() = default;
    /** Shows the status word and logs it by level. */
    virtual void LogActivity(std::string_view word) = 0;
    /**
     * Shows a failure as the status word and logs it; the prompt that ends the command line
     * leaves it standing instead of showing "connected".
     */
    virtual void LogProblem(std::string_view word) { LogActivity(word); }
    /** Closes the client connection and opens the listener again. */
    virtual void Winsock1_Close() = 0;

    // The server's sleep timer: it outlives the connection and stops playback when it runs out.
    /** The time left; nothing when the timer is off. */
    virtual std::optional<std::chrono::milliseconds> sleepTimeLeft() const = 0;
    /** Starts the timer afresh; a running one is replaced. */
    virtual void startSleepTimer(std::chrono::minutes duration) = 0;
    virtual void cancelSleepTimer() = 0;

    /**
     * Puts off the end of the running command, which then returns PromptSelector::Pending: no
     * prompt follows, and the client's further input waits until the returned function is
     * called, once. A call after the connection ended does nothing.
     */
    virtual LateReply deferReply() = 0;

    /**
     * For a line that ends with PromptSelector::Following: the returned function, called once
     * before the line's end, makes the session push the np line to its client each time it
     * changes, until the client's next keystroke. A call after that client is gone, or lost
     * the session, does nothing.
     */
    virtual FollowStart followNowPlaying()
    {
        return [](const PlayerStatus&) {};
    }
};

/** Everything one command line works on; built by the server for each line. */
struct CommandContext
{
    CommandState& session;
    const ServerSettings& settings;
    Connection& connection;
    Player& player;
    MusicFolders& folders;
    CommandHost& host;
};

} // namespace zelvor
