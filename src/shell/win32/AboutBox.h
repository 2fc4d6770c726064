// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

namespace zelvor {

/**
 * The About box `frm_About`: the program icon, "Zelvor", the version line and the notice on
 * white, without title or buttons. There is at most one; a click or a key closes it.
 */
class AboutBox
{
public:
    static constexpr const wchar_t* kClassName = L"ZelvorAboutBox";

    /** Shows the one About box centred on the screen, creating it when it is not open. */
    static void show(HICON icon, int dpi);
    /** Closes the box when it is open. */
    static void close();
};

} // namespace zelvor
