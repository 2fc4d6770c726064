// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

struct ServerSettings;

/** What the command line asks for. */
struct CommandLineOptions
{
    enum class Action
    {
        Run,
        Help,
        Version,
        /** -c: run the command lines on the local socket; no server starts. */
        Command,
        /** --attach: relay a session of the local socket; no server starts. */
        Attach,
        Fail,
    };

    Action action = Action::Run;
    /** --port: the port as plain decimal text. */
    std::optional<std::string> port;
    /** --root: an existing folder, as an absolute path. */
    std::optional<std::string> serverRoot;
    /** --player: the player command line. */
    std::optional<std::string> player;
    /** --listen: the local address to listen on, as listenAddress returns it. */
    std::optional<std::string> listenAddress;
    /** --no-negotiate: no option offer in front of the greeting. */
    bool noNegotiate = false;
    /** --config-dir: the settings folder, as an absolute path. */
    std::optional<std::string> configDir;
    /** -c: the command lines, in order. */
    std::vector<std::string> commands;
    /** With Fail: one line that says what is wrong, without a line end. */
    std::string error;
};

/**
 * Reads the arguments after the program name: --port N, --root DIR, --player CMD,
 * --listen ADDRESS, --config-dir DIR (each also as --name=value), --no-negotiate, --help,
 * --version, and for the client of the local socket -c LINE (repeatable) or --attach. Relative
 * folders are taken from currentFolder. Anything else, a missing or empty value, a port outside
 * 1 to 65535, an address that is no IPv4 or IPv6 address, a root that is no folder, a -c line
 * with a line break, or -c with --attach gives Fail. Looks at the file system but changes
 * nothing.
 */
CommandLineOptions parseCommandLine(const std::vector<std::string>& arguments,
                                    const std::filesystem::path& currentFolder);

/** Puts the port, root, player, listen address and negotiation that the command line gave into
 * the settings. */
void applyCommandLine(const CommandLineOptions& options, ServerSettings& settings);

/** The text of --help. */
std::string usageText();

/**
 * The line that tells how to get a port that was not permitted, for the listener's error text;
 * "" for any other error. program is the path of the running program.
 */
std::string listenHint(std::string_view error, std::string_view program);

} // namespace zelvor
