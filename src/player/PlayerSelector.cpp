// SPDX-License-Identifier: MIT
#include "player/PlayerSelector.h"

#include "player/mpris/MprisNames.h"

namespace zelvor {

Player& PlayerSelector::chosen()
{
    if (m_line != nullptr)
        return *m_line;
    const bool mpris =
        choosePlayer(m_location(), m_startable).backend == PlayerChoice::Backend::Mpris;
    return mpris ? m_mpris : m_mpd;
}

void PlayerSelector::beginCommandLine()
{
    m_line = nullptr;
    m_line = &chosen();
    m_line->beginCommandLine();
}

void PlayerSelector::endCommandLine()
{
    if (m_line != nullptr)
        m_line->endCommandLine();
    m_line = nullptr;
}

std::int32_t PlayerSelector::WinampCommand(std::int32_t id)
{
    return chosen().WinampCommand(id);
}

std::int32_t PlayerSelector::stopForSleep()
{
    return chosen().stopForSleep();
}

std::int32_t PlayerSelector::WinampQuery(std::int32_t data, std::int16_t id)
{
    return chosen().WinampQuery(data, id);
}

std::int32_t PlayerSelector::WinampPlayFile(const std::string& path)
{
    return chosen().WinampPlayFile(path);
}

std::int32_t PlayerSelector::LaunchWinamp(const std::string& path)
{
    m_launched = &chosen();
    return m_launched->LaunchWinamp(path);
}

void PlayerSelector::launchWinampThen(const std::string& path,
                                      std::function<void(std::int32_t)> done)
{
    m_launched = &chosen();
    m_launched->launchWinampThen(path, std::move(done));
}

std::string PlayerSelector::launchFailure() const
{
    return m_launched ? m_launched->launchFailure() : std::string();
}

std::optional<PlayerStatus> PlayerSelector::status()
{
    return chosen().status();
}

std::optional<QueuePage> PlayerSelector::queue(std::uint32_t first, std::uint32_t count)
{
    return chosen().queue(first, count);
}

std::optional<PlayerStatus> PlayerSelector::jumpTo(std::uint32_t position)
{
    return chosen().jumpTo(position);
}

std::optional<PlayerStatus> PlayerSelector::setVolume(int percent)
{
    return chosen().setVolume(percent);
}

std::optional<PlayerStatus> PlayerSelector::seekTo(std::uint32_t milliseconds)
{
    return chosen().seekTo(milliseconds);
}

} // namespace zelvor
