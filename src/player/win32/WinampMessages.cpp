// SPDX-License-Identifier: MIT
#include "player/win32/WinampMessages.h"

#include <algorithm>

namespace zelvor {

namespace {

// A negative 32-bit value reaches the window as the same value widened with its sign, the way
// the Windows headers widen an int into WPARAM and LPARAM.
std::uintptr_t widenUnsigned(std::int32_t value)
{
    return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(value));
}

} // namespace

WindowMessage commandMessage(std::int32_t id)
{
    return {kWmCommand, widenUnsigned(id), 0};
}

WindowMessage queryMessage(std::int32_t data, std::int16_t id)
{
    return {kWmUser, widenUnsigned(data), static_cast<std::intptr_t>(id)};
}

WindowMessage playFileMessage()
{
    return {kWmCopyData, 0, 0};
}

PlayFileBlock playFileBlock(const std::string& path)
{
    PlayFileBlock block;
    block.dwData = kCopyDataPlayFile;
    block.bytes = path;
    block.bytes.push_back('\0');
    block.cbData = static_cast<std::uint32_t>(block.bytes.size());
    return block;
}

PlayState playStateOf(std::int32_t answer)
{
    switch (answer) {
    case 0:
        return PlayState::Stopped;
    case 1:
        return PlayState::Playing;
    case 3:
        return PlayState::Paused;
    default:
        return PlayState::Unknown;
    }
}

std::int32_t toPlayerVolume(int percent)
{
    return (std::clamp(percent, 0, 100) * 255 + 50) / 100;
}

int fromPlayerVolume(std::int32_t value)
{
    return (std::clamp(value, 0, 255) * 100 + 127) / 255;
}

} // namespace zelvor
