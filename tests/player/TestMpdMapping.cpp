// SPDX-License-Identifier: MIT
#include "player/mpd/MpdMapping.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zelvor {
namespace {

using namespace std::string_literals;

TEST(MpdVersion, EncodesTwoDigitsEachForMinorAndPatch)
{
    EXPECT_EQ(encodeMpdVersion(0, 23, 12), 2312);
    EXPECT_EQ(encodeMpdVersion(0, 23, 5), 2305);
    EXPECT_EQ(encodeMpdVersion(1, 2, 3), 10203);
    EXPECT_EQ(encodeMpdVersion(0, 150, 400), 9999);
}

TEST(MpdUri, PathBelowMusicFolderBecomesRelativeUri)
{
    EXPECT_EQ(uriBelow("/srv/music", "/srv/music/album/01 first.wav"), "album/01 first.wav");
    EXPECT_EQ(uriBelow("/srv/music/", "/srv/music/./album/x/../a.wav"), "album/a.wav");
    EXPECT_EQ(uriBelow("/srv/music", "/srv/music"), "");
    EXPECT_EQ(uriBelow("/srv/music", "/srv/music/"), "");
}

TEST(MpdUri, PathOutsideMusicFolderHasNoUri)
{
    EXPECT_EQ(uriBelow("/srv/music", "/srv/musical/a.wav"), std::nullopt);
    EXPECT_EQ(uriBelow("/srv/music", "/srv/music/../other/a.wav"), std::nullopt);
    EXPECT_EQ(uriBelow("/srv/music", "/srv"), std::nullopt);
}

TEST(MpdUri, GuessesRunFromTheRootDownWithLongestUriFirst)
{
    const auto guesses = musicRootGuesses("/srv/music/a.wav");
    ASSERT_EQ(guesses.size(), 4u);
    EXPECT_EQ(guesses[0].root, "/");
    EXPECT_EQ(guesses[0].uri, "srv/music/a.wav");
    EXPECT_EQ(guesses[2].root, "/srv/music");
    EXPECT_EQ(guesses[2].uri, "a.wav");
    EXPECT_EQ(guesses[3].root, "/srv/music/a.wav");
    EXPECT_EQ(guesses[3].uri, "");
}

TEST(MpdUri, NameOrderComparesFolderByFolder)
{
    // Plain byte order would put "a b/x" first, since a blank sorts before the slash.
    std::vector<std::string> uris = {"a b/x.wav", "a/z.wav", "a/10.wav",
                                     "a/02.wav",  "a.wav",   "a/sub/1.wav"};
    std::sort(uris.begin(), uris.end(), nameOrderLess);
    EXPECT_EQ(uris, (std::vector<std::string>{"a/02.wav", "a/10.wav", "a/sub/1.wav", "a/z.wav",
                                              "a b/x.wav", "a.wav"}));
}

TEST(MpdUri, LineBreaksAndZeroBytesCannotBeSent)
{
    EXPECT_TRUE(isSendableUri("album/01 \"first\".wav"));
    EXPECT_FALSE(isSendableUri("a\nkill"));
    EXPECT_FALSE(isSendableUri("a\rb"));
    EXPECT_FALSE(isSendableUri("a\0b"s));
    EXPECT_FALSE(isSendableUri(""));
}

TEST(MpdUri, AudioSuffixIsComparedWithoutCase)
{
    const std::set<std::string> suffixes = {"wav", "flac"};
    EXPECT_TRUE(hasAudioSuffix("x.WAV", suffixes));
    EXPECT_TRUE(hasAudioSuffix("a.b.flac", suffixes));
    EXPECT_FALSE(hasAudioSuffix("cover.txt", suffixes));
    EXPECT_FALSE(hasAudioSuffix("wav", suffixes));
    EXPECT_FALSE(hasAudioSuffix("x.", suffixes));
}

TEST(MpdTitles, ArtistAndTitleThenTitleThenTheFilesName)
{
    EXPECT_EQ(displayTitle("Nina", "Sinnerman", "a/b.flac"), "Nina - Sinnerman");
    EXPECT_EQ(displayTitle(nullptr, "Sinnerman", "a/b.flac"), "Sinnerman");
    EXPECT_EQ(displayTitle("", "Sinnerman", "a/b.flac"), "Sinnerman");
    EXPECT_EQ(displayTitle("Nina", nullptr, "album/disc 2/b.flac"), "b.flac");
    EXPECT_EQ(displayTitle(nullptr, "", "top.wav"), "top.wav");
}

} // namespace
} // namespace zelvor
