// SPDX-License-Identifier: MIT
#pragma once

#include "player/Player.h"
#include "server/Scheduler.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace zelvor {

class Connection;

/**
 * "np follow" after its first line: each time what the np line shows changes (the play state,
 * the current entry, the queue's length, a jump of the elapsed time), CR LF and the new np line
 * go to the client; time running on sends nothing. The first change goes out at once; the
 * changes within kGathering after a line are gathered into one line showing the state after
 * them, and a line that would read as the one shown before is not sent. A player that stops
 * answering gets the failure line once, and its np line once it answers again. The player is
 * read when it tells of a change (Player::watchChanges), else once every kPollInterval, and
 * also once every kPollInterval while it does not answer. Ends when destroyed.
 */
class NowPlayingFollow
{
public:
    using Clock = std::function<std::chrono::milliseconds()>;

    /** now: a steady clock; by default the system's. */
    NowPlayingFollow(Player& player, Scheduler& scheduler, Connection& client, Clock now = {});
    ~NowPlayingFollow();
    NowPlayingFollow(const NowPlayingFollow&) = delete;
    NowPlayingFollow& operator=(const NowPlayingFollow&) = delete;

    /** Starts from the status the first line showed. */
    void start(const PlayerStatus& shown);

    /** Changes that follow a line within this time are gathered into the next one. */
    static constexpr std::chrono::milliseconds kGathering{200};
    /** How often a player that tells nothing, or does not answer, is read. */
    static constexpr std::chrono::milliseconds kPollInterval{1000};
    /** An elapsed time further than this from where time running on puts it is a seek. */
    static constexpr std::chrono::milliseconds kSeekTolerance{1000};

private:
    void changed();
    void read();
    void answered(const PlayerAnswer& answer);
    bool differs(const PlayerStatus& now, std::chrono::milliseconds at) const;
    void gather();
    void armPoll();

    Player& m_player;
    Scheduler& m_scheduler;
    Connection& m_client;
    Clock m_now;
    std::unique_ptr<PlayerWatch> m_watch;
    /** The line shown last, with its time left out. */
    std::string m_shown;
    /** The last status read, and when. */
    PlayerStatus m_last;
    std::chrono::milliseconds m_lastAt{0};
    bool m_reading = false;
    /** A change was told while reading or gathering: read again afterwards. */
    bool m_dirty = false;
    bool m_lost = false;
    Scheduler::TimerId m_gathering = 0;
    Scheduler::TimerId m_poll = 0;
    /** Answers that come after the follow ended check it. */
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace zelvor
