// SPDX-License-Identifier: MIT
#include "server/qt/Listener.h"
#include "server/qt/QtScheduler.h"

#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/SessionInput.h"
#include "server/TelnetServer.h"
#include "settings/ServerSettings.h"
#include "support/TempDir.h"
#include "TcpClient.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::TcpClient;

void runEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

class ListenerTest : public ::testing::Test
{
protected:
    ListenerTest()
    {
        settings.Port = std::to_string(port);
        settings.UserName = "user";
        settings.Password = "pw";
        listener.setServer(&server);
        log.onStatus = [this](const std::string& word) { words.push_back(word); };
        server.Server_Load();
    }

    bool waitForWord(const std::string& word)
    {
        return QTest::qWaitFor([&] { return !words.empty() && words.back() == word; }, 10000);
    }
    void loginAs(TcpClient& client)
    {
        client.readUntil("User:");
        client.type("user\r\n");
        client.readUntil("Pass:");
        client.type("pw\r\n");
        ASSERT_EQ(client.readUntil("Zelvor>"), "\r\nZelvor>");
    }

    std::uint16_t port = test::freePort();
    ServerSettings settings;
    ActivityLog log{settings, [] { return std::string("d t"); }};
    Listener listener;
    test::AbsentPlayer player;
    HostFolders folders;
    QtScheduler scheduler;
    TelnetServer server{settings, listener, log, player, folders, scheduler};
    std::vector<std::string> words;
};

TEST_F(ListenerTest, TelnetSessionFromGreetingToExit)
{
    TcpClient client(runEvents);
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    EXPECT_EQ(client.readUntil("User:"),
              std::string(kOptionOffer) + std::string(kGreeting) + std::string(kNotice) + "User:");
    client.type("user\r\n");
    EXPECT_EQ(client.readUntil("Pass:"), "user\r\nPass:");
    client.type("pw\r\n");
    EXPECT_EQ(client.readUntil("Zelvor>"), "\r\nZelvor>");
    client.type("hello\r\n");
    EXPECT_EQ(client.readUntil("Zelvor>"), "hello\r\nI don't know how to hello\r\nZelvor>");
    client.type("exit\r\n");
    std::string rest;
    EXPECT_TRUE(client.waitForClose(&rest));
    EXPECT_EQ(rest, "exit");
    EXPECT_TRUE(waitForWord("started"));
    EXPECT_EQ(listener.listeningPort(), port);
}

TEST_F(ListenerTest, LineModeClientAndNetcatStyleLinesWork)
{
    TcpClient client(runEvents);
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    client.readUntil("User:");
    // A telnet client in line mode negotiates first and sends whole lines.
    client.send("\xff\xfd\x03\xff\xfb\x18user\r\n");
    client.readUntil("Pass:");
    client.send("pw\n");
    EXPECT_EQ(client.readUntil("Zelvor>"), "\r\nZelvor>");
    client.send("a\nb\n");
    EXPECT_EQ(client.readUntil("how to b\r\nZelvor>"),
              "a\r\nI don't know how to a\r\nZelvor>b\r\nI don't know how to b\r\nZelvor>");
}

TEST_F(ListenerTest, WhileAClientIsConnectedTheListenerStaysOpenAndNoOtherProgramCanTakeThePort)
{
    TcpClient first(runEvents);
    ASSERT_TRUE(first.connect("127.0.0.1", port));
    loginAs(first);
    EXPECT_EQ(listener.listeningPort(), port);
    // As another server would bind it (Qt asks for SO_REUSEADDR), on both families.
    for (const QHostAddress& any :
         {QHostAddress(QHostAddress::Any), QHostAddress(QHostAddress::AnyIPv4)}) {
        QTcpServer squatter;
        EXPECT_FALSE(squatter.listen(any, port)) << any.toString().toStdString();
    }
    first.type("exit\r");
    EXPECT_TRUE(first.waitForClose());
    ASSERT_TRUE(waitForWord("started"));
    EXPECT_EQ(listener.listeningPort(), port);
    QTcpServer squatter;
    EXPECT_FALSE(squatter.listen(QHostAddress::Any, port));
}

