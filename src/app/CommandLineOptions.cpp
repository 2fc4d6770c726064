// SPDX-License-Identifier: MIT
#include "app/CommandLineOptions.h"

#include "settings/ListenAddress.h"
#include "settings/ServerSettings.h"

namespace zelvor {
namespace {

namespace fs = std::filesystem;
using Action = CommandLineOptions::Action;

CommandLineOptions failure(const std::string& what)
{
    CommandLineOptions options;
    options.action = Action::Fail;
    options.error = "zelvor: " + what + " (see zelvor --help)";
    return options;
}

std::optional<std::string> portText(const std::string& value)
{
    const std::uint16_t port = parsePort(value);
    return port == 0 ? std::nullopt : std::optional(std::to_string(port));
}

std::string absoluteFolder(const std::string& value, const fs::path& currentFolder)
{
    fs::path path(value);
    if (path.is_relative())
        path = currentFolder / path;
    path = path.lexically_normal();
    // "/music/" and "/music" name one folder; keep the form without the closing slash.
    if (path.has_relative_path() && !path.has_filename())
        path = path.parent_path();
    return path.string();
}

/** Sets the option's field from its value; the error text when the value does not fit. */
std::optional<std::string> take(CommandLineOptions& options, const std::string& name,
                                const std::string& value, const fs::path& currentFolder)
{
    std::error_code error;
    if (name == "--port") {
        options.port = portText(value);
        if (!options.port)
            return "--port wants a number from 1 to 65535, not \"" + value + "\"";
    } else if (name == "--root") {
        options.serverRoot = absoluteFolder(value, currentFolder);
        if (!fs::is_directory(*options.serverRoot, error))
            return "--root: no folder \"" + value + "\"";
    } else if (name == "--player") {
        options.player = value;
    } else if (name == "--listen") {
        options.listenAddress = listenAddress(value);
        if (!options.listenAddress)
            return "--listen wants an IPv4 or IPv6 address, not \"" + value + "\"";
    } else {
        options.configDir = absoluteFolder(value, currentFolder);
        if (fs::exists(*options.configDir, error) && !fs::is_directory(*options.configDir, error))
            return "--config-dir: \"" + value + "\" is not a folder";
    }
    return std::nullopt;
}

bool takesValue(const std::string& name)
{
    return name == "--port" || name == "--root" || name == "--player" || name == "--listen" ||
           name == "--config-dir";
}

} // namespace

CommandLineOptions parseCommandLine(const std::vector<std::string>& arguments,
                                    const fs::path& currentFolder)
{
    CommandLineOptions options;
    bool attach = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.action = Action::Help;
            continue;
        }
        if (argument == "--version") {
            options.action = options.action == Action::Help ? Action::Help : Action::Version;
            continue;
        }
        if (argument == "--no-negotiate") {
            options.noNegotiate = true;
            continue;
        }
        if (argument == "--attach") {
            attach = true;
            continue;
        }
        if (argument == "-c") {
            // The line is taken as it is, "=" and leading dashes included.
            if (i + 1 == arguments.size())
                return failure("-c needs a command line");
            const std::string& line = arguments[++i];
            if (line.find_first_of("\r\n") != std::string::npos)
                return failure("-c takes one line; give each line its own -c");
            options.commands.push_back(line);
            continue;
        }
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (!takesValue(name))
            return failure("unknown option \"" + argument + "\"");
        if (equals == std::string::npos && i + 1 == arguments.size())
            return failure(name + " needs a value");
        const std::string value =
            equals == std::string::npos ? arguments[++i] : argument.substr(equals + 1);
        if (value.empty())
            return failure(name + " needs a value");
        if (const auto error = take(options, name, value, currentFolder))
            return failure(*error);
    }
    if (attach && !options.commands.empty())
        return failure("-c and --attach exclude each other");
    if (options.action == Action::Run && attach)
        options.action = Action::Attach;
    else if (options.action == Action::Run && !options.commands.empty())
        options.action = Action::Command;
    return options;
}

