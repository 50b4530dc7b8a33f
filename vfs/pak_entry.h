// PakEntry: one directory record of a pak archive in memory, a name and six numbers. Every
// VirtualFile owns one; the archive lookup reads record after record into it, so after a hit
// it describes the entry that was found. What each number means depends on the archive's
// version (pak_format.h); the 3rd is the entry's size in every version.
#pragma once

#include "text/byte_string.h"

#include <cstdint>

class VirtualFile;

class PakEntry {
  public:
    PakEntry() = default;
    PakEntry(const PakEntry&) = delete;
    PakEntry& operator=(const PakEntry&) = delete;
    virtual ~PakEntry() = default;

    // Reads one record from file's position: the length-prefixed name, then numberCount
    // numbers (3 in version 0 archives, 5 in versions 1 to 3, 6 in version 4) into numbers[0..].
    // Numbers a record does not carry keep their values. Returns 1 when the record was read
    // whole, 0 when the file ends inside it or its name length cannot be right (negative, or
    // longer than what is left of the file): the record is then not to be trusted, nor
    // anything after it.
    int readRecord(VirtualFile& file, int numberCount);
    // The same, for a caller that knows how many bytes the file holds from its position on.
    int readRecord(VirtualFile& file, int numberCount, uint64_t bytesLeft);
    // The records of versions 1 to 3 (five numbers) and of version 4 and above (six).
    int read(VirtualFile& file) { return readRecord(file, 5); }
    int readWide(VirtualFile& file) { return readRecord(file, 6); }

    String name;              // as stored: Shift-JIS, backslash as separator
    uint32_t numbers[6] = {}; // in the order they follow the name on disk
};
