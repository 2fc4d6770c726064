// SPDX-License-Identifier: MIT
#pragma once

// The settings window as both desktop shells build it: every control's name, kind, caption and
// place, the focus order and the window's own texts. The Qt window and the Win32 window read
// this one table, so they cannot drift apart.

#include "settings/ServerSettings.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace zelvor::layout {

/** Left, top, width and height in twips (1/1440 inch; 15 twips a pixel at 96 DPI). */
struct Twips
{
    int left;
    int top;
    int width;
    int height;
};

enum class Kind
{
    Group,
    Label,
    /** A label whose text is centred: the status word and the restart warning. */
    CentredLabel,
    /** A label whose text is set against its right edge, beside the field it names. */
    RightLabel,
    Field,
    Button,
    /** An option button; its name carries its index, "Opt_Logging(1)". */
    Option,
};

struct Control
{
    std::string_view name;
    Kind kind;
    std::string_view caption;
    /** The group it sits in, empty for the window itself; its place is relative to that. */
    std::string_view group;
    Twips place;
    /** For a label: the field its access key moves to. */
    std::string_view buddy = {};
};

inline constexpr std::string_view kTitle = "Tollomere";
inline constexpr int kClientWidth = 6810;
inline constexpr int kClientHeight = 4230;
inline constexpr std::string_view kRestartWarning = "Restart Server For Changes to Take Effect";
inline constexpr std::string_view kInvalidKeyText = "Please enter in only a number";
inline constexpr std::string_view kInvalidKeyTitle = "Invalid Entry";
inline constexpr std::string_view kPlayerFilter =
    "Winamp (winamp.exe)|winamp.exe|All Files (*.*)|*.*|";
inline constexpr std::string_view kLogFilter =
    "Text Files (*.txt, *.log)|*.txt;*.log|All Files (*.*)|*.*|";
inline constexpr std::string_view kRestoreCaption = "&Restore";
inline constexpr std::string_view kShutdownCaption = "&Shutdown";
/** The About box: its client area, the places of its title, version line and notice (twips). */
inline constexpr int kAboutWidth = 5655;
inline constexpr int kAboutHeight = 3315;
inline constexpr std::string_view kAboutTitle = "Zelvor";
inline constexpr Twips kAboutTitlePlace{1620, 240, 3735, 315};
inline constexpr Twips kAboutVersionPlace{1560, 720, 3915, 315};
inline constexpr Twips kAboutNoticePlace{1620, 1320, 3855, 1815};
inline constexpr std::string_view kAboutNotice =
    "Zelvor lets one person at a time run this computer's music player from a telnet client "
    "anywhere on the network: play, pause, skip, set the volume and load music from the shared "
    "folders. It is free software, offered as it is, without any warranty.";
/** The folder picker: title, client area in twips, and the answer of a cancelled pick. */
inline constexpr std::string_view kPickerTitle = "Paint File Location";
inline constexpr int kPickerWidth = 3720;
inline constexpr int kPickerHeight = 3630;
inline constexpr std::string_view kPickerCancelled = "-1";
/** The group an option's name names: "Opt_Login" of "Opt_Login(1)". */
constexpr std::string_view optionGroup(std::string_view option)
{
    return option.substr(0, option.find('('));
}
/** The index an option's name carries: 1 of "Opt_Login(1)". */
constexpr int optionIndex(std::string_view option)
{
    return option[option.size() - 2] - '0';
}
/** "Version: 1.0.7": major, minor and revision of the release. */
std::string aboutVersionLine();
/** The restart warning's dark red. */
inline constexpr int kWarningRed = 192;
/** The user name and password fields take at most this many bytes. */
inline constexpr int kCredentialLimit = static_cast<int>(kMaxLineLength);

