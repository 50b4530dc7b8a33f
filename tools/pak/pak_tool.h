// The pak program: global options, the choice of command, and the one place where failures
// become a message on standard error and an exit code.
#pragma once

#include <string>
#include <vector>

namespace pak {

// Runs pak with arguments (host text, after the program's name) and returns the exit code.
// Never throws.
int runPak(const std::vector<std::string>& arguments);

// Runs pak with the process's own command line (see platform::commandLineArguments).
int runPakCommandLine(int argc, char** argv);

} // namespace pak
