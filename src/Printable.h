// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace zelvor {

/**
 * The text with each control byte (below 32, and 127) shown as "?": a word that a client typed
 * or a player sent is shown on a terminal or written to the log, where a control byte would act
 * on the terminal or start a new entry instead of being read.
 */
inline std::string printable(std::string_view text)
{
    std::string shown(text);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127)
            c = '?';
    }
    return shown;
}

} // namespace zelvor
