// SPDX-License-Identifier: MIT
#include "commands/DirectoryCommands.h"

#include "commands/CommandFakes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace zelvor::test {
namespace {

namespace fs = std::filesystem;

// music/ is the server root; outside/ next to it must stay out of reach.
class DirectoryCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        temp.write("music/Rock/Live/concert.mp3");
        temp.write("music/Rock/song.mp3");
        temp.write("music/Rock/Other.MP3");
        temp.write("music/Rock/notes.txt");
        temp.mkdir("music/Jazz");
        temp.write("music/readme");
        temp.write("music/Beta.mp3");
        temp.write("music/alpha.mp3");
        temp.write("music/_intro.mp3");
        temp.mkdir("music/.hidden");
        temp.write("music/.secret.mp3");
        temp.write("music/clear\x1b[2J.mp3");
        temp.write("outside/secret.txt");
        fs::create_directory_symlink(temp.path() / "outside", root() / "Link");
        fs::create_symlink("Loop", root() / "Loop");
        f.settings.ServerRoot = root().string();
    }

    fs::path root() const { return temp.path() / "music"; }
    std::string shown(const std::string& below) const { return "\r\n" + root().string() + below; }
    std::string hostPath(const std::string& below) const { return root().string() + below; }

    Sends listing(const std::string& pattern, const Sends& names) const
    {
        Sends sends{shown(pattern)};
        for (const auto& name : names)
            sends.push_back("\r\n" + name);
        return sends;
    }

    TempDir temp;
    CommandFixture f;
};

TEST_F(DirectoryCommands, CdWalksDownAndUpAndPwdShowsTheProtocolForm)
{
    const struct
    {
        std::string line, dir;
    } steps[] = {
        {"cd Rock", "\\Rock\\"},
        {"cd Live", "\\Rock\\Live\\"},
        {"cd ..", "\\Rock\\"},
        {"cd \\", "\\"},
        {"cd ..", "\\"},
        {"cd Rock\\Live", "\\Rock\\Live\\"},
        {"cd ..", "\\Rock\\"},
        {"cd ..", "\\"},
        // Closing separators, one or more, name no further folder.
        {"cd Rock\\", "\\Rock\\"},
        {"cd ..", "\\"},
        {"cd Rock\\Live\\\\/", "\\Rock\\Live\\"},
        {"cd ..\\", "\\Rock\\"},
        {"cd \\", "\\"},
        {"cd /", "\\"},
        {"cd \\\\", "\\"},
        {"cd Rock\\\\Live", "\\Rock\\\\Live\\"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.line);
        EXPECT_EQ(f.run(step.line), PromptSelector::Command);
        EXPECT_TRUE(f.connection.sends.empty());
        EXPECT_EQ(f.run("pwd"), PromptSelector::Command);
        EXPECT_EQ(f.connection.sends, Sends{"\r\n" + step.dir});
    }
}

TEST_F(DirectoryCommands, CdToNothingOrNoFolderChangesNothing)
{
    f.run("cd Rock");
    for (const char* line : {"cd", "cd ", "cd Missing", "cd song.mp3", "cd Live\\concert.mp3"}) {
        f.run(line);
        EXPECT_TRUE(f.connection.sends.empty()) << line;
        EXPECT_EQ(f.session.CurrentDir, "\\Rock\\") << line;
    }
}

TEST_F(DirectoryCommands, CdFindsFoldersWithoutRegardToCase)
{
    f.run("cd rock\\LIVE");
    EXPECT_EQ(f.session.CurrentDir, "\\rock\\LIVE\\");
    f.run("ls");
    EXPECT_EQ(f.connection.sends, listing("/rock/LIVE/", {"concert.mp3"}));
}

