// SPDX-License-Identifier: MIT
#pragma once

#include "player/Player.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace zelvor::test {

/**
 * A backend's operations called the way a test reads them: each gives the answer. waitFor is
 * how the test lets the program's event loop run until a condition holds; by default nothing
 * runs, and an operation must answer before it returns.
 */
class PlayerCalls
{
public:
    using Wait = std::function<bool(const std::function<bool()>&)>;

    explicit PlayerCalls(Player& player, Wait waitFor = {})
        : m_player(player), m_waitFor(std::move(waitFor))
    {}

    Outcome play() { return outcome(&Player::play); }
    Outcome stop() { return outcome(&Player::stop); }
    Outcome pause() { return outcome(&Player::pause); }
    Outcome next() { return outcome(&Player::next); }
    Outcome previous() { return outcome(&Player::previous); }
    Outcome toggleShuffle() { return outcome(&Player::toggleShuffle); }
    Outcome toggleRepeat() { return outcome(&Player::toggleRepeat); }
    Outcome clear() { return outcome(&Player::clear); }
    Outcome close() { return outcome(&Player::close); }
    Outcome stepVolume(int steps)
    {
        return ask([&](PlayerDone done) { m_player.stepVolume(steps, std::move(done)); }).outcome;
    }
    Outcome add(const std::string& path)
    {
        return ask([&](PlayerDone done) { m_player.add(path, std::move(done)); }).outcome;
    }
    PlayerAnswer open(const std::string& location)
    {
        return ask([&](PlayerDone done) { m_player.open(location, std::move(done)); });
    }
    /** The status; nothing when the answer was not done. */
    std::optional<PlayerStatus> status()
    {
        return statusOf(ask([&](PlayerDone done) { m_player.status(std::move(done)); }));
    }
    PlayerAnswer queue(std::uint32_t first, std::uint32_t count)
    {
        return ask([&](PlayerDone done) { m_player.queue(first, count, std::move(done)); });
    }
    std::optional<PlayerStatus> seekTo(std::uint32_t milliseconds)
    {
        return statusOf(
            ask([&](PlayerDone done) { m_player.seekTo(milliseconds, std::move(done)); }));
    }
    /** The play state, or nothing without a player. */
    std::optional<PlayState> state()
    {
        const auto now = status();
        return now ? std::optional(now->state) : std::nullopt;
    }

private:
    /** Calls start with the callback and gives the one answer it got. */
    PlayerAnswer ask(const std::function<void(PlayerDone)>& start)
    {
        auto answer = std::make_shared<std::optional<PlayerAnswer>>();
        auto calls = std::make_shared<int>(0);
        start([answer, calls](PlayerAnswer given) {
            ++*calls;
            *answer = std::move(given);
        });
        if (!*answer && m_waitFor)
            m_waitFor([answer] { return answer->has_value(); });
        EXPECT_TRUE(answer->has_value()) << "the operation did not answer";
        EXPECT_LE(*calls, 1) << "the operation answered more than once";
        return answer->value_or(PlayerAnswer::of(Outcome::Failed));
    }
    Outcome outcome(void (Player::*operation)(PlayerDone))
    {
        return ask([&](PlayerDone done) { (m_player.*operation)(std::move(done)); }).outcome;
    }
    static std::optional<PlayerStatus> statusOf(PlayerAnswer answer)
    {
        return answer.done() ? std::move(answer.status) : std::nullopt;
    }

    Player& m_player;
    Wait m_waitFor;
};

} // namespace zelvor::test
