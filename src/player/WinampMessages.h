// SPDX-License-Identifier: MIT
#pragma once

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

} // namespace zelvor
