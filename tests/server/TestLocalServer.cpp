// SPDX-License-Identifier: MIT
#include "server/LocalServer.h"

#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/TelnetServer.h"
#include "settings/ServerSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::FakeSocket;

/** The telnet door and the local door side by side, as the program has them. */
class LocalServerTest : public ::testing::Test
{
protected:
    LocalServerTest()
    {
        settings.Port = "2323";
        settings.Password = "pw";
        settings.LogLevel = LogLevel::AllActivity;
        settings.LogFile = (dir.path() / "zelvor.log").string();
        log.onStatus = [this](const std::string& word) { words.push_back(word); };
        tcp.server = &telnet;
        local.server = &door;
        telnet.Server_Load();
    }

    /** A telnet client that logs in and keeps the session. */
    ConnectionId telnetSession()
    {
        const ConnectionId id = tcp.connect();
        tcp.server->Winsock1_DataArrival(id, "user\rpw\r");
        tcp.takeReceived(id);
        return id;
    }
    std::string type(ConnectionId id, std::string_view keys)
    {
        door.Winsock1_DataArrival(id, keys);
        return local.takeReceived(id);
    }

    test::TempDir dir;
    ServerSettings settings;
    FakeSocket tcp;
    FakeSocket local;
    ActivityLog log{settings, [] { return std::string("2026-12-07 10:11:12"); }};
    test::AbsentPlayer player;
    HostFolders folders;
    test::ManualScheduler scheduler;
    TelnetServer telnet{settings, tcp, log, player, folders, scheduler};
    LocalServer door{settings, local, log, player, folders, scheduler, telnet.services()};
    std::vector<std::string> words;
};

TEST_F(LocalServerTest, TheOwnerGetsThePromptWithoutLoginOfferOrTelnet)
{
    words.clear();
    const ConnectionId id = local.connect();
    EXPECT_EQ(local.writesTo(id), (std::vector<std::string>{std::string(kGreeting),
                                                            std::string(kNotice), "\r\nZelvor>"}));
    EXPECT_EQ(words, (std::vector<std::string>{"connected", "connecting"}));
    local.takeReceived(id);
    // 0xFF is a plain byte both ways, and a telnet command is no command at all.
    EXPECT_EQ(type(id, "x\xff\xfd\x01\r"), "x\xff\xfd\x01\r\nI don't know how to x\xff\xfd\x01"
                                           "\r\nZelvor>");
    EXPECT_EQ(type(id, "exit\r"), "exit");
    EXPECT_FALSE(local.isOpen(id));
    EXPECT_EQ(door.clients(), 0u);
    const std::string text = test::readFile(settings.LogFile);
    for (const char* word : {"connecting", "exit", "disconnecting"})
        EXPECT_NE(text.find(std::string("\tlocal\t") + word + "\"\r\n"), std::string::npos)
            << word << "\n"
            << text;
    // The telnet listener is not reopened when a local client leaves.
    EXPECT_EQ(tcp.listens.size(), 1u);
}

TEST_F(LocalServerTest, EightLocalClientsAreServedBesideTheSessionEachInItsOwnFolder)
{
    std::filesystem::create_directories(dir.path() / "music" / "Rock");
    std::filesystem::create_directories(dir.path() / "music" / "Jazz");
    settings.ServerRoot = (dir.path() / "music").string();
    const ConnectionId session = telnetSession();
    std::vector<ConnectionId> owners;
    for (std::size_t i = 0; i < kMaxLocalClients; ++i) {
        owners.push_back(local.connect());
        local.takeReceived(owners.back());
    }
    const ConnectionId ninth = local.connect();
    EXPECT_EQ(local.writesTo(ninth), std::vector<std::string>{std::string(kBusyLine)});
    EXPECT_FALSE(local.isOpen(ninth));

    type(owners[0], "cd Rock\r");
    type(owners[1], "cd Jazz\r");
    EXPECT_EQ(type(owners[0], "pwd\r"), "pwd\r\n\\Rock\\\r\nZelvor>");
    EXPECT_EQ(type(owners[1], "pwd\r"), "pwd\r\n\\Jazz\\\r\nZelvor>");
    EXPECT_EQ(type(owners[2], "pwd\r"), "pwd\r\n\\\r\nZelvor>");
    // The telnet session never noticed, and its own door still has it.
    EXPECT_TRUE(tcp.isOpen(session));
    EXPECT_EQ(tcp.received(session), "");
    EXPECT_EQ(telnet.session().Stage, SessionStage::Command);
    EXPECT_EQ(telnet.clients(), 1u);

    // One leaves: a place is free again.
    type(owners[3], "exit\r");
    const ConnectionId again = local.connect();
    EXPECT_TRUE(local.isOpen(again));
    EXPECT_EQ(door.clients(), kMaxLocalClients);
    // Restart is the telnet door's: the local clients stay.
    telnet.Cmd_Start_Click();
    EXPECT_FALSE(tcp.isOpen(session));
    EXPECT_TRUE(local.isOpen(owners[0]));
    EXPECT_EQ(type(owners[0], "pwd\r"), "pwd\r\n\\Rock\\\r\nZelvor>");
}

TEST_F(LocalServerTest, SleepTimerIsSharedAndLateRepliesReachTheLocalClientThatAsked)
{
    const ConnectionId session = telnetSession();
    const ConnectionId owner = local.connect();
    local.takeReceived(owner);
    type(owner, "sleep 5\r");
    EXPECT_EQ(telnet.sleepTimeLeft(), std::optional<std::chrono::milliseconds>(5min));
    tcp.server->Winsock1_DataArrival(session, "sleep off\r");
    EXPECT_EQ(telnet.sleepTimeLeft(), std::nullopt);

    player.launchWaits = true;
    EXPECT_EQ(door.Winsock1_DataArrival(owner, "open\rpwd\r"), 5u);
    EXPECT_TRUE(door.waitsForReply(owner));
    EXPECT_EQ(door.Winsock1_DataArrival(owner, "pwd\r"), 0u);
    // The telnet session is not held meanwhile.
    tcp.takeReceived(session);
    tcp.server->Winsock1_DataArrival(session, "pwd\r");
    EXPECT_EQ(tcp.takeReceived(session), "pwd\r\n\\\r\nZelvor>");
    player.finishLaunch(false);
    EXPECT_EQ(local.takeReceived(owner),
              "open\r\nCommand Failed - Winamp may not be running\r\nZelvor>");
    EXPECT_EQ(local.resumes, 1);
    EXPECT_EQ(door.Winsock1_DataArrival(owner, "pwd\r"), 4u);

    // One that left before its reply came gets nothing, and nothing breaks.
    EXPECT_EQ(door.Winsock1_DataArrival(owner, "open\r"), 5u);
    door.Winsock1_Close(owner);
    local.takeReceived(owner);
    player.finishLaunch(true);
    EXPECT_EQ(local.received(owner), "");
    EXPECT_FALSE(local.sentWhileClosed);
}

} // namespace
} // namespace zelvor
