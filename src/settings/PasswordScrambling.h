// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

// mod_crypt: hides the login password from a casual reader of the settings file. It is no
// protection against anyone who knows the key.
namespace zelvor {

/** The key built into the program; its characters are all ASCII. */
inline constexpr std::string_view kPasswordKey = "q7mr2k9tdw3vjn6p";

/**
 * Each byte of text XOR the key byte at the same position, the key repeating after its last
 * byte. The result has the length of text and may hold NUL bytes; an empty key changes nothing.
 */
std::string XorWithKey(std::string_view key, std::string_view text);

/**
 * The stored form of a password: the body length in decimal (at least two digits) followed by
 * two upper-case hexadecimal digits per password byte. "00" for the empty password.
 */
std::string EncryptPassword(std::string_view password);

/**
 * The password of a stored form. Never fails: a damaged form simply yields another password.
 * A decimal prefix of two or more digits is honoured when it equals the length of the rest;
 * otherwise the first two characters are dropped, as older versions always did.
 */
std::string DecryptPassword(std::string_view stored);

} // namespace zelvor
