// The game directory that cat and ini look names up in, as the game's own open does: the
// current directory, or the one given with --dir, which becomes the current directory.
#pragma once

#include "tools/pak/command_line.h"

#include <cstdint>
#include <string>

class VirtualFile;

namespace pak {

class Console;

// Turns the file prompt off (a name that is nowhere is a failure, never a question) and
// changes to the --dir directory when there is one. Returns how to name the place in
// messages. Throws Failure (kNotFound) when the directory cannot be entered.
std::string enterGameDirectory(const Console& console, const ParsedArguments& arguments);

// Opens name exactly as the game's open(name, 0) does. Throws Failure: kNotFound when the name
// is neither a file nor an entry of the archives of place; kCorrupt when the entry found cannot
// be inflated.
void openInGameDirectory(VirtualFile& file, const std::string& name, const std::string& place);

// Throws Failure (kCorrupt) naming name when the data delivered fewer bytes than declared.
void requireWholeData(const std::string& name, uint64_t delivered, uint64_t declared);

} // namespace pak
