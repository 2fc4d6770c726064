// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace zelvor {

/**
 * Where the local socket is: in DIR with --config-dir DIR, else in runtimeDir
 * ($XDG_RUNTIME_DIR) when that is set, else in the settings folder.
 */
std::string localSocketPath(bool configDirGiven, const char* runtimeDir,
                            const std::string& settingsFolder);

/** One command line's answer as zelvor -c prints it. */
struct PrintedReply
{
    /** The reply with LF line ends and a closing LF; empty for an empty reply. */
    std::string text;
    /** The line got the failure line or "I don't know how to ...". */
    bool failed = false;
};

/**
 * What the server sent for a line: its echo of the line, the reply (CR LF first) and the
 * prompt, which may be missing after "exit".
 */
PrintedReply printedReply(std::string_view received, std::string_view line);

/** True when received ends with the command prompt. */
bool endsWithPrompt(std::string_view received);

} // namespace zelvor
