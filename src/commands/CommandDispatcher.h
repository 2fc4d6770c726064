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

/** Prompt selectors that ProcessCommand returns. */
inline constexpr std::int16_t kPromptAfterFailure = -1;
inline constexpr std::int16_t kPromptCommand = 0;
inline constexpr std::int16_t kPromptClosed = 3;

/**
 * Carries out the line in session.CommandLine (which it overwrites with the verb); writes the
 * reply (CR LF first) and returns the prompt selector: -1 after the failure line, 0, or 3 when
 * "exit" has closed the connection.
 */
std::int16_t ProcessCommand(CommandContext& context);

} // namespace zelvor
