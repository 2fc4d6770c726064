// SPDX-License-Identifier: MIT
#include "settings/ListenAddress.h"

#include <charconv>
#include <cstddef>

namespace zelvor {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/** Four decimal numbers from 0 to 255, joined by dots, without leading zeros. */
bool isIpv4(std::string_view text)
{
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.')
                return false;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && isDigit(text[digits]) && digits < 3)
            value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
        if (digits == 0 || value > 255 || (digits > 1 && text.front() == '0'))
            return false;
        text.remove_prefix(digits);
    }
    return text.empty();
}

/** Colon-separated groups of 1 to 4 hex digits; the last may be an IPv4 address. */
bool countGroups(std::string_view text, int& groups)
{
    groups = 0;
    if (text.empty())
        return true;
    for (;;) {
        const auto colon = text.find(':');
        const std::string_view group = text.substr(0, colon);
        if (colon == std::string_view::npos && isIpv4(group)) {
            groups += 2;
            return true;
        }
        if (group.empty() || group.size() > 4)
            return false;
        for (const char c : group)
            if (!isHexDigit(c))
                return false;
        ++groups;
        if (colon == std::string_view::npos)
            return true;
        text.remove_prefix(colon + 1);
    }
}

/** Eight groups, or fewer with one "::" standing for the missing ones. */
bool isIpv6(std::string_view text)
{
    const auto gap = text.find("::");
    int before = 0;
    int after = 0;
    if (gap == std::string_view::npos)
        return countGroups(text, before) && before == 8;
    const std::string_view tail = text.substr(gap + 2);
    if (tail.find("::") != std::string_view::npos)
        return false;
    return countGroups(text.substr(0, gap), before) && countGroups(tail, after) &&
           before + after < 8;
}

} // namespace

std::optional<std::string> listenAddress(std::string_view text)
{
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    else if (text.empty() || isIpv4(text))
        return std::string(text);
    if (isIpv6(text))
        return std::string(text);
    return std::nullopt;
}

std::uint16_t parsePort(std::string_view text)
{
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < 1 || value > 65535)
        return 0;
    return static_cast<std::uint16_t>(value);
}

} // namespace zelvor
