// pak info ARCHIVE: the archive's header.
#include "archive/archive_file.h"
#include "archive/failure.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"

#include <charconv>
#include <cstring>
#include <string>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak info [--raw] ARCHIVE

Prints the header of ARCHIVE, one field a line:
  version                 0 to 4
  entries                 the number of records in the directory
  directory size          bytes of the directory once inflated    (versions 1 to 4)
  packed directory size   bytes of the directory as stored        (versions 1 to 4)
  value                   a number the game reads and never uses  (versions 2 to 4)
  archive name            the archive's own name                  (versions 2 to 4)

The header is checked only as far as the header goes; pak verify reads everything.

Options:
  --raw    print the archive name as its Shift-JIS bytes
)";

// The shortest text that reads back as the same double.
std::string shortest(double value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, 1, "info", "ARCHIVE");
    ArchiveFile archive(console.path(arguments.operands[0], "ARCHIVE"));
    const PakHeader& header = archive.header();

    std::string text = "version: " + std::to_string(header.version) + "\n" +
                       "entries: " + std::to_string(header.entryCount) + "\n";
    if (header.version >= 1) {
        text += "directory size: " + std::to_string(header.directorySize) + "\n";
        text += "packed directory size: " + std::to_string(header.packedDirectorySize) + "\n";
    }
    if (header.version >= 2) {
        text += "value: " + shortest(header.value) + "\n";
        console.printAscii(text);
        // The name fills 256 bytes and need not be terminated within them.
        const void* end = std::memchr(header.archiveName, '\0', sizeof header.archiveName);
        std::size_t length =
            end != nullptr
                ? static_cast<std::size_t>(static_cast<const char*>(end) - header.archiveName)
                : sizeof header.archiveName;
        console.printAscii("archive name: ");
        console.print(std::string(header.archiveName, length));
        console.printAscii("\n");
        return kSuccess;
    }
    console.printAscii(text);
    return kSuccess;
}

} // namespace

const Command kInfoCommand = {
    "info", "info ARCHIVE                  the archive's header", kHelp, {}, run};

} // namespace pak