TEST_F(ListenerTest, WithLoginOffASecondClientIsToldTheServerIsBusyAndTheFirstGoesOn)
{
    settings.LoginRequired = false;
    server.Cmd_Start_Click();
    TcpClient first(runEvents);
    ASSERT_TRUE(first.connect("127.0.0.1", port));
    first.readUntil("Zelvor>");
    first.type("pw");
    first.readUntil("pw");
    for (int i = 0; i < 3; ++i) {
        TcpClient second(runEvents);
        ASSERT_TRUE(second.connect("127.0.0.1", port, "127.0.0.2"));
        std::string received;
        EXPECT_TRUE(second.waitForClose(&received));
        EXPECT_EQ(received, kBusyLine);
    }
    first.type("d\r");
    EXPECT_EQ(first.readUntil("Zelvor>"), "d\r\n\\\r\nZelvor>");
    EXPECT_EQ(listener.connections(), 1u);
}

TEST_F(ListenerTest, WithLoginOnASecondClientThatLogsInTakesTheSessionOver)
{
    TcpClient first(runEvents);
    ASSERT_TRUE(first.connect("127.0.0.1", port));
    loginAs(first);
    first.type("cd ..\r");
    first.readUntil("Zelvor>");
    TcpClient second(runEvents);
    ASSERT_TRUE(second.connect("127.0.0.1", port, "127.0.0.3"));
    EXPECT_EQ(second.readUntil("User:"),
              std::string(kOptionOffer) + std::string(kGreeting) + std::string(kNotice) + "User:");
    loginAs(second);
    std::string received;
    EXPECT_TRUE(first.waitForClose(&received));
    EXPECT_EQ(received, "Logged in from 127.0.0.3.\r\n");
    second.type("pwd\r");
    EXPECT_EQ(second.readUntil("Zelvor>"), "pwd\r\n\\\r\nZelvor>");
    EXPECT_EQ(listener.connections(), 1u);
}

TEST_F(ListenerTest, ListensOnIpv6AndLogsIpv4AddressesInDottedForm)
{
    settings.LogLevel = LogLevel::ConnectionsOnly;
    test::TempDir dir;
    settings.LogFile = (dir.path() / "zelvor.log").string();
    {
        TcpClient client(runEvents);
        ASSERT_TRUE(client.connect("::1", port));
        EXPECT_NE(client.readUntil("User:").find("User:"), std::string::npos);
    }
    ASSERT_TRUE(waitForWord("started"));
    TcpClient client(runEvents);
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    client.readUntil("User:");
    ASSERT_TRUE(waitForWord("connecting"));
    const std::string text = test::readFile(settings.LogFile);
    EXPECT_NE(text.find("\t::1\tconnecting\""), std::string::npos) << text;
    EXPECT_NE(text.find("\t127.0.0.1\tconnecting\""), std::string::npos) << text;
}

TEST_F(ListenerTest, ResetByTheClientEndsTheSessionAndListensAgain)
{
    TcpClient client(runEvents);
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    loginAs(client);
    words.clear();
    client.reset();
    ASSERT_TRUE(waitForWord("started"));
    EXPECT_EQ(words, (std::vector<std::string>{"disconnecting", "started"}));
    TcpClient next(runEvents);
    EXPECT_TRUE(next.connect("127.0.0.1", port));
}

TEST_F(ListenerTest, RestartDropsTheClientSilentlyAndListensOnTheNewPort)
{
    TcpClient client(runEvents);
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    loginAs(client);
    const std::uint16_t newPort = test::freePort();
    settings.Port = std::to_string(newPort);
    server.Cmd_Start_Click();
    std::string rest;
    EXPECT_TRUE(client.waitForClose(&rest));
    EXPECT_EQ(rest, "");
    EXPECT_EQ(listener.listeningPort(), newPort);
    TcpClient next(runEvents);
    EXPECT_FALSE(next.connect("127.0.0.1", port));
    EXPECT_TRUE(next.connect("127.0.0.1", newPort));
}

TEST_F(ListenerTest, BusyPortIsReportedAndALaterRestartListens)
{
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::Any, 0));
    settings.Port = std::to_string(squatter.serverPort());
    std::vector<std::string> errors;
    server.onError = [&](const std::string& line) { errors.push_back(line); };
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), "port " + settings.Port + " in use");
    EXPECT_EQ(errors.size(), 1u);
    squatter.close();
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), "started");
    TcpClient client(runEvents);
    EXPECT_TRUE(client.connect("127.0.0.1", static_cast<std::uint16_t>(std::stoi(settings.Port))));
}

} // namespace
} // namespace zelvor

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
