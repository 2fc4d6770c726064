// SPDX-License-Identifier: MIT
#include "server/TelnetServer.h"

#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/SessionInput.h"
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
        socket.server = &server;
    }

    void start() { server.Server_Load(); }
    void connect(const std::string& address = "192.0.2.7")
    {
        client = socket.connect(address);
        greeting = socket.takeReceived(client);
    }
    std::size_t arrive(std::string_view chunk)
    {
        return server.Winsock1_DataArrival(client, chunk);
    }
    /** Types each byte as its own chunk, as a client in character mode does. */
    void typeKeys(std::string_view keys)
    {
        for (const char key : keys)
            arrive(std::string_view(&key, 1));
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
    ConnectionId client = 0;
};

TEST_F(TelnetServerTest, GreetingWithLoginOnIsThreeWritesEndingInUserPrompt)
{
    settings.Negotiate = false;
    start();
    socket.connect();
    EXPECT_EQ(socket.writes(),
              (std::vector<std::string>{std::string(kGreeting), std::string(kNotice), "User:"}));
    EXPECT_EQ(kNotice.find_first_of("\r\n"), kNotice.size() - 2);
    EXPECT_EQ(words, (std::vector<std::string>{"started", "connecting"}));
}

TEST_F(TelnetServerTest, GreetingWithLoginOffEndsInCommandPrompt)
{
    settings.LoginRequired = false;
    start();
    connect();
    EXPECT_EQ(greeting, std::string(kOptionOffer) + "Zelvor v.1.0\r\n" + std::string(kNotice) +
                            "\r\nZelvor>");
    EXPECT_EQ(words, (std::vector<std::string>{"started", "connected", "connecting"}));
    EXPECT_EQ(log.statusWord(), "connecting");
}

