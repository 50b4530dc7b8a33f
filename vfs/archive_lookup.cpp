// The pak archives of a directory (PakList) and VirtualFile::scanArchive, the lookup of a name
// in one archive. Which directories are searched, and when, is file_open.cpp's to decide.
//
// The archives are found once (PakList); their headers and directories are read again on every
// lookup, and nothing else is cached. A directory lives in page memory only while its archive is
// scanned. A plain entry is read in place from the archive, never beyond its end; a compressed
// one is inflated whole at open time into a block that grows with its stream up to its declared
// size.
//
// Every size an archive declares is checked against what the file can hold before it is used
// to allocate or to read (by PakDirectory, which every walk over an archive goes through), so a
// corrupt archive is a miss (or, where its data cannot be inflated, the decompression error),
// never a wild allocation.
#include "vfs/archive_lookup.h"

#include "platform/file_search.h"
#include "platform/memory.h"
#include "platform/sort_order.h"
#include "text/error_exceptions.h"
#include "vfs/messages.h"
#include "vfs/pak_directory.h"
#include "vfs/pak_format.h"
#include "vfs/virtual_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

std::vector<String> PakList;
String ArchiveKey;

namespace {

// The operating system's status for exhausted memory, thrown as a bare value like PageBuffer's.
constexpr uint32_t kOutOfMemory = 0xC0000017u;

// The next size of a compressed entry's block: the declared size when it is small, otherwise a
// first block of 16 MiB that doubles, never beyond the declared size. Sound entries of up to
// 16 MiB are thus inflated in one block, exactly as large as they declare.
uint32_t nextBlockSize(uint32_t current, uint32_t declared) {
    constexpr uint32_t kFirstBlock = 16u << 20;
    uint64_t next = current == 0 ? kFirstBlock : uint64_t{current} * 2;
    return next < declared ? static_cast<uint32_t>(next) : declared;
}

// A compressed entry's block on the heap, grown as its stream fills it up to the declared size,
// so that an entry declaring far more than its stream holds never has that much asked for.
// The file takes the block over once the entry has inflated; until then it is freed here.
class EntryBlock : public InflateOutput {
  public:
    explicit EntryBlock(uint32_t declared) : declared_(declared) {}
    ~EntryBlock() override { platform::heapFree(block_); }
    EntryBlock(const EntryBlock&) = delete;
    EntryBlock& operator=(const EntryBlock&) = delete;

    unsigned char* more(uint32_t produced, uint32_t left, uint32_t& room) override {
        uint32_t size = nextBlockSize(capacity_, declared_);
        if (block_ == nullptr || size > capacity_) {
            auto* larger = static_cast<unsigned char*>(platform::heapAllocate(size));
            if (larger == nullptr) throw ZKErrorException(messages::kInflateFailed);
            if (block_ != nullptr) std::memcpy(larger, block_, produced);
            platform::heapFree(block_);
            block_ = larger;
            capacity_ = size;
        }
        room = std::min(capacity_ - produced, left);
        return block_ + produced;
    }
    unsigned char* release() { return std::exchange(block_, nullptr); }

  private:
    uint32_t declared_;
    unsigned char* block_ = nullptr;
    uint32_t capacity_ = 0;
};

// The archive's own name, which need not be terminated within its 256 bytes.
bool archiveNameIs(const PakHeader& header, const String& key) {
    char name[sizeof header.archiveName + 1];
    std::memcpy(name, header.archiveName, sizeof header.archiveName);
    name[sizeof header.archiveName] = '\0';
    return platform::compareNoCase(key.data, name) == 0;
}

} // namespace

void buildPakList(const char* directory) {
    // The list is made aside and put in place whole and sorted: it is made once per process, so
    // a list left half made by a failure would decide every later lookup. An archive path that
    // finds no storage fails the list rather than leaving that archive out.
    PakList.clear();
    String pattern;
    pattern.format("%s\\*.pak", directory);
    if (pattern.data == nullptr) throw kOutOfMemory;
    std::vector<String> archives;
    platform::FileSearch search(pattern.data);
    platform::FoundFile found;
    while (search.next(found)) {
        if (found.isDirectory) continue;
        String archivePath;
        archivePath.format("%s\\%s", directory, found.name);
        if (archivePath.data == nullptr) throw kOutOfMemory;
        archives.push_back(std::move(archivePath));
    }
    // The game's order (lstrcmpiA), made total: names it finds equal differ in case only, which
    // a POSIX directory can hold, and must still come out in one order every time.
    std::sort(archives.begin(), archives.end(), [](const String& a, const String& b) {
        return platform::sortOrder(a.data, b.data) < 0;
    });
    PakList.swap(archives);
}

int VirtualFile::scanArchive(const char* wanted) {
    auto wantedLength = static_cast<uint32_t>(std::strlen(wanted));
    PakDirectory directory(*this);
    if (!ArchiveKey.isEmpty() && !archiveNameIs(directory.header(), ArchiveKey)) return 0;
    if (!directory.readDirectory()) return 0;

    StoredEntry stored;
    while (directory.next(*entry, stored)) {
        if (!nameMatches(wanted, wantedLength, entry->name.data)) continue;
        name.assign(entry->name);
        entryDeclared = stored.dataSize(); // what the record says, whatever the data delivers
        if (!stored.compressed) {
            // Read in place, never past the archive's end: a size the archive cannot back is cut
            // to what it holds after the data start (nothing for data beyond its end). The file
            // is still in disk mode, so this positions the archive itself; should that fail,
            // the entry reads nothing rather than whatever the archive is positioned at.
            uint64_t archiveSize = directory.archiveSize();
            uint64_t held = stored.dataStart < archiveSize ? archiveSize - stored.dataStart : 0;
            if (stored.size > held) entry->numbers[2] = static_cast<uint32_t>(held);
            seek(stored.dataStart, 0);
            baseOffset = stored.dataStart;
        } else {
            // Sizes the archive cannot back are a failed decompression, found before any
            // allocation is made for them.
            if (!directory.dataInside(stored) || !PakDirectory::inflatable(stored) ||
                seek(stored.dataStart, 0) != 0)
                throw ZKErrorException(messages::kInflateFailed);
            EntryBlock block(stored.unpackedSize);
            uint32_t produced = readCompressed(stored.packedSize, block, stored.unpackedSize);
            // A stream that ends early reads as zeros after what it produced, never as stale
            // memory, and without room being taken for them.
            buffer = readPointer = block.release();
            ownsBuffer = 1;
            bufferSize = stored.unpackedSize;
            bufferHeld = produced;
            baseOffset = 0;
            inMemory = 1;
        }
        inArchive = 1;
        return 1;
    }
    return 0;
}
