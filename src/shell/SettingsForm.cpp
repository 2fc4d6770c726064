// SPDX-License-Identifier: MIT
#include "shell/SettingsForm.h"

#include "shell/NumericKeyFilter.h"
#include "shell/SettingsLayout.h"

#include <array>
#include <limits>

namespace zelvor {
namespace {

struct FieldBinding
{
    std::string_view name;
    std::string ServerSettings::*setting;
    /** The server reads it only when it listens again. */
    bool needsRestart;
    std::size_t byteLimit = std::numeric_limits<std::size_t>::max();
};

// In the settings file's order. The port's warning comes from its key filter, so that pasting
// or loading a port shows none; user name and password are read at every login. Credentials
// longer than a client's input line could be stored but never typed.
constexpr std::array kFields{
    FieldBinding{"Txt_Port", &ServerSettings::Port, false},
    FieldBinding{"Txt_Serverroot", &ServerSettings::ServerRoot, true},
    FieldBinding{"Txt_Winamp_Location", &ServerSettings::WinampLocation, true},
    FieldBinding{"Txt_Logfile", &ServerSettings::LogFile, true},
    FieldBinding{"Txt_Uname", &ServerSettings::UserName, false, kMaxLineLength},
    FieldBinding{"Txt_Passwd", &ServerSettings::Password, false, kMaxLineLength},
};

const FieldBinding* binding(std::string_view field)
{
    for (const FieldBinding& row : kFields) {
        if (row.name == field)
            return &row;
    }
    return nullptr;
}

/** The index of an option of the group ("Opt_Login(1)" of "Opt_Login" is 1), else -1. */
int optionIndex(std::string_view name, std::string_view group)
{
    if (name.size() != group.size() + 3 || layout::optionGroup(name) != group || name.back() != ')')
        return -1;
    const int index = layout::optionIndex(name);
    return index >= 0 && index <= 9 ? index : -1;
}

std::string optionName(std::string_view group, int index)
{
    return std::string(group) + "(" + std::to_string(index) + ")";
}

} // namespace

SettingsForm::SettingsForm(ServerSettings& settings, SettingsView& view)
    : m_settings(settings), m_view(view)
{}

void SettingsForm::load()
{
    m_loading = true;
    const auto put = [this](std::string_view field) {
        m_view.setFieldText(field, m_settings.*binding(field)->setting);
    };
    put("Txt_Port");
    put("Txt_Serverroot");
    put("Txt_Winamp_Location");
    m_view.checkOption(optionName("Opt_Logging", static_cast<int>(m_settings.LogLevel)));
    m_view.checkOption(optionName("Opt_Login", m_settings.LoginRequired ? 1 : 0));
    put("Txt_Logfile");
    put("Txt_Uname");
    put("Txt_Passwd");
    m_loading = false;
    setRestartWarning(false);
}

bool SettingsForm::Change(std::string_view field, const std::string& text)
{
    const FieldBinding* row = binding(field);
    if (!row)
        return false;
    // While loading, the record already holds the value, byte for byte.
    if (m_loading)
        return true;
    m_settings.*row->setting = text;
    if (row->needsRestart)
        setRestartWarning(true);
    return true;
}

bool SettingsForm::Click(std::string_view control)
{
    if (const int level = optionIndex(control, "Opt_Logging"); level >= 0 && level <= 2) {
        if (!m_loading) {
            m_settings.LogLevel = static_cast<LogLevel>(level);
            setRestartWarning(true);
        }
    } else if (const int login = optionIndex(control, "Opt_Login"); login >= 0 && login <= 1) {
        if (!m_loading) {
            m_settings.LoginRequired = login == 1;
            setRestartWarning(true);
        }
    } else if (control == "Cmd_Start") {
        Cmd_Start_Click();
    } else if (control == "Cmd_svrroot_browse") {
        Cmd_svrroot_browse_Click();
    } else if (control == "Cmd_WinampLoc_Browse") {
        Cmd_WinampLoc_Browse_Click();
    } else if (control == "Cmd_Log_Browse") {
        Cmd_Log_Browse_Click();
    } else if (control == "cmd_About") {
        m_view.showAbout();
    } else {
        return false;
    }
    return true;
}

bool SettingsForm::Txt_Port_KeyPress(char16_t key)
{
    NumericKeySwitches switches;
    switches.Backspace = true;
    const KeyVerdict verdict = classifyNumericKey(key, switches);
    if (verdict == KeyVerdict::Refuse)
        m_view.refuseKey();
    setRestartWarning(true);
    return verdict == KeyVerdict::Pass;
}

std::size_t SettingsForm::byteLimit(std::string_view field)
{
    const FieldBinding* row = binding(field);
    return row ? row->byteLimit : std::numeric_limits<std::size_t>::max();
}

void SettingsForm::setRestartWarning(bool shown)
{
    m_warningShown = shown;
    m_view.showRestartWarning(shown);
}

void SettingsForm::Cmd_Start_Click()
{
    setRestartWarning(false);
    if (restart)
        restart();
}

void SettingsForm::Cmd_svrroot_browse_Click()
{
    if (const auto folder = m_view.pickFolder())
        m_view.setFieldText("Txt_Serverroot", *folder);
}

void SettingsForm::Cmd_WinampLoc_Browse_Click()
{
    // The file name is kept: the dialog starts at whatever either button chose last.
    browseFile(layout::kPlayerFilter, "Txt_Winamp_Location");
}

void SettingsForm::Cmd_Log_Browse_Click()
{
    m_fileName.clear();
    browseFile(layout::kLogFilter, "Txt_Logfile");
}

void SettingsForm::browseFile(std::string_view filter, std::string_view field)
{
    if (const auto file = m_view.pickFile(filter, m_fileName)) {
        m_fileName = *file;
        m_view.setFieldText(field, *file);
    }
}

bool captionsFit(const std::function<int(std::string_view)>& textWidth,
                 const std::function<int(int)>& pixels)
{
    for (const layout::Control& control : layout::kControls) {
        std::string caption(control.caption);
        std::erase(caption, '&');
        if (control.kind == layout::Kind::Label && !control.buddy.empty()) {
            const int room =
                pixels(layout::control(control.buddy).place.left) - pixels(control.place.left);
            if (textWidth(caption) >= room)
                return false;
        } else if (control.kind == layout::Kind::Button &&
                   textWidth(caption) + 6 > pixels(control.place.width)) {
            return false;
        }
    }
    return true;
}

} // namespace zelvor
