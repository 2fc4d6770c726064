// SPDX-License-Identifier: MIT
#include "app/qt/StartupMode.h"

#include "app/UnixSocket.h"

#include <QDir>
#include <QLibraryInfo>

#include <cstdlib>
#include <string>

#include <unistd.h>

#if defined(ZELVOR_HAVE_XCB)
#include <xcb/xcb.h>
#endif

namespace zelvor {

namespace {

[[maybe_unused]] bool isSet(const char* value)
{
    return value && *value;
}

#if !defined(__APPLE__)
bool xDisplayOpens()
{
#if defined(ZELVOR_HAVE_XCB)
    if (!isSet(std::getenv("DISPLAY")))
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool opened = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return opened;
#else
    return false;
#endif
}

bool waylandPluginInstalled()
{
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("*qwayland*")}, QDir::Files).isEmpty();
}
#endif

} // namespace

StartupMode chooseStartupMode(const DisplayFacts& facts)
{
    if (facts.platformNamed || facts.xDisplayOpens)
        return StartupMode::Desktop;
    if (facts.waylandDisplayOpens && facts.waylandPluginInstalled)
        return StartupMode::Wayland;
    return StartupMode::Headless;
}

bool waylandDisplayOpens(const char* waylandDisplay, const char* runtimeDir)
{
    std::string path = isSet(waylandDisplay) ? waylandDisplay : "wayland-0";
    if (path.front() != '/') {
        if (!isSet(runtimeDir))
            return false;
        path = std::string(runtimeDir) + "/" + path;
    }
    const int fd = connectUnix(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

StartupMode startupMode()
{
#if defined(__APPLE__)
    return StartupMode::Desktop;
#else
    DisplayFacts facts;
    facts.platformNamed = isSet(std::getenv("QT_QPA_PLATFORM"));
    facts.xDisplayOpens = !facts.platformNamed && xDisplayOpens();
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    if (!facts.platformNamed && !facts.xDisplayOpens && isSet(waylandDisplay)) {
        facts.waylandDisplayOpens =
            waylandDisplayOpens(waylandDisplay, std::getenv("XDG_RUNTIME_DIR"));
        facts.waylandPluginInstalled = facts.waylandDisplayOpens && waylandPluginInstalled();
    }
    return chooseStartupMode(facts);
#endif
}

} // namespace zelvor
