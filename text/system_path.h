// Putting system paths (code page 932, backslash separators) together and apart. A path may
// end in a double-byte character whose trail byte is 0x5C (表, ソ), so its last byte says
// nothing about a trailing separator: these functions look at whole characters.
#pragma once

#include <string>

// Whether the path's last character is a backslash.
bool endsWithSeparator(const std::string& path);

// directory and name with one backslash between them; either alone when the other is empty.
std::string joinPath(const std::string& directory, const std::string& name);

// The directory part of a path (before its last backslash), or an empty text for a bare name
// in the current directory. "\x" gives "\", "C:\x" gives "C:\" and "C:x" gives "C:".
std::string directoryOf(const std::string& path);

// The last component of a path: what follows directoryOf(path) and its separator ("x" for
// "C:\x", "C:x" and "x"), empty when the path ends in a separator.
std::string fileNameOf(const std::string& path);

// The path made absolute against the current directory: a path that begins with a backslash
// or carries a drive is returned as it is; "." and leading ".\" components are dropped. Empty
// when the current directory cannot be had.
std::string absolutePath(const std::string& path);
