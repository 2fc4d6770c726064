// SPDX-License-Identifier: MIT
// zelvor.exe's settings window, driven through window messages from another process.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "shell/win32/AboutBox.h"
#include "shell/win32/FolderPicker.h"
#include "shell/win32/MainWindow.h"
#include "windows/StandIn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>
#include <string>
#include <thread>

namespace zelvor::test {
namespace {

using namespace std::chrono_literals;
namespace layout = zelvor::layout;

constexpr auto kLimit = 20s;

/** Polls until the condition holds or the limit passes: the program is another process. */
template <typename Condition> bool waitFor(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

/**
 * A port free right now on every address of both families, as zelvor.exe listens on all of
 * them: a port taken on 127.0.0.2 or ::1 alone is free on 127.0.0.1. The probe is closed
 * before zelvor.exe binds, so another program may still take the port meanwhile; the status
 * word tells (see ZelvorProgram).
 */
std::uint16_t freePort()
{
    SOCKET probe = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    const DWORD dualStack = 0;
    setsockopt(probe, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&dualStack),
               sizeof dualStack);
    const BOOL exclusive = TRUE;
    setsockopt(probe, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    std::uint16_t port = 0;
    int length = sizeof address;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin6_port);
    closesocket(probe);
    return port;
}

/** What zelvor.exe says when another program holds its port. */
std::string inUse(std::uint16_t port)
{
    return "port " + std::to_string(port) + " in use";
}

/** How often the harness picks another port when another program took the one it picked. */
constexpr int kPortPicks = 5;

const std::string kWelcome = "\xff\xfb\x01\xff\xfb\x03Zelvor v.1.0\r\n";

/**
 * The first bytes a client on the port receives, up to the first prompt ("User:", or the
 * command prompt with login off); empty when nothing listens.
 */
std::string greeting(std::uint16_t port, bool ipv6 = false)
{
    SOCKET client = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_storage address{};
    int length = 0;
    if (ipv6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        v6.sin6_port = htons(port);
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        v4.sin_port = htons(port);
        length = sizeof v4;
    }
    std::string received;
    if (connect(client, reinterpret_cast<sockaddr*>(&address), length) == 0) {
        const DWORD timeoutMs = 10000;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                   sizeof timeoutMs);
        char buffer[512];
        while (received.find("User:") == std::string::npos &&
               received.find("Zelvor>") == std::string::npos) {
            const int n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }
    closesocket(client);
    return received;
}

/** The window's text; GetWindowText would not ask a control of another process. */
std::string windowText(HWND window)
{
    char text[2048] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

bool shown(HWND window)
{
    return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

/** Asks ZelvorProgram to pick a free port itself. */
constexpr std::uint16_t kAnyFreePort = 0;

/** zelvor.exe started in a folder of its own, with login on and a free port. */
class ZelvorProgram
{
public:
    explicit ZelvorProgram(std::uint16_t port = kAnyFreePort, const std::string& iniLines = {})
    {
        const std::string program = m_folder / "zelvor.exe";
        CopyFileA(windowsPath(ZELVOR_PROGRAM).c_str(), program.c_str(), FALSE);
        // The port is free when picked, but the probe lets go of it before zelvor.exe binds, and
        // another program (another test's MPD, say) may take it in between. zelvor.exe then
        // says so in its status word and the tests would talk to that program. Picking another
        // port then is no second try of a failed test: it makes sure that the program under
        // test is the one that listens.
        for (int pick = 0; pick < kPortPicks; ++pick) {
            m_port = port == kAnyFreePort ? freePort() : port;
            m_folder.write("zelvor.ini", "[Zelvor]\r\nPort=" + std::to_string(m_port) +
                                             "\r\nUser=ann\r\nPassword=00\r\n" + iniLines);
            start(program);
            if (port != kAnyFreePort || !m_window || status() != inUse(m_port))
                return;
            std::fprintf(stderr, "another program took port %u; zelvor.exe starts on another\n",
                         static_cast<unsigned>(m_port));
            stop();
        }
    }

    ~ZelvorProgram() { stop(); }

    HWND window() const { return m_window; }
    HANDLE process() const { return m_process.hProcess; }
    const ScratchFolder& folder() const { return m_folder; }
    /**
     * Returns once the window's thread takes messages again; posted ones that are still
     * queued may come after.
     */
    void sync() const
    {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(m_window, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &answer);
    }
    /** The program's windows of the class. */
    std::vector<HWND> windowsOf(const wchar_t* windowClass) const
    {
        std::vector<HWND> found;
        HWND window = nullptr;
        while ((window = FindWindowExW(nullptr, window, windowClass, nullptr))) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == m_process.dwProcessId)
                found.push_back(window);
        }
        return found;
    }
    HWND control(std::string_view name) const { return GetDlgItem(m_window, controlId(name)); }
    std::uint16_t port() const { return m_port; }

    std::string status() const { return windowText(control("Lbl_Status")); }

    /**
     * The first bytes to a client that leaves at once, returned once zelvor.exe has seen it
     * go. The end of a connection opens the listener afresh with the port and login option the
     * form holds at that moment, so a test that edits the form next must wait for it.
     */
    std::string greetingOf(std::uint16_t port) const
    {
        const std::string received = greeting(port);
        waitFor([this] { return status() == "started"; });
        return received;
    }

    /**
     * Types a free port into the form and has zelvor.exe restart on it; the port it listens on
     * now. As at the start, another port is picked when another program took the first.
     */
    std::uint16_t restartOnAFreePort(std::uint16_t typed = kAnyFreePort)
    {
        HWND field = control("Txt_Port");
        for (int pick = 0; pick < kPortPicks; ++pick) {
            if (typed == kAnyFreePort || pick > 0) {
                typed = freePort();
                SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
                for (const char digit : std::to_string(typed))
                    SendMessageW(field, WM_CHAR, static_cast<WPARAM>(digit), 0);
            }
            SendMessageW(m_window, WM_COMMAND, MAKEWPARAM(controlId("Cmd_Start"), BN_CLICKED),
                         reinterpret_cast<LPARAM>(control("Cmd_Start")));
            if (status() != inUse(typed))
                break;
            std::fprintf(stderr, "another program took port %u; zelvor.exe restarts on another\n",
                         static_cast<unsigned>(typed));
        }
        return typed;
    }

private:
    void start(const std::string& program)
    {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string commandLine = "\"" + program + "\"";
        if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                            nullptr, m_folder.path().c_str(), &startup, &m_process)) {
            std::fprintf(stderr, "zelvor.exe did not start: error %lu\n", GetLastError());
            return;
        }
        waitFor([this] { return (m_window = findWindow()) != nullptr; });
        // The answer comes from the message loop, so the window is complete and listening.
        if (m_window)
            sync();
    }