inline constexpr std::array kControls{
    Control{"frm_serverinfo", Kind::Group, "Server Settings", {}, {120, 120, 4995, 2115}},
    Control{"frm_Status", Kind::Group, "Status", {}, {5220, 120, 1455, 855}},
    Control{"cmd_About", Kind::Button, "A&bout", {}, {5400, 1800, 1215, 375}},
    Control{"frm_logging", Kind::Group, "Server Log", {}, {120, 2340, 3555, 1815}},
    Control{"frm_users", Kind::Group, "User Authentication", {}, {3840, 2340, 2835, 1815}},

    Control{"lbl_server_port",
            Kind::Label,
            "&Port:",
            "frm_serverinfo",
            {720, 360, 495, 255},
            "Txt_Port"},
    Control{"Txt_Port", Kind::Field, "23", "frm_serverinfo", {1200, 360, 615, 315}},
    Control{"lbl_rootfolder",
            Kind::Label,
            "&Server Root:",
            "frm_serverinfo",
            {240, 840, 1575, 255},
            "Txt_Serverroot"},
    Control{"Txt_Serverroot", Kind::Field, "", "frm_serverinfo", {1200, 840, 2895, 285}},
    Control{"Cmd_svrroot_browse", Kind::Button, "Browse", "frm_serverinfo", {4200, 840, 675, 315}},
    Control{"lbl_winamp_location",
            Kind::Label,
            "&Winamp.exe:",
            "frm_serverinfo",
            {120, 1260, 1575, 255},
            "Txt_Winamp_Location"},
    Control{"Txt_Winamp_Location", Kind::Field, "", "frm_serverinfo", {1200, 1260, 2895, 285}},
    Control{
        "Cmd_WinampLoc_Browse", Kind::Button, "Browse", "frm_serverinfo", {4200, 1260, 675, 315}},
    Control{"lbl_restartwarning",
            Kind::CentredLabel,
            kRestartWarning,
            "frm_serverinfo",
            {60, 1740, 3615, 255}},
    Control{"Cmd_Start", Kind::Button, "&Restart", "frm_serverinfo", {3780, 1680, 1095, 375}},

    Control{"Lbl_Status", Kind::CentredLabel, "running", "frm_Status", {120, 360, 1215, 315}},

    Control{"Opt_Logging(0)", Kind::Option, "&Off", "frm_logging", {240, 300, 1695, 315}},
    Control{
        "Opt_Logging(1)", Kind::Option, "&Connections Only", "frm_logging", {240, 600, 2175, 375}},
    Control{"Opt_Logging(2)", Kind::Option, "&All Activity", "frm_logging", {240, 960, 2175, 375}},
    Control{"Txt_Logfile", Kind::Field, "", "frm_logging", {120, 1380, 2415, 315}},
    Control{"Cmd_Log_Browse", Kind::Button, "Browse", "frm_logging", {2700, 1380, 675, 315}},

    Control{"Opt_Login(0)", Kind::Option, "O&ff", "frm_users", {240, 300, 1695, 315}},
    Control{"Opt_Login(1)", Kind::Option, "O&n", "frm_users", {240, 600, 2175, 375}},
    Control{"Label1", Kind::RightLabel, "Name:", "frm_users", {180, 1020, 735, 255}, "Txt_Uname"},
    Control{"Txt_Uname", Kind::Field, "", "frm_users", {960, 1020, 1455, 315}},
    Control{
        "lbl_passwd", Kind::RightLabel, "Pass:", "frm_users", {120, 1380, 795, 315}, "Txt_Passwd"},
    Control{"Txt_Passwd", Kind::Field, "", "frm_users", {960, 1380, 1455, 315}},
};

/** The keyboard focus order. */
inline constexpr std::array<std::string_view, 16> kFocusOrder{
    "Cmd_Start",           "Txt_Port",
    "Txt_Serverroot",      "Cmd_svrroot_browse",
    "Txt_Winamp_Location", "Cmd_WinampLoc_Browse",
    "Opt_Logging(0)",      "Opt_Logging(1)",
    "Opt_Logging(2)",      "Txt_Logfile",
    "Cmd_Log_Browse",      "Opt_Login(0)",
    "Opt_Login(1)",        "Txt_Uname",
    "Txt_Passwd",          "cmd_About",
};

/** The position of the named control in kControls; kControls.size() when there is none. */
constexpr std::size_t indexOf(std::string_view name)
{
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        if (kControls[i].name == name)
            return i;
    }
    return kControls.size();
}

/** The named control; the name must be one of the table's. */
constexpr const Control& control(std::string_view name)
{
    return kControls[indexOf(name)];
}

/** The control's place relative to the window's client area, in twips. */
constexpr Twips placeInWindow(const Control& item)
{
    if (item.group.empty())
        return item.place;
    const Twips group = control(item.group).place;
    return {group.left + item.place.left, group.top + item.place.top, item.place.width,
            item.place.height};
}

/** Twips as pixels at the given dots per inch, rounded to the nearest. */
constexpr int twipsToPixels(int twips, int dpi)
{
    return (twips * dpi + 720) / 1440;
}

} // namespace zelvor::layout
