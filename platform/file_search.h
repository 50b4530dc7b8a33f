// The entries of one directory whose names match a wildcard pattern (see errors.h for the
// conventions).
#pragma once

#include <memory>

namespace platform {

// One entry found by a FileSearch.
struct FoundFile {
    char name[260];   // file name without its directory, NUL-terminated
    bool isDirectory; // the entry is a directory
};

// Enumerates the entries of one directory whose names match a wildcard pattern such as
// "data\*.pak": '*' matches any run of characters, '?' one character, and names compare by
// Windows' file-name rule (cp932::foldFileNameCase: letters without regard to case, Greek,
// Cyrillic and Roman numerals included); a final ".*" also matches a name without extension.
// Only the last path component may hold wildcards; without a backslash the pattern applies to
// the current directory. The entries "." and ".." are never reported.
//
// Order: on POSIX the order in which NTFS lists a directory (cp932::compareFileNames: by the
// UTF-16 units of the names' capitals), which is the order Windows returns on NTFS, the file
// system the game runs on; on Windows whatever the file system returns (NTFS: that order; FAT:
// the order of the directory's records). Not imitated on POSIX: Windows also matches the
// generated 8.3 short names (so "*.pak" can find "data.pak~"), and lets a '?' before a dot or
// at the end match nothing; a pattern ending in '.' matches only names ending in '.' here.
//
// The directory is first asked at the first call of next. An enumeration that cannot be
// completed says so: next returns false both at the end and on failure, and failed tells them
// apart, so a directory that cannot be read never passes for an empty one.
class FileSearch {
  public:
    explicit FileSearch(const char* pattern);
    ~FileSearch();
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    // Fills out with the next match and returns true, or returns false when there is none left
    // or the directory cannot be read further.
    bool next(FoundFile& out);
    // Whether next stopped because the directory could not be read (it does not exist, access
    // is denied, or reading it failed) rather than at its end; lastError tells why. A pattern
    // that matches nothing in a directory that can be read is no failure.
    bool failed() const;
    // How many entries next has passed over so far because their names have no code page 932
    // form or do not fit FoundFile (POSIX; Windows reports such names with '?' in place of the
    // characters it cannot write, so there it is always 0).
    unsigned skipped() const;

    // The back end's own state of one enumeration.
    struct State;

  private:
    std::unique_ptr<State> state_;
    bool failed_ = false;
};

} // namespace platform