    void stop()
    {
        if (m_window)
            PostMessageW(m_window, WM_CLOSE, 0, 0);
        m_window = nullptr;
        if (m_process.hProcess) {
            if (WaitForSingleObject(m_process.hProcess, 20000) != WAIT_OBJECT_0)
                TerminateProcess(m_process.hProcess, 1);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
        m_process = {};
    }

    HWND findWindow() const
    {
        HWND found = nullptr;
        while ((found = FindWindowExW(nullptr, found, MainWindow::kClassName, nullptr))) {
            DWORD owner = 0;
            GetWindowThreadProcessId(found, &owner);
            if (owner == m_process.dwProcessId)
                return found;
        }
        return nullptr;
    }

    ScratchFolder m_folder;
    std::uint16_t m_port = 0;
    PROCESS_INFORMATION m_process{};
    HWND m_window = nullptr;
};

class SettingsWindowTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    static void TearDownTestSuite() { WSACleanup(); }
};

TEST_F(SettingsWindowTest, EveryControlSitsWhereTheLayoutPutsIt)
{
    ZelvorProgram zelvor;
    ASSERT_NE(zelvor.window(), nullptr);
    ShowWindow(zelvor.window(), SW_SHOWNORMAL);
    EXPECT_EQ(windowText(zelvor.window()), layout::kTitle);

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    const auto px = [dpi](int twips) { return layout::twipsToPixels(twips, dpi); };
    RECT client{};
    GetClientRect(zelvor.window(), &client);
    EXPECT_EQ(client.right, px(layout::kClientWidth));
    EXPECT_EQ(client.bottom, px(layout::kClientHeight));

    for (const layout::Control& item : layout::kControls) {
        SCOPED_TRACE(std::string(item.name));
        HWND control = zelvor.control(item.name);
        ASSERT_NE(control, nullptr);
        RECT rect{};
        GetWindowRect(control, &rect);
        MapWindowPoints(HWND_DESKTOP, zelvor.window(), reinterpret_cast<POINT*>(&rect), 2);
        const layout::Twips at = layout::placeInWindow(item);
        EXPECT_EQ(rect.left, px(at.left));
        EXPECT_EQ(rect.top, px(at.top));
        EXPECT_EQ(rect.right - rect.left, px(at.width));
        EXPECT_EQ(rect.bottom - rect.top, px(at.height));
        if (item.kind != layout::Kind::Field && item.name != "Lbl_Status") {
            EXPECT_EQ(windowText(control), item.caption);
        }
    }
    EXPECT_EQ(windowText(zelvor.control("Txt_Port")), std::to_string(zelvor.port()));
    EXPECT_FALSE(shown(zelvor.control("lbl_restartwarning")));

    // Tab visits the controls in the focus order, an option group once, at its first option.
    HWND previous = zelvor.control(layout::kFocusOrder.back());
    for (const std::string_view name : layout::kFocusOrder) {
        const bool laterOption = name.back() == ')' && name[name.size() - 2] != '0';
        if (laterOption)
            continue;
        SCOPED_TRACE(std::string(name));
        HWND next = GetNextDlgTabItem(zelvor.window(), previous, FALSE);
        // Within an option group the tab stop is the selected option.
        const bool option = name.back() == ')';
        if (option)
            EXPECT_EQ(GetParent(next), zelvor.window());
        else
            EXPECT_EQ(next, zelvor.control(name));
        previous = next;
    }

    EXPECT_EQ(SendMessageW(zelvor.control("Txt_Uname"), EM_GETLIMITTEXT, 0, 0),
              layout::kCredentialLimit);
    EXPECT_EQ(SendMessageW(zelvor.control("Txt_Passwd"), EM_GETLIMITTEXT, 0, 0),
              layout::kCredentialLimit);
    EXPECT_EQ(SendMessageW(zelvor.control("Txt_Passwd"), EM_GETPASSWORDCHAR, 0, 0), '*');
}