TEST_F(DirectoryCommands, NamesBeyondAsciiAreFoundWithoutRegardToCase)
{
    temp.write("music/Björk/Jóga.flac");
    temp.write("music/Café del Mar/Ωμέγα.mp3");
    // Not UTF-8 (Latin-1 bytes): only the ASCII letters fold.
    temp.write("music/Sigur R\xf3s/Hopp\xedpolla.ogg");
    const struct
    {
        std::string line;
        Sends sends;
    } rows[] = {
        {"cd BJÖRK", {}},
        {"pwd", {"\r\n\\BJÖRK\\"}},
        {"ls JÓ*", {shown("/BJÖRK/JÓ*"), "\r\nJóga.flac"}},
        {"ls J?GA.FLAC", {shown("/BJÖRK/J?GA.FLAC"), "\r\nJóga.flac"}},
        {"cd \\", {}},
        {"cd CAFÉ DEL MAR", {}},
        {"pwd", {"\r\n\\CAFÉ DEL MAR\\"}},
        {"cd \\", {}},
        {"find JÓGA", {"\r\nBjörk\\Jóga.flac"}},
        {"find ΩΜΈΓΑ", {"\r\nCafé del Mar\\Ωμέγα.mp3"}},
        {"find ?Μ?ΓΑ.MP3", {"\r\nCafé del Mar\\Ωμέγα.mp3"}},
        {"cd SIGUR R\xf3S", {}},
        {"pwd", {"\r\n\\SIGUR R\xf3S\\"}},
        {"cd \\", {}},
        {"cd SIGUR R\xd3S", {}},
        {"pwd", {"\r\n\\"}},
        {"find HOPP\xcdPOLLA", {"\r\nNothing found"}},
        {"find hopp\xedPOLLA", {"\r\nSigur R\xf3s\\Hopp\xedpolla.ogg"}},
    };
    for (const auto& row : rows) {
        f.run(row.line);
        EXPECT_EQ(f.connection.sends, row.sends) << row.line;
    }
    f.run("load björk\\JÓGA.FLAC");
    EXPECT_EQ(f.playerWork(), Calls{"add " + hostPath("/Björk/Jóga.flac")});
}

TEST_F(DirectoryCommands, LinesThatFindPrintsWorkWithCdLsAndLoad)
{
    temp.write("music/Café del Mar/Marée.mp3");
    f.run("find MAR");
    EXPECT_EQ(f.connection.sends, Sends{"\r\nCafé del Mar\\\r\nCafé del Mar\\Marée.mp3"});
    for (const std::string line : {"Café del Mar\\", "Café del Mar\\Marée.mp3"}) {
        const bool folder = line.back() == '\\';
        const std::string name = line.substr(0, line.size() - (folder ? 1 : 0));
        std::string below = "/" + name + (folder ? "/" : "");
        std::replace(below.begin(), below.end(), '\\', '/');
        for (const std::string& typed : {line, folder ? line + "/\\" : line}) {
            SCOPED_TRACE(typed);
            f.session.CurrentDir = "\\";
            f.run("cd " + typed);
            EXPECT_EQ(f.session.CurrentDir, folder ? "\\" + name + "\\" : "\\");
            f.run("cd ..");
            EXPECT_EQ(f.session.CurrentDir, "\\");
            f.run("ls " + typed);
            EXPECT_EQ(f.connection.sends, listing(below, {"Marée.mp3"}));
            f.run("load " + typed);
            EXPECT_EQ(f.playerWork(), Calls{"add " + hostPath(below)});
        }
    }
}

TEST_F(DirectoryCommands, LsListsVisibleEntriesInNameOrder)
{
    f.run("ls");
    EXPECT_EQ(f.connection.sends, listing("/", {"alpha.mp3", "Beta.mp3", "Jazz", "Link", "readme",
                                                "Rock", "_intro.mp3"}));
    f.run("ls *.*");
    EXPECT_EQ(f.connection.sends, listing("/*.*", {"alpha.mp3", "Beta.mp3", "Jazz", "Link",
                                                   "readme", "Rock", "_intro.mp3"}));
    f.run("ls *.mp3");
    EXPECT_EQ(f.connection.sends, listing("/*.mp3", {"alpha.mp3", "Beta.mp3", "_intro.mp3"}));
    f.run("ls ?ock");
    EXPECT_EQ(f.connection.sends, listing("/?ock", {"Rock"}));
    f.run("ls *.wav");
    EXPECT_EQ(f.connection.sends, listing("/*.wav", {}));
}

