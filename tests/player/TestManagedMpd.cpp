// SPDX-License-Identifier: MIT
// Zelvor's own MPD as "open" starts it, in the settings folder of a home of its own: waited for
// on timers as the event loop runs them, started once, and told about music that came later.
#include "player/mpd/MpdBackend.h"

#include "support/MpdFixture.h"
#include "support/PlayerCalls.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include <signal.h>
#include <sys/stat.h>

namespace zelvor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::MpdFixture;
using Uris = std::vector<std::string>;

class OwnMpd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"MPD_HOST", "MPD_PORT", "PULSE_SERVER"})
            ::unsetenv(name);
        ::setenv("HOME", home.str().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", home.str().c_str(), 1);
        setup.settingsFolder = folder;
        setup.musicRoot = [this] { return root.string(); };
        setup.report = [this](const std::string& word) { words.push_back(word); };
        setup.after = [this](std::chrono::milliseconds, std::function<void()> callback) {
            timers.push_back(std::move(callback));
        };
        MpdBackend probe;
        if (test::PlayerCalls(probe).state())
            GTEST_SKIP() << "an MPD of this machine answers at MPD's default place";
    }
    void TearDown() override
    {
        player.reset();
        for (const pid_t mpd : started) {
            ::kill(mpd, SIGCONT);
            ::kill(mpd, SIGTERM);
            MpdFixture::waitFor([mpd] { return MpdFixture::processGone(mpd); });
        }
    }

    MpdBackend& backend()
    {
        if (!player)
            player = std::make_unique<MpdBackend>(setup);
        return *player;
    }
    /** "open" as the interpreter starts it; the answer arrives in answers (0 done, else -1). */
    void open()
    {
        backend().open("mpd", [this](const PlayerAnswer& answer) {
            answers.push_back(answer.done() ? 0 : -1);
        });
        if (const pid_t mpd = pidFileNames();
            mpd > 0 && std::find(started.begin(), started.end(), mpd) == started.end())
            started.push_back(mpd);
    }
    /** Runs the timers as the event loop would, until count answers came (bounded). */
    bool runUntilAnswered(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (answers.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(ManagedMpd::kPollInterval);
            for (auto& timer : std::exchange(timers, {}))
                timer();
            if (const pid_t mpd = pidFileNames();
                mpd > 0 && std::find(started.begin(), started.end(), mpd) == started.end())
                started.push_back(mpd);
        }
        return answers.size() >= count;
    }
    pid_t pidFileNames() const
    {
        return static_cast<pid_t>(std::atoi(test::readFile(folder / "mpd.pid").c_str()));
    }
    std::string own(const std::string& line) const
    {
        return test::mpdCommand(folder / "mpd.socket", line);
    }
    bool knows(const std::string& uri) const
    {
        return own("lsinfo \"" + uri + "\"").find("file: " + uri + "\n") != std::string::npos;
    }
    Uris queue() const
    {
        Uris files;
        std::istringstream lines(own("playlistinfo"));
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("file: ", 0) == 0)
                files.push_back(line.substr(6));
        return files;
    }
    static unsigned mode(const fs::path& path)
    {
        struct stat info
        {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 0777;
    }

    test::TempDir home;
    const fs::path folder = home.path() / "config" / "zelvor";
    const fs::path root = home.path() / "Music";
    ManagedMpdSetup setup;
    std::unique_ptr<MpdBackend> player;
    std::vector<std::function<void()>> timers;
    std::vector<std::int32_t> answers;
    std::vector<std::string> words;
    std::vector<pid_t> started;
};

// The answer waits for the scan on the event loop's timers; a second "open" meanwhile joins the
// first, and once it is out the music is there to load.
TEST_F(OwnMpd, OpenAnswersFromTheTimersOnceScanned)
{
    for (const char* song : {"album/01 first.wav", "album/02 second.wav", "top.wav"})
        test::writeWav(root / song, 1000);
    open();
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(words, std::vector<std::string>{"player scanning"});
    open();
    ASSERT_TRUE(runUntilAnswered(2));
    EXPECT_EQ(answers, (std::vector<std::int32_t>{0, 0}));
    EXPECT_EQ(started.size(), 1U);
    EXPECT_EQ(mode(folder), 0700U);
    EXPECT_EQ(test::PlayerCalls(backend()).add((root / "album").string()), Outcome::Done);
    EXPECT_EQ(queue(), (Uris{"album/01 first.wav", "album/02 second.wav"}));

    open();
    EXPECT_EQ(answers, (std::vector<std::int32_t>{0, 0, 0}));

    // MPD watches the music folder, and sees music added later by itself.
    test::writeWav(root / "album" / "03 third.wav", 1000);
    EXPECT_TRUE(MpdFixture::waitFor([this] { return knows("album/03 third.wav"); }, 20s));
}

// An own MPD that stopped answering (here: stopped by a signal) is waited for, and then the
// answer says it is still starting; no second MPD is started and its socket stays.
TEST_F(OwnMpd, AnMpdThatDoesNotAnswerIsNeverJoinedByASecond)
{
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    fs::create_directories(root);
    open();
    ASSERT_TRUE(runUntilAnswered(1));
    const pid_t first = pidFileNames();
    ASSERT_GT(first, 0);
    ::kill(first, SIGSTOP);
    words.clear();
    open();
    ASSERT_TRUE(runUntilAnswered(2));
    EXPECT_EQ(answers.back(), 0);
    EXPECT_EQ(words, (std::vector<std::string>{"player starting", "player still starting"}));
    EXPECT_EQ(pidFileNames(), first);
    EXPECT_EQ(started, std::vector<pid_t>{first});
    EXPECT_TRUE(fs::is_socket(folder / "mpd.socket"));
    EXPECT_EQ(mode(folder), 0750U);

    // Once it runs again, it answers as soon as it has taken the connections queued meanwhile.
    ::kill(first, SIGCONT);
    EXPECT_TRUE(
        MpdFixture::waitFor([this] { return test::PlayerCalls(backend()).state().has_value(); }));
}

// The music folder is made after "open": the status word said it was missing, and a later load
// has MPD look at what it does not know yet.
TEST_F(OwnMpd, MusicThatCameLaterIsLoadedAndSeen)
{
    open();
    ASSERT_TRUE(runUntilAnswered(1));
    EXPECT_EQ(answers, std::vector<std::int32_t>{0});
    EXPECT_EQ(words.front(), "music folder missing");

    test::writeWav(root / "new" / "song.wav", 1000);
    EXPECT_EQ(test::PlayerCalls(backend()).add((root / "new").string()), Outcome::Done);
    EXPECT_EQ(queue(), Uris{"new/song.wav"});
}

} // namespace
} // namespace zelvor
