// pak cat [--dir DIR] NAME: a file's data, found the way the game finds it.
#include "archive/failure.h"
#include "platform/console.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"
#include "tools/pak/game_directory.h"
#include "vfs/virtual_file.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak cat [--dir DIR] [--raw] [--] NAME

Writes the data of NAME to standard output, exactly as the game opens it: a file of that name
first, then the first entry, in the *.pak archives of the directory taken in name order, whose
name begins with NAME (letters without regard to case; "title.*" stands for "title." and so
matches any extension). The bytes pass unchanged.

An entry that delivers fewer bytes than it declares (its data lies past the end of its archive,
or inflates to fewer bytes) is written as the game reads it, then told on standard error, with
exit code 3.

Options:
  --dir DIR   look in DIR instead of the current directory
  --raw       take NAME as Shift-JIS bytes
  --          ends the options, for a NAME that begins with -
)";

constexpr uint32_t kChunk = 64 * 1024;

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, 1, "cat", "NAME");
    std::string name = console.text(arguments.operands[0], "NAME");
    std::string place = enterGameDirectory(console, arguments);
    VirtualFile file;
    openInGameDirectory(file, name, place);

    // What the game's lookup gives is written as it comes, zeros for a stream that ended early
    // included; an entry that delivers less than its record declares is told after it.
    platform::setBinaryMode(stdout);
    std::vector<unsigned char> chunk(kChunk);
    uint64_t written = 0;
    for (uint64_t left = file.size(); left > 0;) {
        uint32_t got =
            file.read(chunk.data(), left < kChunk ? static_cast<uint32_t>(left) : kChunk);
        if (got == 0) break;
        if (std::fwrite(chunk.data(), 1, got, stdout) != got)
            throw Failure(kCorrupt, "standard output: cannot be written");
        written += got;
        left -= got;
    }
    requireWholeData(name, std::min(written, file.heldSize()), file.declaredSize());
    return kSuccess;
}

} // namespace

const Command kCatCommand = {"cat",
                             "cat [--dir DIR] NAME          the data of a file or entry",
                             kHelp,
                             {{"dir", 0, true}},
                             run};

} // namespace pak
