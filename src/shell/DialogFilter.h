// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

/** One choice of a file dialog's file-type list. */
struct DialogFilterEntry
{
    std::string Name;
    std::vector<std::string> Patterns;
};

/**
 * Splits a filter of the form "name|pattern;pattern|name|pattern|" into its entries. The
 * pattern "*.*" becomes "*": it matches every file, names without a dot included. An entry
 * without patterns is left out.
 */
std::vector<DialogFilterEntry> parseDialogFilter(std::string_view filter);

} // namespace zelvor