TEST_F(SettingsWindowTest, PortKeyFilterPasteAndRestartWarning)
{
    ZelvorProgram zelvor;
    ASSERT_NE(zelvor.window(), nullptr);
    HWND port = zelvor.control("Txt_Port");
    HWND warning = zelvor.control("lbl_restartwarning");
    SendMessageA(port, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    EXPECT_FALSE(shown(warning)) << "setting the text is no typed key";

    // Digits and Backspace pass; Enter, "." and "-" vanish without a word.
    for (const char key : {'8', '0', '7', '\b', '\r', '.', '-'})
        SendMessageW(port, WM_CHAR, static_cast<WPARAM>(key), 0);
    EXPECT_EQ(windowText(port), "80");
    EXPECT_EQ(FindWindowA("#32770", std::string(layout::kInvalidKeyTitle).c_str()), nullptr);
    EXPECT_TRUE(shown(warning));

    // A letter raises the message box and leaves the field as it was.
    PostMessageW(port, WM_CHAR, 'a', 0);
    HWND box = nullptr;
    ASSERT_TRUE(waitFor([&box] {
        return (box = FindWindowA("#32770", std::string(layout::kInvalidKeyTitle).c_str()));
    }));
    bool saysIt = false;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        saysIt = saysIt || windowText(child) == layout::kInvalidKeyText;
    EXPECT_TRUE(saysIt);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(waitFor([box] { return !IsWindow(box); }));
    EXPECT_EQ(windowText(port), "80");

    // Pasted line breaks are dropped; the port field keeps only pasted digits.
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    const char pasted[] = "a1\r\nb2";
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof pasted);
    std::memcpy(GlobalLock(memory), pasted, sizeof pasted);
    GlobalUnlock(memory);
    SetClipboardData(CF_TEXT, memory);
    CloseClipboard();
    SendMessageW(zelvor.control("Txt_Uname"), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    SendMessageW(zelvor.control("Txt_Uname"), WM_PASTE, 0, 0);
    EXPECT_EQ(windowText(zelvor.control("Txt_Uname")), "a1b2");
    SendMessageW(port, WM_PASTE, 0, 0);
    EXPECT_EQ(windowText(port), "8012");
}

TEST_F(SettingsWindowTest, RestartHidesTheWarningAndListensOnTheNewPort)
{
    ZelvorProgram zelvor;
    ASSERT_NE(zelvor.window(), nullptr);
    ASSERT_EQ(zelvor.status(), "started");
    const std::uint16_t oldPort = zelvor.port();
    const std::string before = zelvor.greetingOf(oldPort);
    ASSERT_EQ(before.find(kWelcome), 0u) << before;
    ASSERT_EQ(zelvor.status(), "started");

    const std::uint16_t typed = freePort();
    HWND port = zelvor.control("Txt_Port");
    SendMessageA(port, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    for (const char digit : std::to_string(typed))
        SendMessageW(port, WM_CHAR, static_cast<WPARAM>(digit), 0);
    // Choosing the other login option needs a restart too.
    SendMessageW(zelvor.window(), WM_COMMAND, MAKEWPARAM(controlId("Opt_Login(0)"), BN_CLICKED),
                 reinterpret_cast<LPARAM>(zelvor.control("Opt_Login(0)")));
    EXPECT_TRUE(shown(zelvor.control("lbl_restartwarning")));
    const std::string stillOld = zelvor.greetingOf(oldPort);
    EXPECT_EQ(stillOld.find(kWelcome), 0u) << "still the old port: " << stillOld;

    const std::uint16_t newPort = zelvor.restartOnAFreePort(typed);
    EXPECT_FALSE(shown(zelvor.control("lbl_restartwarning")));
    EXPECT_EQ(zelvor.status(), "started");
    const std::string welcome = greeting(newPort);
    EXPECT_EQ(welcome.find(kWelcome), 0u) << welcome;
    EXPECT_NE(welcome.find("Zelvor>"), std::string::npos) << "login is off now: " << welcome;
    EXPECT_EQ(greeting(oldPort), "") << "the old port is closed";
}

TEST_F(SettingsWindowTest, PortInUseIsTheStatusWordUntilRestartFindsItFree)
{
    // Another program holds the port.
    SOCKET holder = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    const DWORD dualStack = 0;
    setsockopt(holder, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&dualStack),
               sizeof dualStack);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    int length = sizeof address;
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const std::uint16_t port = ntohs(address.sin6_port);

    ZelvorProgram zelvor(port);
    ASSERT_NE(zelvor.window(), nullptr);
    EXPECT_EQ(zelvor.status(), inUse(port));

    closesocket(holder);
    SendMessageW(zelvor.window(), WM_COMMAND, MAKEWPARAM(controlId("Cmd_Start"), BN_CLICKED),
                 reinterpret_cast<LPARAM>(zelvor.control("Cmd_Start")));
    EXPECT_EQ(zelvor.status(), "started");
    EXPECT_EQ(greeting(port).find(kWelcome), 0u);
}

void click(HWND window, std::string_view name)
{
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(controlId(name), BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, controlId(name))));
}

