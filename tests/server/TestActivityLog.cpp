// SPDX-License-Identifier: MIT
#include "server/ActivityLog.h"

#include "settings/ServerSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace zelvor {
namespace {

class ActivityLogTest : public ::testing::Test
{
protected:
    ActivityLogTest()
    {
        settings.LogFile = file.string();
        log.onWarning = [this](const std::string& warning) { warnings.push_back(warning); };
    }

    test::TempDir dir;
    std::filesystem::path file = dir.path() / "zelvor.log";
    ServerSettings settings;
    ActivityLog log{settings, [] { return std::string("07.12.26 09:08:07"); }};
    std::vector<std::string> warnings;
};

TEST_F(ActivityLogTest, StatusStartsAsRunningAndFollowsEveryWord)
{
    EXPECT_EQ(log.statusWord(), "running");
    log.LogActivity("started", "");
    EXPECT_EQ(log.statusWord(), "started");
}

TEST_F(ActivityLogTest, OffNeverTouchesTheFile)
{
    log.LogActivity("connecting", "10.0.0.1");
    EXPECT_EQ(log.statusWord(), "connecting");
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ActivityLogTest, ConnectionsOnlyLooksAtTheWordAlone)
{
    settings.LogLevel = LogLevel::ConnectionsOnly;
    for (const char* word :
         {"started", "connected", "play", "connecting", "Started", "disconnecting", "started "})
        log.LogActivity(word, "10.0.0.1");
    EXPECT_EQ(test::readFile(file), "\"07.12.26 09:08:07\t10.0.0.1\tstarted\"\r\n"
                                    "\"07.12.26 09:08:07\t10.0.0.1\tconnecting\"\r\n"
                                    "\"07.12.26 09:08:07\t10.0.0.1\tdisconnecting\"\r\n");
}

TEST_F(ActivityLogTest, ControlBytesCannotStartANewEntryOrField)
{
    settings.LogLevel = LogLevel::AllActivity;
    log.LogActivity(std::string_view("a\r\nb\tc\"d\x7f\xe9\0e", 12), "10.0.0.1");
    EXPECT_EQ(test::readFile(file), "\"07.12.26 09:08:07\t10.0.0.1\ta??b?c\"d?\xe9?e\"\r\n");
    // The status line shows the word as typed.
    EXPECT_EQ(log.statusWord().size(), 12u);
}

TEST_F(ActivityLogTest, AppendsToExistingContentAndRecreatesADeletedFile)
{
    settings.LogLevel = LogLevel::AllActivity;
    dir.write("zelvor.log", "old\r\n");
    log.LogActivity("one", "");
    std::filesystem::remove(file);
    log.LogActivity("two", "");
    EXPECT_EQ(test::readFile(file), "\"07.12.26 09:08:07\t\ttwo\"\r\n");
}

TEST_F(ActivityLogTest, ChangedPathTakesTheNextEntry)
{
    settings.LogLevel = LogLevel::AllActivity;
    log.LogActivity("one", "");
    settings.LogFile = (dir.path() / "other.log").string();
    log.LogActivity("two", "");
    EXPECT_EQ(test::readFile(file), "\"07.12.26 09:08:07\t\tone\"\r\n");
    EXPECT_EQ(test::readFile(dir.path() / "other.log"), "\"07.12.26 09:08:07\t\ttwo\"\r\n");
}

TEST_F(ActivityLogTest, UnwritablePathIsSkippedAndWarnedOnce)
{
    settings.LogLevel = LogLevel::AllActivity;
    settings.LogFile = (dir.path() / "missing" / "zelvor.log").string();
    log.LogActivity("one", "");
    log.LogActivity("two", "");
    EXPECT_EQ(log.statusWord(), "two");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("missing"), std::string::npos);
    settings.LogFile = "";
    log.LogActivity("three", "");
    EXPECT_EQ(warnings.size(), 2u);
}

} // namespace
} // namespace zelvor