TEST_F(TelnetServerTest, TheListenerStaysOpenWhileClientsComeAndGo)
{
    start();
    EXPECT_TRUE(socket.listening);
    connect();
    EXPECT_TRUE(socket.listening);
    EXPECT_TRUE(socket.isOpen(client));
    login("user", "");
    typeKeys("exit\r");
    EXPECT_FALSE(socket.isOpen(client));
    EXPECT_TRUE(socket.listening);
    EXPECT_EQ(socket.listens, (std::vector<std::uint16_t>{2323, 2323}));
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
    EXPECT_EQ(words.back(), "penalty 2 s");
    EXPECT_EQ(words.end()[-2], "login failed");
    EXPECT_EQ(server.session().UserBuffer, "");
    // Whatever comes during the pause is dropped, also the rest of the failing chunk.
    arrive("user\rpw\r");
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

TEST_F(TelnetServerTest, ClientThatDoesNotLogInWithinAMinuteIsToldSoAndDisconnected)
{
    using namespace std::chrono_literals;
    start();
    connect();
    typeKeys("us");
    socket.takeReceived();
    scheduler.advance(59s);
    EXPECT_TRUE(socket.isOpen(client));
    words.clear();
    scheduler.advance(1s);
    EXPECT_TRUE(socket.listening);
    EXPECT_EQ(words, (std::vector<std::string>{"penalty 2 s", "disconnecting", "started"}));
    EXPECT_EQ(socket.received(), "Login timed out.\r\n");
}

TEST_F(TelnetServerTest, LoggedInSessionHasNoTimeLimit)
{
    using namespace std::chrono_literals;
    start();
    connect();
    login("user", "");
    scheduler.advance(24h);
    EXPECT_TRUE(socket.isOpen(client));
    EXPECT_EQ(scheduler.pending(), 0u);
}

TEST_F(TelnetServerTest, ClosingDuringTheLoginPauseCancelsIt)
{
    using namespace std::chrono_literals;
    start();
    connect();
    login("x", "y");
    server.Winsock1_Close(client);
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
    const std::size_t used = arrive(input);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(socket.takeReceived(), "a\r\nI don't know how to a\r\nZelvor>");
    socket.congestedNow = false;
    EXPECT_EQ(arrive(std::string_view(input).substr(used)), 4u);
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

TEST_F(TelnetServerTest, FailedOpenLeavesItsReasonAsTheStatusWordUntilTheNextLine)
{
    settings.LoginRequired = false;
    start();
    connect();
    typeKeys("open\r");
    EXPECT_EQ(socket.takeReceived(),
              "open\r\nCommand Failed - Winamp may not be running\r\nZelvor>");
    EXPECT_EQ(words.back(), "connected"); // a backend that cannot tell why
    player.failure = "cannot start /opt/player/run: No such file or directory";
    typeKeys("open\r");
    EXPECT_EQ(socket.takeReceived(),
              "open\r\nCommand Failed - Winamp may not be running\r\nZelvor>");
    EXPECT_EQ(words.back(), "cannot start /opt/player/run: No such file or directory");
    EXPECT_EQ(log.statusWord(), words.back());
    typeKeys("pwd\r");
    EXPECT_EQ((std::vector<std::string>(words.end() - 2, words.end())),
              (std::vector<std::string>{"pwd", "connected"}));
}

TEST_F(TelnetServerTest, PastedLinesAreCarriedOutOneByOne)
{
    settings.LoginRequired = false;
    start();
    connect();
    arrive("one\r\ntwo\ntw");
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
    arrive("exit\r\nplay\r\n");
    EXPECT_EQ(socket.takeReceived(), "exit");
    EXPECT_TRUE(socket.listening);
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
    arrive(line);
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
    settings.Negotiate = false;
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
    arrive("\xff\xfd\x01\xff\xfb\x18"sv);
    EXPECT_EQ(socket.writes(),
              (std::vector<std::string>{"\xff\xfb\x01", "\xff\xfb\x03", "\xff\xfe\x18"}));
    socket.takeReceived();
    // From now on its 0xFF arrives doubled and goes back doubled.
    arrive("\xff\xff"
           "u\r\0"sv);
    EXPECT_EQ(socket.takeReceived(), "\xff\xff"
                                     "u\r\nPass:");
    EXPECT_EQ(server.session().UserBuffer, "\xff"
                                           "u");
    arrive("\xff\xfd\x03p\r\n"sv);
    EXPECT_EQ(socket.takeReceived(), "\r\nZelvor>");
    arrive("x\xff\xff\r\n"sv);
    EXPECT_EQ(socket.takeReceived(), "x\xff\xff\r\nI don't know how to x\xff\xff\r\nZelvor>");
}

// The offer goes out on its own, before the greeting; without it the bytes are those of old.
TEST_F(TelnetServerTest, OptionOfferGoesAloneInFrontOfTheGreeting)
{
    for (const bool negotiate : {true, false}) {
        settings.Negotiate = negotiate;
        start();
        const ConnectionId id = socket.connect();
        std::vector<std::string> expected{std::string(kGreeting), std::string(kNotice), "User:"};
        if (negotiate)
            expected.insert(expected.begin(), "\xff\xfb\x01\xff\xfb\x03");
        EXPECT_EQ(socket.writesTo(id), expected) << negotiate;
        server.Winsock1_Close(id);
    }
}

// What the server sends back, after the greeting, for each way a client answers the offer.
TEST_F(TelnetServerTest, EachAnswerToTheOfferIsHonouredAndNeverLoops)
{
    using namespace std::literals;
    struct Row
    {
        const char* what;
        bool negotiate;
        std::string_view typed;
        std::string_view sent;
    };
    const std::vector<Row> rows = {
        {"a telnet client takes both: no answer, our echo", true,
         "\xff\xfd\x01\xff\xfd\x03"
         "ab"sv,
         "ab"sv},
        {"echo refused: neither text nor erase is echoed", true,
         "\xff\xfe\x01\xff\xfd\x03"
         "ab\x7f"sv,
         ""sv},
        {"refused twice: still no answer", true, "\xff\xfe\x01\xff\xfe\x01\xff\xfd\x03x"sv, ""sv},
        {"refused, then asked for: agreed, echo again", true, "\xff\xfe\x01q\xff\xfd\x01z"sv,
         "\xff\xfb\x01z"sv},
        {"netcat never answers: echo as ever, 0xFF not doubled", true, "a\xff\xffz\b"sv,
         "a\xff\xffz\b \b"sv},
        {"acknowledged twice: answered nothing", true, "\xff\xfd\x01\xff\xfd\x01\xff\xfd\x03k"sv,
         "k"sv},
        {"without the offer a refusal changes nothing", false,
         "\xff\xfe\x01"
         "ab"sv,
         "\xff\xfb\x01\xff\xfb\x03"
         "ab"sv},
    };
    for (const auto& row : rows) {
        settings.Negotiate = row.negotiate;
        start();
        connect();
        arrive(row.typed);
        EXPECT_EQ(socket.takeReceived(), row.sent) << row.what;
        server.Winsock1_Close(client);
    }
}

// A client that refused our echo echoes for itself, and its password stays unseen only by its
// own choice; its login works as ever.
TEST_F(TelnetServerTest, ClientThatRefusedTheEchoLogsInAndRunsCommands)
{
    using namespace std::literals;
    settings.UserName = "ann";
    settings.Password = "pw";
    start();
    connect();
    arrive("\xff\xfe\x01"
           "ann\r\n"sv);
    EXPECT_EQ(socket.takeReceived(), "\r\nPass:");
    arrive("pw\r\nhop\r\n"sv);
    EXPECT_EQ(socket.takeReceived(), "\r\nZelvor>\r\nI don't know how to hop\r\nZelvor>");
}

TEST_F(TelnetServerTest, ListenAddressGoesToTheSocketAndABadOneIsNamed)
{
    start();
    settings.ListenAddress = "[::1]";
    server.Cmd_Start_Click();
    settings.ListenAddress = "127.0.0.1";
    server.Cmd_Start_Click();
    EXPECT_EQ(socket.addresses, (std::vector<std::string>{"", "::1", "127.0.0.1"}));
    settings.ListenAddress = "localhost";
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), "address localhost invalid");
    EXPECT_EQ(socket.addresses.size(), 3u);
    EXPECT_FALSE(server.listening());
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
        arrive(row.typedUser);
        typeKeys("\r");
        arrive(row.typedPassword);
        typeKeys("\r");
        EXPECT_EQ(server.session().Stage == SessionStage::Command, row.logsIn) << row.what;
        if (!row.logsIn) {
            // The next attempt starts clean and succeeds.
            using namespace std::chrono_literals;
            scheduler.advance(1s);
            arrive(row.configuredUser + "\r");
            arrive(row.configuredPassword + "\r");
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
    server.Winsock1_Close(client);
    EXPECT_EQ(socket.listens, (std::vector<std::uint16_t>{2323, 2424}));
    EXPECT_EQ(server.session().Stage, SessionStage::Command);
}

TEST_F(TelnetServerTest, RestartWithoutClientReportsBothWords)
{
    start();
    words.clear();
    server.Cmd_Start_Click();
    EXPECT_EQ(words, (std::vector<std::string>{"disconnecting", "started"}));
    EXPECT_TRUE(socket.listening);
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
    arrive("play\r");
    EXPECT_EQ(socket.received(), "");
}

TEST_F(TelnetServerTest, WithLoginOffASecondClientGetsTheBusyLineAloneAndTheFirstNeverNotices)
{
    using namespace std::chrono_literals;
    settings.LoginRequired = false;
    start();
    connect();
    typeKeys("hello");
    socket.takeReceived(client);
    const ConnectionId first = client;
    words.clear();
    const ConnectionId second = socket.connect("192.0.2.8");
    ASSERT_NE(second, 0u);
    EXPECT_EQ(socket.writesTo(second), std::vector<std::string>{std::string(kBusyLine)});
    EXPECT_FALSE(socket.isOpen(second));
    // Not a session: no word, no timer, and the first client's line and folder are as they were.
    EXPECT_EQ(words, std::vector<std::string>{});
    EXPECT_EQ(scheduler.pending(), 0u);
    EXPECT_EQ(server.clients(), 1u);
    EXPECT_EQ(socket.received(first), "");
    EXPECT_EQ(server.session().CommandLine, "hello");
    client = first;
    typeKeys("\r");
    EXPECT_EQ(socket.takeReceived(first), "\r\nI don't know how to hello\r\nZelvor>");
    EXPECT_TRUE(socket.isOpen(first));
}

TEST_F(TelnetServerTest, AClientWhoseOldConnectionHasEndedIsServedNotTurnedAway)
{
    settings.LoginRequired = false;
    start();
    connect();
    const ConnectionId old = client;
    // The old connection's close waits unread when the new request comes in.
    socket.held[old].ended = true;
    connect();
    EXPECT_EQ(socket.endChecks, 2);
    EXPECT_FALSE(socket.isOpen(old));
    EXPECT_EQ(greeting, std::string(kOptionOffer) + std::string(kGreeting) + std::string(kNotice) +
                            "\r\nZelvor>");
    EXPECT_TRUE(socket.isOpen(client));
}

TEST_F(TelnetServerTest, FourAddressesMayWaitAtThePromptOneConnectionEach)
{
    start();
    std::vector<ConnectionId> waiting;
    for (const char* address : {"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4"}) {
        connect(address);
        EXPECT_EQ(greeting, std::string(kOptionOffer) + std::string(kGreeting) +
                                std::string(kNotice) + "User:")
            << address;
        waiting.push_back(client);
    }
    // A fifth address finds every place taken.
    connect("192.0.2.5");
    EXPECT_EQ(greeting, kBusyLine);
    EXPECT_FALSE(socket.isOpen(client));
    // An address that connects again replaces its own waiting connection, without a word to it.
    socket.takeReceived(waiting[1]);
    connect("192.0.2.2");
    EXPECT_EQ(greeting,
              std::string(kOptionOffer) + std::string(kGreeting) + std::string(kNotice) + "User:");
    EXPECT_FALSE(socket.isOpen(waiting[1]));
    EXPECT_EQ(socket.received(waiting[1]), "");
    EXPECT_EQ(server.clients(), 4u);
    // The first to log in takes the session; the others are told and closed.
    typeKeys("user\r\r");
    EXPECT_EQ(socket.takeReceived(client), "user\r\nPass:\r\nZelvor>");
    for (const ConnectionId other : {waiting[0], waiting[2], waiting[3]}) {
        EXPECT_EQ(socket.received(other), kBusyLine);
        EXPECT_FALSE(socket.isOpen(other));
    }
    EXPECT_EQ(server.clients(), 1u);
    EXPECT_EQ(scheduler.pending(), 0u);
}

TEST_F(TelnetServerTest, ALoginTakesTheSessionOverAndTheOldClientIsToldFromWhere)
{
    start();
    connect("192.0.2.1");
    login("user", "");
    typeKeys("cd ..\r");
    const ConnectionId laptop = client;
    socket.takeReceived(laptop);
    // While the session runs, a newcomer still gets the prompt; the session notices nothing.
    connect("198.51.100.20");
    EXPECT_EQ(greeting,
              std::string(kOptionOffer) + std::string(kGreeting) + std::string(kNotice) + "User:");
    login("user", "wrong");
    EXPECT_TRUE(socket.isOpen(laptop));
    EXPECT_EQ(socket.received(laptop), "");
    connect("192.0.2.9");
    login("user", "");
    EXPECT_EQ(socket.received(laptop), "Logged in from 192.0.2.9.\r\n");
    EXPECT_FALSE(socket.isOpen(laptop));
    EXPECT_EQ(socket.takeReceived(client), "user\r\nPass:\r\nZelvor>");
    EXPECT_EQ(server.session().CurrentDir, "\\");
    typeKeys("pwd\r");
    EXPECT_EQ(socket.takeReceived(client), "pwd\r\n\\\r\nZelvor>");
}

TEST_F(TelnetServerTest, WithASessionAndLoginOffEveryNewClientIsBusy)
{
    start();
    connect("192.0.2.1");
    login("user", "");
    settings.LoginRequired = false;
    server.Server_Load();
    connect("192.0.2.2");
    EXPECT_EQ(greeting, kBusyLine);
}

TEST_F(TelnetServerTest, FailedAndTimedOutLoginsRefuseTheAddressForADoublingTime)
{
    using namespace std::chrono_literals;
    settings.LogLevel = LogLevel::ConnectionsOnly;
    settings.Password = "right";
    start();
    struct Row
    {
        const char* how;
        std::chrono::seconds penalty;
    };
    // Each failure refuses the address a little less than the penalty, then it may try again.
    const std::vector<Row> rows = {
        {"wrong password", 2s},   {"silence", 4s},          {"wrong password", 8s},
        {"half a line", 16s},     {"wrong password", 32s},  {"wrong password", 64s},
        {"wrong password", 128s}, {"wrong password", 256s}, {"wrong password", 512s},
        {"wrong password", 600s}, {"wrong password", 600s},
    };
    for (const Row& row : rows) {
        connect("203.0.113.5");
        ASSERT_NE(greeting, kBusyLine) << row.how;
        if (std::string_view(row.how) == "wrong password")
            login("user", "secret-guess");
        else if (std::string_view(row.how) == "half a line")
            typeKeys("us");
        if (std::string_view(row.how) != "wrong password")
            scheduler.advance(kLoginTimeLimit);
        EXPECT_TRUE(std::find(words.begin(), words.end(),
                              "penalty " + std::to_string(row.penalty.count()) + " s") !=
                    words.end())
            << row.how;
        if (std::string_view(row.how) == "wrong password")
            server.Winsock1_Close(client);
        scheduler.advance(row.penalty - 1s);
        connect("203.0.113.5");
        EXPECT_EQ(greeting, kBusyLine) << row.how;
        // Someone else is not refused.
        connect("203.0.113.6");
        EXPECT_NE(greeting, kBusyLine) << row.how;
        server.Winsock1_Close(client);
        scheduler.advance(1s);
        words.clear();
    }
    // A successful login forgets the failures: the next one costs 2 s again.
    connect("203.0.113.5");
    login("user", "right");
    EXPECT_EQ(server.session().Stage, SessionStage::Command);
    EXPECT_EQ(server.penalties().remembered(), 0u);
    server.Winsock1_Close();
    connect("203.0.113.5");
    login("user", "wrong");
    EXPECT_EQ(words.back(), "penalty 2 s");
    // One log line per penalty, naming the address, and never a password.
    const std::string text = logText();
    EXPECT_NE(text.find("\t203.0.113.5\tpenalty 600 s\"\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("secret-guess"), std::string::npos);
    std::size_t lines = 0;
    for (auto at = text.find("\tpenalty "); at != std::string::npos;
         at = text.find("\tpenalty ", at + 1))
        ++lines;
    EXPECT_EQ(lines, rows.size() + 1);
}

TEST(LoginPenalties, ManyAddressesAreRememberedOnlyUpToTheLimit)
{
    using namespace std::chrono_literals;
    test::ManualScheduler scheduler;
    LoginPenalties penalties(scheduler);
    for (std::size_t i = 0; i < kMaxPenalizedAddresses + 100; ++i)
        penalties.punish("2001:db8::" + std::to_string(i));
    EXPECT_EQ(penalties.remembered(), kMaxPenalizedAddresses);
    EXPECT_FALSE(penalties.refuses("2001:db8::0"));
    EXPECT_TRUE(penalties.refuses("2001:db8::4195"));
    // Once a penalty has run out the address is refused no longer, and later forgotten.
    scheduler.advance(2s);
    EXPECT_FALSE(penalties.refuses("2001:db8::4195"));
    scheduler.advance(kLongestPenalty);
    EXPECT_EQ(penalties.remembered(), 0u);
    EXPECT_EQ(scheduler.pending(), 0u);
}

// An "open" whose answer takes a while: its reply and prompt come once it is decided, and what
// the client typed meanwhile waits in the socket and is taken afterwards, in order.
TEST_F(TelnetServerTest, LateReplyHoldsTheClientsInputUntilItIsOut)
{
    settings.LoginRequired = false;
    settings.Negotiate = false;
    start();
    connect();
    player.launchWaits = true;
    const std::string typed = "open\rpwd\r";
    EXPECT_EQ(arrive(typed), 5U);
    EXPECT_EQ(socket.takeReceived(), "open");
    EXPECT_TRUE(server.waitsForReply(client));
    EXPECT_EQ(arrive(typed.substr(5)), 0U);
    EXPECT_EQ(socket.takeReceived(), "");
    EXPECT_EQ(socket.resumes, 0);
    EXPECT_EQ(log.statusWord(), "open");

    player.finishLaunch(false);
    EXPECT_EQ(socket.takeReceived(), "\r\nCommand Failed - Winamp may not be running\r\nZelvor>");
    EXPECT_EQ(socket.resumes, 1);
    EXPECT_FALSE(server.waitsForReply(client));
    EXPECT_EQ(log.statusWord(), "connected");
    EXPECT_EQ(arrive(typed.substr(5)), 4U);
    EXPECT_EQ(socket.takeReceived(), "pwd\r\n\\\r\nZelvor>");

    EXPECT_EQ(arrive("open\r"), 5U);
    player.finishLaunch(true);
    EXPECT_EQ(socket.takeReceived(), "open\r\nZelvor>");
}

// The reply belongs to the client that asked: one that left, or lost the session to another
// login, is not answered, and the next client is not held.
TEST_F(TelnetServerTest, LateReplyAfterTheClientLeftReachesNoOne)
{
    settings.LoginRequired = false;
    start();
    connect();
    player.launchWaits = true;
    EXPECT_EQ(arrive("open\r"), 5U);
    server.Winsock1_Close(client);
    connect();
    player.finishLaunch(true);
    EXPECT_EQ(socket.takeReceived(), "");
    EXPECT_EQ(socket.resumes, 0);
    EXPECT_EQ(arrive("pwd\r"), 4U);
    EXPECT_EQ(socket.takeReceived(), "pwd\r\n\\\r\nZelvor>");
}

} // namespace
} // namespace zelvor
