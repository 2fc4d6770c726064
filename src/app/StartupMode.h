// SPDX-License-Identifier: MIT
#pragma once

namespace zelvor {

/**
 * Whether the desktop shell can run: a platform plugin was named in QT_QPA_PLATFORM, or a
 * connection to the X display really opens. Decided before any Qt application object exists,
 * since a DISPLAY that points at no server makes QApplication abort.
 */
bool desktopAvailable();

} // namespace zelvor
