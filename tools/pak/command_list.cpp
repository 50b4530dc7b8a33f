// pak list [--json] ARCHIVE: one line per record, in directory order.
#include "archive/archive_file.h"
#include "archive/failure.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"
#include "tools/pak/json_text.h"

#include <optional>
#include <string>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak list [--json] [--raw] ARCHIVE

Prints one line per record of ARCHIVE, in directory order:
  SIZE STORED z|- OFFSET NAME
SIZE is what the entry holds (what pak cat writes), STORED the bytes it takes in the archive,
z marks a compressed entry and - a plain one, OFFSET is where its stored bytes begin in the
archive, counted from the start of the file. Characters of a name that have no Unicode form
are shown as \xNN.

Options:
  --json   print one JSON array of objects with the keys name (string), size, packed, offset
           (integers) and compressed (boolean); packed is STORED above. The JSON is ASCII:
           other characters are \u escapes.
  --raw    print names as their Shift-JIS bytes; with --json each byte of a name becomes the
           code point of the same value (\u0095 for the byte 0x95)

A directory that breaks off is reported after the records before it, with exit code 3.
)";

// n right-aligned in 10 columns and a space (32-bit numbers have at most 10 digits). Written
// out by hand: a formatter costs more than the rest of a line together.
void appendColumn(std::string& out, uint32_t n) {
    char digits[11] = "          ";
    int at = 9;
    do {
        digits[at--] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n > 0);
    digits[10] = ' ';
    out.append(digits, sizeof digits);
}

// The columns before the name: "%10u %10u %c %10u ".
std::string columns(const StoredEntry& stored) {
    std::string text;
    appendColumn(text, stored.dataSize());
    appendColumn(text, stored.storedSize());
    text += stored.compressed ? "z " : "- ";
    appendColumn(text, stored.dataStart);
    return text;
}

std::string jsonObject(const std::string& name, const StoredEntry& stored, bool raw) {
    return "{\"name\": " + jsonString(name, raw) +
           ", \"size\": " + std::to_string(stored.dataSize()) +
           ", \"packed\": " + std::to_string(stored.storedSize()) +
           ", \"offset\": " + std::to_string(stored.dataStart) +
           ", \"compressed\": " + (stored.compressed ? "true" : "false") + "}";
}

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 1, 1, "list", "ARCHIVE");
    bool json = arguments.has("json");
    ArchiveFile archive(console.path(arguments.operands[0], "ARCHIVE"));
    archive.readDirectory();

    PakEntry entry;
    StoredEntry stored;
    std::optional<Failure> failure;
    if (json) console.printAscii("[");
    bool first = true;
    try {
        while (archive.next(entry, stored)) {
            std::string name = entry.name.data != nullptr ? entry.name.data : "";
            if (json) {
                console.printAscii((first ? "\n  " : ",\n  ") +
                                   jsonObject(name, stored, console.raw()));
            } else {
                console.printAscii(columns(stored));
                console.print(name);
                console.printAscii("\n");
            }
            first = false;
        }
    } catch (const Failure& broken) {
        failure = broken; // the array is closed before the problem is told
    }
    if (json) console.printAscii(first ? "]\n" : "\n]\n");
    if (failure) throw *failure;
    return kSuccess;
}

} // namespace

const Command kListCommand = {
    "list", "list [--json] ARCHIVE         one line per entry", kHelp, {{"json", 0, false}}, run};

} // namespace pak