void applyCommandLine(const CommandLineOptions& options, ServerSettings& settings)
{
    if (options.port)
        settings.Port = *options.port;
    if (options.serverRoot)
        settings.ServerRoot = *options.serverRoot;
    if (options.player)
        settings.WinampLocation = *options.player;
    if (options.listenAddress)
        settings.ListenAddress = *options.listenAddress;
    if (options.noNegotiate)
        settings.Negotiate = false;
}

std::string usageText()
{
    return "Usage: zelvor [--port N] [--root DIR] [--player CMD] [--listen ADDRESS]\n"
           "              [--no-negotiate] [--config-dir DIR]\n"
           "       zelvor [--config-dir DIR] -c LINE [-c LINE]...\n"
           "       zelvor [--config-dir DIR] --attach\n"
           "       zelvor --help | --version\n"
           "\n"
           "Lets one telnet client at a time control the music player. With a desktop it lives in\n"
           "the notification area; without one it runs headless and prints every status word "
           "here.\n"
           "\n"
           "  --port N          listen on TCP port N (1 to 65535)\n"
           "  --root DIR        the music folder that clients browse and load from\n"
           "  --player CMD      the player: mpd (the default), mpris (the MPRIS player on the\n"
           "                    session bus), mpris:NAME, or a program that \"open\" starts\n"
           "  --listen ADDRESS  listen on this local IPv4 or IPv6 address only (127.0.0.1 for\n"
           "                    an ssh tunnel); default: every interface\n"
           "  --no-negotiate    send no telnet option offer in front of the greeting\n"
           "  --config-dir DIR  keep zelvor.ini, the log, the MPD files and zelvor.sock in DIR\n"
           "  -c LINE           run LINE on the running Zelvor and print its reply (no greeting,\n"
           "                    no prompt); repeat -c for more lines, run in order\n"
           "  --attach          a session with the running Zelvor: on a terminal, raw and both\n"
           "                    ways until exit; otherwise one command line per input line.\n"
           "                    With SSH_ORIGINAL_COMMAND set, that one line, as -c runs it\n"
           "  --help            show this text\n"
           "  --version         show the version\n"
           "--port, --root and --player apply for this run and are saved at shutdown, as if\n"
           "typed into the settings window. --listen and --no-negotiate apply for this run\n"
           "only; zelvor.ini sets them for good (\"Listen Address\", \"Negotiate=False\").\n"
           "\n"
           "Settings: $XDG_CONFIG_HOME/zelvor/zelvor.ini (default ~/.config/zelvor/zelvor.ini).\n"
           "\n"
           "The local socket: zelvor.sock (mode 0600) in $XDG_RUNTIME_DIR, or in the settings\n"
           "folder when that is unset; with --config-dir in DIR. Only your own user gets in, with\n"
           "no login. -c and --attach are its clients and start no server.\n"
           "Exit status of -c and --attach: 0; 1 when a line failed (the failure line or\n"
           "\"I don't know how to ...\"); 2 for a bad option; 3 when no Zelvor answers.\n"
           "\n"
           "Signals:\n"
           "  SIGTERM, SIGINT   save the settings and exit\n"
           "  SIGHUP            restart the listener (drops a connected client)\n"
           "\n"
           "Environment:\n"
           "  MPD_HOST, MPD_PORT  where MPD is; unset: Zelvor's own MPD, then MPD's defaults\n"
           "  XDG_CONFIG_HOME     the folder that holds zelvor/ (default ~/.config)\n"
           "  XDG_RUNTIME_DIR     the folder of zelvor.sock\n"
           "  SSH_ORIGINAL_COMMAND  with --attach, the one command line to run (a forced\n"
           "                      command of OpenSSH: ssh host np)\n"
           "  QT_QPA_PLATFORM     the Qt platform; set it to run with a desktop, unset and\n"
           "                      without a display Zelvor runs headless\n";
}

std::string listenHint(std::string_view error, std::string_view program)
{
    if (error.find(" not permitted") == std::string_view::npos)
        return {};
    return "zelvor: ports below 1024 need root: run Zelvor as root, or allow it with "
           "\"sudo setcap cap_net_bind_service=+ep " +
           std::string(program) + "\", or choose another port: zelvor --port 2323";
}

} // namespace zelvor
