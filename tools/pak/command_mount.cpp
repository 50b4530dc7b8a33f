// pak mount [--dir DIR | --archive ARCHIVE] [-f] [--cache-mb N] MOUNTPOINT: the game's files,
// as the game finds them, as a read-only file system.
#include "archive/failure.h"
#include "platform/platform.h"
#include "platform/served_tree.h"
#include "text/system_path.h"
#include "tools/mount/mount_index.h"
#include "tools/mount/mounted_game.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"

#include <string>

namespace pak {

namespace {

constexpr char kHelp[] =
    R"(Usage: pak mount [--dir DIR | --archive ARCHIVE] [-f] [--cache-mb N] [--]
                 MOUNTPOINT

Shows the files of a game directory at MOUNTPOINT, an empty directory, as a read-only file
system, exactly as the game finds them: every file of the directory and its subdirectories, and
every entry of its *.pak archives that the game's lookup can reach. An entry is hidden by a
file of the same name (whatever its case) and by an entry of the same name in an archive before
it in the game's order (letters without regard to case). Reading a file gives the bytes that
pak cat gives for its name; every entry is shown under its own full name, even where pak cat,
matching names by their beginning as the game does, would give an earlier entry whose name is
longer (GAME.INI.BAK for GAME.INI). Backslashes in entry names are directories; names are
shown in UTF-8, a character without a Unicode form as \xNN; names are found whatever the case
of their letters, as the game finds them. Entries whose names could reach outside the mount
(absolute, with a drive or a colon, with a ".." component), that need a directory where a
file of that name is shown (or the other way round), or whose names have a component longer
than 255 bytes in UTF-8, are not shown; neither are FIFOs, sockets and devices, which are never
opened. They are told on standard error when the mount is made. Entries show their archive's
time.

The view is made once, when the mount is made: files and archives added, removed or renamed
afterwards are not seen (mount again to see them). The archives are held open, and loose files
are read as they are when opened.

Compressed entries are inflated as far as they are read, once: the most recently read are kept
in memory, at most N MiB of them; a larger one is inflated as it is read, anew only when a
reader goes backwards. A corrupt entry fails the reads that meet it (EIO) with a line on
standard error; the other files stay readable. A request that runs out of memory fails (ENOMEM)
with a line on standard error; the mount stays.

The mount stays until fusermount3 -u MOUNTPOINT, or, with -f, until pak is interrupted
(Ctrl-C, SIGTERM). Without -f, pak detaches once the mount is in place and its messages are no
longer seen. Mounting needs /dev/fuse, and, for a user other than root, fusermount3.

Options:
  --dir DIR          the game directory (default: the current directory)
  --archive ARCHIVE  show the entries of ARCHIVE alone
  -f, --foreground   stay in the foreground, telling problems on standard error
  --cache-mb N       keep at most N MiB of inflated entries in memory (default 256)
  --                 ends the options

Exit codes: 0 unmounted; 2 MOUNTPOINT is not an empty directory, or this build has no mount
command; 3 mounting is not possible here (no /dev/fuse, no permission) or ARCHIVE cannot be read.
)";

constexpr uint64_t kDefaultCacheMiB = 256;
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

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, 1, "mount", "MOUNTPOINT");
    const std::string* directory = arguments.value("dir");
    const std::string* archive = arguments.value("archive");
    if (directory != nullptr && archive != nullptr)
        throw Failure(kUsage, "mount: --dir and --archive cannot go together (see pak mount "
                              "--help)");
    uint64_t limit = cacheLimit(arguments);
    std::string given = console.path(arguments.operands[0], "MOUNTPOINT");
    std::string mountPoint = absolutePath(given);
    std::string source = absolutePath(archive != nullptr     ? console.path(*archive, "ARCHIVE")
                                      : directory != nullptr ? console.path(*directory, "DIR")
                                                             : std::string("."));
    if (mountPoint.empty() || source.empty())
        throw Failure(kCorrupt, "the current directory cannot be found (system error " +
                                    std::to_string(platform::lastError()) + ")");
    checkMountPoint(mountPoint, platform::shownPath(given));

    MountIndex index =
        archive != nullptr ? MountIndex::ofArchive(source) : MountIndex::ofGameDirectory(source);
    for (const std::string& note : index.notes())
        console.error(note);
    std::fflush(stdout);

    MountedGame game(index, limit, [&console](const std::string& line) { console.error(line); });
    platform::ServeOptions options;
    options.foreground = arguments.has("foreground");
    options.source = source;
    std::string problem;
    switch (platform::serveTree(game, mountPoint.c_str(), options, problem)) {
    case platform::ServeResult::kUnmounted:
        return kSuccess;
    case platform::ServeResult::kUnsupported:
        throw Failure(kUsage, "mount: " + problem);
    default:
        throw Failure(kCorrupt, platform::shownPath(given) + ": cannot be mounted: " + problem);
    }
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
    "mount [--dir DIR] MOUNTPOINT  the game's files, mounted read-only",
    kHelp,
    {{"dir", 0, true}, {"archive", 0, true}, {"foreground", 'f', false}, {"cache-mb", 0, true}},
    run};

} // namespace pak
