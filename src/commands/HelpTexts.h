// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace zelvor {

class Connection;

/**
 * "help": the argument without its first character (the separating blank) is the topic. A
 * verb's name sends that verb's description, anything else the overview; one send either way.
 */
void SendHelp(std::string_view argument, Connection& connection);

} // namespace zelvor
