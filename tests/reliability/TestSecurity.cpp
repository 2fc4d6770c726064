// SPDX-License-Identifier: MIT
// What a client must never reach, end to end against the real program: files outside the server
// root (with a real MPD that would play them), a session without the right credentials, and the
// password in clear anywhere but the settings window.
#include "commands/PathMapping.h"
#include "settings/PasswordScrambling.h"
#include "support/MpdFixture.h"
#include "support/TempDir.h"

#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <thread>

namespace zelvor {
namespace {

using test::IniText;
using test::TcpClient;
using test::ZelvorProcess;
namespace fs = std::filesystem;

const std::string kPrompt = "\r\nZelvor>";

std::string repeated(const std::string& text, std::size_t times)
{
    std::string all;
    for (std::size_t i = 0; i < times; ++i)
        all += text;
    return all;
}

std::string printable(const std::string& bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        text += code >= 32 && code < 127 ? std::string(1, c) : "\\x" + std::to_string(code);
    }
    return text;
}

class Confinement : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mpd.start()) << mpd.error();
        // Beside the root lies music MPD could play; through its local socket it takes any file.
        test::writeWav(mpd.folder() / "outside" / "secret.wav", 100);
        fs::create_directory_symlink(mpd.folder() / "outside", mpd.musicDir() / "outlink");
        fs::create_directory_symlink("album", mpd.musicDir() / "inlink");
        zelvor.setEnv("MPD_HOST", mpd.socketPath().string());
        ini.serverRoot = mpd.musicDir().string();
        ini.port = test::freePort();
        zelvor.writeIni(ini.text());
        zelvor.start();
        ASSERT_TRUE(zelvor.waitListening());
        ASSERT_TRUE(test::connectAndLogIn(client, ini.port));
    }

    std::string command(const std::string& line)
    {
        client.send(line + "\r\n");
        return test::readPrompts(client, 1);
    }

    test::MpdFixture mpd;
    ZelvorProcess zelvor;
    IniText ini;
    TcpClient client;
};

TEST_F(Confinement, NoEscapeReachesAnythingOutsideTheRoot)
{
    const std::string root = ini.serverRoot;
    const std::string outside = (mpd.folder() / "outside").string();
    const std::vector<std::string> escapes = {
        "..",
        "..\\..",
        "../..",
        "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\etc",
        "\\..",
        "/..",
        "//..//..",
        "\\\\..\\\\..\\\\",
        "..\\/..",
        "..//\\\\..",
        "album\\..\\..",
        "album/../../",
        ".\\..",
        "album\\\\\\..\\\\..\\outside",
        "album\\disc2\\..\\..\\..\\outside\\secret.wav",
        "..\\music\\..\\outside",
        "..\\outside\\secret.wav",
        "/etc",
        "\\etc\\passwd",
        "C:\\Windows",
        outside,
        outside + "/secret.wav",
        "file://" + outside + "/secret.wav",
        "outlink\\..\\..",
        "outlink/../../outside/secret.wav",
        "inlink\\..\\..\\",
        "inlink\\..\\..\\outside",
        std::string("..\0..", 5),
        std::string("album\0\\..\\..", 12),
        "..\\\x01",
        "..\x01",
        "album\x01",
        "\x1b[2J..",
        "..\t",
        "...",
        ". .\\. .",
        "....\\....",
        "%2e%2e\\%2e%2e",
        "..%2f..",
        repeated("..\\", 300),
        repeated("album\\..\\", 100) + "..",
        "album\\" + std::string(1000, 'x'),
        std::string(300, 'a'),
        "..\\*",
    };
    for (const std::string& escape : escapes) {
        SCOPED_TRACE(printable(escape));
        EXPECT_EQ(command("cd " + escape), "cd " + escape + kPrompt);
        EXPECT_EQ(command("pwd"), "pwd\r\n\\" + kPrompt);
        for (const std::string& filter : {std::string(), std::string("\\*"), std::string("/*.*")}) {
            const std::string line = "ls " + escape + filter;
            // The pattern line shows one separator of a closing run.
            std::string shown = escape + filter;
            while (shown.size() >= 2 && shown.find_last_not_of("\\/") < shown.size() - 2)
                shown.pop_back();
            EXPECT_EQ(command(line), line + "\r\n" + displayPath(root + "\\" + shown) + kPrompt);
        }
        EXPECT_EQ(command("load " + escape), "load " + escape + kPrompt);
        EXPECT_EQ(mpd.queue(), std::vector<std::string>{});
    }
    // The same from a folder below the root, one level further down.
    EXPECT_EQ(command("cd album"), "cd album" + kPrompt);
    for (const std::string& escape : {std::string("..\\.."), std::string("..\\..\\outside"),
                                      std::string("disc2\\..\\..\\..")}) {
        SCOPED_TRACE(escape);
        command("cd " + escape);
        EXPECT_EQ(command("pwd"), "pwd\r\n\\album\\" + kPrompt);
        command("load " + escape);
        EXPECT_EQ(mpd.queue(), std::vector<std::string>{});
    }
    // What lies inside stays reachable, a link of the user's own included.
    EXPECT_EQ(command("load 01 first.wav"), "load 01 first.wav" + kPrompt);
    EXPECT_EQ(mpd.queue(), std::vector<std::string>{"album/01 first.wav"});
    command("cd \\");
    command("cd outlink");
    EXPECT_EQ(command("ls"), "ls\r\n" + root + "/outlink/\r\nsecret.wav" + kPrompt);
}

