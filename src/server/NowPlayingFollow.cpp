// SPDX-License-Identifier: MIT
#include "server/NowPlayingFollow.h"

#include "commands/CommandSession.h"
#include "commands/PlayerReply.h"
#include "commands/PlayerVerbs.h"

#include <cstdint>

namespace zelvor {

namespace {

// The np line as it reads apart from the elapsed time.
std::string withoutTime(PlayerStatus status)
{
    status.elapsedMs = 0;
    return nowPlayingLine(status);
}

std::chrono::milliseconds steadyNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

NowPlayingFollow::NowPlayingFollow(Player& player, Scheduler& scheduler, Connection& client,
                                   Clock now)
    : m_player(player), m_scheduler(scheduler), m_client(client),
      m_now(now ? std::move(now) : Clock(steadyNow))
{}

NowPlayingFollow::~NowPlayingFollow()
{
    *m_alive = false;
    m_scheduler.cancel(m_gathering);
    m_scheduler.cancel(m_poll);
}

void NowPlayingFollow::start(const PlayerStatus& shown)
{
    m_shown = withoutTime(shown);
    m_last = shown;
    m_lastAt = m_now();
    m_watch = m_player.watchChanges([this] { changed(); });
    armPoll();
}

void NowPlayingFollow::changed()
{
    if (m_reading || m_gathering != 0) {
        m_dirty = true;
        return;
    }
    read();
}

void NowPlayingFollow::read()
{
    m_reading = true;
    m_dirty = false;
    m_player.status([this, alive = std::weak_ptr<bool>(m_alive)](const PlayerAnswer& answer) {
        if (!alive.expired())
            answered(answer);
    });
}

// Where time running on would have put the elapsed time since the last read.
bool NowPlayingFollow::differs(const PlayerStatus& now, std::chrono::milliseconds at) const
{
    if (withoutTime(now) != m_shown)
        return true;
    std::int64_t expected = m_last.elapsedMs;
    if (m_last.state == PlayState::Playing && now.state == PlayState::Playing)
        expected += (at - m_lastAt).count();
    const std::int64_t jump = std::int64_t{now.elapsedMs} - expected;
    return jump > kSeekTolerance.count() || -jump > kSeekTolerance.count();
}

void NowPlayingFollow::answered(const PlayerAnswer& answer)
{
    m_reading = false;
    if (!answer.done() || !answer.status) {
        if (!m_lost)
            m_client.send(kFailureLine);
        m_lost = true;
        armPoll();
        return;
    }
    const PlayerStatus& now = *answer.status;
    const auto at = m_now();
    const bool show = m_lost || differs(now, at);
    m_last = now;
    m_lastAt = at;
    m_lost = false;
    armPoll();
    if (show) {
        m_shown = withoutTime(now);
        m_client.send("\r\n" + nowPlayingLine(now));
        gather();
    } else if (m_dirty) {
        // A player that keeps telling of changes that change nothing is read at most once per
        // gathering time.
        gather();
    }
}

void NowPlayingFollow::gather()
{
    m_scheduler.cancel(m_gathering);
    m_gathering = m_scheduler.after(kGathering, [this] {
        m_gathering = 0;
        if (m_dirty && !m_reading)
            read();
    });
}

// Reads again a while after the last read, unless the player tells of its changes itself.
void NowPlayingFollow::armPoll()
{
    m_scheduler.cancel(m_poll);
    m_poll = 0;
    if (m_watch && !m_lost)
        return;
    m_poll = m_scheduler.after(kPollInterval, [this] {
        m_poll = 0;
        changed();
    });
}

} // namespace zelvor
