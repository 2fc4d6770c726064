// SPDX-License-Identifier: MIT
#include "settings/PasswordScrambling.h"

#include <cstddef>
#include <optional>

namespace zelvor {

namespace {

std::optional<unsigned> hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    return std::nullopt;
}

// Reads like a hex conversion that stops at the first non-digit: "G1" is 0, "1G" is 1.
unsigned char groupValue(std::string_view group)
{
    unsigned value = 0;
    for (char c : group) {
        const auto digit = hexDigitValue(c);
        if (!digit)
            break;
        value = value * 16 + *digit;
    }
    return static_cast<unsigned char>(value);
}

bool prefixMatchesRest(std::string_view stored, std::size_t digits)
{
    if (stored.size() < digits)
        return false;
    std::size_t value = 0;
    for (char c : stored.substr(0, digits)) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value == stored.size() - digits;
}

// Passwords of 50 bytes and more are written with a three-digit prefix (four from 500 on, five
// from 5,000 on, and so on). Older readers always dropped two characters; forms with a two-digit
// prefix that fits still read exactly as they did. A prefix can only fit at its own length: a
// shorter run of its digits stands for a smaller number than the rest is long.
std::string_view storedBody(std::string_view stored)
{
    constexpr std::size_t kMostDigits = 19; // the largest prefix that fits in 64 bits
    for (std::size_t digits = 2; digits <= kMostDigits; ++digits) {
        if (prefixMatchesRest(stored, digits))
            return stored.substr(digits);
    }
    return stored.size() > 2 ? stored.substr(2) : std::string_view{};
}

} // namespace

std::string XorWithKey(std::string_view key, std::string_view text)
{
    std::string result(text);
    if (key.empty())
        return result;
    for (std::size_t i = 0; i < result.size(); ++i) {
        const auto k = static_cast<unsigned char>(key[i % key.size()]);
        result[i] = static_cast<char>(static_cast<unsigned char>(result[i]) ^ k);
    }
    return result;
}

std::string EncryptPassword(std::string_view password)
{
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const std::string scrambled = XorWithKey(kPasswordKey, password);
    std::string body;
    body.reserve(scrambled.size() * 2);
    for (char c : scrambled) {
        const auto code = static_cast<unsigned char>(c);
        body += kHexDigits[code >> 4];
        body += kHexDigits[code & 0x0F];
    }
    std::string prefix = std::to_string(body.size());
    if (prefix.size() < 2)
        prefix.insert(0, 1, '0');
    return prefix + body;
}

std::string DecryptPassword(std::string_view stored)
{
    const std::string_view body = storedBody(stored);
    std::string scrambled;
    scrambled.reserve(body.size() / 2 + 1);
    for (std::size_t i = 0; i < body.size(); i += 2)
        scrambled += static_cast<char>(groupValue(body.substr(i, 2)));
    return XorWithKey(kPasswordKey, scrambled);
}

} // namespace zelvor
