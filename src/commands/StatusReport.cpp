// SPDX-License-Identifier: MIT
#include "commands/StatusReport.h"

#include "player/Player.h"
#include "commands/CommandSession.h"

#include <string>
#include <string_view>

namespace zelvor {

namespace {

std::string_view playStateWord(std::int32_t answer)
{
    switch (answer) {
    case 0:
        return "Stopped";
    case 1:
        return "Playing";
    case 3:
        return "Paused";
    default:
        return "Unknown";
    }
}

std::string_view onOff(std::int32_t answer)
{
    if (answer == kNotOffered)
        return "not available";
    return answer != 0 ? "On" : "Off";
}

} // namespace

void SendStatus(Player& player, Connection& connection)
{
    std::string report = "\r\n**Winamp Current Status**";
    const auto version = player.WinampQuery(0, kQueryVersion);
    if (version == -1) {
        report += "\r\nWinamp is not running";
    } else {
        // Only the version answer tells whether a player is there; should it go away before
        // the later questions, their -1 answers are shown as they come.
        report += "\r\nWinamp Version:" + std::to_string(version);
        report += "\r\nWinamp is ";
        report += playStateWord(player.WinampQuery(0, kQueryPlayState));
        report += "\r\nShuffle is ";
        report += onOff(player.WinampQuery(0, kQueryShuffle));
        report += "\r\nRepeat is:";
        report += onOff(player.WinampQuery(0, kQueryRepeat));
    }
    report += "\r\n*************************";
    connection.send(report);
}

} // namespace zelvor
