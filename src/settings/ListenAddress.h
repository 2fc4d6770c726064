// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
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

/** The port text as a TCP port, or 0 when it is no number from 1 to 65535. */
std::uint16_t parsePort(std::string_view text);

} // namespace zelvor
