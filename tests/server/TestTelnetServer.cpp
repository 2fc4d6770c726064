// SPDX-License-Identifier: MIT
#include "server/TelnetServer.h"

#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "settings/ServerSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace zelvor {
namespace {

using test::FakeSocket;

class TelnetServerTest : public ::testing::Test
{
protected:
    TelnetServerTest()
    {
        settings.Port = "2323";
        settings.LogFile = (dir.path() / "zelvor.log").string();
        log.onStatus = [this](const std::string& word) { words.push_back(word); };
    }

    void start() { server.Server_Load(); }
    void connect()
    {
        server.Winsock1_ConnectionRequest();
        greeting = socket.takeReceived();
    }
    /** Types each byte as its own chunk, as a client in character mode does. */
    void typeKeys(std::string_view keys)
    {
        for (const char key : keys)
            server.Winsock1_DataArrival(std::string_view(&key, 1));
    }
    void login(std::string_view user, std::string_view pass)
    {
        typeKeys(user);
        typeKeys("\r");
        typeKeys(pass);
        typeKeys("\r");
    }
    std::string logText() const { return test::readFile(settings.LogFile); }

    test::TempDir dir;
    ServerSettings settings;
    FakeSocket socket;
    ActivityLog log{settings, [] { return std::string("2026-12-07 10:11:12"); }};
    test::AbsentPlayer player;
    HostFolders folders;
    test::ManualScheduler scheduler;
    TelnetServer server{settings, socket, log, player, folders, scheduler};
    std::vector<std::string> words;
    std::string greeting;
};

TEST_F(TelnetServerTest, GreetingWithLoginOnIsThreeWritesEndingInUserPrompt)
{
    start();
    server.Winsock1_ConnectionRequest();
    EXPECT_EQ(socket.writes,
              (std::vector<std::string>{std::string(kGreeting), std::string(kNotice), "User:"}));
    EXPECT_EQ(kNotice.find_first_of("\r\n"), kNotice.size() - 2);
    EXPECT_EQ(words, (std::vector<std::string>{"started", "connecting"}));
}

TEST_F(TelnetServerTest, GreetingWithLoginOffEndsInCommandPrompt)
{
    settings.LoginRequired = false;
    start();
    connect();
    EXPECT_EQ(greeting, "Zelvor v.1.0\r\n" + std::string(kNotice) + "\r\nZelvor>");
    EXPECT_EQ(words, (std::vector<std::string>{"started", "connected", "connecting"}));
    EXPECT_EQ(log.statusWord(), "connecting");
}

TEST_F(TelnetServerTest, AcceptingStopsListening)
{
    start();
    EXPECT_EQ(socket.state, FakeSocket::State::Listening);
    connect();
    EXPECT_EQ(socket.closes, 1);
    EXPECT_EQ(socket.state, FakeSocket::State::Connected);
}

TEST_F(TelnetServerTest, LoginEchoesUserNameButNotPassword)
{
    settings.Password = "secret";
    start();
    connect();
    typeKeys("user\r\n");
    EXPECT_EQ(socket.takeReceived(), "user\r\nPass:");
    typeKeys("secret\r\n");
    EXPECT_EQ(socket.takeReceived(), "\r\nZelvor>");
    EXPECT_EQ(server.session().Stage, SessionStage::Command);
}

TEST_F(TelnetServerTest, FailedLoginAsksAgainAfterAPauseAndRetrySucceeds)
{
    using namespace std::chrono_literals;
    settings.Password = "pw";
    start();
    connect();
    login("User", "pw");
    EXPECT_EQ(socket.takeReceived(), "User\r\nPass:");
    EXPECT_EQ(log.statusWord(), "login failed");
    EXPECT_EQ(server.session().UserBuffer, "");
    // Whatever comes during the pause is dropped, also the rest of the failing chunk.
    server.Winsock1_DataArrival("user\rpw\r");
    scheduler.advance(999ms);
    EXPECT_EQ(socket.takeReceived(), "");
    scheduler.advance(1ms);
    EXPECT_EQ(socket.takeReceived(), "\r\nUser:");
    login("user", "pw ");
    scheduler.advance(1s);
    EXPECT_EQ(socket.takeReceived(), "user\r\nPass:\r\nUser:");
    login("user", "pw");
    EXPECT_EQ(socket.takeReceived(), "user\r\nPass:\r\nZelvor>");
    EXPECT_EQ(std::count(words.begin(), words.end(), "login failed"), 2);
}

TEST_F(TelnetServerTest, ClientThatDoesNotLogInWithinAMinuteIsDisconnected)
{
    using namespace std::chrono_literals;
    start();
    connect();
    typeKeys("us");
    socket.takeReceived();
    scheduler.advance(59s);
    EXPECT_EQ(socket.state, FakeSocket::State::Connected);
    words.clear();
    scheduler.advance(1s);
    EXPECT_EQ(socket.state, FakeSocket::State::Listening);
    EXPECT_EQ(words, (std::vector<std::string>{"disconnecting", "started"}));
    EXPECT_EQ(socket.received(), "");
}

TEST_F(TelnetServerTest, LoggedInSessionHasNoTimeLimit)
{
    using namespace std::chrono_literals;
    start();
    connect();
    login("user", "");
    scheduler.advance(24h);
    EXPECT_EQ(socket.state, FakeSocket::State::Connected);
    EXPECT_EQ(scheduler.pending(), 0u);
}

TEST_F(TelnetServerTest, ClosingDuringTheLoginPauseCancelsIt)
{
    using namespace std::chrono_literals;
    start();
    connect();
    login("x", "y");
    server.Winsock1_Close();
    socket.takeReceived();
    scheduler.advance(2s);
    EXPECT_EQ(socket.received(), "");
}

TEST_F(TelnetServerTest, CongestedClientGetsNoMoreLinesCarriedOut)
{
    settings.LoginRequired = false;
    start();
    connect();
    socket.congestedNow = true;
    const std::string input = "a\r\nb\r\n";
    const std::size_t used = server.Winsock1_DataArrival(input);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(socket.takeReceived(), "a\r\nI don't know how to a\r\nZelvor>");
    socket.congestedNow = false;
    EXPECT_EQ(server.Winsock1_DataArrival(std::string_view(input).substr(used)), 4u);
    EXPECT_EQ(socket.takeReceived(), "b\r\nI don't know how to b\r\nZelvor>");
}

TEST_F(TelnetServerTest, EmptyUserNameAndPasswordLogInWithTwoEnters)
{
    settings.UserName = "";
    start();
    connect();
    typeKeys("\r\r");
    EXPECT_EQ(socket.takeReceived(), "\r\nPass:\r\nZelvor>");
}

TEST_F(TelnetServerTest, CredentialsAreReadAtEachAttempt)
{
    start();
    connect();
    settings.UserName = "anna";
    settings.Password = "x";
    login("anna", "x");
    EXPECT_EQ(server.session().Stage, SessionStage::Command);
}

TEST_F(TelnetServerTest, BackspaceErasesInEveryStage)
{
    settings.Password = "ab";
    start();
    connect();
    typeKeys("\b");
    EXPECT_EQ(socket.takeReceived(), "");
    typeKeys("usex\b");
    EXPECT_EQ(socket.takeReceived(), "usex\b \b");
    typeKeys("r\r");
    socket.takeReceived();
    typeKeys("abc\x7f");
    EXPECT_EQ(socket.takeReceived(), "\b \b");
    typeKeys("\r");
    EXPECT_EQ(socket.takeReceived(), "\r\nZelvor>");
    typeKeys("xy\b");
    EXPECT_EQ(server.session().CommandLine, "x");
}

TEST_F(TelnetServerTest, UnknownVerbIsAnsweredAndPromptFollows)
{
    settings.LoginRequired = false;
    start();
    connect();
    typeKeys("PLAY loud\r\n");
    EXPECT_EQ(socket.takeReceived(), "PLAY loud\r\nI don't know how to PLAY\r\nZelvor>");
    typeKeys("\r\n");
    EXPECT_EQ(socket.takeReceived(), "\r\nI don't know how to \r\nZelvor>");
}

TEST_F(TelnetServerTest, PastedLinesAreCarriedOutOneByOne)
{
    settings.LoginRequired = false;
    start();
    connect();
    server.Winsock1_DataArrival("one\r\ntwo\ntw");
    EXPECT_EQ(socket.takeReceived(), "one\r\nI don't know how to one\r\nZelvor>"
                                     "two\r\nI don't know how to two\r\nZelvor>tw");
    EXPECT_EQ(server.session().CommandLine, "tw");
}

TEST_F(TelnetServerTest, ExitClosesWithoutAnotherByteAndListensAfresh)
{
    settings.LoginRequired = false;
    start();
    connect();
    words.clear();
    server.Winsock1_DataArrival("exit\r\nplay\r\n");
    EXPECT_EQ(socket.takeReceived(), "exit");
    EXPECT_EQ(socket.state, FakeSocket::State::Listening);
    EXPECT_EQ(words, (std::vector<std::string>{"exit", "disconnecting", "started"}));
    EXPECT_EQ(server.session().CurrentDir, "\\");
    EXPECT_EQ(server.session().CommandLine, "");
}

TEST_F(TelnetServerTest, OverlongLineIsCutWithoutEcho)
{
    settings.LoginRequired = false;
    start();
    connect();
    const std::string line(3000, 'a');
    server.Winsock1_DataArrival(line);
    EXPECT_EQ(server.session().CommandLine.size(), kMaxLineLength);
    EXPECT_EQ(socket.takeReceived(), std::string(kMaxLineLength, 'a'));
    typeKeys("b");
    EXPECT_EQ(socket.takeReceived(), "");
    typeKeys("\r");
    EXPECT_EQ(server.session().CommandLine, "");
}

TEST_F(TelnetServerTest, TelnetClientIsAnsweredAndGets0xFFDoubledOthersGetItOnce)
{
    using namespace std::literals;
    settings.UserName = "\xff"
                        "u";
    settings.Password = "p";
    settings.LoginRequired = true;
    start();
    connect();
    EXPECT_EQ(greeting, std::string(kGreeting) + std::string(kNotice) + "User:");
    // Before the client sends a telnet command the server sends none either.
    typeKeys("u");
    EXPECT_EQ(socket.takeReceived(), "u");
    typeKeys("\b");
    socket.takeReceived();
    // The client negotiates; the server answers and offers, each reply as its own write.
    server.Winsock1_DataArrival("\xff\xfd\x01\xff\xfb\x18"sv);
    EXPECT_EQ(socket.writes,
              (std::vector<std::string>{"\xff\xfb\x01", "\xff\xfb\x03", "\xff\xfe\x18"}));
    socket.takeReceived();
    // From now on its 0xFF arrives doubled and goes back doubled.
    server.Winsock1_DataArrival("\xff\xff"
                                "u\r\0"sv);
    EXPECT_EQ(socket.takeReceived(), "\xff\xff"
                                     "u\r\nPass:");
    EXPECT_EQ(server.session().UserBuffer, "\xff"
                                           "u");
    server.Winsock1_DataArrival("\xff\xfd\x03p\r\n"sv);
    EXPECT_EQ(socket.takeReceived(), "\r\nZelvor>");
    server.Winsock1_DataArrival("x\xff\xff\r\n"sv);
    EXPECT_EQ(socket.takeReceived(), "x\xff\xff\r\nI don't know how to x\xff\xff\r\nZelvor>");
}

TEST_F(TelnetServerTest, OverflowedUserNameOrPasswordNeverLogsIn)
{
    const std::string full(kMaxLineLength, 'p');
    struct Row
    {
        const char* what;
        std::string configuredUser, configuredPassword, typedUser, typedPassword;
        bool logsIn;
    };
    const std::vector<Row> rows = {
        {"password of exactly the limit", "u", full, "u", full, true},
        {"the limit, then one byte more", "u", full, "u", full + "x", false},
        {"the limit, then much more in one paste", "u", full, "u", full + full, false},
        {"user name past the limit", full, "", full + "y", "", false},
        {"user name of exactly the limit", full, "", full, "", true},
    };
    for (const auto& row : rows) {
        settings.UserName = row.configuredUser;
        settings.Password = row.configuredPassword;
        start();
        connect();
        server.Winsock1_DataArrival(row.typedUser);
        typeKeys("\r");
        server.Winsock1_DataArrival(row.typedPassword);
        typeKeys("\r");
        EXPECT_EQ(server.session().Stage == SessionStage::Command, row.logsIn) << row.what;
        if (!row.logsIn) {
            // The next attempt starts clean and succeeds.
            using namespace std::chrono_literals;
            scheduler.advance(1s);
            server.Winsock1_DataArrival(row.configuredUser + "\r");
            server.Winsock1_DataArrival(row.configuredPassword + "\r");
            EXPECT_EQ(server.session().Stage, SessionStage::Command) << row.what;
        }
        server.Winsock1_Close();
    }
}

TEST_F(TelnetServerTest, PortAndLoginChangesApplyAtTheNextListen)
{
    start();
    connect();
    settings.Port = "2424";
    settings.LoginRequired = false;
    EXPECT_EQ(server.session().Stage, SessionStage::User);
    server.Winsock1_Close();
    EXPECT_EQ(socket.listens, (std::vector<std::uint16_t>{2323, 2424}));
    EXPECT_EQ(server.session().Stage, SessionStage::Command);
}

TEST_F(TelnetServerTest, RestartWithoutClientReportsBothWords)
{
    start();
    words.clear();
    server.Cmd_Start_Click();
    EXPECT_EQ(words, (std::vector<std::string>{"disconnecting", "started"}));
    EXPECT_EQ(socket.state, FakeSocket::State::Listening);
}

TEST_F(TelnetServerTest, ListenerFailuresAreNamedAndTheServerKeepsGoing)
{
    std::vector<std::string> errors;
    server.onError = [&](const std::string& line) { errors.push_back(line); };
    settings.Port = "abc";
    start();
    EXPECT_EQ(log.statusWord(), "port abc invalid");
    settings.Port = "70000";
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), "port 70000 invalid");
    settings.Port = "23";
    socket.listenResult = Winsock::ListenResult::AddressInUse;
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), "port 23 in use");
    socket.listenResult = Winsock::ListenResult::NotPermitted;
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), "port 23 not permitted");
    EXPECT_FALSE(server.listening());
    EXPECT_EQ(errors.size(), 4u);
    socket.listenResult = Winsock::ListenResult::Listening;
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), "started");
    EXPECT_TRUE(server.listening());
}

