// pak mount [--dir DIR [--writable] | --archive ARCHIVE] [-f] [--cache-mb N] MOUNTPOINT: the
// game's files, as the game finds them, as a file system that follows the game directory.
#include "archive/failure.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/served_tree.h"
#include "text/system_path.h"
#include "tools/mount/game_mount.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"

#include <string>

namespace pak {

namespace {

constexpr char kHelp[] =
    R"(Usage: pak mount [--dir DIR [--writable] | --archive ARCHIVE] [-f] [--cache-mb N] [--]
                 MOUNTPOINT

Shows the files of a game directory at MOUNTPOINT, an empty directory, as a file system, as
the game finds them: every file of the directory and its subdirectories, and every entry of its
*.pak archives that the game's lookup can reach, each under its own full name (backslashes in
entry names are directories). Reading a file gives the bytes that pak cat gives for its name.
The names that cannot be shown are told on standard error when the mount is made.

The view follows the game directory: a file or an archive added, changed, replaced or removed
there is shown as the game would now find it, moments later. A file open at that moment goes
on reading what it opened; an entry, the archive as it was. ARCHIVE alone is shown as it was
when mounted.

Without --writable the mount is read-only. With it, changes are saved as the game's own
override, loose files of the game directory, which the game reads before any archive entry:
the first write to a file that comes from an archive copies the entry to a loose file of its
name (its directories made as needed), and the write goes there. Files are created, written,
cut, renamed and removed on disk, and directories made and removed. Removing the loose file of a name
brings the archive's entry back. Removing or renaming a file that is only an archive's entry
is refused (EPERM), since the game has no way to hide an entry, and so is a name with no
Shift-JIS form (EINVAL), which the game could never open; each is told on standard error.
Nothing is ever written into an archive.

Compressed entries are inflated as far as they are read. The system keeps what was read in its
own cache; of the small entries (1 MiB or less) the most recently read are kept inflated in
memory too, at most N MiB of them, and a large one is read from the nearest of the places
(about one every MiB) recorded the first time it was read through. A corrupt entry fails the
reads that meet it (EIO), and a request that runs out of memory fails (ENOMEM); each is told on
standard error, and the mount stays.

The mount stays until fusermount3 -u MOUNTPOINT, or, with -f, until pak is interrupted
(Ctrl-C, SIGTERM). Without -f, pak detaches once the mount is in place and its messages are no
longer seen. Mounting needs /dev/fuse, and, for a user other than root, fusermount3. Which
names are shown, and how they are found, is written out in pak's README
(/usr/share/doc/zk-pak/README.md).

Options:
  --dir DIR          the game directory (default: the current directory)
  --archive ARCHIVE  show the entries of ARCHIVE alone
  --writable         save changes as loose files of the game directory (not with --archive)
  -f, --foreground   stay in the foreground, telling problems on standard error
  --cache-mb N       keep at most N MiB of small inflated entries in memory (default 8)
  --                 ends the options

Exit codes: 0 unmounted; 2 MOUNTPOINT is not an empty directory, or this build has no mount
command; 3 mounting is not possible here (no /dev/fuse, no permission) or ARCHIVE cannot be read.
)";

constexpr uint64_t kDefaultCacheMiB = 8;
constexpr uint64_t kMostCacheMiB = 1u << 20; // a limit, not a size: the room is taken as used

uint64_t cacheLimit(const ParsedArguments& arguments) {
    const std::string* given = arguments.value("cache-mb");
    if (given == nullptr) return kDefaultCacheMiB << 20;
    uint64_t mib = 0;
    bool digits = !given->empty() && given->size() <= 7;
    for (char c : *given) {
        digits = digits && c >= '0' && c <= '9';
        if (digits) mib = mib * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!digits || mib > kMostCacheMiB)
        throw Failure(kUsage, "mount: --cache-mb takes a number of MiB from 0 to " +
                                  std::to_string(kMostCacheMiB) + " (see pak mount --help)");
    return mib << 20;
}

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, 1, "mount", "MOUNTPOINT");
    const std::string* directory = arguments.value("dir");
    const std::string* archive = arguments.value("archive");
    if (directory != nullptr && archive != nullptr)
        throw Failure(kUsage, "mount: --dir and --archive cannot go together (see pak mount "
                              "--help)");
    if (archive != nullptr && arguments.has("writable"))
        throw Failure(kUsage, "mount: --writable needs a game directory, not --archive: changes "
                              "are saved as its loose files (see pak mount --help)");
    uint64_t limit = cacheLimit(arguments);
    std::string given = console.path(arguments.operands[0], "MOUNTPOINT");
    std::string mountPoint = absolutePath(given);
    std::string source = absolutePath(archive != nullptr     ? console.path(*archive, "ARCHIVE")
                                      : directory != nullptr ? console.path(*directory, "DIR")
                                                             : std::string("."));
    if (mountPoint.empty() || source.empty())
        throw Failure(kCorrupt, "the current directory cannot be found (system error " +
                                    std::to_string(platform::lastError()) + ")");
    MountRequest request;
    request.source = source;
    request.archiveAlone = archive != nullptr;
    request.mountPoint = mountPoint;
    request.shownMountPoint = platform::shownPath(given);
    request.cacheLimit = limit;
    request.foreground = arguments.has("foreground");
    request.writable = arguments.has("writable");
    mountGame(request, [&console](const std::string& line) { console.error(line); });
    return kSuccess;
}

} // namespace

const char* mountUnavailable() {
    switch (platform::treeServing()) {
    case platform::TreeServing::kNotOnWindows:
        return "The Windows build has no mount command.";
    case platform::TreeServing::kNotBuilt:
        return "This build has no mount command: it was made without libfuse3.";
    default:
        return nullptr;
    }
}

const Command kMountCommand = {
    "mount",
    "mount [--dir DIR] MOUNTPOINT  the game's files, mounted as the game finds them",
    kHelp,
    {{"dir", 0, true},
     {"archive", 0, true},
     {"writable", 0, false},
     {"foreground", 'f', false},
     {"cache-mb", 0, true}},
    run};

} // namespace pak
