// pak extract [-C DIR] ARCHIVE [NAME...]: writes entries out as files below DIR.
#include "archive/archive_file.h"
#include "archive/entry_path.h"
#include "archive/entry_scheduler.h"
#include "archive/failure.h"
#include "platform/console.h"
#include "text/byte_string.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"
#include "tools/pak/output_tree.h"
#include "tools/pak/progress_bar.h"
#include "tools/pak/temporary_file.h"
#include "vfs/pak_format.h"

#include <optional>
#include <string>
#include <vector>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak extract [-C DIR] [-j N] [--raw] [--] ARCHIVE [NAME...]

Writes the entries of ARCHIVE as files below DIR (the current directory unless told
otherwise), each at the path its name gives, backslashes becoming directory separators; the
directories on the way are created. With NAMEs, only the entries whose names begin with one of
them (letters without regard to case, "title.*" for any extension: the game's rule) are
written. An existing file is replaced; every file is written under a temporary name first and
renamed when it is complete. On SIGINT (Ctrl-C), SIGTERM or SIGHUP the temporary file is
removed and pak ends with exit code 128 + the signal's number.

Names that could reach outside DIR are refused and nothing is written for them: absolute names,
names with a drive or a colon, and names with a ".." component. Nothing is written through a
symbolic link that exists below DIR either. The other entries are still written, and the run
ends with exit code 3.

Entries are read and inflated on every processor, ahead of the files being written, with a
bounded amount of data in between whatever the size of the entries.

On a terminal, a progress bar (entries and bytes) is drawn on standard error; otherwise only
problems are reported.

Options:
  -C DIR, --directory DIR   write below DIR (created when missing)
  -j N, --jobs N            inflate with N threads, 1 to 32 (default: one per processor)
  --raw                     take the NAMEs as Shift-JIS bytes
  --                        ends the options
)";

struct Selected {
    std::string name;
    StoredEntry stored;
    EntryPath path;
};

// Writes the entries that readEntriesInOrder delivers, each as a temporary file renamed into place
// when complete, and reports every entry that cannot be written in the order of the selection: the
// refused names, which are never read, among the others.
class Extraction : public EntryReceiver {
  public:
    Extraction(Console& console, const std::string& path, OutputTree& tree,
               const std::vector<Selected>& selected, ProgressBar& bar)
        : console_(console), path_(path), tree_(tree), selected_(selected), bar_(bar) {}

    // The selection's index of each entry read.
    std::vector<std::size_t> itemOf;
    int status = kSuccess;

    bool begin(std::size_t index) override {
        std::size_t item = itemOf[index];
        passRefusedBefore(item);
        const Selected& chosen = selected_[item];
        try {
            OutputTree::FileDestination target = tree_.prepare(chosen.path.components);
            file_.emplace(target.directory, target.path);
            name_ = target.name;
            return true;
        } catch (const Failure& failure) {
            report(chosen, failure);
            bar_.advance(chosen.stored.dataSize());
            return false;
        }
    }
    void receive(const unsigned char* data, std::size_t size) override { file_->write(data, size); }
    void end(std::size_t index, const Failure* failure) override {
        const Selected& chosen = selected_[itemOf[index]];
        try {
            if (failure != nullptr) throw *failure;
            file_->moveTo(name_, true);
        } catch (const Failure& problem) {
            report(chosen, problem);
        }
        file_.reset(); // removes the file unless it was moved into place
        bar_.advance(chosen.stored.dataSize());
    }

    // Reports the refused names among the selection's items before item.
    void passRefusedBefore(std::size_t item) {
        for (; next_ < item; ++next_) {
            const Selected& refused = selected_[next_];
            report(refused, Failure(kCorrupt, "refused, nothing written: " + refused.path.refusal));
            bar_.advance(refused.stored.dataSize());
        }
        next_ = item + 1;
    }

    void reportProblem(const std::string& message) {
        bar_.clear();
        console_.error(message);
        status = kCorrupt;
    }

  private:
    void report(const Selected& chosen, const Failure& failure) {
        reportProblem(path_ + ": " + chosen.name + ": " + failure.message);
    }

    Console& console_;
    const std::string& path_;
    OutputTree& tree_;
    const std::vector<Selected>& selected_;
    ProgressBar& bar_;
    std::size_t next_ = 0; // the selection's next item not yet passed
    std::optional<TemporaryFile> file_;
    std::string name_; // file_'s name once in place
};

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, static_cast<std::size_t>(-1), "extract", "ARCHIVE");
    unsigned threads = threadsWanted(arguments, "extract");
    std::string path = console.path(arguments.operands[0], "ARCHIVE");
    const std::string* directory = arguments.value("directory");
    std::string root = directory != nullptr ? console.path(*directory, "DIR") : std::string();
    std::vector<std::string> given, wanted; // the NAMEs as given, and as the lookup compares
    for (std::size_t i = 1; i < arguments.operands.size(); ++i) {
        given.push_back(console.text(arguments.operands[i], "NAME"));
        String name(given.back().c_str());
        normaliseWantedName(name);
        wanted.emplace_back(name.data != nullptr ? name.data : "");
    }

    ArchiveFile archive(path);
    archive.readDirectory();
    // The selection comes first, so that the bar knows the totals.
    std::vector<Selected> selected;
    std::vector<bool> matched(wanted.size(), false);
    std::optional<Failure> broken;
    uint64_t totalBytes = 0;
    PakEntry entry;
    StoredEntry stored;
    try {
        while (archive.next(entry, stored)) {
            const char* name = entry.name.data != nullptr ? entry.name.data : "";
            bool take = wanted.empty();
            for (std::size_t i = 0; i < wanted.size(); ++i) {
                if (!nameMatches(wanted[i].c_str(), static_cast<uint32_t>(wanted[i].size()), name))
                    continue;
                matched[i] = true;
                take = true;
            }
            if (!take) continue;
            selected.push_back({name, stored, entryPath(name)});
            totalBytes += stored.dataSize();
        }
    } catch (const Failure& failure) {
        broken = failure; // the entries before the break are still written
    }

    OutputTree tree(root);
    ProgressBar bar(platform::isTerminal(stderr) ? stderr : nullptr, selected.size(), totalBytes);
    Extraction extraction(console, archive.shownPath(), tree, selected, bar);
    std::vector<StoredEntry> toRead;
    for (std::size_t i = 0; i < selected.size(); ++i) {
        if (!selected[i].path.refusal.empty()) continue;
        toRead.push_back(selected[i].stored);
        extraction.itemOf.push_back(i);
    }
    readEntriesInOrder(archive, toRead, extraction, threads);
    extraction.passRefusedBefore(selected.size());
    if (broken) extraction.reportProblem(broken->message);
    int status = extraction.status;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (matched[i]) continue;
        bar.clear();
        console.error(archive.shownPath() + ": no entry matches " + given[i]);
        if (status == kSuccess) status = kNotFound;
    }
    return status;
}

} // namespace

const Command kExtractCommand = {"extract",
                                 "extract [-C DIR] [-j N] ARCHIVE [NAME...]\n"
                                 "                                write entries out as files",
                                 kHelp,
                                 {{"directory", 'C', true}, kJobsOption},
                                 run};

} // namespace pak