class LoginGuard : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ini.port = test::freePort();
        ini.logLevel = 2;
        ini.logFile = (log.path() / "zelvor.log").string();
        zelvor.writeIni(ini.text());
        zelvor.start();
        ASSERT_TRUE(zelvor.waitListening());
    }

    /**
     * One connection that sends the bytes and hangs up; returns all it was sent back. Each
     * comes from an address of its own: a failed login refuses its address for a while.
     */
    std::string attempt(const std::string& bytes)
    {
        ++m_attempts;
        const std::string source = "127.1." + std::to_string(m_attempts / 250) + "." +
                                   std::to_string(m_attempts % 250 + 1);
        TcpClient client;
        EXPECT_TRUE(
            test::connectAndGreet(client, ini.port, "User:", std::chrono::seconds(10), source))
            << test::lastGreetingFailure();
        client.send(bytes);
        ::shutdown(client.fd(), SHUT_WR);
        std::string received;
        EXPECT_TRUE(client.waitForClose(&received));
        return received;
    }

    test::TempDir log;
    ZelvorProcess zelvor;
    IniText ini;
    int m_attempts = 0;
};

TEST_F(LoginGuard, NoByteSequenceGetsPastTheLogin)
{
    // Configured: user "bob", password "pw".
    std::vector<std::string> attempts = {
        "\r\n\r\n",
        "bob\r\n\r\n",
        "bob\r\np\r\n",
        "bob\r\npw \r\n",
        "bob\r\n pw\r\n",
        "bob\r\nPW\r\n",
        "BOB\r\npw\r\n",
        "bob \r\npw\r\n",
        std::string("bob\r\np\0w\r\n", 10),
        std::string("bo\0b\r\npw\r\n", 10),
        std::string("bob\0\r\npw\r\n", 10),
        "bobx\r\n\b\b\b\bpw\r\n",
        "bob\r\n\b\b\b\b\b\bbob\r\npw\r\n",
        "bob\r\n\x7f\x7f\x7f\x7f\r\npw\r\n",
        "bo\rb\r\npw\r\n",
        "bob\n\rpw\r\n",
        "bob\r\n\xff\xfapw\r\n",
        "bob\r\n\xff\xfa\xff\xf0\xffpw\r\n",
        "b\xff\xfbob\r\npw\r\n",
        "bob\xff\xff\r\npw\r\n",
        "bob\r\npw\xff\xff\r\n",
        "\xff\xfd\x18\xff\xfb\x01" + std::string("bob\r\n\0pw\0\r\n", 11),
        "bob\r\n" + std::string(2000, 'p') + "\r\n",
        std::string(5000, 'b') + "\r\npw\r\n",
        "bob\r\n" + std::string(1100, 'a') + "\r\npw\r\n",
        "bob\r\nx\r\nbob\r\npw\r\n",
        "bob\r\nx\nbob\npw\n",
        "\r\r\rbob\rpw\r",
        "bob\r\npw",
    };
    // And random ones made of the bytes that matter, without the letter w: none can hold the
    // right password.
    const std::string alphabet("bop\r\n\0\b\x7f\xff\xfb\xfa\xf0 ", 14);
    std::mt19937 random(31337);
    for (int i = 0; i < 300; ++i) {
        std::string bytes;
        const std::size_t length = 1 + random() % 200;
        for (std::size_t j = 0; j < length; ++j)
            bytes += alphabet[random() % alphabet.size()];
        attempts.push_back(bytes);
    }
    for (const std::string& bytes : attempts) {
        const std::string received = attempt(bytes);
        EXPECT_EQ(received.find("Zelvor>"), std::string::npos)
            << printable(bytes) << " got " << printable(received);
    }
    ASSERT_TRUE(test::waitForOutputCount(zelvor, " started\n", attempts.size() + 1));
    EXPECT_EQ(test::outputCount(zelvor, " connected\n"), 0u);
    EXPECT_GT(test::outputCount(zelvor, " login failed\n"), 30u);
    // Each entry is written just after its word reaches stderr: wait for the last one.
    bool whole = false;
    std::vector<std::string> words;
    for (int i = 0; i < 10000 && std::count(words.begin(), words.end(), "started") <
                                     static_cast<std::ptrdiff_t>(attempts.size() + 1);
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        words = test::logWords(test::readFile(ini.logFile), &whole);
    }
    EXPECT_EQ(std::count(words.begin(), words.end(), "connected"), 0);
    EXPECT_TRUE(whole);

    // The right credentials, typed any of the ways a client may, do get in.
    const std::pair<std::string, std::string> logins[] = {
        {"bob\r\npw\r\n", "bob\r\nPass:" + kPrompt},
        {"bob\npw\n", "bob\r\nPass:" + kPrompt},
        {std::string("bob\r\0pw\r\0", 9), "bob\r\nPass:" + kPrompt},
        // A telnet client taking the echo offered with the greeting gets no answer, only the
        // echo of its keys.
        {"\xff\xfd\x01"
         "bob\r\npx\bw\r\n",
         "bob\r\nPass:\b \b" + kPrompt},
        // One that refuses it echoes for itself: nothing comes back but the prompts.
        {"\xff\xfe\x01"
         "bob\r\npx\bw\r\n",
         "\r\nPass:" + kPrompt},
    };
    for (const auto& [bytes, reply] : logins) {
        TcpClient client;
        ASSERT_TRUE(test::connectAndGreet(client, ini.port));
        client.send(bytes);
        EXPECT_EQ(client.readUntil(kPrompt), reply) << printable(bytes);
    }
}

