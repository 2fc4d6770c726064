// SPDX-License-Identifier: MIT
#pragma once

#include "app/ProgramLifecycle.h"
#include "commands/MusicFolders.h"
#include "server/ActivityLog.h"
#include "server/TelnetServer.h"
#include "settings/ServerSettings.h"

#include <string>

namespace zelvor {

/**
 * The objects both programs build around their own socket, player and timers, each made after
 * the ones it needs: the settings record (the first start's settings until start loads the
 * file), the log, the music folders, the session server and the start and shutdown steps. The
 * log's warnings go to the surroundings' error output.
 */
struct ProgramParts
{
    ProgramParts(ProgramSurroundings surroundings, const std::string& musicFolder,
                 ActivityLog::Clock clock, Winsock& socket, Player& player, Scheduler& scheduler);

    ServerSettings settings;
    ActivityLog log;
    HostFolders folders;
    TelnetServer server;
    ProgramLifecycle lifecycle;
};

} // namespace zelvor
