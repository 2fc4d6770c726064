// SPDX-License-Identifier: MIT
#include "settings/ListenAddress.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace zelvor {
namespace {

TEST(ListenAddress, NumericAddressesOnly)
{
    struct Row
    {
        const char* text;
        std::optional<std::string> address;
    };
    const Row rows[] = {
        {"", ""},
        {"127.0.0.1", "127.0.0.1"},
        {"0.0.0.0", "0.0.0.0"},
        {"192.168.1.255", "192.168.1.255"},
        {"::1", "::1"},
        {"[::1]", "::1"},
        {"::", "::"},
        {"fe80::1:2", "fe80::1:2"},
        {"2001:db8:0:0:0:0:0:1", "2001:db8:0:0:0:0:0:1"},
        {"::ffff:192.0.2.7", "::ffff:192.0.2.7"},
        {"localhost", std::nullopt},
        {"256.0.0.1", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"01.2.3.4", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1..3.4", std::nullopt},
        {"[1.2.3.4]", std::nullopt},
        {"[]", std::nullopt},
        {"[::1", std::nullopt},
        {":::", std::nullopt},
        {"1::2::3", std::nullopt},
        {"1:2:3:4:5:6:7", std::nullopt},
        {"1:2:3:4:5:6:7:8:9", std::nullopt},
        {"1:2:3:4:5:6:7::8", std::nullopt},
        {"12345::", std::nullopt},
        {"g::1", std::nullopt},
        {"fe80::1%eth0", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(listenAddress(row.text), row.address) << '"' << row.text << '"';
}

TEST(PortText, IsANumberFromOneTo65535AndNothingMore)
{
    const std::pair<std::string_view, std::uint16_t> rows[] = {
        {"23", 23},       {"1", 1},
        {"65535", 65535}, {"00080", 80},
        {"0", 0},         {"65536", 0},
        {"", 0},          {"-1", 0},
        {"+23", 0},       {" 23", 0},
        {"23 ", 0},       {"2 3", 0},
        {"0x17", 0},      {"99999999999999", 0},
        {"23\n", 0},      {"\xd9\xa3", 0}, // an Arabic-Indic digit is no digit here
    };
    for (const auto& [text, port] : rows)
        EXPECT_EQ(parsePort(text), port) << '"' << text << '"';
}

} // namespace
} // namespace zelvor
