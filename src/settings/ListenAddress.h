// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

/**
 * The address that "Listen Address" and --listen give, as the listener takes it: empty for
 * every interface, a dotted IPv4 address, or an IPv6 address with or without its brackets
 * (returned without). Anything else, a host name included, gives nullopt.
 */
std::optional<std::string> listenAddress(std::string_view text);

} // namespace zelvor
