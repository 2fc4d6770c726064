// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace zelvor {

/** The client connection as the protocol code sees it: bytes out, one write per call. */
class Connection
{
public:
    virtual ~Connection() = default;
    virtual void send(std::string_view bytes) = 0;
};

} // namespace zelvor
