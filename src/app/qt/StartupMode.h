// SPDX-License-Identifier: MIT
#pragma once

namespace zelvor {

/** How the program runs: Qt's own choice of desktop, Qt's wayland platform, or headless. */
enum class StartupMode
{
    Headless,
    Desktop,
    Wayland,
};

/** What the environment offers for a desktop, as far as can be told before Qt starts. */
struct DisplayFacts
{
    /** QT_QPA_PLATFORM names a platform: Qt takes that one. */
    bool platformNamed = false;
    /** A connection to the X display opens. */
    bool xDisplayOpens = false;
    /** A Wayland compositor accepts a connection on WAYLAND_DISPLAY's socket. */
    bool waylandDisplayOpens = false;
    /** Qt's wayland platform plugin is installed. */
    bool waylandPluginInstalled = false;
};

/**
 * The desktop when one can open: a named platform or an X display as Qt would pick them, else a
 * Wayland compositor through Qt's wayland platform (a session without XWayland); headless only
 * when none of them opens.
 */
StartupMode chooseStartupMode(const DisplayFacts& facts);

/**
 * Whether a Wayland compositor accepts a connection: WAYLAND_DISPLAY (default "wayland-0" when
 * the variable is empty) is the socket's path, or its name in XDG_RUNTIME_DIR.
 */
bool waylandDisplayOpens(const char* waylandDisplay, const char* runtimeDir);

/**
 * The mode for this process, from its environment. Decided before any Qt application object
 * exists, since a display that does not open makes QApplication abort. In Wayland mode the
 * caller sets QT_QPA_PLATFORM to "wayland" before creating the application.
 */
StartupMode startupMode();

} // namespace zelvor