// The address of zelvor.ini is the only one that answers, without the option offer when
// Negotiate is off; the empty password is said in the log before "started". The refused family
// is tried first: one connection at a time is served, and the listener reopens after it.
TEST_F(SettingsWindowTest, ListenAddressNegotiateAndTheOpenDoor)
{
    const std::string offer = "\xff\xfb\x01\xff\xfb\x03";
    struct Row
    {
        const char* iniLines;
        bool refusedIpv4;
        bool refusedIpv6;
        bool servedIpv6;
        std::string start;
    };
    const Row rows[] = {
        {"", false, false, true, offer + "Zelvor v.1.0\r\n"},
        {"Listen Address=127.0.0.1\r\nNegotiate=False\r\n", false, true, false, "Zelvor v.1.0\r\n"},
        {"Listen Address=[::1]\r\n", true, false, true, offer + "Zelvor v.1.0\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.iniLines);
        ZelvorProgram zelvor(kAnyFreePort, row.iniLines);
        ASSERT_NE(zelvor.window(), nullptr);
        EXPECT_EQ(zelvor.status(), "started");
        if (row.refusedIpv4) {
            EXPECT_EQ(greeting(zelvor.port(), false), "");
        }
        if (row.refusedIpv6) {
            EXPECT_EQ(greeting(zelvor.port(), true), "");
        }
        EXPECT_EQ(greeting(zelvor.port(), row.servedIpv6).find(row.start), 0u);
    }
    ZelvorProgram zelvor(kAnyFreePort, "LogLevel1=True\r\n");
    ASSERT_NE(zelvor.window(), nullptr);
    std::ifstream file(zelvor.folder() / "zelvor.log", std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(file)), {});
    const auto open = log.find("\topen to anyone\"");
    EXPECT_NE(open, std::string::npos) << log;
    EXPECT_LT(open, log.find("\tstarted\"")) << log;
}

