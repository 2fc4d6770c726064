// SPDX-License-Identifier: MIT
#include "settings/IniFile.h"

#include "settings/AtomicFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace zelvor {
namespace {

using test::readFile;
using test::TempDir;
namespace fs = std::filesystem;

// One value read from a file, and one set in a file, the way the settings file does it.
std::string readValue(const std::string& section, const std::string& key, const std::string& path)
{
    std::string text;
    if (readIniFile(path, text) != IniFileState::Read)
        return {};
    return std::string(findIniValue(text, section, key).value_or(""));
}

bool writeValue(const std::string& section, const std::string& key, const std::string& value,
                const std::string& path, std::string* error = nullptr)
{
    std::string text;
    if (readIniFile(path, text, error) == IniFileState::Unreadable)
        return false;
    if (!setIniValue(text, section, key, value)) {
        if (error)
            *error = "cannot store " + key;
        return false;
    }
    return writeFileAtomically(path, text, error);
}

TEST(IniRead, NamesMatchWithoutCaseAndBlanksAreIgnored)
{
    const std::string text = "[ zelVOR ]\r\n  PORT  =  2323  \r\nserver root=\t/music box \r\n";
    EXPECT_EQ(findIniValue(text, "Zelvor", "Port"), "2323");
    EXPECT_EQ(findIniValue(text, "Zelvor", "Server Root"), "/music box");
}

TEST(IniRead, LfOnlyAndCrLfFilesReadAlike)
{
    TempDir dir;
    const auto lf = dir.write("lf.ini", "[Zelvor]\nUser=bob\nPort=7").string();
    const auto crlf = dir.write("crlf.ini", "[Zelvor]\r\nUser=bob\r\nPort=7\r\n").string();
    for (const auto& path : {lf, crlf}) {
        EXPECT_EQ(readValue("Zelvor", "User", path), "bob");
        EXPECT_EQ(readValue("Zelvor", "Port", path), "7");
    }
}

TEST(IniRead, MissingFileSectionOrKeyGivesEmptyText)
{
    TempDir dir;
    const auto path = dir.write("z.ini", "Port=1\r\n[Other]\r\nPort=2\r\n[Zelvor]\r\nUser=u\r\n");
    EXPECT_EQ(readValue("Zelvor", "Port", (dir.path() / "none.ini").string()), "");
    EXPECT_EQ(readValue("Missing", "User", path.string()), "");
    EXPECT_EQ(readValue("Zelvor", "Port", path.string()), "");
    EXPECT_EQ(readValue("Other", "Port", path.string()), "2");
}

TEST(IniRead, GarbageIsUnreadableOrEmptyButNeverFatal)
{
    TempDir dir;
    std::string error;
    std::string text;
    EXPECT_EQ(readIniFile(dir.mkdir("folder.ini").string(), text, &error),
              IniFileState::Unreadable);
    EXPECT_NE(error, "");
    const auto big = dir.write("big.ini", "[Zelvor]\r\nPort=1\r\n" + std::string(2 << 20, 'x'));
    EXPECT_EQ(readIniFile(big.string(), text, &error), IniFileState::Unreadable);
    EXPECT_EQ(readValue("Zelvor", "Port", big.string()), "");
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    const auto garbage = dir.write("garbage.ini", binary);
    EXPECT_EQ(readValue("Zelvor", "Port", garbage.string()), "");
}

TEST(IniWrite, ExistingKeyIsReplacedInPlaceAndTheRestKept)
{
    TempDir dir;
    const auto path = dir.write("z.ini", "; settings\r\n[zelvor]\r\n port = 23\r\nUser=bob\r\n"
                                         "[Other]\r\nPort=1\r\n");
    ASSERT_TRUE(writeValue("Zelvor", "Port", "99", path.string()));
    EXPECT_EQ(readFile(path),
              "; settings\r\n[zelvor]\r\nPort=99\r\nUser=bob\r\n[Other]\r\nPort=1\r\n");
}

TEST(IniWrite, NewKeyGoesToTheEndOfItsSection)
{
    std::string text = "[Zelvor]\r\nPort=23\r\n\r\n[Other]\r\nx=1\r\n";
    ASSERT_TRUE(setIniValue(text, "Zelvor", "User", "bob"));
    EXPECT_EQ(text, "[Zelvor]\r\nPort=23\r\nUser=bob\r\n\r\n[Other]\r\nx=1\r\n");
}

TEST(IniWrite, LfFileIsRewrittenWithCrLfKeepingItsContent)
{
    std::string text = "# top\n[A]\na=1\n[Zelvor]\nPort=1";
    ASSERT_TRUE(setIniValue(text, "Zelvor", "Port", "2"));
    ASSERT_TRUE(setIniValue(text, "B", "b", "3"));
    EXPECT_EQ(text, "# top\r\n[A]\r\na=1\r\n[Zelvor]\r\nPort=2\r\n[B]\r\nb=3\r\n");
}

TEST(IniWrite, MissingFileIsCreatedPrivateWithSectionAndKey)
{
    TempDir dir;
    const auto path = dir.path() / "z.ini";
    ASSERT_TRUE(writeValue("Zelvor", "Port", "23", path.string()));
    EXPECT_EQ(readFile(path), "[Zelvor]\r\nPort=23\r\n");
#ifndef _WIN32
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST(IniWrite, LineBreaksInValuesAreRefusedAndTheFileKept)
{
    TempDir dir;
    const std::string old = "[Zelvor]\r\nUser=bob\r\n";
    const auto path = dir.write("z.ini", old);
    std::string error;
    EXPECT_FALSE(writeValue("Zelvor", "User", "x\r\nPort=1", path.string(), &error));
    EXPECT_NE(error, "");
    EXPECT_EQ(readFile(path), old);
}

#ifndef _WIN32
TEST(IniWrite, SymbolicLinkKeepsPointingAtTheUpdatedFile)
{
    TempDir dir;
    const auto target = dir.write("real/z.ini", "[Zelvor]\r\nPort=1\r\n");
    const auto link = dir.path() / "link.ini";
    fs::create_symlink(target, link);
    ASSERT_TRUE(writeValue("Zelvor", "Port", "2", link.string()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(target), "[Zelvor]\r\nPort=2\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), {}), 1);
}
#endif

TEST(IniFileExists, OnlyOrdinaryVisibleFilesExist)
{
    TempDir dir;
    EXPECT_TRUE(FileExists(dir.write("zelvor.ini").string()));
    EXPECT_FALSE(FileExists(dir.mkdir("folder").string()));
#ifndef _WIN32
    EXPECT_FALSE(FileExists(dir.write(".hidden.ini").string()));
#endif
    EXPECT_FALSE(FileExists((dir.path() / "missing.ini").string()));
    EXPECT_FALSE(FileExists((dir.path() / "*.ini").string()));
    EXPECT_FALSE(FileExists(""));
}

} // namespace
} // namespace zelvor
