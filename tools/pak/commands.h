// The commands of pak: each is a name, its options, its help text and what it does. One file
// per command (command_*.cpp); pak_tool.cpp dispatches to them.
#pragma once

#include "tools/pak/command_line.h"

#include <vector>

namespace pak {

class Console;

struct Command {
    const char* name;
    const char* synopsis; // one line of the overview
    const char* help;     // the text of pak NAME --help
    std::vector<OptionDefinition> options;
    // Runs the command with its parsed arguments and returns the exit code; throws Failure.
    int (*run)(Console& console, const ParsedArguments& arguments);
};

extern const Command kInfoCommand;
extern const Command kListCommand;
extern const Command kCatCommand;
extern const Command kIniCommand;
extern const Command kVerifyCommand;
extern const Command kExtractCommand;
extern const Command kCreateCommand;
extern const Command kMountCommand;

// Why this build has no mount command, as a sentence; null when it has one.
const char* mountUnavailable();

// Throws Failure (kUsage) unless the command was given between least and most operands.
void requireOperands(const ParsedArguments& arguments, std::size_t least, std::size_t most,
                     const char* command, const char* what);

// The option -j N, --jobs N of the commands that work on several threads.
extern const OptionDefinition kJobsOption;
// The threads it asks for: N, or one per processor. Throws Failure (kUsage) naming command
// when N is not a number from 1 to 32.
unsigned threadsWanted(const ParsedArguments& arguments, const char* command);

} // namespace pak
