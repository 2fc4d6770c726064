// SPDX-License-Identifier: MIT
#include "app/LocalReplies.h"

#include "commands/CommandDispatcher.h"
#include "commands/PlayerReply.h"
#include "server/ClientSession.h"
#include "settings/ServerSettings.h"

#include <algorithm>

namespace zelvor {

std::string localSocketPath(bool configDirGiven, const char* runtimeDir,
                            const std::string& settingsFolder)
{
    const std::string folder =
        !configDirGiven && runtimeDir && *runtimeDir ? std::string(runtimeDir) : settingsFolder;
    return folder + "/zelvor.sock";
}

bool endsWithPrompt(std::string_view received)
{
    return received.size() >= kCommandPrompt.size() &&
           received.substr(received.size() - kCommandPrompt.size()) == kCommandPrompt;
}

PrintedReply printedReply(std::string_view received, std::string_view line)
{
    // The echo holds what the line kept of what was typed.
    const std::string_view echo = line.substr(0, std::min(line.size(), kMaxLineLength));
    if (received.substr(0, echo.size()) == echo)
        received.remove_prefix(echo.size());
    if (endsWithPrompt(received))
        received.remove_suffix(kCommandPrompt.size());
    PrintedReply printed;
    printed.failed = received.find(kFailureLine) != std::string_view::npos ||
                     received.substr(0, kUnknownVerb.size()) == kUnknownVerb;
    if (received.substr(0, 2) == "\r\n")
        received.remove_prefix(2);
    if (received.empty())
        return printed;
    for (std::size_t i = 0; i < received.size(); ++i) {
        if (received[i] == '\r' && i + 1 < received.size() && received[i + 1] == '\n')
            continue;
        printed.text += received[i];
    }
    printed.text += '\n';
    return printed;
}

} // namespace zelvor
