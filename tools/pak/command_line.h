// The options and operands of a command line, in any order until "--".
#pragma once

#include <string>
#include <vector>

namespace pak {

// One option a command understands.
struct OptionDefinition {
    const char* longName; // without its dashes: "dir" is given as --dir
    char shortName;       // given as -C; 0 when there is no short form
    bool takesValue;      // --dir DIR, --dir=DIR, -C DIR or -CDIR
};

// What a command was given, in the host's text encoding as it came.
class ParsedArguments {
  public:
    // Whether the option was given (at least once).
    bool has(const char* longName) const;
    // The value of the option, the last one given when it was given more than once; null when it
    // was not given.
    const std::string* value(const char* longName) const;

    std::vector<std::string> operands;
    bool helpWanted = false; // --help or -h

    struct Given {
        std::string name;
        std::string value;
    };
    std::vector<Given> given;
};

// Parses arguments[first..]. Options may come before, between and after the operands, as GNU
// getopt's permutation allows: an argument that begins with '-' is an option (or the value of
// the one before it), any other is an operand, kept in its order. "--" ends the options and is
// itself dropped; every argument after it is an operand, so a name that begins with '-' is
// given after it. "-" alone is an operand. Every command also understands --help (-h) and
// --raw. Throws Failure (kUsage) naming command for an unknown option, a missing value, or a
// value given to an option that takes none.
ParsedArguments parseArguments(const std::vector<std::string>& arguments, std::size_t first,
                               const std::vector<OptionDefinition>& options, const char* command);

} // namespace pak