TEST_F(TelnetServerTest, ConnectionsOnlyLogsThreeEntriesForOneVisit)
{
    settings.LogLevel = LogLevel::ConnectionsOnly;
    start();
    std::remove(settings.LogFile.c_str());
    connect();
    login("user", "");
    typeKeys("play\rstop\r");
    server.Winsock1_Close();
    EXPECT_EQ(logText(), "\"2026-12-07 10:11:12\t192.0.2.7\tconnecting\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\tdisconnecting\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\tstarted\"\r\n");
}

TEST_F(TelnetServerTest, AllActivityLogsEveryWordInOrder)
{
    settings.LogLevel = LogLevel::AllActivity;
    settings.LoginRequired = false;
    start();
    connect();
    typeKeys(" x\rexit\r");
    EXPECT_EQ(logText(), "\"2026-12-07 10:11:12\t\tstarted\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\tconnected\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\tconnecting\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\t\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\tconnected\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\texit\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\tdisconnecting\"\r\n"
                         "\"2026-12-07 10:11:12\t192.0.2.7\tstarted\"\r\n");
}

TEST_F(TelnetServerTest, DataAfterTheConnectionEndedIsIgnored)
{
    settings.LoginRequired = false;
    start();
    server.Winsock1_DataArrival("play\r");
    EXPECT_EQ(socket.received(), "");
}

