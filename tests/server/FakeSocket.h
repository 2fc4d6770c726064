// SPDX-License-Identifier: MIT
#pragma once

#include "commands/MusicFolders.h"
#include "player/Player.h"
#include "server/Scheduler.h"
#include "server/Winsock.h"

#include <map>
#include <string>
#include <vector>

namespace zelvor::test {

/** A socket that records every write separately and listens where it is told to. */
class FakeSocket : public Winsock
{
public:
    ListenResult listen(std::uint16_t port) override
    {
        listens.push_back(port);
        state = listenResult == ListenResult::Listening ? State::Listening : State::Closed;
        return listenResult;
    }
    void close() override
    {
        ++closes;
        state = State::Closed;
    }
    bool isClosed() const override { return state == State::Closed; }
    bool accept() override
    {
        state = State::Connected;
        return true;
    }
    std::string remoteHostIP() const override
    {
        return state == State::Connected ? "192.0.2.7" : "";
    }
    std::string lastError() const override { return "test failure"; }
    void send(std::string_view bytes) override { writes.emplace_back(bytes); }
    bool congested() const override { return congestedNow; }
    void resumeInput() override { ++resumes; }

    std::string received() const
    {
        std::string all;
        for (const auto& write : writes)
            all += write;
        return all;
    }
    std::string takeReceived()
    {
        std::string all = received();
        writes.clear();
        return all;
    }

    enum class State
    {
        Closed,
        Listening,
        Connected,
    };
    State state = State::Closed;
    ListenResult listenResult = ListenResult::Listening;
    std::vector<std::uint16_t> listens;
    std::vector<std::string> writes;
    int closes = 0;
    bool congestedNow = false;
    int resumes = 0;
};

/** Timers that run when the test moves the clock on. */
class ManualScheduler : public Scheduler
{
public:
    TimerId after(std::chrono::milliseconds delay, std::function<void()> callback) override
    {
        const TimerId id = m_next++;
        m_timers[id] = {now + delay, std::move(callback)};
        return id;
    }
    void cancel(TimerId id) override { m_timers.erase(id); }
    std::optional<std::chrono::milliseconds> remaining(TimerId id) const override
    {
        const auto it = m_timers.find(id);
        if (it == m_timers.end())
            return std::nullopt;
        return it->second.first - now;
    }

    /** Moves the clock on, running every timer that falls due on the way. */
    void advance(std::chrono::milliseconds step)
    {
        const auto until = now + step;
        for (;;) {
            auto due = m_timers.end();
            for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
                if (it->second.first <= until &&
                    (due == m_timers.end() || it->second.first < due->second.first))
                    due = it;
            if (due == m_timers.end())
                break;
            now = due->second.first;
            auto callback = std::move(due->second.second);
            m_timers.erase(due);
            callback();
        }
        now = until;
    }
    std::size_t pending() const { return m_timers.size(); }

    std::chrono::milliseconds now{0};

private:
    TimerId m_next = 1;
    std::map<TimerId, std::pair<std::chrono::milliseconds, std::function<void()>>> m_timers;
};

/** A player that is never running. */
class AbsentPlayer : public Player
{
public:
    std::int32_t WinampCommand(std::int32_t) override { return -1; }
    std::int32_t WinampQuery(std::int32_t, std::int16_t) override { return -1; }
    std::int32_t WinampPlayFile(const std::string&) override { return -1; }
    std::int32_t LaunchWinamp(const std::string&) override { return -1; }
    std::optional<PlayerStatus> status() override { return std::nullopt; }
    std::optional<QueuePage> queue(std::uint32_t, std::uint32_t) override { return std::nullopt; }
    std::optional<PlayerStatus> jumpTo(std::uint32_t) override { return std::nullopt; }
    std::optional<PlayerStatus> setVolume(int) override { return std::nullopt; }
    std::optional<PlayerStatus> seekTo(std::uint32_t) override { return std::nullopt; }

    /** While set, "open" waits until finishLaunch() gives its answer. */
    bool launchWaits = false;
    void launchWinampThen(const std::string&, std::function<void(std::int32_t)> done) override
    {
        if (launchWaits)
            m_launching = std::move(done);
        else
            done(-1);
    }
    void finishLaunch(std::int32_t answer)
    {
        auto done = std::move(m_launching);
        m_launching = nullptr;
        if (done)
            done(answer);
    }

private:
    std::function<void(std::int32_t)> m_launching;
};

} // namespace zelvor::test
