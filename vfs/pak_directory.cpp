// PakDirectory: the checked walk over an archive's records (see pak_directory.h).
#include "vfs/pak_directory.h"

#include "vfs/pak_entry.h"

namespace {

// The most bytes that packed bytes of zlib data can inflate to (deflate's ratio is at most
// about 1032 to 1).
uint64_t inflateLimit(uint32_t packed) {
    return uint64_t{packed} * 1032u;
}

} // namespace

PakDirectory::PakDirectory(VirtualFile& archive) : archive_(archive) {
    archiveSize_ = archive_.size();
    if (archive_.position != 0) archive_.seek(0, 0);
    header_.read(archive_);
    nextRecord_ = archive_.position;
}

bool PakDirectory::headerComplete() const {
    uint32_t version = header_.version;
    uint32_t needed = version >= 1 && version <= 4 ? headerSize(version) : 8;
    return archiveSize_ >= needed;
}

bool PakDirectory::readDirectory() {
    ready_ = false;
    broken_ = false;
    recordsRead_ = 0;
    if (header_.entryCount == 0 || header_.version == 0) {
        ready_ = true; // nothing to inflate: version 0 records are read in place
        return true;
    }

    // Versions 1 and above (unknown ones are read like them): a directory stream that must fit
    // the file and its inflate ratio.
    uint32_t dataArea = headerSize(header_.version);
    uint64_t afterHeader = archiveSize_ > dataArea ? archiveSize_ - dataArea : 0;
    if (header_.packedDirectorySize > afterHeader ||
        header_.directorySize > inflateLimit(header_.packedDirectorySize))
        return false;

    if (archive_.position != dataArea) archive_.seek(dataArea, 0);
    pages_.resize(header_.directorySize);
    archive_.readCompressed(header_.packedDirectorySize, pages_.pages, header_.directorySize);
    if (!directory_.openBuffer(pages_.pages, header_.directorySize)) return false;
    ready_ = true;
    return true;
}

bool PakDirectory::next(PakEntry& entry, StoredEntry& stored) {
    if (!ready_ || broken_ || recordsRead_ >= header_.entryCount) return false;
    int whole;
    if (header_.version == 0) {
        // Whoever reads entry data between two records moves the archive's position.
        if (archive_.position != nextRecord_) archive_.seek(nextRecord_, 0);
        whole = entry.readRecord(archive_, 3);
        nextRecord_ = archive_.position;
    } else {
        whole = header_.version >= 4 ? entry.readWide(directory_) : entry.read(directory_);
    }
    if (!whole) {
        broken_ = true;
        return false;
    }
    ++recordsRead_;
    stored = decode(entry);
    return true;
}

StoredEntry PakDirectory::decode(const PakEntry& entry) const {
    const uint32_t* n = entry.numbers;
    StoredEntry stored;
    stored.size = n[2];
    if (header_.version == 0) {
        stored.dataStart = n[0];
        stored.packedSize = stored.unpackedSize = n[2];
        return stored;
    }
    bool wide = header_.version >= 4;
    uint32_t offset = wide ? n[1] : n[0];
    // A 32-bit sum, like every number of the format: an archive's offsets are 32-bit, so a sum
    // that wraps points at a place dataInside refuses rather than at one beyond 4 GiB.
    stored.dataStart = offset + header_.packedDirectorySize + headerSize(header_.version);
    stored.compressed = (wide ? n[4] : n[3]) != 0;
    stored.unpackedSize = wide ? n[2] : n[1];
    stored.packedSize = wide ? n[5] : n[4];
    return stored;
}

bool PakDirectory::dataInside(const StoredEntry& stored) const {
    return stored.dataStart <= archiveSize_ &&
           stored.storedSize() <= archiveSize_ - stored.dataStart;
}

bool PakDirectory::inflatable(const StoredEntry& stored) {
    return stored.unpackedSize <= inflateLimit(stored.packedSize);
}