TEST(Secrets, PasswordNeverReachesTheLogTheErrorOutputOrTheSettingsFileInClear)
{
    const std::string password = "S3cret-Pass!";
    const std::string wrong = "S3cret-Wrong!";
    test::TempDir log;
    ZelvorProcess zelvor;
    IniText ini;
    ini.port = test::freePort();
    ini.logLevel = 2;
    ini.logFile = (log.path() / "zelvor.log").string();
    ini.password = password;
    zelvor.writeIni(ini.text());
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());
    {
        TcpClient client;
        ASSERT_TRUE(test::connectAndGreet(client, ini.port));
        // Wrong once, then typed into the user name by mistake, then right.
        client.type("bob\r\n" + wrong + "\r\n");
        EXPECT_EQ(client.readUntil("User:"), "bob\r\nPass:\r\nUser:");
        client.type(password + "\r\nx\r\n");
        client.readUntil("User:");
        client.type("bob\r\n" + password + "\r\n");
        EXPECT_EQ(client.readUntil(kPrompt), "bob\r\nPass:" + kPrompt);
        client.send("status\r\nhelp\r\nexit\r\n");
        EXPECT_TRUE(client.waitForClose());
    }
    zelvor.signal(SIGTERM);
    ASSERT_EQ(zelvor.wait(), 0);

    const std::string logText = test::readFile(ini.logFile);
    const std::string errors = zelvor.errorOutput();
    const std::string settings = test::readFile(zelvor.iniFile());
    EXPECT_NE(logText.find("\tlogin failed\""), std::string::npos) << logText;
    EXPECT_NE(settings.find("Password=" + EncryptPassword(password) + "\r\n"), std::string::npos);
    for (const std::string& secret : {password, wrong, std::string("S3cret")}) {
        EXPECT_EQ(logText.find(secret), std::string::npos) << logText;
        EXPECT_EQ(errors.find(secret), std::string::npos) << errors;
        EXPECT_EQ(settings.find(secret), std::string::npos) << settings;
    }
}

TEST(Secrets, SettingsFileIsPrivateAndItsFolderToo)
{
    ZelvorProcess first;
    first.start();
    ASSERT_TRUE(first.waitForOutput("\n"));
    first.signal(SIGTERM);
    ASSERT_EQ(first.wait(), 0);
    EXPECT_EQ(fs::status(first.settingsFolder()).permissions() & fs::perms::all,
              fs::perms::owner_all);
    EXPECT_EQ(fs::status(first.iniFile()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // A file that someone made readable for everybody is private again after the next save.
    ZelvorProcess later;
    IniText ini;
    ini.port = test::freePort();
    later.writeIni(ini.text());
    fs::permissions(later.iniFile(), fs::perms::owner_read | fs::perms::owner_write |
                                         fs::perms::group_read | fs::perms::others_read);
    later.start();
    ASSERT_TRUE(later.waitListening());
    later.signal(SIGTERM);
    ASSERT_EQ(later.wait(), 0);
    EXPECT_EQ(fs::status(later.iniFile()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

} // namespace
} // namespace zelvor
