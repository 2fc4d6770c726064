// SPDX-License-Identifier: MIT
#include "commands/CommandDispatcher.h"

#include "server/Connection.h"
#include "server/TelnetSession.h"

#include <string>

namespace zelvor {

std::int16_t ProcessCommand(CommandContext& context)
{
    std::string& line = context.session.CommandLine;
    const auto blank = line.find(' ');
    std::string argument;
    if (blank != std::string::npos) {
        argument = line.substr(blank);
        line.resize(blank);
    }
    const std::string& verb = line;
    context.host.LogActivity(verb);

    if (verb == "exit") {
        context.host.Winsock1_Close();
        return kPromptClosed;
    }
    context.connection.send("\r\nI don't know how to " + verb);
    return kPromptCommand;
}

} // namespace zelvor
