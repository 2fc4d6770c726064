// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandSession.h"
#include "commands/PlayerReply.h"
#include "player/Player.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

// The verbs beyond the status report: np, queue, goto, vol, seek and sleep. Each takes the
// argument as the dispatcher splits it (from the first blank on, blank included). The player
// verbs end the line through done with their reply in one piece, or the failure line when no
// player answered. Replies never contain the player's control bytes: titles show them as "?".

void nowPlaying(Player& player, std::string_view argument, LineDone done);
/** "np follow": the np line, then start is called and the line ends with Following. */
void followNowPlaying(Player& player, FollowStart start, LineDone done);
void showQueue(Player& player, std::string_view argument, LineDone done);
void gotoEntry(Player& player, std::string_view argument, LineDone done);
void changeVolume(Player& player, std::string_view argument, LineDone done);
void seekWithinSong(Player& player, std::string_view argument, LineDone done);
/** Needs no player: sends its reply in one send. */
void sleepTimer(CommandContext& context, std::string_view argument);

/** A time as m:ss below an hour, h:mm:ss from an hour on (whole seconds, rounded down). */
std::string formatPlayTime(std::uint32_t milliseconds);

/** The np line: "Playing: 2/5 Artist - Title (1:02/3:45)", "Stopped: 5 queued", ... */
std::string nowPlayingLine(const PlayerStatus& status);

/** A seek argument: absolute or relative (+/-), seconds or [h:]m:ss; nothing when malformed. */
struct SeekTarget
{
    int direction = 0; // -1 back, 0 absolute, +1 forward
    std::uint64_t milliseconds = 0;
};
std::optional<SeekTarget> parseSeekTarget(std::string_view text);

/** A volume argument: absolute 0..100 or a move (+n/-n); nothing when malformed. */
struct VolumeChange
{
    bool relative = false;
    int value = 0; // percent, or the move (clamped to -100..100)
};
std::optional<VolumeChange> parseVolumeChange(std::string_view text);

/** An entry number, 1 and up, as decimal digits only; nothing otherwise. */
std::optional<std::uint32_t> parseEntryNumber(std::string_view text);

/** The longest a sleep timer may run. */
inline constexpr std::chrono::minutes kMaxSleep{720};
/** How many entries one queue reply shows. */
inline constexpr std::uint32_t kQueuePage = 20;

} // namespace zelvor
