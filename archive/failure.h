// How a command fails: an exit code and one line for standard error, thrown as Failure and
// turned into output in one place (pak_tool.cpp).
#pragma once

#include <string>

namespace pak {

// The exit codes of every command.
enum ExitCode : int {
    kSuccess = 0,
    kNotFound = 1, // a file, entry or value that is not there
    kUsage = 2,    // the command line is wrong
    kCorrupt = 3,  // an archive that is corrupt or cannot be read, or a file that cannot be
                   // read or written
};

class Failure {
  public:
    // message is system text (code page 932): it usually names a file or an entry.
    Failure(int exitCode, std::string message) : exitCode(exitCode), message(std::move(message)) {}

    int exitCode;
    std::string message;
};

} // namespace pak