TEST_F(SettingsWindowTest, TrayMenuAboutBoxAndShutdown)
{
    ZelvorProgram zelvor;
    HWND window = zelvor.window();
    ASSERT_NE(window, nullptr);
    // In the tray (hidden) where there is one, else minimized on the taskbar.
    EXPECT_TRUE(!IsWindowVisible(window) || IsIconic(window));
    std::fprintf(stderr, "after start the window is %s\n",
                 IsWindowVisible(window) ? "minimized on the taskbar" : "hidden in the tray");

    SendMessageW(window, WM_COMMAND, MainWindow::kMenuRestore, 0);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(IsIconic(window));

    // One About box, however often it is asked for; a key closes it.
    for (int i = 0; i < 2; ++i) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(controlId("cmd_About"), BN_CLICKED),
                     reinterpret_cast<LPARAM>(zelvor.control("cmd_About")));
    }
    const std::vector<HWND> boxes = zelvor.windowsOf(AboutBox::kClassName);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(GetWindow(boxes[0], GW_OWNER), nullptr);
    SendMessageW(boxes[0], WM_KEYDOWN, 'X', 0);
    EXPECT_TRUE(zelvor.windowsOf(AboutBox::kClassName).empty());

    PostMessageW(window, WM_COMMAND, MainWindow::kMenuShutdown, 0);
    ASSERT_EQ(WaitForSingleObject(zelvor.process(), 20000), WAIT_OBJECT_0);
    std::ifstream ini(zelvor.folder() / "zelvor.ini", std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(ini)), {});
    EXPECT_NE(written.find("\r\nPort=" + std::to_string(zelvor.port()) + "\r\n"), std::string::npos)
        << written;
    EXPECT_NE(written.find("\r\nPassword=00\r\n"), std::string::npos) << written;
}

TEST_F(SettingsWindowTest, FolderPickerCancelOpenAndOk)
{
    ZelvorProgram zelvor;
    HWND window = zelvor.window();
    ASSERT_NE(window, nullptr);
    const std::string music = zelvor.folder().mkdir("Music");
    HWND root = zelvor.control("Txt_Serverroot");
    const std::string before = windowText(root);

    const auto openPicker = [&] {
        click(window, "Cmd_svrroot_browse");
        HWND picker = nullptr;
        waitFor([&] {
            const auto found = zelvor.windowsOf(FolderPicker::kClassName);
            picker = found.empty() || !IsWindowVisible(found[0]) ? nullptr : found[0];
            return picker != nullptr;
        });
        return picker;
    };
    const auto finish = [&](HWND picker, UINT message, WPARAM id) {
        PostMessageW(picker, message, id, 0);
        EXPECT_TRUE(waitFor([picker] { return !IsWindowVisible(picker); }));
        zelvor.sync();
    };

    HWND picker = openPicker();
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(windowText(picker), layout::kPickerTitle);
    finish(picker, WM_COMMAND, IDCANCEL);
    EXPECT_EQ(windowText(root), before);
    // Closing through the frame is a Cancel too.
    ASSERT_EQ(openPicker(), picker);
    finish(picker, WM_CLOSE, 0);
    EXPECT_EQ(windowText(root), before);

    // It opens where it was: the program's folder; opening "Music" and OK chooses it.
    ASSERT_EQ(openPicker(), picker);
    HWND list = GetDlgItem(picker, 102);
    const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    LRESULT entry = -1;
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[MAX_PATH] = {};
        SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        if (std::wstring_view(text).ends_with(L" Music"))
            entry = i;
    }
    ASSERT_GE(entry, 0);
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(entry), 0);
    SendMessageW(picker, WM_COMMAND, MAKEWPARAM(102, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
    finish(picker, WM_COMMAND, IDOK);
    EXPECT_EQ(windowText(root), music);
    EXPECT_TRUE(IsWindowEnabled(window));
}

} // namespace
} // namespace zelvor::test
