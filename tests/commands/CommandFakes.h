// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandDispatcher.h"
#include "commands/MusicFolders.h"
#include "player/Player.h"
#include "commands/CommandSession.h"
#include "settings/ServerSettings.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace zelvor::test {

/** A player that records every call as a word ("command 40045") and answers as configured. */
class RecordingPlayer : public Player
{
public:
    std::vector<std::string> calls;
    bool running = true;
    std::int32_t commandAnswer = 1;
    std::map<std::int16_t, std::int32_t> queryAnswers;
    std::int32_t launchAnswer = 0;
    /** What status() answers; queue() makes up "Song <n>" titles for its length. */
    PlayerStatus now;

    std::int32_t WinampCommand(std::int32_t id) override
    {
        calls.push_back("command " + std::to_string(id));
        return running ? commandAnswer : -1;
    }
    std::int32_t WinampQuery(std::int32_t data, std::int16_t id) override
    {
        calls.push_back("query " + std::to_string(data) + " " + std::to_string(id));
        return running ? queryAnswers[id] : -1;
    }
    std::int32_t WinampPlayFile(const std::string& path) override
    {
        calls.push_back("playfile " + path);
        return running ? 1 : -1;
    }
    std::int32_t LaunchWinamp(const std::string& path) override
    {
        calls.push_back("launch " + path);
        return launchAnswer;
    }
    std::optional<PlayerStatus> status() override
    {
        calls.push_back("status");
        return running ? std::optional(now) : std::nullopt;
    }
    std::optional<QueuePage> queue(std::uint32_t first, std::uint32_t count) override
    {
        calls.push_back("queue " + std::to_string(first) + " " + std::to_string(count));
        if (!running)
            return std::nullopt;
        QueuePage page{now, {}};
        for (auto i = first; i < now.queueLength && i - first < count; ++i)
            page.entries.push_back({i, "Song " + std::to_string(i + 1)});
        return page;
    }
    std::optional<PlayerStatus> jumpTo(std::uint32_t position) override
    {
        calls.push_back("jump " + std::to_string(position));
        if (position < now.queueLength) {
            now.position = position;
            now.elapsedMs = 0;
        }
        return answer();
    }
    std::optional<PlayerStatus> setVolume(int percent) override
    {
        calls.push_back("volume " + std::to_string(percent));
        if (now.volume)
            now.volume = percent;
        return answer();
    }
    std::optional<PlayerStatus> seekTo(std::uint32_t milliseconds) override
    {
        calls.push_back("seek " + std::to_string(milliseconds));
        now.elapsedMs = milliseconds;
        return answer();
    }
    std::optional<PlayerStatus> answer() const
    {
        return running ? std::optional(now) : std::nullopt;
    }
    void beginCommandLine() override { calls.push_back("begin"); }
    void endCommandLine() override { calls.push_back("end"); }

    std::size_t count(const std::string& call) const
    {
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
    }
};

/** Keeps each send separately. */
class RecordingConnection : public Connection
{
public:
    std::vector<std::string> sends;
    void send(std::string_view bytes) override { sends.emplace_back(bytes); }
};

class RecordingHost : public CommandHost
{
public:
    std::vector<std::string> activity;
    int closes = 0;
    void LogActivity(std::string_view word) override { activity.emplace_back(word); }
    void Winsock1_Close() override { ++closes; }
    std::optional<std::chrono::milliseconds> sleepTimeLeft() const override { return sleepLeft; }
    void startSleepTimer(std::chrono::minutes duration) override { sleepLeft = duration; }
    void cancelSleepTimer() override { sleepLeft.reset(); }
    /** Each late reply as it arrives: the reply text and the prompt selector. */
    LateReply deferReply() override
    {
        return [this](std::string_view reply, PromptSelector selector) {
            lateReplies.emplace_back(std::string(reply), selector);
        };
    }
    std::optional<std::chrono::milliseconds> sleepLeft;
    std::vector<std::pair<std::string, PromptSelector>> lateReplies;
};

/** A session in its command stage with fresh fakes; run() carries out one line like the server
 * does. */
struct CommandFixture
{
    CommandState session;
    ServerSettings settings;
    RecordingConnection connection;
    RecordingPlayer player;
    HostFolders folders;
    RecordingHost host;

    /** Clears the records of earlier lines, then runs this one. */
    PromptSelector run(const std::string& line)
    {
        connection.sends.clear();
        player.calls.clear();
        host.activity.clear();
        session.CommandLine = line;
        CommandContext context{session, settings, connection, player, folders, host};
        return ProcessCommand(context);
    }

    /** The player calls of the last line without the bracket around them. */
    std::vector<std::string> playerWork() const
    {
        std::vector<std::string> work;
        for (const auto& call : player.calls) {
            if (call != "begin" && call != "end")
                work.push_back(call);
        }
        return work;
    }
};

using Sends = std::vector<std::string>;
using Calls = std::vector<std::string>;

} // namespace zelvor::test
