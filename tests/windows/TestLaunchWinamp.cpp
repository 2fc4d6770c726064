// SPDX-License-Identifier: MIT
#include "player/win32/Win32Backend.h"

#include "windows/StandIn.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace zelvor {
namespace {

using test::logLines;
using test::ReadySignal;
using test::ScratchFolder;
using Lines = std::vector<std::string>;

class LaunchWinampTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(test::stopAllStandIns()) << "a player window was left"; }
    void TearDown() override { test::stopAllStandIns(); }

    ScratchFolder m_scratch;
    Win32Backend m_player;
};

/** An anonymous pipe whose write end child processes may inherit. */
class InheritablePipe
{
public:
    InheritablePipe()
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        CreatePipe(&m_read, &m_write, &inherit, 0);
        SetHandleInformation(m_read, HANDLE_FLAG_INHERIT, 0);
    }
    ~InheritablePipe()
    {
        closeWriteEnd();
        CloseHandle(m_read);
    }
    bool valid() const { return m_read != nullptr && m_write != nullptr; }
    void closeWriteEnd()
    {
        if (m_write != nullptr)
            CloseHandle(m_write);
        m_write = nullptr;
    }
    /** True while some process still holds the write end. */
    bool hasWriter() const
    {
        // Peeking never blocks; with every write end closed it fails with ERROR_BROKEN_PIPE.
        DWORD available = 0;
        return PeekNamedPipe(m_read, nullptr, 0, nullptr, &available, nullptr) != 0;
    }

private:
    HANDLE m_read = nullptr;
    HANDLE m_write = nullptr;
};

TEST_F(LaunchWinampTest, LaunchedPlayerIsFoundByTheNextQuery)
{
    const auto program = m_scratch.copyStandIn("Winamp\\winamp_standin.exe");
    ReadySignal ready;
    EXPECT_EQ(m_player.LaunchWinamp(program), 0);
    ASSERT_TRUE(ready.wait());
    EXPECT_EQ(m_player.WinampQuery(0, kQueryVersion), 0x5091);
    EXPECT_EQ(logLines(m_scratch / "Winamp\\winamp_standin.log"), Lines{"user 0 0"});
}

class LaunchWithBlanksTest : public LaunchWinampTest, public testing::WithParamInterface<bool>
{};

TEST_P(LaunchWithBlanksTest, PathWithBlanksStartsThePlayer)
{
    const auto program = m_scratch.copyStandIn("Program Files\\Winamp\\winamp_standin.exe");
    ReadySignal ready;
    EXPECT_EQ(m_player.LaunchWinamp(GetParam() ? "\"" + program + "\"" : program), 0);
    ASSERT_TRUE(ready.wait());
    EXPECT_EQ(m_player.WinampCommand(kCmdPlay), 0);
    EXPECT_EQ(logLines(m_scratch / "Program Files\\Winamp\\winamp_standin.log"),
              Lines{"command 40045 0"});
}

INSTANTIATE_TEST_SUITE_P(Quoting, LaunchWithBlanksTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& param) {
                             return param.param ? "Quoted" : "Unquoted";
                         });

// Unquoted, "...\Zelvor Test\Program Files\Winamp\player.exe" is first tried as "...\Zelvor.exe"
// and then as "...\Zelvor Test\Program.exe": both are planted, and neither may start.
TEST_P(LaunchWithBlanksTest, NoOtherProgramIsTriedForAPathWithBlanks)
{
    const auto program = m_scratch.copyStandIn("Zelvor Test\\Program Files\\Winamp\\player.exe");
    m_scratch.copyStandIn("Zelvor.exe");
    m_scratch.copyStandIn("Zelvor Test\\Program.exe");
    ReadySignal ready;
    EXPECT_EQ(m_player.LaunchWinamp(GetParam() ? "\"" + program + "\"" : program), 0);
    ASSERT_TRUE(ready.wait());
    EXPECT_EQ(m_player.WinampCommand(kCmdPlay), 0);
    EXPECT_EQ(test::standInProcesses().size(), 1u);
    EXPECT_EQ(logLines(m_scratch / "Zelvor Test\\Program Files\\Winamp\\winamp_standin.log"),
              Lines{"command 40045 0"});
    EXPECT_EQ(logLines(m_scratch / "winamp_standin.log"), Lines{});
    EXPECT_EQ(logLines(m_scratch / "Zelvor Test\\winamp_standin.log"), Lines{});
}

