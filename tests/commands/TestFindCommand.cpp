// SPDX-License-Identifier: MIT
#include "commands/FindCommand.h"

#include "commands/CommandFakes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace zelvor::test {
namespace {

namespace fs = std::filesystem;

// music/ is the server root; outside/ next to it must stay out of reach.
class FindCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        temp.write("music/Rock/Live/Concert One.mp3");
        temp.write("music/Rock/song.mp3");
        temp.write("music/Rock b/song.MP3");
        temp.write("music/Jazz/Songbook/a.flac");
        temp.write("music/.hidden/song.mp3");
        temp.write("music/.song.mp3");
        temp.write("music/bad\x1b[2Jsong.mp3");
        temp.write("outside/song.mp3");
        fs::create_directory_symlink(temp.path() / "outside", root() / "OutLink");
        fs::create_directory_symlink(root() / "Jazz", root() / "Rock" / "JazzLink");
        fs::create_directory_symlink(root(), root() / "Jazz" / "Loop");
        fs::create_symlink("Dangling", root() / "Dangling song");
        f.settings.ServerRoot = root().string();
    }

    fs::path root() const { return temp.path() / "music"; }

    TempDir temp;
    CommandFixture f;
};

TEST_F(FindCommand, MatchesBelowTheCurrentFolderInPathOrderInsideTheRootOnly)
{
    EXPECT_EQ(f.run("find SONG"), PromptSelector::Command);
    // A folder is found by each way in (Jazz and Rock\JazzLink), but the loop through Jazz\Loop
    // back to the root ends there; links out of the root, dangling links, hidden and unusable
    // names are never shown.
    EXPECT_EQ(f.connection.sends, Sends{"\r\nJazz\\Songbook\\"
                                        "\r\nRock\\JazzLink\\Songbook\\"
                                        "\r\nRock\\song.mp3"
                                        "\r\nRock b\\song.MP3"});
    EXPECT_EQ(f.host.activity, Calls{"find"});

    f.run("find *.MP?");
    EXPECT_EQ(f.connection.sends, Sends{"\r\nRock\\Live\\Concert One.mp3\r\nRock\\song.mp3"
                                        "\r\nRock b\\song.MP3"});

    f.run("cd Rock");
    f.run("find live");
    EXPECT_EQ(f.connection.sends, Sends{"\r\nLive\\"});

    const struct
    {
        std::string line, reply;
    } rows[] = {
        {"find", "\r\nusage: find <name or pattern>"},
        {"find ", "\r\nusage: find <name or pattern>"},
        {"find nothing like it", "\r\nNothing found"},
        {"find ..", "\r\nNothing found"},
    };
    for (const auto& row : rows) {
        f.run(row.line);
        EXPECT_EQ(f.connection.sends, Sends{row.reply}) << row.line;
    }
    EXPECT_TRUE(f.player.calls.empty());
}

TEST_F(FindCommand, LongResultsAreCutAndASearchPastItsDeadlineSaysSo)
{
    for (int i = 0; i < 1000; ++i)
        temp.write("music/Many/track " + std::to_string(1000 + i) + ".mp3");
    f.run("find track");
    ASSERT_EQ(f.connection.sends.size(), 1U);
    const std::string& reply = f.connection.sends[0];
    EXPECT_EQ(reply.rfind("\r\nMany\\track 1000.mp3\r\n", 0), 0U);
    EXPECT_NE(reply.find("\r\nMany\\track 1099.mp3\r\n... 900 more"), std::string::npos);
    EXPECT_EQ(reply.substr(reply.size() - 14), "\r\n... 900 more");

    CommandContext context{f.session, f.settings, f.connection, f.player, f.folders, f.host};
    const auto stopped = findReply(context, " track", std::chrono::steady_clock::now());
    EXPECT_EQ(stopped.substr(stopped.size() - 28), "\r\n(search stopped after 2 s)");
}

TEST(FindMatching, PartOfANameOrAWildcardOverTheWholeName)
{
    EXPECT_TRUE(findMatches("ONE", "Concert one.mp3"));
    EXPECT_FALSE(findMatches("one*", "Concert one.mp3"));
    EXPECT_TRUE(findMatches("*ONE.mp?", "Concert one.mp3"));
    EXPECT_TRUE(pathLess("a\\b", "a b"));
    EXPECT_TRUE(pathLess("Rock\\", "Rock\\x"));
    EXPECT_FALSE(pathLess("rock\\x", "Rock\\"));
}

} // namespace
} // namespace zelvor::test
