// SPDX-License-Identifier: MIT
#pragma once

#include "settings/ServerSettings.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

/**
 * What the settings form asks of the window that shows it. The Qt window and the Win32 window
 * implement it over their own controls, named as in SettingsLayout.h.
 */
class SettingsView
{
public:
    virtual ~SettingsView() = default;
    /** Puts text into the named field; the window reports it back through Change. */
    virtual void setFieldText(std::string_view field, const std::string& text) = 0;
    /** Selects the named option ("Opt_Login(1)") without reporting a click. */
    virtual void checkOption(std::string_view option) = 0;
    virtual void showRestartWarning(bool shown) = 0;
    /** Shows the modal "Please enter in only a number" and returns once it is closed. */
    virtual void refuseKey() = 0;
    /** The folder picker; the chosen folder, or nothing when the pick was cancelled. */
    virtual std::optional<std::string> pickFolder() = 0;
    /**
     * The file-open dialog offering filter ("name|patterns|..."), starting at startName; the
     * chosen file's full path as the field shows it, or nothing when cancelled.
     */
    virtual std::optional<std::string> pickFile(std::string_view filter,
                                                const std::string& startName) = 0;
    virtual void showAbout() = 0;
};

/**
 * The settings window's behaviour, written once for both desktops: the controls edit the live
 * settings record in place, and an edit that only takes effect when the server listens again
 * shows the restart warning until "&Restart". The window is a view that reports each control's
 * event here under the control's name.
 */
class SettingsForm
{
public:
    SettingsForm(ServerSettings& settings, SettingsView& view);

    /**
     * Puts the record into the controls, field by field in the settings file's order. Loading
     * is no edit of the user's: the record keeps its bytes and the warning ends hidden.
     */
    void load();
    /** A field's text changed (typed, pasted or set by a Browse); false for no such field. */
    bool Change(std::string_view field, const std::string& text);
    /** A button or an option was clicked; false for a control that has no click. */
    bool Click(std::string_view control);
    /** A character typed in the port field: true when it goes in. Every key shows the warning. */
    bool Txt_Port_KeyPress(char16_t key);

    /** The most bytes the named field takes; SIZE_MAX when it has no limit. */
    static std::size_t byteLimit(std::string_view field);
    bool restartWarningShown() const { return m_warningShown; }

    /** Runs on "&Restart" after the warning is hidden: ends any session, listens again. */
    std::function<void()> restart;

private:
    void setRestartWarning(bool shown);
    void Cmd_Start_Click();
    void Cmd_svrroot_browse_Click();
    void Cmd_WinampLoc_Browse_Click();
    void Cmd_Log_Browse_Click();
    /** Puts the file picked with the filter into the field. */
    void browseFile(std::string_view filter, std::string_view field);

    ServerSettings& m_settings;
    SettingsView& m_view;
    bool m_loading = false;
    bool m_warningShown = false;
    /** The file name the file-open dialog keeps between uses by both file Browse buttons. */
    std::string m_fileName;
};

/**
 * Whether the captions fit their controls in a font: no label's caption (access key left out)
 * may reach the field it names, and no button's may come within 6 pixels of its edges.
 * textWidth measures a text in the font in pixels; pixels converts a twips length.
 */
bool captionsFit(const std::function<int(std::string_view)>& textWidth,
                 const std::function<int(int)>& pixels);

} // namespace zelvor
