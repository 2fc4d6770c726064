// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandDispatcher.h"
#include "commands/MusicFolders.h"
#include "player/Player.h"
#include "commands/CommandSession.h"
#include "settings/ServerSettings.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zelvor::test {

/**
 * A player that records every call as a word ("play", "volume up 3", "add <path>") and answers as
 * configured: at once, or, while holding, when release() is called.
 */
class RecordingPlayer : public Player
{
public:
    std::vector<std::string> calls;
    bool running = true;
    /** What the plain commands answer while running. */
    Outcome commandOutcome = Outcome::Done;
    std::string commandReason;
    /** What "open" answers, and its reason. */
    Outcome openOutcome = Outcome::Done;
    std::string openFailure;
    /** What status() answers; queue() makes up "Song <n>" titles for its length. */
    PlayerStatus now;
    /** While set, answers wait in held until release(). */
    bool holding = false;
    std::vector<std::function<void()>> held;

    void play(PlayerDone done) override { command("play", std::move(done)); }
    void stop(PlayerDone done) override { command("stop", std::move(done)); }
    void pause(PlayerDone done) override { command("pause", std::move(done)); }
    void next(PlayerDone done) override { command("next", std::move(done)); }
    void previous(PlayerDone done) override { command("previous", std::move(done)); }
    void stepVolume(int steps, PlayerDone done) override
    {
        command((steps < 0 ? "volume down " : "volume up ") + std::to_string(std::abs(steps)),
                std::move(done));
    }
    void toggleShuffle(PlayerDone done) override { command("shuffle", std::move(done)); }
    void toggleRepeat(PlayerDone done) override { command("repeat", std::move(done)); }
    void clear(PlayerDone done) override { command("clear", std::move(done)); }
    void add(const std::string& path, PlayerDone done) override
    {
        command("add " + path, std::move(done));
    }
    void close(PlayerDone done) override { command("close", std::move(done)); }
    void open(const std::string& location, PlayerDone done) override
    {
        calls.push_back("open " + location);
        PlayerAnswer answer = PlayerAnswer::of(openOutcome);
        answer.reason = openFailure;
        reply(std::move(done), std::move(answer));
    }
    void status(PlayerDone done) override
    {
        calls.push_back("status");
        reply(std::move(done), answer());
    }
    void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) override
    {
        calls.push_back("queue " + std::to_string(first) + " " + std::to_string(count));
        PlayerAnswer page = answer();
        if (running) {
            for (auto i = first; i < now.queueLength && i - first < count; ++i)
                page.entries.push_back({i, "Song " + std::to_string(i + 1)});
        }
        reply(std::move(done), std::move(page));
    }
    void jumpTo(std::uint32_t position, PlayerDone done) override
    {
        calls.push_back("jump " + std::to_string(position));
        if (position < now.queueLength) {
            now.position = position;
            now.elapsedMs = 0;
        }
        reply(std::move(done), answer());
    }
    void setVolume(int percent, PlayerDone done) override
    {
        calls.push_back("volume " + std::to_string(percent));
        if (now.volume)
            now.volume = percent;
        reply(std::move(done), answer());
    }
    void seekTo(std::uint32_t milliseconds, PlayerDone done) override
    {
        calls.push_back("seek " + std::to_string(milliseconds));
        now.elapsedMs = milliseconds;
        reply(std::move(done), answer());
    }
    PlayerAnswer answer() const
    {
        return running ? PlayerAnswer::with(now) : PlayerAnswer::of(Outcome::NoPlayer);
    }
    void beginCommandLine() override { calls.push_back("begin"); }
    void endCommandLine() override { calls.push_back("end"); }

    /** Gives the held answers, in the order they were asked. */
    void release()
    {
        auto waiting = std::move(held);
        held.clear();
        for (auto& give : waiting)
            give();
    }

    std::size_t count(const std::string& call) const
    {
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
    }

private:
    void command(std::string word, PlayerDone done)
    {
        calls.push_back(std::move(word));
        PlayerAnswer answer = PlayerAnswer::of(running ? commandOutcome : Outcome::NoPlayer);
        answer.reason = running ? commandReason : std::string();
        reply(std::move(done), std::move(answer));
    }
    void reply(PlayerDone done, PlayerAnswer answer)
    {
        if (!holding) {
            done(std::move(answer));
            return;
        }
        held.push_back([done = std::move(done), answer = std::move(answer)] { done(answer); });
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
