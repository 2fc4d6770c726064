// SPDX-License-Identifier: MIT
#include "commands/StatusReport.h"

#include "player/Player.h"

#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

namespace {

std::string_view playStateWord(PlayState state)
{
    switch (state) {
    case PlayState::Stopped:
        return "Stopped";
    case PlayState::Playing:
        return "Playing";
    case PlayState::Paused:
        return "Paused";
    case PlayState::Unknown:
        break;
    }
    return "Unknown";
}

std::string_view onOff(std::optional<bool> setting)
{
    if (!setting)
        return "not available";
    return *setting ? "On" : "Off";
}

} // namespace

void SendStatus(Player& player, LineDone done)
{
    player.status([done = std::move(done)](PlayerAnswer answer) {
        std::string report = "\r\n**Winamp Current Status**";
        if (!answer.done() || !answer.status) {
            report += "\r\nWinamp is not running";
        } else {
            const PlayerStatus& now = *answer.status;
            report += "\r\nWinamp Version:" + std::to_string(now.version);
            report += "\r\nWinamp is ";
            report += playStateWord(now.state);
            report += "\r\nShuffle is ";
            report += onOff(now.shuffle);
            report += "\r\nRepeat is:";
            report += onOff(now.repeat);
        }
        report += "\r\n*************************";
        done(replied(std::move(report)));
    });
}

} // namespace zelvor
