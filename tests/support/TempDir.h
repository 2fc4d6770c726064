// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>

namespace zelvor::test {

/** A fresh empty folder below the system's temp folder, removed with everything in it. */
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }
    /** Creates a file (and its folders) below the temp folder with the given bytes. */
    std::filesystem::path write(const std::string& relative, const std::string& bytes = {}) const;
    /** Creates a folder (and its parents) below the temp folder. */
    std::filesystem::path mkdir(const std::string& relative) const;

private:
    std::filesystem::path m_path;
};

/** The whole content of a file, or an empty text when it cannot be read. */
std::string readFile(const std::filesystem::path& path);

} // namespace zelvor::test
