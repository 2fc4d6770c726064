// SPDX-License-Identifier: MIT
// What a first start on Windows gets when no zelvor.ini says otherwise.
#include "settings/ServerSettings.h"
#include "settings/SettingsFile.h"
#include "windows/StandIn.h"

#include <gtest/gtest.h>

#include <string>

namespace zelvor {
namespace {

std::string environment(const char* name)
{
    char value[MAX_PATH * 4] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return std::string(value, length < sizeof value ? length : 0);
}

TEST(FirstRun, DefaultRootIsTheUsersMusicFolderAndAnIniRootIsKept)
{
    const auto music = knownMusicFolder();
    ASSERT_FALSE(environment("USERPROFILE").empty());
    EXPECT_EQ(music, environment("USERPROFILE") + "\\Music");

    test::ScratchFolder scratch;
    const auto ini = scratch / "zelvor.ini";
    auto settings = defaultSettings(scratch.path(), music);
    EXPECT_EQ(settings.ServerRoot, music);
    scratch.write("zelvor.ini", "[Zelvor]\r\nPort=2323\r\n");
    ASSERT_TRUE(loadSettings(ini, settings));
    EXPECT_EQ(settings.Port, "2323");
    EXPECT_EQ(settings.ServerRoot, music);
    scratch.write("zelvor.ini", "[Zelvor]\r\nServer Root=D:\\Songs\r\n");
    ASSERT_TRUE(loadSettings(ini, settings));
    EXPECT_EQ(settings.ServerRoot, "D:\\Songs");

    // Without a Music folder to name, the root of old.
    EXPECT_EQ(defaultSettings(scratch.path(), "").ServerRoot, "C:\\My Documents\\My Music");
}

} // namespace
} // namespace zelvor
