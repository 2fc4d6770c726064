// SPDX-License-Identifier: MIT
#pragma once

namespace zelvor {

/** The music folders below the server root as the directory commands reach them. */
class MusicFolders
{
public:
    virtual ~MusicFolders() = default;
};

/** The host's real file system. */
class HostFolders : public MusicFolders
{
};

} // namespace zelvor
