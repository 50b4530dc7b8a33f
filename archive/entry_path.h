// Archive entry names as paths: where below the output directory an entry may be written, judged
// from its name alone, and the order entries are stored in.
//
// Entry names come from the archive, which may be hostile, so a name is taken apart into
// components and refused when it could reach outside the output directory: an absolute name
// (\x, also \\server\share and \\?\...), one with a drive or a colon anywhere (C:\x, C:x; on
// Windows a colon also names a file's alternate stream), and one with a ".." component or any
// component made only of dots and spaces (Windows trims trailing dots and spaces, so "... "
// could end up meaning ".."). Both '\' and '/' separate components: the platform layer would
// take either as a separator on some system. Empty and "." components are dropped.
#pragma once

#include <string>
#include <vector>

namespace pak {

struct EntryPath {
    std::vector<std::string> components; // in order; none empty, "." or ".."
    std::string refusal;                 // why the name is refused; empty when it is safe
};

// Takes the system-text entry name apart (double-byte characters stay whole, so the trail
// byte 0x5C of 表 or ソ is never a separator).
EntryPath entryPath(const std::string& name);

// The order in which create stores entries, and the mount lists them: by name without regard
// to case (cp932::compareNoCase), names that differ in case only by their bytes, so that the
// order is the same on every system.
bool storedNameBefore(const std::string& a, const std::string& b);

} // namespace pak
