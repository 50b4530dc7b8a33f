// PakDirectory: the checked walk over an archive's records (see pak_directory.h).
#include "vfs/pak_directory.h"

#include "vfs/pak_entry.h"

#include <algorithm>

namespace {

// The directory's reserved pages, committed 4 MiB at a time as its stream fills them: memory
// follows what the stream writes, and the pages are still faulted in in bulk.
class DirectoryPages : public InflateOutput {
  public:
    explicit DirectoryPages(PageBuffer& pages) : pages_(pages) {}
    unsigned char* more(uint32_t produced, uint32_t left, uint32_t& room) override {
        constexpr uint32_t kWindow = 4u << 20;
        pages_.commit(pages_.committed + std::min(left, kWindow));
        room = std::min(pages_.committed - produced, left);
        return pages_.pages == nullptr ? nullptr : pages_.pages + produced;
    }

  private:
    PageBuffer& pages_;
};

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
    uint32_t needed = version > 4 ? 4 : version == 0 ? 8 : headerSize(version);
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

    // Versions 1 to 4 (an unknown version has no entries): a directory stream that must fit
    // the file and its inflate ratio.
    uint32_t dataArea = headerSize(header_.version);
    uint64_t afterHeader = archiveSize_ > dataArea ? archiveSize_ - dataArea : 0;
    if (header_.packedDirectorySize > afterHeader ||
        header_.directorySize > inflateLimit(header_.packedDirectorySize))
        return false;

    if (archive_.position != dataArea) archive_.seek(dataArea, 0);
    // Only room is taken for the declared size; memory is committed as the stream fills it, so
    // a directory that declares far more than it holds never has that much asked of the
    // system. Past what was committed, it reads as zeros.
    pages_.reserve(header_.directorySize);
    DirectoryPages pages(pages_);
    archive_.readCompressed(header_.packedDirectorySize, pages, header_.directorySize);
    if (!directory_.openBuffer(pages_.pages, header_.directorySize, pages_.committed)) return false;
    ready_ = true;
    return true;
}

bool PakDirectory::next(PakEntry& entry, StoredEntry& stored) {
    if (!ready_ || broken_ || recordsRead_ >= header_.entryCount) return false;
    int whole;
    if (header_.version == 0) {
        // Whoever reads entry data between two records moves the archive's position.
        if (archive_.position != nextRecord_) archive_.seek(nextRecord_, 0);
        // The archive's size is known from the start: measuring it again for every record
        // would cost two seeks each.
        uint64_t left =
            archiveSize_ > static_cast<uint64_t>(nextRecord_) ? archiveSize_ - nextRecord_ : 0;
        whole = entry.readRecord(archive_, 3, left);
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
