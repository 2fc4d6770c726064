// SPDX-License-Identifier: MIT
#pragma once

#include "commands/PathMapping.h"

#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

/**
 * The music folders below the server root as the directory commands reach them. Paths come
 * already resolved below the root; each name is looked up exactly first and, when no entry has
 * exactly that name, without regard to letter case (the first such entry in name order).
 */
class MusicFolders
{
public:
    virtual ~MusicFolders() = default;

    /** True when the path names an existing folder (links followed); false for anything else. */
    virtual bool isFolder(const MusicPath& path) = 0;

    /**
     * The names of the visible files and folders (and links to them) in the folder that match
     * the wildcard pattern, in name order; empty when the folder cannot be read. Hidden are
     * names starting with "." on Linux, and entries marked hidden or system on Windows.
     */
    virtual std::vector<std::string> list(const MusicPath& folder, std::string_view pattern) = 0;

    /** The host path to hand the player; names not found on the disk are kept as given. */
    virtual std::string hostPath(const MusicPath& path) = 0;

    /**
     * True when the entry the path names carries the system's hidden or system mark (Windows);
     * such entries are neither listed nor loaded.
     */
    virtual bool isMarkedHidden(const MusicPath& path)
    {
        static_cast<void>(path);
        return false;
    }
};

/** The host's real file system. */
class HostFolders : public MusicFolders
{
public:
    bool isFolder(const MusicPath& path) override;
    std::vector<std::string> list(const MusicPath& folder, std::string_view pattern) override;
    std::string hostPath(const MusicPath& path) override;
    bool isMarkedHidden(const MusicPath& path) override;
};

} // namespace zelvor
