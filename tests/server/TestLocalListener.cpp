// SPDX-License-Identifier: MIT
#include "server/qt/LocalListener.h"
#include "server/qt/QtScheduler.h"

#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/LocalServer.h"
#include "server/SessionServices.h"
#include "settings/ServerSettings.h"
#include "support/TempDir.h"
#include "TcpClient.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace zelvor {
namespace {

using test::TcpClient;

void runEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

/** A socket file that nobody answers on, as a killed program leaves it. */
void leaveStaleSocket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

class LocalListenerTest : public ::testing::Test
{
protected:
    LocalListenerTest()
    {
        settings.LogLevel = LogLevel::AllActivity;
        settings.LogFile = (dir.path() / "zelvor.log").string();
        listener.setServer(&door);
        log.onStatus = [this](const std::string& word) { words.push_back(word); };
    }

    test::TempDir dir;
    std::string path = (dir.path() / "zelvor.sock").string();
    ServerSettings settings;
    ActivityLog log{settings, [] { return std::string("d t"); }};
    LocalListener listener;
    test::AbsentPlayer player;
    HostFolders folders;
    QtScheduler scheduler;
    SessionServices services{player, scheduler, [](std::string_view) {}};
    LocalServer door{settings, listener, log, player, folders, scheduler, services};
    std::vector<std::string> words;
};

TEST_F(LocalListenerTest, TheOwnerIsServedOnAPrivateFileThatGoesAtClose)
{
    ASSERT_EQ(listener.open(path), LocalListener::OpenResult::Listening) << listener.lastError();
    struct stat made = {};
    ASSERT_EQ(::stat(path.c_str(), &made), 0);
    EXPECT_TRUE(S_ISSOCK(made.st_mode));
    EXPECT_EQ(made.st_mode & 0777, 0600u);

    TcpClient client(runEvents);
    ASSERT_TRUE(client.connectLocal(path));
    EXPECT_EQ(client.readUntil("Zelvor>"),
              std::string(kGreeting) + std::string(kNotice) + "\r\nZelvor>");
    client.send("pwd\n");
    EXPECT_EQ(client.readUntil("Zelvor>"), "pwd\r\n\\\r\nZelvor>");
    client.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return door.clients() == 0; }, 10000));
    EXPECT_EQ(words.back(), "disconnecting");
    EXPECT_NE(test::readFile(settings.LogFile).find("\tlocal\tpwd\""), std::string::npos);

    listener.close();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(LocalListenerTest, AStaleFileIsReplacedAndALiveOneIsLeftToItsOwner)
{
    leaveStaleSocket(path);
    ASSERT_EQ(listener.open(path), LocalListener::OpenResult::Listening) << listener.lastError();

    // A second program finds the first answering: it goes on without the socket.
    LocalListener second;
    EXPECT_EQ(second.open(path), LocalListener::OpenResult::InUse);
    EXPECT_FALSE(second.listening());
    second.close();
    TcpClient client(runEvents);
    ASSERT_TRUE(client.connectLocal(path));
    EXPECT_EQ(client.readUntil("Zelvor>").substr(0, kGreeting.size()), kGreeting);

    // A file that is no socket is never removed.
    listener.close();
    const std::string plain = (dir.path() / "plain").string();
    std::ofstream(plain) << "notes";
    EXPECT_EQ(listener.open(plain), LocalListener::OpenResult::Failed);
    EXPECT_EQ(test::readFile(plain), "notes");
}

TEST_F(LocalListenerTest, AnotherUserIsClosedWithoutAByte)
{
    // The peer check sees our own user as a stranger's.
    listener.setOwner(::getuid() + 1);
    ASSERT_EQ(listener.open(path), LocalListener::OpenResult::Listening);
    TcpClient client(runEvents);
    ASSERT_TRUE(client.connectLocal(path));
    std::string received;
    EXPECT_TRUE(client.waitForClose(&received));
    EXPECT_EQ(received, "");
    EXPECT_EQ(words, std::vector<std::string>{});
    EXPECT_EQ(listener.connections(), 0u);
}

} // namespace
} // namespace zelvor
