// SPDX-License-Identifier: MIT
#include "app/StartupMode.h"

#include <cstdlib>

#if defined(ZELVOR_HAVE_XCB)
#include <xcb/xcb.h>
#endif

namespace zelvor {

bool desktopAvailable()
{
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
#if defined(ZELVOR_HAVE_XCB)
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool opened = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return opened;
#else
    return false;
#endif
#endif
}

} // namespace zelvor
