// SPDX-License-Identifier: MIT
#include "app/ProgramParts.h"

#include <utility>

namespace zelvor {

ProgramParts::ProgramParts(ProgramSurroundings surroundings, const std::string& musicFolder,
                           ActivityLog::Clock clock, Winsock& socket, Player& player,
                           Scheduler& scheduler)
    : settings(defaultSettings(surroundings.settingsFolder, musicFolder)),
      log(settings, std::move(clock)), server(settings, socket, log, player, folders, scheduler),
      lifecycle(surroundings, settings, server, socket)
{
    log.onWarning = [printLine = std::move(surroundings.printLine)](const std::string& warning) {
        printLine("zelvor: " + warning);
    };
}

} // namespace zelvor
