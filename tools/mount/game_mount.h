// What pak mount does once its command line is read: the mount point is checked, the view of
// the game is made (what cannot be shown is told), and it is served at the mount point until it
// is unmounted. What is shown, and how, is written out in tools/pak/README.md (Mounting).
#pragma once

#include "tools/mount/mounted_game.h"

#include <cstdint>
#include <string>

namespace pak {

struct MountRequest {
    std::string source;          // the game directory, or the archive: an absolute system path
    bool archiveAlone = false;   // source is one archive, shown alone
    std::string mountPoint;      // an absolute system path
    std::string shownMountPoint; // the mount point as the user named it, for messages
    uint64_t cacheLimit = 0;     // the most bytes of inflated entries kept in memory
    bool foreground = false;     // stay attached to the terminal; otherwise detach once mounted
    bool writable = false;       // save changes as loose files of the game directory
};

// Mounts the game as request says and returns once it is unmounted; tell receives every line
// for the user. Throws Failure: kUsage when the mount point is missing, not a directory or not
// empty, or this build cannot mount; kNotFound when the game directory is missing; kCorrupt
// when the mount point cannot be read, the archive cannot be read, or mounting is refused.
void mountGame(const MountRequest& request, const MountedGame::Tell& tell);

} // namespace pak
