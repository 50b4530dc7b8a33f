// pak verify ARCHIVE...: reads every entry of every archive and reports what is wrong.
#include "archive/archive_file.h"
#include "archive/entry_scheduler.h"
#include "archive/failure.h"
#include "platform/console.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"

#include <optional>
#include <string>
#include <vector>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak verify [-j N] [--raw] ARCHIVE...

Reads every entry of each ARCHIVE, inflating the compressed ones, and checks that each lies
inside the archive and yields exactly its declared size. Every problem is one line on standard
error; each archive ends with a line on standard output that sums it up:
  ARCHIVE: N entries, M problems
Entries are read and inflated on every processor; the problems are told in the order of the
entries all the same.

Exit code 0 when every archive is sound, 3 when any has a problem, 1 when an archive is
missing (and none has a problem).

Options:
  -j N, --jobs N   inflate with N threads, 1 to 32 (default: one per processor)
)";

struct ArchiveCounts {
    uint32_t entries = 0;
    uint32_t problems = 0;
};

// Tells each entry's problem as the reader finds it, numbered as the directory counts.
class ProblemReport : public EntryReceiver {
  public:
    ProblemReport(Console& console, const std::string& path, const std::vector<std::string>& names,
                  ArchiveCounts& counts)
        : console_(console), path_(path), names_(names), counts_(counts) {}
    bool begin(std::size_t) override { return true; }
    void receive(const unsigned char*, std::size_t) override {}
    void end(std::size_t index, const Failure* failure) override {
        if (failure == nullptr) return;
        console_.error(path_ + ": entry " + std::to_string(index + 1) + " (" + names_[index] +
                       "): " + failure->message);
        ++counts_.problems;
    }

  private:
    Console& console_;
    const std::string& path_;
    const std::vector<std::string>& names_;
    ArchiveCounts& counts_;
};

// Checks one archive; returns its exit code.
int verifyArchive(Console& console, const std::string& path, unsigned threads,
                  ArchiveCounts& counts) {
    try {
        ArchiveFile archive(path);
        archive.readDirectory();
        // The records first, then their data: the directory's problem, if it breaks off, is
        // told after those of the entries before the break.
        std::vector<StoredEntry> entries;
        std::vector<std::string> names;
        std::optional<Failure> broken;
        PakEntry entry;
        StoredEntry stored;
        try {
            while (archive.next(entry, stored)) {
                entries.push_back(stored);
                names.emplace_back(entry.name.data != nullptr ? entry.name.data : "");
            }
        } catch (const Failure& failure) {
            broken = failure;
        }
        counts.entries = static_cast<uint32_t>(entries.size());
        ProblemReport report(console, archive.shownPath(), names, counts);
        readEntriesInOrder(archive, entries, report, threads, false);
        if (broken) {
            console.error(broken->message);
            ++counts.problems;
        }
    } catch (const Failure& failure) {
        console.error(failure.message);
        if (failure.exitCode == kNotFound) return kNotFound;
        ++counts.problems;
    }
    return counts.problems > 0 ? kCorrupt : kSuccess;
}

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, static_cast<std::size_t>(-1), "verify", "ARCHIVE...");
    unsigned threads = threadsWanted(arguments, "verify");
    int status = kSuccess;
    for (const std::string& operand : arguments.operands) {
        std::string path = console.path(operand, "ARCHIVE");
        ArchiveCounts counts;
        int result = verifyArchive(console, path, threads, counts);
        if (result > status) status = result;
        if (result == kNotFound) continue;
        console.print(platform::shownPath(path) + ": " + std::to_string(counts.entries) +
                      (counts.entries == 1 ? " entry, " : " entries, ") +
                      std::to_string(counts.problems) +
                      (counts.problems == 1 ? " problem" : " problems"));
        console.printAscii("\n");
        console.flush(); // each archive's verdict as soon as it is known
    }
    return status;
}

} // namespace

const Command kVerifyCommand = {"verify",
                                "verify [-j N] ARCHIVE...      read every entry, report problems",
                                kHelp,
                                {kJobsOption},
                                run};

} // namespace pak
