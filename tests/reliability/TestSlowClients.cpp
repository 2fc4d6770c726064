// SPDX-License-Identifier: MIT
// Many clients coming and going, and clients that send much and read nothing: the real program
// must not leak descriptors or memory, and must hold back what it sends to a client that does
// not take it.
#include "support/TempDir.h"

#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include <thread>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::IniText;
using test::TcpClient;
using test::ZelvorProcess;
using Clock = std::chrono::steady_clock;

const std::string kPrompt = "\r\nZelvor>";

// AddressSanitizer keeps freed memory aside for a while, so the program's RSS says nothing about
// leaks or bounds in such a build; those checks are made by the plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryFiguresMeanSomething = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryFiguresMeanSomething = false;
#else
constexpr bool kMemoryFiguresMeanSomething = true;
#endif
#else
constexpr bool kMemoryFiguresMeanSomething = true;
#endif

bool startWith(ZelvorProcess& zelvor, IniText& ini)
{
    ini.port = test::freePort();
    zelvor.writeIni(ini.text());
    zelvor.start();
    return zelvor.waitListening();
}

/** Waits until the descriptor count of the program is down to at most count. */
bool waitForDescriptors(pid_t pid, int count)
{
    const auto deadline = Clock::now() + 10s;
    while (test::openDescriptors(pid) > count) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

/** The targets of the process's descriptors, for a failure message. */
std::string descriptorList(pid_t pid)
{
    std::string list;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error))
        list += it->path().filename().string() + "=" +
                std::filesystem::read_symlink(it->path(), error).string() + " ";
    return list;
}

/** The end of the program's error output, where every status word is written. */
std::string lastLines(const ZelvorProcess& zelvor)
{
    const std::string output = zelvor.errorOutput();
    std::size_t start = output.size();
    for (int lines = 0; lines < 12 && start > 0; ++lines)
        start = output.rfind('\n', start - 1);
    return output.substr(start == std::string::npos ? 0 : start);
}

/** Printable form of what a client received, for a failure message. */
std::string shown(const std::string& bytes)
{
    std::string text;
    for (const char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else
            text += c;
    }
    return '"' + text + '"';
}

/** One visit of a client of the given kind; empty, or the step at which the server misbehaved. */
std::string visit(int kind, std::uint16_t port, std::mt19937& random)
{
    TcpClient client;
    if (kind == 0) {
        // Gone at once, with a reset, before even the greeting.
        if (!client.connect("127.0.0.1", port))
            return "connect: refused";
        client.reset();
        return {};
    }
    if (kind <= 2) {
        if (!test::connectAndGreet(client, port))
            return "greeting: " + test::lastGreetingFailure();
        if (kind == 1) {
            client.close();
        } else {
            // Half a user name, then a reset.
            client.send("bo");
            client.reset();
        }
        return {};
    }
    if (!test::connectAndGreet(client, port))
        return "greeting: " + test::lastGreetingFailure();
    client.send("bob\r\n");
    if (const std::string got = client.readUntil("Pass:"); got != "bob\r\nPass:")
        return "user name: " + shown(got);
    client.send("pw\r\n");
    if (const std::string got = client.readUntil(kPrompt); got != kPrompt)
        return "password: " + shown(got);
    switch (kind) {
    case 3: // one command, then hangs up
        client.send("pwd\r\n");
        if (const std::string got = client.readUntil(kPrompt); got != "pwd\r\n\\" + kPrompt)
            return "pwd: " + shown(got);
        client.close();
        return {};
    case 4: // leaves with exit
        client.send("exit\r\n");
        if (std::string got; !client.waitForClose(&got))
            return "exit: still open, received " + shown(got);
        return {};
    default: // asks for help and resets somewhere in the reply
        client.send("help\r\n");
        if (random() % 2)
            client.readFor(1ms);
        client.reset();
        return {};
    }
}

TEST(SlowClients, TwoThousandVisitsLeakNoDescriptorAndNoMemory)
{
    ZelvorProcess zelvor;
    IniText ini;
    ASSERT_TRUE(startWith(zelvor, ini));
    std::mt19937 random(424242);
    // A first round lets the program reach its working size.
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(visit(i % 6, ini.port, random), "") << i << lastLines(zelvor);
    // The descriptors are counted while a client sits at the login prompt, the server idle.
    TcpClient settle;
    ASSERT_TRUE(test::connectAndGreet(settle, ini.port));
    const int descriptorsBefore = test::openDescriptors(zelvor.pid());
    const std::string listBefore = descriptorList(zelvor.pid());
    settle.close();
    const long rssBefore = test::statusKiB(zelvor.pid(), "VmRSS");

    std::vector<std::string> failures;
    for (int i = 0; i < 2000; ++i) {
        const int kind = static_cast<int>(random() % 6);
        if (const std::string step = visit(kind, ini.port, random); !step.empty())
            failures.push_back("visit " + std::to_string(i) + " of kind " + std::to_string(kind) +
                               ", " + step + "; the program's last words: " + lastLines(zelvor));
    }
    EXPECT_EQ(failures, std::vector<std::string>{});

    // Listening again, with no descriptor and no memory kept from all those visits.
    TcpClient last;
    EXPECT_TRUE(test::connectAndLogIn(last, ini.port));
    EXPECT_TRUE(waitForDescriptors(zelvor.pid(), descriptorsBefore))
        << test::openDescriptors(zelvor.pid())
        << " descriptors open: " << descriptorList(zelvor.pid()) << "; " << descriptorsBefore
        << " before: " << listBefore;
    const int descriptorsAfter = test::openDescriptors(zelvor.pid());
    last.close();
    const long rssAfter = test::statusKiB(zelvor.pid(), "VmRSS");
    std::printf("2000 visits: descriptors %d before, %d after; RSS %ld KiB before, %ld KiB after\n",
                descriptorsBefore, descriptorsAfter, rssBefore, rssAfter);
    if (kMemoryFiguresMeanSomething) {
        EXPECT_LT(rssAfter - rssBefore, 1024);
    }
}

