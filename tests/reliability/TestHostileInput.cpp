// SPDX-License-Identifier: MIT
// Input that is legal byte by byte but hostile in amount: it must not make the server's state
// or the settings file grow or change beyond what they can hold.
#include "commands/CommandFakes.h"
#include "commands/DirectoryCommands.h"
#include "settings/PasswordScrambling.h"
#include "settings/ServerSettings.h"
#include "settings/SettingsFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace zelvor {
namespace {

std::string repeated(const std::string& text, std::size_t times)
{
    std::string all;
    for (std::size_t i = 0; i < times; ++i)
        all += text;
    return all;
}

TEST(HostileInput, RepeatedCdCannotGrowTheCurrentFolderWithoutBound)
{
    test::TempDir temp;
    temp.mkdir("music/Rock/Live");
    test::CommandFixture f;
    f.settings.ServerRoot = (temp.path() / "music").string();
    // Each of these names an existing folder (the root itself), so every cd appends its name.
    const std::string lines[] = {"cd " + repeated("Rock\\..\\", 127), "cd .", "cd Rock\\",
                                 "cd " + repeated(".\\", 500)};
    for (const std::string& line : lines) {
        SCOPED_TRACE(line.substr(0, 20));
        f.run("cd \\");
        for (int i = 0; i < 200; ++i)
            f.run(line);
        EXPECT_LE(f.session.CurrentDir.size(), kMaxCurrentDirLength);
        f.run("pwd");
        ASSERT_EQ(f.connection.sends.size(), 1u);
        EXPECT_EQ(f.connection.sends[0], "\r\n" + f.session.CurrentDir);
    }
    // The client can always go back to the root and on from there.
    f.run("cd \\");
    f.run("cd Rock\\Live");
    EXPECT_EQ(f.session.CurrentDir, "\\Rock\\Live\\");
}

TEST(HostileInput, PasswordOfAnyLengthSurvivesTheSettingsFile)
{
    test::TempDir temp;
    const std::string ini = settingsFilePath(temp.str());
    for (const std::size_t length : {49u, 50u, 4999u, 5000u, 50000u, 70000u}) {
        SCOPED_TRACE(length);
        ServerSettings settings = defaultSettings(temp.str(), temp.str());
        for (std::size_t i = 0; i < length; ++i)
            settings.Password += static_cast<char>((i * 37 + length) % 256);
        ASSERT_TRUE(saveSettings(ini, settings));
        ServerSettings loaded = defaultSettings(temp.str(), temp.str());
        ASSERT_TRUE(loadSettings(ini, loaded));
        EXPECT_TRUE(loaded.Password == settings.Password);
        EXPECT_EQ(DecryptPassword(EncryptPassword(settings.Password)).size(), length);
    }
}

TEST(HostileInput, SettingsFileWithAStrayCarriageReturnCanStillBeSaved)
{
    // Only a line feed ends a line, so a lone CR is part of the value it stands in; whatever was
    // read must be writable again, or every later shutdown would lose the settings.
    test::TempDir temp;
    const std::string ini = settingsFilePath(temp.str());
    temp.write("zelvor.ini", "[Zelvor]\r\nPort=2323\r\nServer Root=/srv/mu\rsic\r\nUser=b\rob\n");
    ServerSettings loaded = defaultSettings(temp.str(), temp.str());
    ASSERT_TRUE(loadSettings(ini, loaded));
    EXPECT_EQ(loaded.ServerRoot, "/srv/mu\rsic");
    loaded.Port = "2424";
    std::string error;
    ASSERT_TRUE(saveSettings(ini, loaded, &error)) << error;
    ServerSettings again = defaultSettings(temp.str(), temp.str());
    ASSERT_TRUE(loadSettings(ini, again));
    EXPECT_TRUE(again == loaded);
}

} // namespace
} // namespace zelvor
