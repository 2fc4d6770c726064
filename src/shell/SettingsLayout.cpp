// SPDX-License-Identifier: MIT
#include "shell/SettingsLayout.h"

#include "Version.h"

namespace zelvor::layout {

std::string aboutVersionLine()
{
    return "Version: " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

} // namespace zelvor::layout
