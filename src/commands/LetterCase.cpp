// SPDX-License-Identifier: MIT
#include "commands/LetterCase.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#endif

#include <cstdint>

namespace zelvor {

#ifdef _WIN32

std::optional<std::u32string> caseLetters(std::string_view name)
{
    if (name.empty())
        return std::u32string();
    const int size = static_cast<int>(name.size());
    const int wide =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, nullptr, 0);
    if (wide <= 0)
        return std::nullopt;
    std::wstring units(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, units.data(), wide);
    return std::u32string(units.begin(), units.end());
}

namespace {

// The UTF-16 units back from their widened form, for the system's comparison.
std::wstring utf16Units(std::u32string_view letters)
{
    std::wstring units;
    units.reserve(letters.size());
    for (const char32_t unit : letters)
        units.push_back(static_cast<wchar_t>(unit));
    return units;
}

} // namespace

// CompareStringOrdinal ignoring case maps both sides through the system's upper-case table,
// the same one NTFS uses to tell whether two names are the same file.
bool sameLetter(char32_t a, char32_t b)
{
    if (a == b)
        return true;
    const auto x = static_cast<wchar_t>(a);
    const auto y = static_cast<wchar_t>(b);
    return CompareStringOrdinal(&x, 1, &y, 1, TRUE) == CSTR_EQUAL;
}

bool sameLetters(std::u32string_view a, std::u32string_view b)
{
    if (a.size() != b.size())
        return false;
    const auto x = utf16Units(a);
    const auto y = utf16Units(b);
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(),
                                static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

#else

std::optional<std::u32string> caseLetters(std::string_view name)
{
    std::u32string letters;
    letters.reserve(name.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    const auto length = static_cast<std::int32_t>(name.size());
    std::int32_t at = 0;
    while (at < length) {
        UChar32 c = 0;
        // Ill-formed sequences, overlong forms and surrogates give a negative code point.
        U8_NEXT(bytes, at, length, c);
        if (c < 0)
            return std::nullopt;
        // Simple folding keeps one letter for one letter ("ß" stays "ß"), as file names do.
        letters.push_back(static_cast<char32_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT)));
    }
    return letters;
}

bool sameLetter(char32_t a, char32_t b)
{
    return a == b;
}

bool sameLetters(std::u32string_view a, std::u32string_view b)
{
    return a == b;
}

#endif

} // namespace zelvor
