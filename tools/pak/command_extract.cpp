// pak extract [-C DIR] ARCHIVE [NAME...]: writes entries out as files below DIR.
#include "platform/platform.h"
#include "text/byte_string.h"
#include "tools/pak/archive_file.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"
#include "tools/pak/entry_path.h"
#include "tools/pak/entry_reader.h"
#include "tools/pak/failure.h"
#include "tools/pak/output_tree.h"
#include "tools/pak/progress_bar.h"
#include "tools/pak/temporary_file.h"
#include "vfs/pak_format.h"

#include <optional>
#include <string>
#include <vector>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak extract [-C DIR] [--raw] [--] ARCHIVE [NAME...]

Writes the entries of ARCHIVE as files below DIR (the current directory unless told
otherwise), each at the path its name gives, backslashes becoming directory separators; the
directories on the way are created. With NAMEs, only the entries whose names begin with one of
them (letters without regard to case, "title.*" for any extension: the game's rule) are
written. An existing file is replaced; every file is written under a temporary name first and
renamed when it is complete.

Names that could reach outside DIR are refused and nothing is written for them: absolute names,
names with a drive or a colon, and names with a ".." component. Nothing is written through a
symbolic link that exists below DIR either. The other entries are still written, and the run
ends with exit code 3.

On a terminal, a progress bar (entries and bytes) is drawn on standard error; otherwise only
problems are reported.

Options:
  -C DIR, --directory DIR   write below DIR (created when missing)
  --raw                     take the NAMEs as Shift-JIS bytes
  --                        ends the options
)";

struct Selected {
    std::string name;
    StoredEntry stored;
};

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, static_cast<std::size_t>(-1), "extract", "ARCHIVE");
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
            selected.push_back({name, stored});
            totalBytes += stored.dataSize();
        }
    } catch (const Failure& failure) {
        broken = failure; // the entries before the break are still written
    }

    int status = kSuccess;
    OutputTree tree(root);
    EntryReader reader(archive);
    ProgressBar bar(platform::isTerminal(stderr) ? stderr : nullptr, selected.size(), totalBytes);
    auto report = [&](const std::string& message) {
        bar.clear();
        console.error(message);
        status = kCorrupt;
    };
    for (const Selected& item : selected) {
        EntryPath place = entryPath(item.name);
        if (!place.refusal.empty()) {
            report(path + ": " + item.name + ": refused, nothing written: " + place.refusal);
        } else {
            try {
                OutputTree::Place target = tree.prepare(place.components);
                TemporaryFile file(target.directory, target.path);
                reader.read(item.stored, [&file](const unsigned char* data, std::size_t size) {
                    file.write(data, size);
                });
                file.moveTo(target.name, true);
            } catch (const Failure& failure) {
                report(path + ": " + item.name + ": " + failure.message);
            }
        }
        bar.advance(item.stored.dataSize());
    }
    if (broken) report(broken->message);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (matched[i]) continue;
        bar.clear();
        console.error(path + ": no entry matches " + given[i]);
        if (status == kSuccess) status = kNotFound;
    }
    return status;
}

} // namespace

const Command kExtractCommand = {"extract",
                                 "extract [-C DIR] ARCHIVE [NAME...]\n"
                                 "                                write entries out as files",
                                 kHelp,
                                 {{"directory", 'C', true}},
                                 run};

} // namespace pak
