// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace zelvor {

/**
 * Replaces the file at path with bytes: writes a temporary file in the same folder (mode 0600),
 * flushes it to disk and renames it over path, so path always holds either the old or the whole
 * new content. A symbolic link at path is followed and its target replaced. On failure the old
 * file is untouched, the temporary file is removed and error says why.
 */
bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::string* error = nullptr);

} // namespace zelvor
