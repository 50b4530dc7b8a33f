// The files that create puts into an archive: the PATH operands, followed recursively into
// directories, each with the name it is stored under.
#pragma once

#include <string>
#include <vector>

namespace pak {

struct SourceFile {
    std::string name; // stored name: relative to the base, backslash-separated (system text)
    std::string path; // where to read it (system text)
};

// The files below base (system text; empty for the current directory) that the operands name:
// a file itself, or everything below a directory; "." is the base itself. Operands are system
// text relative to base, with '\' or '/' as separators; "." and empty components are dropped,
// so no name begins with ".\". Directories that are symbolic links are not entered (a link to
// a parent would never end); links to files are read like files. The result is sorted by name
// without regard to case (ties by bytes, so the order is the same on every system), one file
// per name. Throws Failure: kUsage for an operand that is absolute, carries a drive or leaves
// base through "..", kNotFound for one that names nothing, kCorrupt for a directory holding a
// name that has no Shift-JIS form (the archive could not hold it) or that cannot be read to its
// end (its files would be missing).
std::vector<SourceFile> collectSourceFiles(const std::string& base,
                                           const std::vector<std::string>& operands);

// The order of stored names used by collectSourceFiles.
bool storedNameBefore(const std::string& a, const std::string& b);

} // namespace pak
