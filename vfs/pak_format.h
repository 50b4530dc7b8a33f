// The pak archive format: one file holding named entries, each stored plain or as a zlib
// stream, and a directory that lists them. The system reads archives of five versions.
//
// All numbers are unsigned 32-bit little-endian, except `value` of versions 3 and 4, an
// IEEE 754 double in little-endian byte order. There is no magic number: the file starts with
// its version. Names are Shift-JIS bytes with the backslash as separator, not terminated.
//
// Header, from offset 0:
//
//   offset  size  field                 versions
//        0     4  version               all
//        4     4  entryCount            0-4
//        8     4  directorySize         1-4   bytes of the directory once inflated
//       12     4  packedDirectorySize   1-4   bytes of the stored directory stream
//       16     4  value (integer)       2     read, never used
//       16     8  value (double)        3, 4  read, never used
//       20   256  archiveName           2     NUL-terminated, compared with ArchiveKey
//       24   256  archiveName           3, 4
//
//   headerSize: 8 bytes in version 0, 16 in version 1, 276 in version 2, 280 in versions 3
//   and 4 (headerSize() answers 16 for versions 0 and 1 and for unknown versions).
//
// Directory:
//   version 0    entryCount plain records directly after the 8-byte header
//   versions 1-4 one zlib stream of packedDirectorySize bytes directly after the header,
//                inflating to directorySize bytes that hold the entryCount records back to back
//
// Record: a signed 32-bit name length n, n name bytes, then the numbers:
//
//   number   version 0        versions 1-3             version 4
//   1st      data offset (*)  data offset (**)         not used
//   2nd      not used         unpacked size            data offset (**)
//   3rd      size             size                     size (and unpacked size)
//   4th      -                compression flag         not used
//   5th      -                packed size              compression flag
//   6th      -                -                        packed size
//
//   (*)  absolute in the file
//   (**) within the data area, which begins right after the stored directory:
//        data start = offset + packedDirectorySize + headerSize(version), a 32-bit sum
//
// Entries: compression flag 0 means the bytes are stored plain at the data start; any other
// value means a zlib stream of packed-size bytes that inflates to the unpacked size. Version 0
// entries are always plain. The 3rd number is the size a plain entry reports.
//
// Names are matched by prefix: a wanted name matches every record whose name begins with it,
// without regard to the case of ASCII letters and full-width Latin letters (nameMatches).
#pragma once

#include <cstdint>

class String;
class VirtualFile;

class PakHeader {
  public:
    PakHeader() = default;
    virtual ~PakHeader() = default;

    // Reads the header from file's position (0 for an archive just opened). Fields the file
    // does not supply keep their defaults; a version above 4 reads nothing after the version.
    void read(VirtualFile& file);

    uint32_t version = 3;
    uint32_t entryCount = 0;
    uint32_t directorySize = 0;
    uint32_t packedDirectorySize = 0;
    double value = 0.0;
    char archiveName[256] = {};
};

// Bytes before the data area of an archive of this version.
uint32_t headerSize(uint32_t version);

// The wanted name as the lookup compares it: two consecutive backslashes become one, then ".*"
// becomes "." (so "title.*" matches any extension). Done once per lookup.
void normaliseWantedName(String& wanted);

// Whether the record's name begins with the first wantedLength bytes of the (normalised) wanted
// name, comparing ASCII letters and full-width Latin letters without case and every other
// character exactly, double-byte characters as units. A null record name is empty.
bool nameMatches(const char* wanted, uint32_t wantedLength, const char* recordName);