TEST_F(DirectoryCommands, LsFilterMayNameFoldersFirst)
{
    f.run("ls rock\\*.MP3");
    EXPECT_EQ(f.connection.sends, listing("/rock/*.MP3", {"Other.MP3", "song.mp3"}));
    f.run("ls Rock\\");
    EXPECT_EQ(f.connection.sends,
              listing("/Rock/", {"Live", "notes.txt", "Other.MP3", "song.mp3"}));
    f.run("cd Rock");
    f.run("ls *.mp3");
    EXPECT_EQ(f.connection.sends, listing("/Rock/*.mp3", {"Other.MP3", "song.mp3"}));
    f.run("ls ..");
    EXPECT_EQ(f.connection.sends.size(), 8u); // the pattern line and the root's seven entries
}

TEST_F(DirectoryCommands, RootTypedWithClosingSeparator)
{
    f.settings.ServerRoot = root().string() + "/";
    f.run("cd Rock");
    EXPECT_EQ(f.session.CurrentDir, "\\Rock\\");
    f.run("ls");
    EXPECT_EQ(f.connection.sends,
              listing("//Rock/", {"Live", "notes.txt", "Other.MP3", "song.mp3"}));
    f.run("load song.mp3");
    EXPECT_EQ(f.playerWork(), Calls{"add " + hostPath("/Rock/song.mp3")});
}

TEST_F(DirectoryCommands, LoadHandsThePlayerHostPaths)
{
    const struct
    {
        std::string line, path;
    } rows[] = {
        {"load", ""},
        {"load ", "/"},
        {"load Rock", "/Rock"},
        {"load rock\\SONG.mp3", "/Rock/song.mp3"},
    };
    for (const auto& row : rows) {
        f.run(row.line);
        EXPECT_EQ(f.player.calls, (Calls{"begin", "add " + hostPath(row.path), "end"})) << row.line;
    }
    // A name that is not there is not handed over, and nothing is said, as by cd.
    f.run("load Rock\\New.mp3");
    EXPECT_EQ(f.player.calls, (Calls{"begin", "end"}));
    EXPECT_TRUE(f.connection.sends.empty());
    f.run("cd Rock");
    for (const auto& [line, path] :
         {std::pair{"load", "/Rock"}, {"load ", "/Rock/"}, {"load song.mp3", "/Rock/song.mp3"}}) {
        f.run(line);
        EXPECT_EQ(f.playerWork(), Calls{"add " + hostPath(path)}) << line;
    }
}

// A load that added nothing, or a close that ended nothing, says why; a name not found below
// the root stays silent.
TEST_F(DirectoryCommands, LoadAndCloseSayWhyNothingHappened)
{
    const std::string failure = "\r\nCommand Failed - Winamp may not be running";
    const struct
    {
        std::string line;
        bool running;
        Outcome outcome;
        std::string reason;
        std::string reply;
        PromptSelector selector;
    } rows[] = {
        {"load Rock", true, Outcome::Done, "", "", PromptSelector::Command},
        {"load Rock", false, Outcome::Done, "", failure, PromptSelector::PlayerMissing},
        {"load Rock", true, Outcome::NotOffered, "audacious takes no files over the bus",
         "\r\nLoad not available: audacious takes no files over the bus", PromptSelector::Command},
        {"load Rock", true, Outcome::Failed, "Not found", "\r\nLoad failed: Not found",
         PromptSelector::Command},
        {"load Nowhere", false, Outcome::Done, "", "", PromptSelector::Command},
        {"close", true, Outcome::NotOffered, "", "\r\nClose not available",
         PromptSelector::Command},
        {"close", true, Outcome::Failed, "you don't have permission for \"kill\"",
         failure + "\r\nyou don't have permission for \"kill\"", PromptSelector::PlayerMissing},
        {"close", false, Outcome::Done, "", failure, PromptSelector::PlayerMissing},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line + " " + row.reply);
        f.player.running = row.running;
        f.player.commandOutcome = row.outcome;
        f.player.commandReason = row.reason;
        f.connection.sends.clear();
        EXPECT_EQ(f.run(row.line), row.selector);
        EXPECT_EQ(f.connection.sends, row.reply.empty() ? Sends{} : Sends{row.reply});
    }
}

