// SPDX-License-Identifier: MIT
#include "player/ProgramLauncher.h"

#include "support/MpdFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <set>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelvor {
namespace {

namespace fs = std::filesystem;
using test::MpdFixture;
using test::readFile;
using test::TempDir;

class ProgramLauncher : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (const pid_t pid : m_started) {
            ::kill(pid, SIGKILL);
            MpdFixture::waitFor([pid] { return MpdFixture::processGone(pid); });
        }
    }

    pid_t launch(const std::string& commandLine)
    {
        const pid_t pid = launchProgram(commandLine);
        if (pid > 0)
            m_started.push_back(pid);
        return pid;
    }

    // A program that writes its arguments, one a line, to <its path>.args once it runs.
    fs::path writeArgumentRecorder(const std::string& relative) const
    {
        const fs::path script = temp.write(relative, "#!/bin/sh\n"
                                                     "printf '%s\\n' \"$@\" > \"$0.tmp\"\n"
                                                     "mv \"$0.tmp\" \"$0.args\"\n");
        fs::permissions(script, fs::perms::owner_exec, fs::perm_options::add);
        return script;
    }

    std::string recordedArguments(const fs::path& script) const
    {
        const fs::path args = script.string() + ".args";
        MpdFixture::waitFor([&] { return fs::exists(args); });
        return readFile(args);
    }

    TempDir temp;

private:
    std::vector<pid_t> m_started;
};

// What the descriptors above 2 of a process point at ("/dev/zero", "socket:[1234]", ...).
std::set<std::string> openTargets(pid_t pid)
{
    std::set<std::string> targets;
    std::error_code error;
    const fs::path folder = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code linkError;
        const auto target = fs::read_symlink(entry.path(), linkError);
        if (std::stoi(entry.path().filename().string()) > 2 && !linkError)
            targets.insert(target.string());
    }
    return targets;
}

TEST_F(ProgramLauncher, ChildHoldsNoDescriptorOfTheServer)
{
    // Descriptors a server holds: a plain file and a listening socket, neither close-on-exec.
    const int file = ::open("/dev/zero", O_RDONLY);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    const auto serverTargets = openTargets(::getpid());
    ASSERT_EQ(serverTargets.count("/dev/zero"), 1u);

    const pid_t pid = launch("sleep 30");
    ASSERT_GT(pid, 0);
    // The program runs by now. Its dynamic loader may hold a descriptor of its own for a
    // moment, so the test looks for the server's descriptors rather than counting.
    for (const auto& target : openTargets(pid))
        EXPECT_EQ(serverTargets.count(target), 0u) << target;
    for (const char* fd : {"0", "1", "2"})
        EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + fd), "/dev/null");
    EXPECT_EQ(::getsid(pid), pid);
    // Not the server's child: nothing of it is left for the server to reap.
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    ::close(listener);
    ::close(file);
}

TEST_F(ProgramLauncher, UnquotedPathWithBlanksIsTriedPrefixByPrefix)
{
    const fs::path script = writeArgumentRecorder("my player/run");
    ASSERT_GT(launch(script.string() + " one \"two three\" a\\\"b"), 0);
    EXPECT_EQ(recordedArguments(script), "one\ntwo three\na\"b\n");
}

TEST_F(ProgramLauncher, QuotedProgramKeepsItsBlanks)
{
    const fs::path script = writeArgumentRecorder("my player/run x");
    ASSERT_GT(launch("\"" + script.string() + "\" --flag"), 0);
    EXPECT_EQ(recordedArguments(script), "--flag\n");
}

TEST_F(ProgramLauncher, ProgramIsSearchedInPathAndKeepsEnvironmentAndFolder)
{
    ::setenv("ZELVOR_LAUNCH_PROBE", "probe value", 1);
    const fs::path out = temp.path() / "out";
    ASSERT_GT(launch("sh -c \"pwd > '" + out.string() +
                     ".tmp'; echo \\\"$ZELVOR_LAUNCH_PROBE\\\" >> '" + out.string() +
                     ".tmp'; mv '" + out.string() + ".tmp' '" + out.string() + "'\""),
              0);
    ASSERT_TRUE(MpdFixture::waitFor([&] { return fs::exists(out); }));
    EXPECT_EQ(readFile(out), fs::current_path().string() + "\nprobe value\n");
}

TEST_F(ProgramLauncher, ProgramThatCannotStartIsRefused)
{
    const fs::path plain = temp.write("not-executable", "#!/bin/sh\n");
    const fs::path noInterpreter = temp.write("bad-interpreter", "#!/nonexistent/shell\n");
    fs::permissions(noInterpreter, fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_EQ(launch("/nonexistent/player"), -1);
    EXPECT_EQ(launch("zelvor-no-such-program --x"), -1);
    EXPECT_EQ(launch(plain.string()), -1);
    EXPECT_EQ(launch(temp.str()), -1);
    EXPECT_EQ(launch(noInterpreter.string()), -1);
    EXPECT_EQ(launch("   "), -1);
}

} // namespace
} // namespace zelvor
