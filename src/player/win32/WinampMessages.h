// SPDX-License-Identifier: MIT
#pragma once

#include "player/Player.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvor {

/** Window class of the player's main window, the one the player operations look up. */
inline constexpr const char* kWinampWindowClass = "Winamp v1.x";

inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmUser = 0x0400;
inline constexpr std::uint32_t kWmCopyData = 0x004A;

/** One message for the player's window, with parameters as the pointer-wide Windows types. */
struct WindowMessage
{
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;

    bool operator==(const WindowMessage&) const = default;
};

/**
 * The play-file block: data kind, size of the data block, and the block itself (the path's bytes
 * and one zero byte). `bytes.size()` always equals `cbData`.
 */
struct PlayFileBlock
{
    std::uint32_t dwData = 0;
    std::uint32_t cbData = 0;
    std::string bytes;
};

/** WM_COMMAND with wParam = the command id (sign-extended) and lParam = 0. */
WindowMessage commandMessage(std::int32_t id);
/** WM_USER with wParam = the data value and lParam = the query id, both sign-extended. */
WindowMessage queryMessage(std::int32_t data, std::int16_t id);
/** WM_COPYDATA with no sender window; lParam must be set to the block's address when sent. */
WindowMessage playFileMessage();
/** The block for a path given as 8-bit bytes: kind 100, the bytes and a closing zero byte. */
PlayFileBlock playFileBlock(const std::string& path);

// Player command identifiers (WM_COMMAND).
inline constexpr std::int32_t kCmdClose = 40001;
inline constexpr std::int32_t kCmdToggleRepeat = 40022;
inline constexpr std::int32_t kCmdToggleShuffle = 40023;
inline constexpr std::int32_t kCmdPrevious = 40044;
inline constexpr std::int32_t kCmdPlay = 40045;
inline constexpr std::int32_t kCmdPause = 40046;
inline constexpr std::int32_t kCmdStop = 40047;
inline constexpr std::int32_t kCmdNext = 40048;
inline constexpr std::int32_t kCmdVolumeUp = 40058;
inline constexpr std::int32_t kCmdVolumeDown = 40059;

// Player query identifiers (WM_USER lParam), all sent with data 0.
inline constexpr std::int16_t kQueryVersion = 0;
inline constexpr std::int16_t kQueryClearPlaylist = 101;
/** 1 playing, 3 paused, 0 stopped (see playStateOf). */
inline constexpr std::int16_t kQueryPlayState = 104;
inline constexpr std::int16_t kQueryShuffle = 250;
inline constexpr std::int16_t kQueryRepeat = 251;

/** Data kind of the play-file block (WM_COPYDATA dwData). */
inline constexpr std::uint32_t kCopyDataPlayFile = 100;

// Queries of the typed operations (WM_USER lParam), with the data each takes.
/** Data 0: the elapsed time in ms; data 1: the current entry's length in s (-1 unknown). */
inline constexpr std::int16_t kQueryPlayTime = 105;
/** Data: a time in ms to move to within the current entry. */
inline constexpr std::int16_t kQueryJumpToTime = 106;
/** Data: the 0-based entry to make the current one. */
inline constexpr std::int16_t kQuerySetQueuePosition = 121;
/** Data: the volume 0 to 255 to set, or kReadVolume to read it. */
inline constexpr std::int16_t kQueryVolume = 122;
inline constexpr std::int16_t kQueryQueueLength = 124;
/** The current entry, 0-based. */
inline constexpr std::int16_t kQueryQueuePosition = 125;
/** Data: an entry's index; answers the address of its file name in the player's memory. */
inline constexpr std::int16_t kQueryEntryFile = 211;
/** Data: an entry's index; answers the address of its title in the player's memory. */
inline constexpr std::int16_t kQueryEntryTitle = 212;
inline constexpr std::int32_t kReadVolume = -666;
/** The most bytes read of a text in the player's memory. */
inline constexpr std::size_t kMaxPlayerText = 1024;

/** The play state the player answers to query 104. */
PlayState playStateOf(std::int32_t answer);

/** A volume in percent (clamped to 0..100) as the player's 0..255, rounded. */
std::int32_t toPlayerVolume(int percent);
/** The player's volume (clamped to 0..255) in percent, rounded. */
int fromPlayerVolume(std::int32_t value);

} // namespace zelvor
