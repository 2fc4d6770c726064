// SPDX-License-Identifier: MIT
#include "commands/HelpTexts.h"

#include "commands/CommandFakes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

namespace zelvor::test {
namespace {

const std::string kOverview =
    "\r\nZelvor: The Tollomere"
    "\r\nZelvor provides remote functionality to Winamp through a telnet interface."
    "\r\nZelvor understands the following commands. Type 'help <command>' to learn more."
    "\r\nopen, close, play, stop, pause, ff, rw, volup, voldn, shuffle, repeat, clear,"
    "\r\nload, status, ls, pwd, cd, exit"
    "\r\nAlso: np, queue, goto, vol, seek, find, sleep, next, prev";

TEST(HelpTexts, EveryTopicSendsItsLinesInOneSend)
{
    const struct
    {
        std::string topic, text;
    } rows[] = {
        {"volup", "\r\nVolup: Volume up\r\nusage: volup - increases volume by 1%"
                  "\r\n       volup n - increases volume by n%"},
        {"voldn", "\r\nVoldn: Volume down\r\nusage: voldn - decreases volume by 1%"
                  "\r\n       voldn n - decreases volume by n%"},
        {"exit", "\r\nExit: Disconnects from Server\r\nusage: exit - disconnects user"},
        {"ff", "\r\nFF: Fast forward\r\nusage: ff - fast forwards 1 track"},
        {"rw", "\r\nRW: Rewind\r\nusage: rw - goes back 1 track"},
        {"play", "\r\nPlay: Start playing\r\nusage: play - starts winamp playing"},
        {"stop", "\r\nStop: Stop playing\r\nusage: stop - stops winamp"},
        {"pause", "\r\nPause: Pause current track\r\nusage: pause - toggles pause"
                  "\r\n       type pause to suspend playing, type again to resume"},
        {"shuffle",
         "\r\nShuffle: Toggle shuffle mode\r\nusage: shuffle - toggles shuffle mode on/off"},
        {"repeat", "\r\nRepeat: Toggle repeat mode\r\nusage: repeat - toggles repead mode on/off"},
        {"clear", "\r\nClear: Clear playlist\r\nusage: clear - removes all tracks from playlist"},
        {"close", "\r\nClose: Close Winamp\r\nusage: close - closes the winamp program"},
        {"open", "\r\nOpen: Open Winamp\r\nusage: open - opens a new winamp program"},
        {"pwd", "\r\nPwd: Display current directory\r\nusage: pwd - displays current directory"},
        {"cd", "\r\nCd: Change Directory"
               "\r\nusage: cd <directory> - where <directory> is a subdirectory"
               "\r\n       use cd .. to go back a directory"
               "\r\n       use cd / to go straight to the root folder"},
        {"ls", "\r\nLs: List files\r\nusage: ls |<filter> - lists contents of current directory"
               "\r\n       use <filter> to filter results."
               "\r\n       i.e. ls *.mp3 to show all mp3 files"},
        {"load", "\r\nLoad: Load file into Winamp"
                 "\r\nusage: load |<file> - loads file or folder into playlist"
                 "\r\n       using load with no arguments loads contents of current directory"},
        {"status",
         "\r\nStatus: Display Winamp Status\r\nusage: status - displays running status of winamp"},
        {"next", "\r\nNext: Next track\r\nusage: next - goes forward 1 track, as ff does"},
        {"prev", "\r\nPrev: Previous track\r\nusage: prev - goes back 1 track, as rw does"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.topic);
        CommandFixture f;
        EXPECT_EQ(f.run("help " + row.topic), PromptSelector::Command);
        EXPECT_EQ(f.connection.sends, Sends{row.text});
    }
}

// The later verbs' topics keep the form of the others: a title line named after the verb, a
// usage line, and continuation lines under the text behind "usage: ".
TEST(HelpTexts, LaterVerbsHaveTopicsOfTheSameForm)
{
    for (const std::string verb :
         {"np", "queue", "goto", "vol", "seek", "find", "sleep", "next", "prev"}) {
        SCOPED_TRACE(verb);
        CommandFixture f;
        f.run("help " + verb);
        ASSERT_EQ(f.connection.sends.size(), 1U);
        const std::string& text = f.connection.sends[0];
        std::string title = verb;
        title[0] = static_cast<char>(title[0] - 'a' + 'A');
        EXPECT_EQ(text.rfind("\r\n" + title + ": ", 0), 0U);
        EXPECT_NE(text.find("\r\nusage: " + verb), std::string::npos);
        for (std::size_t at = text.find("\r\n", 2); at != std::string::npos;
             at = text.find("\r\n", at + 2)) {
            const auto line = text.substr(at + 2, text.find("\r\n", at + 2) - at - 2);
            EXPECT_TRUE(line.rfind("usage: " + verb, 0) == 0 || line.rfind("       ", 0) == 0)
                << line;
            EXPECT_LE(line.size(), 79U) << line;
        }
    }
}

#ifdef ZELVOR_SOURCE_ROOT
// The command table of the Windows zip's README.txt: lines "  play, stop, pause     what...".
std::set<std::string> readmeVerbs()
{
    std::ifstream in(ZELVOR_SOURCE_ROOT "/packaging/windows/README.txt");
    std::set<std::string> verbs;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("  ", 0) != 0 || line.rfind("   ", 0) == 0)
            continue;
        std::istringstream column(line.substr(2, line.find("  ", 2) - 2));
        for (std::string item; std::getline(column >> std::ws, item, ',');)
            verbs.insert(item.substr(0, item.find(' ')));
    }
    return verbs;
}

// Whoever adds a verb to help also tells the Windows user about it.
TEST(HelpTexts, TheWindowsReadmeListsEveryVerbThatHelpKnows)
{
    std::set<std::string> verbs{"help"};
    std::istringstream overview(kOverview.substr(kOverview.find("more.") + 5));
    for (std::string word; overview >> word;) {
        if (word.back() == ',')
            word.pop_back();
        if (word != "Also:")
            verbs.insert(word);
    }
    EXPECT_EQ(verbs.size(), 28U);
    EXPECT_EQ(readmeVerbs(), verbs);
}
#endif

TEST(HelpTexts, NpTellsWhatNpFollowDoes)
{
    CommandFixture f;
    f.run("help np");
    EXPECT_EQ(f.connection.sends,
              Sends{"\r\nNp: Now playing"
                    "\r\nusage: np - shows state, entry, title and times of the current song"
                    "\r\n       np follow - shows it again each time it changes, until a key"});
}

TEST(HelpTexts, AnythingButAnExactVerbGetsTheOverview)
{
    for (const char* line :
         {"help", "help ", "help help", "help PLAY", "help  play", "help play ", "help \r\n"}) {
        CommandFixture f;
        EXPECT_EQ(f.run(line), PromptSelector::Command);
        EXPECT_EQ(f.connection.sends, Sends{kOverview}) << line;
    }
}

} // namespace
} // namespace zelvor::test
