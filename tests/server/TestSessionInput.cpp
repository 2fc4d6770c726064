// SPDX-License-Identifier: MIT
#include "server/SessionInput.h"

#include "server/TelnetSession.h"

#include <gtest/gtest.h>

#include <string>

namespace zelvor {
namespace {

/** Writes the keystrokes as text: runs in brackets, <BS> and <CR>. */
class RecordingSink : public KeystrokeSink
{
public:
    void onText(std::string_view run) override { events += "[" + std::string(run) + "]"; }
    void onBackspace() override { events += "<BS>"; }
    bool onEnter() override
    {
        events += "<CR>";
        return --entersBeforeClose != 0;
    }
    std::string events;
    int entersBeforeClose = -1;
};

std::string decode(std::initializer_list<std::string_view> chunks, TelnetSession* keep = nullptr)
{
    TelnetSession local;
    TelnetSession& session = keep ? *keep : local;
    RecordingSink sink;
    for (const auto chunk : chunks)
        decodeKeystrokes(chunk, session, sink);
    return sink.events;
}

TEST(SessionInput, KeysTypedOneByOneComeOutOneByOne)
{
    EXPECT_EQ(decode({"p", "l", "a", "y", "\r", "\n"}), "[p][l][a][y]<CR>");
}

TEST(SessionInput, KeysArrivingTogetherStayOneRun)
{
    EXPECT_EQ(decode({"pl"}), "[pl]");
}

TEST(SessionInput, EnterCountsOnceWhateverTheClientSendsWithIt)
{
    EXPECT_EQ(decode({"\r\n"}), "<CR>");
    EXPECT_EQ(decode({std::string_view("\r\0", 2)}), "<CR>");
    EXPECT_EQ(decode({"\r", "\n"}), "<CR>");
    EXPECT_EQ(decode({"\r", std::string_view("\0", 1)}), "<CR>");
    EXPECT_EQ(decode({"\n"}), "<CR>");
    EXPECT_EQ(decode({"\n\n"}), "<CR><CR>");
    EXPECT_EQ(decode({"\r\r"}), "<CR><CR>");
}

TEST(SessionInput, WholeLinesInOneChunkAreSplit)
{
    EXPECT_EQ(decode({"help\r\nstatus\r\n"}), "[help]<CR>[status]<CR>");
    EXPECT_EQ(decode({"ls\npwd\n"}), "[ls]<CR>[pwd]<CR>");
    EXPECT_EQ(decode({"ab\r", "\ncd"}), "[ab]<CR>[cd]");
}

TEST(SessionInput, BackspaceAndDeleteBothErase)
{
    EXPECT_EQ(decode({"ab\bc"}), "[ab]<BS>[c]");
    EXPECT_EQ(decode({"ab\x7f"}), "[ab]<BS>");
}

TEST(SessionInput, TelnetNegotiationIsConsumed)
{
    // What a Linux telnet client sends right after connecting to port 23.
    EXPECT_EQ(decode({"\xff\xfd\x03\xff\xfb\x18\xff\xfb\x1f\xff\xfb\x20user"}), "[user]");
    EXPECT_EQ(decode({"ab\xff\xf1"
                      "cd"}),
              "[ab][cd]");
    using namespace std::literals;
    EXPECT_EQ(decode({"\xff\xfa\x18\x00\x58\x54\x45\x52\x4d\xff\xf0x"sv}), "[x]");
}

TEST(SessionInput, TelnetSequencesSplitAcrossChunksAreConsumed)
{
    EXPECT_EQ(decode({"a\xff", "\xfd", "\x01", "b"}), "[a][b]");
    EXPECT_EQ(decode({"\xff\xfa\x18", "junk\r\n", "\xff", "\xf0ok"}), "[ok]");
}

TEST(SessionInput, DoubledIacIsOneDataByte)
{
    EXPECT_EQ(decode({"a\xff\xff"
                      "b"}),
              "[a][\xff"
              "b]");
    EXPECT_EQ(decode({"\xff", "\xff"}), "[\xff]");
}

TEST(SessionInput, RestOfChunkIsDroppedWhenTheConnectionEnds)
{
    TelnetSession session;
    RecordingSink sink;
    sink.entersBeforeClose = 1;
    decodeKeystrokes("exit\r\nplay\r\n", session, sink);
    EXPECT_EQ(sink.events, "[exit]<CR>");
}

TEST(SessionInput, OtherControlBytesAreText)
{
    EXPECT_EQ(decode({"a\tb\x01"}), "[a\tb\x01]");
}

} // namespace
} // namespace zelvor
