// SPDX-License-Identifier: MIT
#include "settings/PasswordScrambling.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace zelvor {
namespace {

using namespace std::string_literals;

TEST(PasswordScrambling, EmptyPasswordIsStoredAsDoubleZero)
{
    EXPECT_EQ(EncryptPassword(""), "00");
    EXPECT_EQ(DecryptPassword("00"), "");
    EXPECT_EQ(DecryptPassword(""), "");
}

TEST(PasswordScrambling, FiveCharactersGiveTenUpperCaseDigitsAfterPrefix)
{
    // 'a'^'q' = 10, 'b'^'7' = 55, 'c'^'m' = 0E, 'd'^'r' = 16, 'e'^'2' = 57
    EXPECT_EQ(EncryptPassword("abcde"), "1010550E1657");
    EXPECT_EQ(DecryptPassword("1010550E1657"), "abcde");
}

TEST(PasswordScrambling, CharacterEqualToKeyCharacterGivesNulAndZeroDigits)
{
    EXPECT_EQ(XorWithKey(kPasswordKey, "q7"), "\0\0"s);
    EXPECT_EQ(EncryptPassword("q7m"), "06000000");
    EXPECT_EQ(DecryptPassword("06000000"), "q7m");
}

TEST(PasswordScrambling, SeventeenthCharacterUsesFirstKeyCharacterAgain)
{
    const std::string stored = EncryptPassword(std::string(kPasswordKey) + "q");
    EXPECT_EQ(stored, "34" + std::string(34, '0'));
}

TEST(PasswordScrambling, LowerCaseDigitsAndUnfittingPrefixReadTheSame)
{
    EXPECT_EQ(DecryptPassword("1010550e1657"), "abcde");
    EXPECT_EQ(DecryptPassword("9910550E1657"), "abcde");
}

TEST(PasswordScrambling, LongPasswordsGetAPrefixThatFitsTheirLength)
{
    const std::string password(50, 'x');
    const std::string stored = EncryptPassword(password);
    EXPECT_EQ(stored.substr(0, 3), "100");
    EXPECT_EQ(stored.size(), 103u);
    EXPECT_EQ(EncryptPassword(std::string(500, 'x')).substr(0, 4), "1000");
}

TEST(PasswordScrambling, ShortAndDamagedFormsGiveSomePasswordWithoutFailing)
{
    struct Row
    {
        const char* name;
        std::string stored;
        std::string codes; // what the body reads as, before the key is taken off
    };
    const Row rows[] = {
        {"one character", "0", ""},
        {"prefix only", "12", ""},
        {"group without digit", "02G1", "\x00"s},
        {"group stops at non-digit", "021G", "\x01"},
        {"odd trailing digit", "03105", "\x10\x05"},
        {"prefix not decimal", "xx10", "\x10"},
        {"two-digit prefix too large", "0510", "\x10"},
        {"no prefix fits", "1001055", "\x01\x05\x05"},
        {"three-digit prefix fits", "003abc", "\xab\x0c"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DecryptPassword(row.stored), XorWithKey(kPasswordKey, row.codes));
    }
}

TEST(PasswordScrambling, EveryLengthWithAnyBytesSurvivesTheRoundTrip)
{
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t length = 0; length <= 80; ++length) {
        std::string password;
        for (std::size_t i = 0; i < length; ++i)
            password += static_cast<char>(byte(random));
        if (length >= 2) {
            password[0] = '\0';
            password[1] = '\xff';
        }
        SCOPED_TRACE(length);
        EXPECT_EQ(DecryptPassword(EncryptPassword(password)), password);
    }
    const std::string veryLong(600, '\x80');
    EXPECT_EQ(DecryptPassword(EncryptPassword(veryLong)), veryLong);
}

} // namespace
} // namespace zelvor
