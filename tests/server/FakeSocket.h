// SPDX-License-Identifier: MIT
#pragma once

#include "commands/MusicFolders.h"
#include "player/Player.h"
#include "server/Winsock.h"

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
};

/** A player that is never running. */
class AbsentPlayer : public Player
{
public:
    std::int32_t WinampCommand(std::int32_t) override { return -1; }
    std::int32_t WinampQuery(std::int32_t, std::int16_t) override { return -1; }
    std::int32_t WinampPlayFile(const std::string&) override { return -1; }
    std::int32_t LaunchWinamp(const std::string&) override { return -1; }
};

} // namespace zelvor::test
