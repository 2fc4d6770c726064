// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <utility>

namespace zelvor {

/** Puts the reason into error, when the caller asked for one, and returns false. */
inline bool failWith(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

} // namespace zelvor
