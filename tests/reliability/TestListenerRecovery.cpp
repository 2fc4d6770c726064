// SPDX-License-Identifier: MIT
// The listener stays open for the program's life: while clients come and go no other process can
// take the port, and a port that another process holds is named until a Restart finds it free.
#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/qt/Listener.h"
#include "server/qt/QtScheduler.h"
#include "server/SessionInput.h"
#include "server/TelnetServer.h"
#include "settings/ServerSettings.h"

#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::TcpClient;

void runEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

/** Another process that listens on a port (all addresses, IPv4 and IPv6) until released. */
class PortSquatter
{
public:
    explicit PortSquatter(std::uint16_t port)
    {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(m_release) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            // Only system calls from here on: the parent may have threads.
            // Keep no copy of the test's own sockets, or closing them would not end them.
            for (int fd = 3; fd < 4096; ++fd) {
                if (fd != ready[1] && fd != m_release[0])
                    ::close(fd);
            }
            const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
            // As servers do, so the port's connection still open in the test does not stop it.
            const int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_addr = in6addr_any;
            address.sin6_port = htons(port);
            const char held =
                ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(fd, 1) == 0;
            [[maybe_unused]] auto written = ::write(ready[1], &held, 1);
            char byte;
            [[maybe_unused]] auto read = ::read(m_release[0], &byte, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(m_release[0]);
        char held = 0;
        m_holding = m_pid > 0 && ::read(ready[0], &held, 1) == 1 && held;
        ::close(ready[0]);
    }
    ~PortSquatter() { release(); }

    bool holding() const { return m_holding; }
    void release()
    {
        if (m_pid <= 0)
            return;
        ::close(m_release[1]);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        m_holding = false;
    }

private:
    pid_t m_pid = -1;
    int m_release[2] = {-1, -1};
    bool m_holding = false;
};

class ListenerRecovery : public ::testing::Test
{
protected:
    ListenerRecovery()
    {
        settings.Port = std::to_string(port);
        settings.LoginRequired = false;
        listener.setServer(&server);
        log.onStatus = [this](const std::string& word) { words.push_back(word); };
        server.onError = [this](const std::string& line) { errors.push_back(line); };
        server.Server_Load();
    }

    bool waitForWord(const std::string& word)
    {
        return QTest::qWaitFor([&] { return !words.empty() && words.back() == word; }, 10000);
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
    std::vector<std::string> errors;
};

TEST_F(ListenerRecovery, NoOtherProgramTakesThePortWhileClientsComeAndGo)
{
    const std::vector<std::pair<std::string, std::function<void(TcpClient&)>>> endings = {
        {"exit", [](TcpClient& client) { client.send("exit\r\n"); }},
        {"hang-up", [](TcpClient& client) { client.close(); }},
        {"reset", [](TcpClient& client) { client.reset(); }},
    };
    for (const auto& [name, end] : endings) {
        SCOPED_TRACE(name);
        TcpClient client(runEvents);
        ASSERT_TRUE(client.connect("127.0.0.1", port));
        ASSERT_EQ(client.readUntil("Zelvor>").substr(0, 20),
                  std::string(kOptionOffer) + "Zelvor v.1.0\r\n");
        PortSquatter squatter(port);
        EXPECT_FALSE(squatter.holding());
        end(client);
        ASSERT_TRUE(waitForWord("started"));
        EXPECT_TRUE(server.listening());
        EXPECT_EQ(listener.listeningPort(), port);
        EXPECT_EQ(errors, std::vector<std::string>{});
        TcpClient next(runEvents);
        ASSERT_TRUE(next.connect("127.0.0.1", port));
        EXPECT_EQ(next.readUntil("Zelvor>"), std::string(kOptionOffer) + std::string(kGreeting) +
                                                 std::string(kNotice) + "\r\nZelvor>");
        next.close();
        ASSERT_TRUE(waitForWord("started"));
    }
}

TEST_F(ListenerRecovery, APortHeldByAnotherProgramIsNamedUntilARestartFindsItFree)
{
    const std::uint16_t taken = test::freePort();
    PortSquatter squatter(taken);
    ASSERT_TRUE(squatter.holding());
    settings.Port = std::to_string(taken);
    server.Cmd_Start_Click();
    const std::string busy = "port " + settings.Port + " in use";
    EXPECT_EQ(log.statusWord(), busy);
    EXPECT_FALSE(server.listening());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(busy), std::string::npos) << errors[0];
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), busy);
    squatter.release();
    server.Cmd_Start_Click();
    EXPECT_EQ(log.statusWord(), "started");
    TcpClient next(runEvents);
    ASSERT_TRUE(next.connect("127.0.0.1", taken));
    next.send("pwd\r\n");
    EXPECT_EQ(next.readUntil("pwd\r\n\\\r\nZelvor>").substr(0, 20),
              std::string(kOptionOffer) + "Zelvor v.1.0\r\n");
}

TEST(ListenerRecoveryProgram, NoOtherProgramTakesThePortWhileAClientIsConnected)
{
    test::ZelvorProcess zelvor;
    test::IniText ini;
    ini.port = test::freePort();
    ini.login = false;
    zelvor.writeIni(ini.text());
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());
    for (int visit = 0; visit < 2; ++visit) {
        TcpClient client;
        ASSERT_TRUE(client.connect("127.0.0.1", ini.port));
        client.readUntil("Zelvor>");
        PortSquatter squatter(ini.port);
        EXPECT_FALSE(squatter.holding());
        client.send("exit\r\n");
        EXPECT_TRUE(client.waitForClose());
    }
    EXPECT_EQ(zelvor.errorOutput().find(" in use"), std::string::npos) << zelvor.errorOutput();
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
}

} // namespace
} // namespace zelvor