TEST_F(LaunchWinampTest, FailedStartNamesThePathAndTheSystemsReason)
{
    const auto missing = m_scratch / "Program Files\\Missing\\winamp.exe";
    const auto notAProgram = m_scratch.write("Program Files\\Winamp\\winamp.exe", "text\r\n");
    for (const auto& path : {missing, notAProgram}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(m_player.LaunchWinamp(path), -1);
        const auto failure = m_player.launchFailure();
        const auto named = "cannot start " + path + ": ";
        ASSERT_EQ(failure.substr(0, named.size()), named);
        const auto reason = failure.substr(named.size());
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos);
        EXPECT_NE(reason.substr(0, 6), "error ") << "the system has words for it";
    }
    const auto program = m_scratch.copyStandIn("Winamp\\winamp_standin.exe");
    ReadySignal ready;
    EXPECT_EQ(m_player.LaunchWinamp(program), 0);
    ASSERT_TRUE(ready.wait());
    EXPECT_EQ(m_player.launchFailure(), "");
    EXPECT_EQ(m_player.LaunchWinamp(""), -1);
    EXPECT_EQ(m_player.launchFailure(), "cannot start the player: no program is set");
}

TEST_F(LaunchWinampTest, TwoLaunchesStartTwoPlayers)
{
    const auto program = m_scratch.copyStandIn("Winamp\\winamp_standin.exe");
    ReadySignal ready;
    EXPECT_EQ(m_player.LaunchWinamp(program), 0);
    ASSERT_TRUE(ready.wait());
    EXPECT_EQ(m_player.LaunchWinamp(program), 0);
    ASSERT_TRUE(ready.wait());
    const auto processes = test::standInProcesses();
    EXPECT_EQ(std::set<DWORD>(processes.begin(), processes.end()).size(), 2u);
}

TEST_F(LaunchWinampTest, ProgramThatCannotStartAnswersMinusOne)
{
    const auto notAProgram = m_scratch.write("Winamp\\winamp.exe", "not a program\r\n");
    EXPECT_EQ(m_player.LaunchWinamp(m_scratch / "Missing\\winamp.exe"), -1);
    EXPECT_EQ(m_player.LaunchWinamp(notAProgram), -1);
    EXPECT_EQ(m_player.LaunchWinamp(m_scratch / "Winamp"), -1);
    EXPECT_EQ(m_player.LaunchWinamp(""), -1);
    EXPECT_TRUE(test::standInProcesses().empty());
}

// The check below only means something when an inherited handle is seen at all.
TEST_F(LaunchWinampTest, PipeCheckSeesAHandleThatAChildInherited)
{
    InheritablePipe pipe;
    ASSERT_TRUE(pipe.valid());
    std::string commandLine =
        "\"" + test::standInProgram() + "\" --log \"" + (m_scratch / "player.log") + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ReadySignal ready;
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               nullptr, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_TRUE(ready.wait());
    pipe.closeWriteEnd();
    EXPECT_TRUE(pipe.hasWriter());
}

TEST_F(LaunchWinampTest, LaunchedPlayerInheritsNoHandle)
{
    InheritablePipe pipe;
    ASSERT_TRUE(pipe.valid());
    const auto program = m_scratch.copyStandIn("Winamp\\winamp_standin.exe");
    ReadySignal ready;
    ASSERT_EQ(m_player.LaunchWinamp(program), 0);
    ASSERT_TRUE(ready.wait());
    pipe.closeWriteEnd();
    EXPECT_FALSE(pipe.hasWriter());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
}

} // namespace
} // namespace zelvor
