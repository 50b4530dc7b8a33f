// pak ini [--dir DIR] [--file FILE] SECTION KEY: one settings value, read as the game reads it.
#include "archive/failure.h"
#include "settings/ini_reader.h"
#include "text/byte_string.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"
#include "tools/pak/game_directory.h"
#include "vfs/virtual_file.h"

#include <cstdint>
#include <string>

namespace pak {

namespace {

constexpr char kHelp[] = R"(Usage: pak ini [--dir DIR] [--file FILE] [--raw] [--] SECTION KEY

Prints the value of KEY in section SECTION of the settings file FILE (GAME.INI unless told
otherwise) and a line feed. FILE is found exactly as the game finds it: a file of that name
first, then an entry of the *.pak archives of the directory (see pak cat --help). Section and
key are compared as the game compares them.

Options:
  --dir DIR     look in DIR instead of the current directory
  --file FILE   the settings file (default GAME.INI)
  --raw         take SECTION, KEY and FILE as Shift-JIS bytes and print the value as its bytes

Exit code 1 when the file, the section or the key is missing or the value is empty; 3 when
the settings file delivers fewer bytes than it declares (the value the game reads from what it
holds is still printed).
)";

int run(Console& console, const ParsedArguments& arguments) {
    requireOperands(arguments, 2, 2, "ini", "SECTION KEY");
    std::string section = console.text(arguments.operands[0], "SECTION");
    std::string key = console.text(arguments.operands[1], "KEY");
    const std::string* fileArgument = arguments.value("file");
    std::string fileName =
        fileArgument != nullptr ? console.text(*fileArgument, "FILE") : std::string("GAME.INI");
    std::string place = enterGameDirectory(console, arguments);

    // readIniValue's own steps, with the open made once and told apart: a settings file that
    // is nowhere, or cannot be inflated, is not the same as a missing value.
    String text;
    uint64_t held, declared;
    {
        VirtualFile file;
        openInGameDirectory(file, fileName, place);
        text.loadText(file);
        held = file.heldSize();
        declared = file.declaredSize();
    }
    String value;
    findIniValue(section.c_str(), key.c_str(), value, text);
    // The value the game reads is printed even from a short file, which is then told.
    if (!value.isEmpty()) {
        console.print(value.data, true);
        console.printAscii("\n");
    }
    requireWholeData(fileName, held, declared);
    if (value.isEmpty())
        throw Failure(kNotFound,
                      fileName + ": no value for " + key + " in section [" + section + "]");
    return kSuccess;
}

} // namespace

const Command kIniCommand = {"ini",
                             "ini [--dir DIR] [--file FILE] SECTION KEY\n"
                             "                                one value of a settings file",
                             kHelp,
                             {{"dir", 0, true}, {"file", 0, true}},
                             run};

} // namespace pak
