// SPDX-License-Identifier: MIT
#include "player/PlayerText.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace zelvor {
namespace {

TEST(PlayerVersion, EncodesTwoDigitsEachForMinorAndPatch)
{
    EXPECT_EQ(encodeVersion(0, 23, 12), 2312);
    EXPECT_EQ(encodeVersion(0, 23, 5), 2305);
    EXPECT_EQ(encodeVersion(1, 2, 3), 10203);
    EXPECT_EQ(encodeVersion(0, 150, 400), 9999);
    EXPECT_EQ(encodeVersion(2, 2, 0), 20200);
}

TEST(PlayerPaths, NameOrderComparesFolderByFolder)
{
    // Plain byte order would put "a b/x" first, since a blank sorts before the slash.
    std::vector<std::string> uris = {"a b/x.wav", "a/z.wav", "a/10.wav",
                                     "a/02.wav",  "a.wav",   "a/sub/1.wav"};
    std::sort(uris.begin(), uris.end(), nameOrderLess);
    EXPECT_EQ(uris, (std::vector<std::string>{"a/02.wav", "a/10.wav", "a/sub/1.wav", "a/z.wav",
                                              "a b/x.wav", "a.wav"}));
}

TEST(PlayerTitles, ArtistAndTitleThenTitleThenTheFilesName)
{
    EXPECT_EQ(displayTitle("Nina", "Sinnerman", "a/b.flac"), "Nina - Sinnerman");
    EXPECT_EQ(displayTitle(nullptr, "Sinnerman", "a/b.flac"), "Sinnerman");
    EXPECT_EQ(displayTitle("", "Sinnerman", "a/b.flac"), "Sinnerman");
    EXPECT_EQ(displayTitle("Nina", nullptr, "album/disc 2/b.flac"), "b.flac");
    EXPECT_EQ(displayTitle(nullptr, "", "top.wav"), "top.wav");
}

// One walk serves every backend's load: sound files by suffix in any case, at any depth, in
// name order; everything else is left out.
TEST(PlayerPaths, SoundFilesBelowAFolderInNameOrder)
{
    test::TempDir dir;
    const auto root = dir.path();
    for (const char* name : {"b.mp3", "a b/x.FLAC", "a/10.wav", "a/02.ogg", "a/sub/1.opus",
                             "a/cover.jpg", "a/notes", "mix.m3u", "c.wav.txt"}) {
        std::filesystem::create_directories((root / name).parent_path());
        std::ofstream(root / name) << "x";
    }
    std::filesystem::create_directories(root / "empty.wav");
    EXPECT_EQ(
        soundFilesBelow(root),
        (std::vector<std::string>{"a/02.ogg", "a/10.wav", "a/sub/1.opus", "a b/x.FLAC", "b.mp3"}));
    EXPECT_EQ(soundFilesBelow(root / "a" / "sub"), std::vector<std::string>{"1.opus"});
    EXPECT_TRUE(soundFilesBelow(root / "missing").empty());
    EXPECT_TRUE(soundFilesBelow(root / "b.mp3").empty());
}

} // namespace
} // namespace zelvor
