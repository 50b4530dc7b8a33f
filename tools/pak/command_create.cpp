// pak create -o OUT [...] PATH...: builds a new archive from files and directories.
#include "archive/failure.h"
#include "archive/file_handle.h"
#include "archive/pak_writer.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "text/system_path.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"
#include "tools/pak/source_files.h"
#include "tools/pak/temporary_file.h"

#include <string>
#include <vector>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak create -o OUT [--format 0|1|2|3|4] [--store] [--name TEXT]
                  [-C DIR] [--force] [-j N] [--raw] [--] PATH...

Writes a new archive OUT holding the files that the PATHs name, directories followed
recursively. Each entry is named by its path relative to DIR (the current directory unless told
otherwise), with backslashes as separators; the PATH . stands for everything below DIR. The
entries are stored in the order of their names (letters without regard to case), one per name.
Directories that are symbolic links are not entered. A FIFO, socket or device node is never
opened: the run names each one it meets and stops with exit code 3, writing nothing.

OUT is written under a temporary name in its own directory and renamed when complete, so a run
that fails leaves nothing behind, and an existing OUT is never replaced without --force. Nor
does an interrupted run: on SIGINT (Ctrl-C), SIGTERM or SIGHUP the temporary files are removed
and pak ends with exit code 128 + the signal's number. An archive is limited to 2 GiB, the most
its readers can address.

Entries are compressed on every processor: each file by one thread, a file larger than 8 MiB
in blocks of 1 MiB by all of them. The archive holds the same bytes whatever the number of
threads.

Options:
  -o OUT, --output OUT      the archive to write
  --format N                archive version 0 to 4 (default 3); version 0 stores every entry
                            plain
  --store                   store entries plain instead of compressing them with zlib
  --name TEXT               the archive's own name (versions 2 to 4, at most 255 bytes)
  -C DIR, --directory DIR   take PATHs, and name entries, relative to DIR
  --force                   replace OUT when it exists
  -j N, --jobs N            compress with N threads, 1 to 32 (default: one per processor)
  --raw                     take TEXT as Shift-JIS bytes
  --                        ends the options
)";

Failure usage(const std::string& what) {
    return Failure(kUsage, "create: " + what + " (see pak create --help)");
}

WriterSettings settingsFrom(const Console& console, const ParsedArguments& arguments) {
    WriterSettings settings;
    if (const std::string* format = arguments.value("format")) {
        if (format->size() != 1 || (*format)[0] < '0' || (*format)[0] > '4')
            throw usage("--format takes 0, 1, 2, 3 or 4");
        settings.version = static_cast<uint32_t>((*format)[0] - '0');
    }
    settings.compress = !arguments.has("store");
    settings.threads = threadsWanted(arguments, "create");
    if (const std::string* name = arguments.value("name")) {
        if (settings.version < 2) throw usage("--name needs --format 2, 3 or 4");
        settings.archiveName = console.text(*name, "--name");
        if (settings.archiveName.size() > 255) throw usage("--name takes at most 255 bytes");
        if (settings.archiveName.find('\0') != std::string::npos)
            throw usage("--name cannot hold a NUL byte");
    }
    return settings;
}

int run(Console& console, const ParsedArguments& arguments) {
    const std::string* output = arguments.value("output");
    if (output == nullptr) throw usage("-o OUT is missing");
    requireOperands(arguments, 1, static_cast<std::size_t>(-1), "create", "PATH...");
    WriterSettings settings = settingsFrom(console, arguments);
    bool force = arguments.has("force");

    std::string out = console.path(*output, "OUT");
    if (out.empty()) throw usage("OUT is empty");
    uint32_t attributes = platform::fileAttributes(out.c_str());
    bool outExists = attributes != platform::kInvalidAttributes;
    if (outExists && (attributes & platform::kDirectoryAttribute))
        throw Failure(kUsage, platform::shownPath(out) + ": is a directory");
    if (outExists && !force)
        throw Failure(kUsage, platform::shownPath(out) + ": exists already (--force replaces it)");
    std::string outName = fileNameOf(out);
    if (outName.empty()) throw usage("OUT ends in a separator, so it names no file");

    const std::string* directory = arguments.value("directory");
    std::string base = directory != nullptr ? console.path(*directory, "DIR") : std::string();
    std::vector<std::string> operands;
    for (const std::string& operand : arguments.operands)
        operands.push_back(console.path(operand, "PATH"));
    // Gathered before any temporary file exists, so that none of them can be among the files.
    SourceTree tree = collectSourceFiles(base, operands);
    for (const std::string& message : tree.notFiles)
        console.error(message);
    if (!tree.notFiles.empty()) return kCorrupt;

    platform::Directory outDirectory = TemporaryFile::directoryFor(directoryOf(out), out);
    TemporaryFile spill(outDirectory, out);
    TemporaryFile archive(outDirectory, out);
    PakWriter writer(settings, spill.stream(), out);
    for (const SourceFile& file : tree.files) {
        // An archive being replaced is never put into its successor.
        if (outExists && platform::sameFile(file.path.c_str(), out.c_str())) continue;
        FileHandle source = openSourceFile(file);
        writer.add(file.name, source.get(), file.path);
    }
    writer.finish(archive.stream());
    archive.moveTo(outName, force);
    return kSuccess;
}

} // namespace

const Command kCreateCommand = {"create",
                                "create -o OUT [--format N] [--store] [--name TEXT] [-C DIR]\n"
                                "        [--force] [-j N] PATH...  build an archive",
                                kHelp,
                                {{"output", 'o', true},
                                 {"format", 0, true},
                                 {"store", 0, false},
                                 {"name", 0, true},
                                 {"directory", 'C', true},
                                 {"force", 0, false},
                                 kJobsOption},
                                run};

} // namespace pak
