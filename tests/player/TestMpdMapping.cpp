// SPDX-License-Identifier: MIT
#include "player/mpd/MpdMapping.h"

#include <gtest/gtest.h>

namespace zelvor {
namespace {

using namespace std::string_literals;

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

TEST(MpdUri, LineBreaksAndZeroBytesCannotBeSent)
{
    EXPECT_TRUE(isSendableUri("album/01 \"first\".wav"));
    EXPECT_FALSE(isSendableUri("a\nkill"));
    EXPECT_FALSE(isSendableUri("a\rb"));
    EXPECT_FALSE(isSendableUri("a\0b"s));
    EXPECT_FALSE(isSendableUri(""));
}

} // namespace
} // namespace zelvor
