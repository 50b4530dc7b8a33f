// pak verify ARCHIVE...: reads every entry of every archive and reports what is wrong.
#include "tools/pak/archive_file.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"
#include "tools/pak/entry_reader.h"
#include "tools/pak/failure.h"

#include <string>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak verify [--raw] ARCHIVE...

Reads every entry of each ARCHIVE, inflating the compressed ones, and checks that each lies
inside the archive and yields exactly its declared size. Every problem is one line on standard
error; each archive ends with a line on standard output that sums it up:
  ARCHIVE: N entries, M problems

Exit code 0 when every archive is sound, 3 when any has a problem, 1 when an archive is
missing (and none has a problem).
)";

struct Tally {
    uint32_t entries = 0;
    uint32_t problems = 0;
};

// Checks one archive; returns its exit code.
int verifyArchive(Console& console, const std::string& path, Tally& tally) {
    try {
        ArchiveFile archive(path);
        archive.readDirectory();
        EntryReader reader(archive);
        PakEntry entry;
        StoredEntry stored;
        auto ignore = [](const unsigned char*, std::size_t) {};
        for (;;) {
            try {
                if (!archive.next(entry, stored)) break;
            } catch (const Failure& broken) {
                console.error(broken.message);
                ++tally.problems;
                break;
            }
            ++tally.entries;
            try {
                reader.read(stored, ignore);
            } catch (const Failure& problem) {
                std::string name = entry.name.data != nullptr ? entry.name.data : "";
                console.error(path + ": entry " + std::to_string(tally.entries) + " (" + name +
                              "): " + problem.message);
                ++tally.problems;
            }
        }
    } catch (const Failure& failure) {
        console.error(failure.message);
        if (failure.exitCode == kNotFound) return kNotFound;
        ++tally.problems;
    }
    return tally.problems > 0 ? kCorrupt : kSuccess;
}

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, static_cast<std::size_t>(-1), "verify", "ARCHIVE...");
    int status = kSuccess;
    for (const std::string& operand : arguments.operands) {
        std::string path = console.path(operand, "ARCHIVE");
        Tally tally;
        int result = verifyArchive(console, path, tally);
        if (result > status) status = result;
        if (result == kNotFound) continue;
        console.print(path + ": " + std::to_string(tally.entries) +
                      (tally.entries == 1 ? " entry, " : " entries, ") +
                      std::to_string(tally.problems) +
                      (tally.problems == 1 ? " problem" : " problems"));
        console.printAscii("\n");
    }
    return status;
}

} // namespace

const Command kVerifyCommand = {
    "verify", "verify ARCHIVE...             read every entry, report problems", kHelp, {}, run};

} // namespace pak