/** Waits until the program has carried out no further command for a while. */
std::size_t waitUntilItStopsReading(const ZelvorProcess& zelvor, const std::string& word)
{
    std::size_t count = test::outputCount(zelvor, word);
    int quiet = 0;
    const auto deadline = Clock::now() + 20s;
    while (quiet < 50 && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        const std::size_t now = test::outputCount(zelvor, word);
        quiet = now == count ? quiet + 1 : 0;
        count = now;
    }
    return count;
}

class FloodingClient : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ini.serverRoot = music.str();
        ASSERT_TRUE(startWith(zelvor, ini));
        ASSERT_TRUE(test::connectAndLogIn(client, ini.port));
        rssBefore = test::statusKiB(zelvor.pid(), "VmRSS");
    }

    /** The client reads all it was sent: every command got its reply, and the session goes on. */
    void expectEveryReplyThenMore(std::size_t commands, const std::string& reply)
    {
        const std::string all = test::readPrompts(client, commands, 120s);
        std::size_t replies = 0;
        for (auto at = all.find(reply); at != std::string::npos; at = all.find(reply, at + 1))
            ++replies;
        EXPECT_EQ(replies, commands);
        client.send("pwd\r\n");
        EXPECT_EQ(client.readUntil(kPrompt), "pwd\r\n\\" + kPrompt);
        client.send("exit\r\n");
        EXPECT_TRUE(client.waitForClose());
        TcpClient next;
        EXPECT_TRUE(test::connectAndLogIn(next, ini.port));
    }

    test::TempDir music;
    ZelvorProcess zelvor;
    IniText ini;
    TcpClient client;
    long rssBefore = 0;
};

TEST_F(FloodingClient, PastedHelpsThatAreNotReadStopTheReadingNotTheServer)
{
    // Every help sends the overview; all of them together are far more than the send backlog
    // and every socket buffer on the way hold.
    constexpr std::size_t kCommands = 60000;
    std::string paste;
    for (std::size_t i = 0; i < kCommands; ++i)
        paste += "help\r";
    std::size_t sent = 0;
    const auto deadline = Clock::now() + 30s;
    while (sent < paste.size() && Clock::now() < deadline) {
        sent += test::sendWithoutWaiting(client, paste.substr(sent));
        if (test::outputCount(zelvor, " help\n") > 0 && sent < paste.size())
            std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(sent, paste.size()) << "the server stopped reading for good";
    const std::size_t carriedOut = waitUntilItStopsReading(zelvor, " help\n");
    const long rssFlooded = test::statusKiB(zelvor.pid(), "VmRSS");
    std::printf("%zu helps pasted, %zu carried out while unread; RSS %ld KiB before, %ld KiB "
                "while flooded\n",
                kCommands, carriedOut, rssBefore, rssFlooded);
    EXPECT_LT(carriedOut, kCommands);
    if (kMemoryFiguresMeanSomething) {
        EXPECT_LT(rssFlooded - rssBefore, 12 * 1024);
    }
    expectEveryReplyThenMore(kCommands, "help\r\nZelvor: The Tollomere\r\n");
}

TEST_F(FloodingClient, BigListingsThatAreNotReadStopTheReadingNotTheServer)
{
    for (int i = 0; i < 2000; ++i)
        music.write("a-track-with-a-name-of-some-length-" + std::to_string(i) + ".flac");
    constexpr std::size_t kCommands = 400;
    std::string lines;
    for (std::size_t i = 0; i < kCommands; ++i)
        lines += "ls\r\n";
    ASSERT_EQ(test::sendWithoutWaiting(client, lines), lines.size());
    const std::size_t carriedOut = waitUntilItStopsReading(zelvor, " ls\n");
    const long rssFlooded = test::statusKiB(zelvor.pid(), "VmRSS");
    std::printf("%zu listings of 2000 files asked, %zu carried out while unread; RSS %ld KiB "
                "before, %ld KiB while flooded\n",
                kCommands, carriedOut, rssBefore, rssFlooded);
    EXPECT_LT(carriedOut, kCommands);
    if (kMemoryFiguresMeanSomething) {
        EXPECT_LT(rssFlooded - rssBefore, 12 * 1024);
    }
    expectEveryReplyThenMore(kCommands, "ls\r\n" + music.str() + "/\r\n");
}

} // namespace
} // namespace zelvor
