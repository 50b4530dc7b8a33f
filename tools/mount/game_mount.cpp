// Mounting a game (see game_mount.h).
#include "tools/mount/game_mount.h"

#include "archive/failure.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/file_system.h"
#include "platform/served_tree.h"
#include "text/system_path.h"
#include "tools/mount/mount_index.h"

#include <cstdio>
#include <utility>

namespace pak {

namespace {

// The mount point must be an empty directory: a mount over files would hide them. shown is how
// the user named it, for the messages.
void checkMountPoint(const std::string& path, const std::string& shown) {
    uint32_t attributes = platform::fileAttributes(path.c_str());
    if (attributes == platform::kInvalidAttributes)
        throw Failure(kUsage, shown + ": no such directory (the mount point must exist)");
    if ((attributes & platform::kDirectoryAttribute) == 0)
        throw Failure(kUsage, shown + ": not a directory (the mount point must be an empty one)");
    platform::FileSearch search(joinPath(path, "*").c_str());
    platform::FoundFile found;
    if (search.next(found) || search.skipped() > 0)
        throw Failure(kUsage, shown + ": not empty (the mount point must be an empty directory)");
    if (search.failed())
        throw Failure(kCorrupt, shown + ": cannot be read (system error " +
                                    std::to_string(platform::lastError()) + ")");
}

} // namespace

void mountGame(const MountRequest& request, const MountedGame::Tell& tell) {
    checkMountPoint(request.mountPoint, request.shownMountPoint);
    MountIndex index = request.archiveAlone ? MountIndex::ofArchive(request.source)
                                            : MountIndex::ofGameDirectory(request.source);
    for (const std::string& note : index.notes())
        tell(note);
    // The process that detaches must not write again what was written before.
    std::fflush(stdout);

    MountedGame game(std::move(index), request.archiveAlone ? std::string() : request.source,
                     request.writable, request.cacheLimit, tell);
    platform::ServeOptions options;
    options.foreground = request.foreground;
    options.writable = request.writable;
    options.source = request.source;
    std::string problem;
    switch (platform::serveTree(game, request.mountPoint.c_str(), options, problem)) {
    case platform::ServeResult::kUnmounted:
        return;
    case platform::ServeResult::kUnsupported:
        throw Failure(kUsage, "mount: " + problem);
    default:
        throw Failure(kCorrupt, request.shownMountPoint + ": cannot be mounted: " + problem);
    }
}

} // namespace pak