// An "open" whose answer takes a while: its reply and prompt come once it is decided, and what
// the client typed meanwhile waits in the socket and is taken afterwards, in order.
TEST_F(TelnetServerTest, LateReplyHoldsTheClientsInputUntilItIsOut)
{
    settings.LoginRequired = false;
    start();
    connect();
    player.launchWaits = true;
    const std::string typed = "open\rpwd\r";
    EXPECT_EQ(server.Winsock1_DataArrival(typed), 5U);
    EXPECT_EQ(socket.takeReceived(), "open");
    EXPECT_EQ(server.Winsock1_DataArrival(typed.substr(5)), 0U);
    EXPECT_EQ(socket.takeReceived(), "");
    EXPECT_EQ(socket.resumes, 0);
    EXPECT_EQ(log.statusWord(), "open");

    player.finishLaunch(-1);
    EXPECT_EQ(socket.takeReceived(), "\r\nCommand Failed - Winamp may not be running\r\nZelvor>");
    EXPECT_EQ(socket.resumes, 1);
    EXPECT_EQ(log.statusWord(), "connected");
    EXPECT_EQ(server.Winsock1_DataArrival(typed.substr(5)), 4U);
    EXPECT_EQ(socket.takeReceived(), "pwd\r\n\\\r\nZelvor>");

    EXPECT_EQ(server.Winsock1_DataArrival("open\r"), 5U);
    player.finishLaunch(0);
    EXPECT_EQ(socket.takeReceived(), "open\r\nZelvor>");
}

TEST_F(TelnetServerTest, LateReplyAfterTheClientLeftReachesNoOne)
{
    settings.LoginRequired = false;
    start();
    connect();
    player.launchWaits = true;
    EXPECT_EQ(server.Winsock1_DataArrival("open\r"), 5U);
    server.Winsock1_Close();
    connect();
    player.finishLaunch(0);
    EXPECT_EQ(socket.takeReceived(), "");
    EXPECT_EQ(socket.resumes, 0);
    EXPECT_EQ(server.Winsock1_DataArrival("pwd\r"), 4U);
    EXPECT_EQ(socket.takeReceived(), "pwd\r\n\\\r\nZelvor>");
}

} // namespace
} // namespace zelvor
