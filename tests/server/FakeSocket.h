// SPDX-License-Identifier: MIT
#pragma once

#include "commands/MusicFolders.h"
#include "player/Player.h"
#include "server/Scheduler.h"
#include "server/TelnetServer.h"
#include "server/Winsock.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zelvor::test {

/**
 * A socket that records every write separately, per connection, and listens where it is told
 * to. Connections are made by the test: connect() reports a request from nextAddress.
 */
class FakeSocket : public Winsock
{
public:
    struct Held
    {
        std::string address;
        std::vector<std::string> writes;
        bool open = true;
        /** The client's close waits to be read. */
        bool ended = false;
    };

    ListenResult listen(std::uint16_t port, const std::string& address) override
    {
        listens.push_back(port);
        addresses.push_back(address);
        listening = listenResult == ListenResult::Listening;
        return listenResult;
    }
    void stopListening() override { listening = false; }
    ConnectionId accept() override
    {
        if (!pending)
            return 0;
        pending = false;
        const ConnectionId id = nextId++;
        held[id].address = nextAddress;
        current = id;
        return id;
    }
    void reportEndedConnections() override
    {
        ++endChecks;
        for (auto& [id, connection] : held)
            if (connection.open && connection.ended && server)
                server->Winsock1_Close(id);
    }
    void close(ConnectionId id) override
    {
        if (held.count(id))
            held[id].open = false;
    }
    void close() override
    {
        listening = false;
        for (auto& [id, connection] : held)
            connection.open = false;
    }
    std::string remoteHostIP(ConnectionId id) const override
    {
        const auto it = held.find(id);
        return it == held.end() ? "" : it->second.address;
    }
    std::string lastError() const override { return "test failure"; }
    void send(ConnectionId id, std::string_view bytes) override
    {
        if (!held.count(id) || !held[id].open)
            sentWhileClosed = true;
        held[id].writes.emplace_back(bytes);
    }
    bool congested(ConnectionId) const override { return congestedNow; }
    void resumeInput(ConnectionId) override { ++resumes; }

    /** A client connects from the address; returns its connection, 0 when it was not taken. */
    ConnectionId connect(const std::string& address = "192.0.2.7")
    {
        pending = true;
        nextAddress = address;
        const ConnectionId before = nextId;
        server->Winsock1_ConnectionRequest();
        return nextId != before ? nextId - 1 : 0;
    }
    bool isOpen(ConnectionId id) const { return held.count(id) && held.at(id).open; }

    std::vector<std::string>& writesTo(ConnectionId id) { return held[id].writes; }
    std::string received(ConnectionId id) const
    {
        std::string all;
        if (const auto it = held.find(id); it != held.end())
            for (const auto& write : it->second.writes)
                all += write;
        return all;
    }
    std::string takeReceived(ConnectionId id)
    {
        std::string all = received(id);
        held[id].writes.clear();
        return all;
    }
    /** Types a line on the newest connection; the reply between the echo and the prompt, or
     * what came without a prompt. */
    std::string run(const std::string& line)
    {
        const std::string prompt = "\r\nZelvor>";
        const auto prompted = [&prompt, &line](const std::string& got) {
            return got.size() >= line.size() + prompt.size() &&
                   got.compare(got.size() - prompt.size(), prompt.size(), prompt) == 0;
        };
        server->Winsock1_DataArrival(current, line + "\r");
        // A reply that comes later comes from the player's event loop.
        if (pump)
            pump([this, &prompted] { return prompted(received()); });
        const std::string got = takeReceived();
        if (!prompted(got))
            return "(no prompt) " + got;
        return got.substr(line.size(), got.size() - line.size() - prompt.size());
    }
    // The same for the newest connection.
    std::string received() const { return received(current); }
    std::string takeReceived() { return takeReceived(current); }
    std::vector<std::string>& writes() { return writesTo(current); }

    ConnectionEvents* server = nullptr;
    /** Runs the player's event loop until the condition holds (bounded); unset: nothing runs. */
    std::function<void(const std::function<bool()>&)> pump;
    bool listening = false;
    ListenResult listenResult = ListenResult::Listening;
    std::vector<std::uint16_t> listens;
    std::vector<std::string> addresses;
    mutable std::map<ConnectionId, Held> held;
    ConnectionId current = 0;
    ConnectionId nextId = 1;
    bool pending = false;
    std::string nextAddress = "192.0.2.7";
    bool congestedNow = false;
    bool sentWhileClosed = false;
    int endChecks = 0;
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
    void play(PlayerDone done) override { absent(done); }
    void stop(PlayerDone done) override { absent(done); }
    void pause(PlayerDone done) override { absent(done); }
    void next(PlayerDone done) override { absent(done); }
    void previous(PlayerDone done) override { absent(done); }
    void stepVolume(int, PlayerDone done) override { absent(done); }
    void toggleShuffle(PlayerDone done) override { absent(done); }
    void toggleRepeat(PlayerDone done) override { absent(done); }
    void clear(PlayerDone done) override { absent(done); }
    void add(const std::string&, PlayerDone done) override { absent(done); }
    void close(PlayerDone done) override { absent(done); }
    void status(PlayerDone done) override { absent(done); }
    void queue(std::uint32_t, std::uint32_t, PlayerDone done) override { absent(done); }
    void jumpTo(std::uint32_t, PlayerDone done) override { absent(done); }
    void setVolume(int, PlayerDone done) override { absent(done); }
    void seekTo(std::uint32_t, PlayerDone done) override { absent(done); }

    /** Why "open" failed. */
    std::string failure;
    /** While set, "open" waits until finishLaunch() gives its answer. */
    bool launchWaits = false;
    void open(const std::string&, PlayerDone done) override
    {
        if (launchWaits)
            m_launching = std::move(done);
        else
            finish(done, false);
    }
    /** Answers the waiting "open": started or not. */
    void finishLaunch(bool started)
    {
        auto done = std::move(m_launching);
        m_launching = nullptr;
        if (done)
            finish(done, started);
    }

private:
    static void absent(const PlayerDone& done) { done(PlayerAnswer::of(Outcome::NoPlayer)); }
    void finish(const PlayerDone& done, bool started) const
    {
        PlayerAnswer answer = PlayerAnswer::of(started ? Outcome::Done : Outcome::Failed);
        if (!started)
            answer.reason = failure;
        done(std::move(answer));
    }

    PlayerDone m_launching;
};

} // namespace zelvor::test
