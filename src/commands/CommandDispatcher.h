// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string_view>

namespace zelvor {

class Connection;
class MusicFolders;
class Player;
struct ServerSettings;
struct TelnetSession;

/** What the command interpreter needs from the server that owns the connection. */
class CommandHost
{
public:
    virtual ~CommandHost() = default;
    /** Shows the status word and logs it by level. */
    virtual void LogActivity(std::string_view word) = 0;
    /** Closes the client connection and opens the listener again. */
    virtual void Winsock1_Close() = 0;
};

/** Everything one command line works on; built by the server for each line. */
struct CommandContext
{
    TelnetSession& session;
    const ServerSettings& settings;
    Connection& connection;
    Player& player;
    MusicFolders& folders;
    CommandHost& host;
};

/** What ProcessCommand asks the session to prompt with next. */
enum class PromptSelector : std::int16_t
{
    /** A player command found no player; the failure line has been sent. */
    PlayerMissing = -1,
    /** The command prompt follows. */
    Command = 0,
    /** "exit" has closed the connection: no prompt. */
    Closed = 3,
};

/**
 * Carries out the line in session.CommandLine (which it overwrites with the verb); writes the
 * reply (CR LF first) and returns the prompt selector.
 */
PromptSelector ProcessCommand(CommandContext& context);

} // namespace zelvor
