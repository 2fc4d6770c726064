// SPDX-License-Identifier: MIT
#pragma once

#include "shell/SettingsForm.h"
#include "shell/SettingsLayout.h"
#include "shell/TrayStateMachine.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

struct ServerSettings;
class FolderPicker;
class TrayIcon;

/** What the Windows settings window asks of the rest of the program. */
struct WindowHooks
{
    /** "&Restart": ends any client session and listens again. */
    std::function<void()> restart;
    /** The orderly shutdown: save the settings, close the socket. Runs at most once. */
    std::function<void()> unload;
};

/** The dialog control id of a control of the shared layout. */
constexpr int controlId(std::string_view name)
{
    return 1000 + static_cast<int>(layout::indexOf(name));
}

/**
 * The Windows settings window `frm_server`: the Win32 view of the settings form, with the
 * controls of the shared layout at their twips places (scaled by the monitor's DPI), and the
 * tray's journey through TrayStateMachine. Closing it, "&Shutdown" and the end of the Windows
 * session all run the same orderly unload; the program ends when it is gone.
 */
class MainWindow : private SettingsView, private TrayActions
{
public:
    static constexpr const wchar_t* kClassName = L"ZelvorSettingsWindow";
    /** The tray menu's items, as WM_COMMAND ids. */
    static constexpr int kMenuRestore = 2001;
    static constexpr int kMenuShutdown = 2002;

    MainWindow(ServerSettings& settings, WindowHooks hooks);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND handle() const { return m_window; }
    /** Puts the settings into the controls; the restart warning stays hidden. */
    void loadControls();
    /** Shows a status word (or a note) in the status label. */
    void setStatus(const std::string& text);
    /** Shows the window in the minimized state, as the program starts. */
    void start();
    /** Runs the message loop until the window is gone; returns the exit code. */
    int run();

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK fieldProcedure(HWND field, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR index, DWORD_PTR self);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onField(HWND field, std::string_view name, UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void createControl(std::size_t index);
    void pasteInto(HWND field, std::string_view name);
    void Txt_Port_KeyPress(HWND field, WPARAM key);
    void SysTrayMouseEventHandler();

    void setFieldText(std::string_view field, const std::string& text) override;
    void checkOption(std::string_view option) override;
    void showRestartWarning(bool shown) override;
    void refuseKey() override;
    std::optional<std::string> pickFolder() override;
    std::optional<std::string> pickFile(std::string_view filter,
                                        const std::string& startName) override;
    void showAbout() override;

    void hideWindow() override;
    void showWindowNormal() override;
    void showWindowMinimized() override;
    void AddTrayIcon() override;
    void RemoveTrayIcon() override;
    void reportNoTray() override {}
    void unloadWindow() override;

    HWND item(std::string_view name) const { return m_controls[layout::indexOf(name)]; }
    std::string text(std::string_view name) const;

    SettingsForm m_form;
    TrayStateMachine m_machine{*this};
    WindowHooks m_hooks;
    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    HMENU m_popup = nullptr;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<FolderPicker> m_picker;
    int m_dpi = 96;
    std::array<HWND, layout::kControls.size()> m_controls{};
};

} // namespace zelvor
