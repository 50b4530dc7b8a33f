// System paths (code page 932, backslashes) and the host's paths (UTF-8, '/') on POSIX, with
// Windows' rule that a file's name matches whatever its case. Internal to the POSIX back end.
#pragma once

#include <string>

namespace platform::posix {

// The system path with '/' for each backslash that separates components (never for a trail
// byte 0x5C): still code page 932.
std::string withSlashes(const char* path);

// The host path for a system path, converted only: for a name that is to be taken exactly as
// it is (a name inside a directory held open, which findPath cannot see). False, with the last
// error set to 123 (ERROR_INVALID_NAME), when the path cannot be converted.
bool hostPath(const char* path, std::string& out);

// The host path for a system path, each component naming the entry that Windows would find
// under that name: the entry of exactly that name if there is one; otherwise one whose name is
// the same under the file-name case rule (cp932::foldFileNameCase), the first by character
// codes when there are several (GAME.INI before Game.ini before game.ini); otherwise the name
// as given, which is what a new file or directory is then created as. The path is taken as it
// is when it exists as given, so directories are consulted only for a name that is not there
// exactly. False as hostPath.
bool findPath(const char* path, std::string& out);

// The system name of a host name (or path: '/' becomes '\'); false when it has no code page 932
// form.
bool systemPath(const char* host, std::string& out);

} // namespace platform::posix
