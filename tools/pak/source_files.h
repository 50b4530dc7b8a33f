// The files that create puts into an archive: the PATH operands, followed recursively into
// directories, each with the name it is stored under.
#pragma once

#include "archive/file_handle.h"

#include <string>
#include <vector>

namespace pak {

struct SourceFile {
    std::string name; // stored name: relative to the base, backslash-separated (system text)
    std::string path; // where to read it (system text)
};

// What the operands name.
struct SourceTree {
    std::vector<SourceFile> files;
    // One message for each thing met that is neither a regular file nor a directory (a FIFO, a
    // socket, a device node, also behind a link), in the order met: such a thing is never
    // opened, and an archive without it would be missing a file.
    std::vector<std::string> notFiles;
};

// The files below base (system text; empty for the current directory) that the operands name:
// a file itself, or everything below a directory; "." is the base itself. Operands are system
// text relative to base, with '\' or '/' as separators; "." and empty components are dropped,
// so no name begins with ".\". Directories that are symbolic links are not entered (a link to
// a parent would never end); links to files are read like files. The files are sorted by name
// without regard to case (ties by bytes, so the order is the same on every system), one file
// per name. Throws Failure: kUsage for an operand that is absolute, carries a drive or leaves
// base through "..", kNotFound for one that names nothing, kCorrupt for a directory holding a
// name that has no Shift-JIS form (the archive could not hold it) or that cannot be read to its
// end (its files would be missing).
SourceTree collectSourceFiles(const std::string& base, const std::vector<std::string>& operands);

// Opens a collected file for reading. Throws Failure (kCorrupt) naming it when it cannot be
// read, or is no longer a regular file: one swapped for a FIFO since it was collected is
// refused as notFiles are, never waited on.
FileHandle openSourceFile(const SourceFile& file);

} // namespace pak