TEST_F(DirectoryCommands, LinksInsideTheRootAreFollowed)
{
    f.run("cd Link");
    EXPECT_EQ(f.session.CurrentDir, "\\Link\\");
    f.run("ls");
    EXPECT_EQ(f.connection.sends, listing("/Link/", {"secret.txt"}));
    // ".." is taken on the text: from inside the link it leads back into the root.
    f.run("ls ..\\R*");
    EXPECT_EQ(f.connection.sends, listing("/Link/../R*", {"readme", "Rock"}));
    f.run("cd Loop");
    EXPECT_EQ(f.session.CurrentDir, "\\Link\\");
}

TEST_F(DirectoryCommands, NothingOutsideTheRootCanBeReached)
{
    const std::string escapes[] = {
        "..\\outside",
        "../outside",
        "..\\\\outside",
        "..//outside\\",
        "Rock\\..\\..\\outside",
        "Rock\\Live\\..\\..\\..\\outside",
        ".\\..\\outside",
        "Link\\..\\..\\outside",
        "Link/../../outside",
        "..\\music\\..\\outside",
        "Jazz\\..\\..\\outside\\",
        "\\..\\outside",
        "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\tmp",
    };
    for (const std::string& escape : escapes) {
        SCOPED_TRACE(escape);
        f.run("cd " + escape);
        EXPECT_TRUE(f.connection.sends.empty());
        EXPECT_EQ(f.session.CurrentDir, "\\");
        f.run("ls " + escape + "\\*");
        EXPECT_EQ(f.connection.sends.size(), 1u);
        f.run("load " + escape + "\\secret.txt");
        EXPECT_TRUE(f.playerWork().empty());
    }
    // From inside the link, climbing twice lands next to the root, not above the link's target.
    f.run("cd Link");
    f.run("cd ..\\..");
    f.run("ls ..\\..\\*");
    EXPECT_EQ(f.connection.sends.size(), 1u);
    EXPECT_EQ(f.session.CurrentDir, "\\Link\\");
}

TEST_F(DirectoryCommands, AbsolutePathsStayBelowTheRoot)
{
    const std::string outside = (temp.path() / "outside").string();
    f.run("cd " + outside);
    f.run("cd \\etc");
    EXPECT_EQ(f.session.CurrentDir, "\\");
    f.run("ls " + outside + "/*");
    EXPECT_EQ(f.connection.sends, listing("/" + outside + "/*", {}));
    // It would name root/etc/passwd, which is not there.
    f.run("load \\etc\\passwd");
    EXPECT_TRUE(f.playerWork().empty());
}

TEST_F(DirectoryCommands, ControlBytesAndLongNamesAreNotFound)
{
    const std::string names[] = {std::string("Rock\0junk", 9),
                                 "Ro\x01"
                                 "ck",
                                 "Rock\r", std::string(300, 'a'), std::string(5000, 'a')};
    for (const std::string& name : names) {
        f.run("cd " + name);
        EXPECT_EQ(f.session.CurrentDir, "\\");
        f.run("ls " + name);
        EXPECT_EQ(f.connection.sends.size(), 1u);
        f.run("load " + name);
        EXPECT_TRUE(f.playerWork().empty());
    }
    f.run(std::string("load song.mp3\0.txt", 18));
    EXPECT_TRUE(f.playerWork().empty());

    std::string deep;
    for (int i = 0; i < 600; ++i)
        deep += "Rock\\..\\abcdefgh\\";
    f.run("cd " + deep);
    EXPECT_EQ(f.session.CurrentDir, "\\");
    f.run("ls " + deep + "*");
    EXPECT_EQ(f.connection.sends.size(), 1u);
}

} // namespace
} // namespace zelvor::test
