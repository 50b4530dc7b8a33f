// PakDirectory: the records of one pak archive, walked in directory order.
//
// This is the one place where an archive's header and the sizes it declares are checked against
// the file before anything is allocated for them or read: the archive lookup walks archives
// through it, and so does every program that lists, checks or unpacks them. The byte layout is
// described in pak_format.h.
#pragma once

#include "vfs/page_buffer.h"
#include "vfs/pak_format.h"
#include "vfs/virtual_file.h"

#include <cstdint>

class PakEntry;

// How one entry is stored, decoded from its record for the archive's version.
struct StoredEntry {
    uint32_t dataStart = 0;    // where the stored bytes begin, absolute in the archive
    uint32_t size = 0;         // the record's 3rd number: the size a plain entry reports
    bool compressed = false;   // stored as a zlib stream (never in version 0)
    uint32_t packedSize = 0;   // bytes of that stream
    uint32_t unpackedSize = 0; // bytes the stream inflates to

    // The bytes an opened entry holds: what its stream inflates to, or the plain size.
    uint32_t dataSize() const { return compressed ? unpackedSize : size; }
    // The bytes it takes up in the archive.
    uint32_t storedSize() const { return compressed ? packedSize : size; }
};

class PakDirectory {
  public:
    // Reads the header of the archive that archive is open on (disk mode) from its start.
    // The archive must stay open while the directory is walked.
    explicit PakDirectory(VirtualFile& archive);
    PakDirectory(const PakDirectory&) = delete;
    PakDirectory& operator=(const PakDirectory&) = delete;
    ~PakDirectory() = default;

    const PakHeader& header() const { return header_; }
    uint64_t archiveSize() const { return archiveSize_; }
    // Whether the file holds the whole header its version calls for: 8 bytes for version 0,
    // 4 for versions the system does not know (only the version is read then), headerSize()
    // bytes for the others.
    bool headerComplete() const;

    // Makes the records readable. Version 0 records are read from the archive itself. For the
    // other versions the stored directory must fit in the file after the header, and its
    // declared size must be one that so many packed bytes can inflate to; it is then inflated
    // into page memory, committed as the stream fills it. Returns false, with nothing
    // allocated, when those sizes cannot be right.
    // An archive without entries is ready at once and nothing is inflated. Throws
    // ZKErrorException (the decompression message) when the stored directory does not inflate
    // into its declared size, and 0xC0000017 as a bare uint32_t when page memory runs out.
    bool readDirectory();

    // Reads the next record into entry and decodes where its data is into stored. False after
    // entryCount records, before readDirectory has succeeded, and at a broken record.
    bool next(PakEntry& entry, StoredEntry& stored);
    // Whether the walk stopped at a record that is cut short or whose name length cannot be
    // right: neither it nor anything after it is to be trusted.
    bool broken() const { return broken_; }
    // The records next has delivered.
    uint32_t recordsRead() const { return recordsRead_; }

    // Whether the entry's stored bytes lie within the archive.
    bool dataInside(const StoredEntry& stored) const;
    // Whether so many packed bytes can inflate to the declared size at all (deflate packs at
    // most about 1032 to 1), so that a block of that size may be asked for.
    static bool inflatable(const StoredEntry& stored);

  private:
    StoredEntry decode(const PakEntry& entry) const;

    VirtualFile& archive_;
    PakHeader header_;
    uint64_t archiveSize_ = 0;
    PageBuffer pages_;       // the inflated directory (versions 1 and above)
    VirtualFile directory_;  // memory mode over pages_
    int64_t nextRecord_ = 0; // archive position of the next version 0 record
    uint32_t recordsRead_ = 0;
    bool ready_ = false;
    bool broken_ = false;
};
