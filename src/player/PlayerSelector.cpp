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

void PlayerSelector::play(PlayerDone done)
{
    chosen().play(std::move(done));
}

void PlayerSelector::stop(PlayerDone done)
{
    chosen().stop(std::move(done));
}

void PlayerSelector::pause(PlayerDone done)
{
    chosen().pause(std::move(done));
}

void PlayerSelector::next(PlayerDone done)
{
    chosen().next(std::move(done));
}

void PlayerSelector::previous(PlayerDone done)
{
    chosen().previous(std::move(done));
}

void PlayerSelector::stepVolume(int steps, PlayerDone done)
{
    chosen().stepVolume(steps, std::move(done));
}

void PlayerSelector::toggleShuffle(PlayerDone done)
{
    chosen().toggleShuffle(std::move(done));
}

void PlayerSelector::toggleRepeat(PlayerDone done)
{
    chosen().toggleRepeat(std::move(done));
}

void PlayerSelector::clear(PlayerDone done)
{
    chosen().clear(std::move(done));
}

void PlayerSelector::add(const std::string& hostPath, PlayerDone done)
{
    chosen().add(hostPath, std::move(done));
}

void PlayerSelector::open(const std::string& location, PlayerDone done)
{
    chosen().open(location, std::move(done));
}

void PlayerSelector::close(PlayerDone done)
{
    chosen().close(std::move(done));
}

void PlayerSelector::status(PlayerDone done)
{
    chosen().status(std::move(done));
}

void PlayerSelector::queue(std::uint32_t first, std::uint32_t count, PlayerDone done)
{
    chosen().queue(first, count, std::move(done));
}

void PlayerSelector::jumpTo(std::uint32_t position, PlayerDone done)
{
    chosen().jumpTo(position, std::move(done));
}

void PlayerSelector::setVolume(int percent, PlayerDone done)
{
    chosen().setVolume(percent, std::move(done));
}

void PlayerSelector::seekTo(std::uint32_t milliseconds, PlayerDone done)
{
    chosen().seekTo(milliseconds, std::move(done));
}

void PlayerSelector::seekBy(std::int64_t offset, std::uint32_t to, PlayerDone done)
{
    chosen().seekBy(offset, to, std::move(done));
}

std::unique_ptr<PlayerWatch> PlayerSelector::watchChanges(std::function<void()> changed)
{
    return chosen().watchChanges(std::move(changed));
}

void PlayerSelector::stopForSleep(PlayerDone done)
{
    chosen().stopForSleep(std::move(done));
}

} // namespace zelvor
