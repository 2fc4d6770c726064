// SPDX-License-Identifier: MIT
#include "server/SessionInput.h"

#include "server/TelnetSession.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>
#include <string>

namespace zelvor {
namespace {

/** Writes the keystrokes as text: runs in brackets, <BS> and <CR>, answers in braces. */
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
    void onNegotiation(std::string_view reply) override
    {
        static const std::map<unsigned char, std::string> names = {
            {251, "WILL"}, {252, "WONT"}, {253, "DO"}, {254, "DONT"}};
        if (reply.size() != 3 || static_cast<unsigned char>(reply[0]) != 255 ||
            !names.count(static_cast<unsigned char>(reply[1]))) {
            events += "{malformed}";
            return;
        }
        events += "{" + names.at(static_cast<unsigned char>(reply[1])) + " " +
                  std::to_string(static_cast<unsigned char>(reply[2])) + "}";
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

using namespace std::literals;

// Options by number: 1 ECHO, 3 SUPPRESS-GO-AHEAD, 24 TERMINAL-TYPE, 31 NAWS, 32 TERMINAL-SPEED,
// 34 LINEMODE, 5 STATUS. The server's own offers after the client's first command come as
// {WILL 1}{WILL 3}, each unless already agreed.
struct NegotiationRow
{
    const char* what;
    std::vector<std::string_view> chunks;
    std::string events;
};

TEST(SessionInput, NegotiationIsAnsweredOnceAndNeverLandsInTheBuffers)
{
    const std::vector<NegotiationRow> rows = {
        {"no telnet command: nothing is ever sent", {"ab\r"}, "[ab]<CR>"},
        {"DO ECHO granted, then SUPPRESS-GO-AHEAD offered",
         {"\xff\xfd\x01x"sv},
         "{WILL 1}{WILL 3}[x]"},
        {"both asked for: both granted, nothing offered on top",
         {"\xff\xfd\x01\xff\xfd\x03"sv},
         "{WILL 1}{WILL 3}"},
        {"acknowledgements of the offers get no answer",
         {"\xff\xfb\x18"sv, "\xff\xfd\x01\xff\xfd\x03"sv},
         "{DONT 24}{WILL 1}{WILL 3}"},
        {"a repeated DO of an agreed option changes nothing",
         {"\xff\xfd\x01"sv, "\xff\xfd\x01\xff\xfd\x01"sv},
         "{WILL 1}{WILL 3}"},
        {"what Linux telnet sends on port 23: all refused but SUPPRESS-GO-AHEAD",
         {"\xff\xfd\x03\xff\xfb\x18\xff\xfb\x1f\xff\xfb\x20\xff\xfb\x22\xff\xfd\x05user"sv},
         "{WILL 3}{WILL 1}{DONT 24}{DONT 31}{DONT 32}{DONT 34}{WONT 5}[user]"},
        {"the client's own echo is refused", {"\xff\xfb\x01"sv}, "{DONT 1}{WILL 1}{WILL 3}"},
        {"DONT ECHO after agreeing is confirmed once",
         {"\xff\xfd\x01"sv, "\xff\xfe\x01"sv, "\xff\xfe\x01"sv},
         "{WILL 1}{WILL 3}{WONT 1}"},
        {"DONT answering the offer is accepted silently; a later DO is granted",
         {"\xff\xfc\x18"sv, "\xff\xfe\x01"sv, "\xff\xfd\x01"sv},
         "{WILL 1}{WILL 3}{WILL 1}"},
        {"WONT and DONT of options that are off get no answer",
         {"\xff\xfc\x18\xff\xfe\x22"sv},
         "{WILL 1}{WILL 3}"},
        {"a two-byte command between keys",
         {"ab\xff\xf1"
          "cd"sv},
         "[ab]{WILL 1}{WILL 3}[cd]"},
        {"subnegotiation swallowed whole, Enter inside it too",
         {"\xff\xfa\x18\x00XTERM\r\n\xff\xf0x"sv},
         "{WILL 1}{WILL 3}[x]"},
        {"IAC IAC inside a subnegotiation does not end it",
         {"\xff\xfa\x18\xff\xff\xff\xf0ok"sv},
         "{WILL 1}{WILL 3}[ok]"},
        {"sequences split at every byte",
         {"a\xff"sv, "\xfd"sv, "\x01"sv, "b"sv},
         "[a]{WILL 1}{WILL 3}[b]"},
        {"subnegotiation split across chunks",
         {"\xff\xfa\x18"sv, "junk\r\n"sv, "\xff"sv, "\xf0ok"sv},
         "{WILL 1}{WILL 3}[ok]"},
        {"Enter right after a negotiation is still Enter",
         {"\xff\xfd\x01\r\n"sv},
         "{WILL 1}{WILL 3}<CR>"},
        {"Enter's LF after a negotiation in between is dropped",
         {"\r"sv, "\xff\xf1"sv, "\n"sv},
         "<CR>{WILL 1}{WILL 3}"},
        {"Backspace after a negotiation", {"a"sv, "\xff\xfd\x03\x7f"sv}, "[a]{WILL 3}{WILL 1}<BS>"},
        {"IAC IAC is one data byte 255 and marks a telnet client",
         {"a\xff\xff"
          "b"sv},
         "[a]{WILL 1}{WILL 3}[\xff"
         "b]"},
        {"IAC IAC split across chunks", {"\xff"sv, "\xff"sv}, "{WILL 1}{WILL 3}[\xff]"},
    };
    for (const auto& row : rows) {
        TelnetSession session;
        RecordingSink sink;
        for (const auto chunk : row.chunks)
            decodeKeystrokes(chunk, session, sink);
        EXPECT_EQ(sink.events, row.events) << row.what;
        EXPECT_EQ(session.clientNegotiates, row.events.find('{') != std::string::npos) << row.what;
    }
}

TEST(SessionInput, ByteFFIsDoubledOnlyForAClientThatSpeaksTelnet)
{
    TelnetSession session;
    std::string storage;
    EXPECT_EQ(forClient("a\xff"
                        "b",
                        session, storage),
              "a\xff"
              "b");
    session.clientNegotiates = true;
    EXPECT_EQ(forClient("a\xff"
                        "b\xff",
                        session, storage),
              "a\xff\xff"
              "b\xff\xff");
    EXPECT_EQ(forClient("plain", session, storage), "plain");
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
