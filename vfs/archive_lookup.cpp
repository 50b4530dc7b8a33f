// VirtualFile::findInArchives: a name that is not on disk is looked up in the pak archives.
//
// The archives are found once (PakList); their headers and directories are read again on every
// lookup, and nothing else is cached. A directory lives in page memory only while its archive is
// scanned. A plain entry is read in place from the archive; a compressed one is inflated whole
// into a block of exactly its size at open time.
//
// Every size an archive declares is checked against what the file can hold before it is used
// to allocate or to read, so a corrupt archive is a miss (or, where its data cannot be
// inflated, the decompression error), never a wild allocation.
#include "vfs/archive_lookup.h"

#include "launcher/error_exceptions.h"
#include "platform/platform.h"
#include "vfs/file_open.h"
#include "vfs/messages.h"
#include "vfs/page_buffer.h"
#include "vfs/pak_format.h"
#include "vfs/virtual_file.h"

#include <algorithm>
#include <cstring>

std::vector<String> PakList;
String ArchiveKey;

namespace {

// The most bytes that packed bytes of zlib data can inflate to (deflate's ratio is at most
// about 1032 to 1).
uint64_t inflateLimit(uint32_t packed) {
    return uint64_t{packed} * 1032u;
}

// The archive's own name, which need not be terminated within its 256 bytes.
bool archiveNameIs(const PakHeader& header, const String& key) {
    char name[sizeof header.archiveName + 1];
    std::memcpy(name, header.archiveName, sizeof header.archiveName);
    name[sizeof header.archiveName] = '\0';
    return platform::compareNoCase(key.data, name) == 0;
}

} // namespace

void buildPakList(const char* directory) {
    PakList.clear();
    String pattern;
    pattern.format("%s\\*.pak", directory);
    if (pattern.data == nullptr) return;
    platform::FileSearch archives(pattern.data);
    platform::FoundFile found;
    while (archives.next(found)) {
        if (found.isDirectory) continue;
        String archivePath;
        archivePath.format("%s\\%s", directory, found.name);
        if (archivePath.data != nullptr) PakList.push_back(std::move(archivePath));
    }
    std::stable_sort(PakList.begin(), PakList.end(), [](const String& a, const String& b) {
        return platform::compareNoCase(a.data, b.data) < 0;
    });
}

int VirtualFile::findInArchives(const char* directory, const char* wantedName) {
    if (directory == nullptr || wantedName == nullptr) return 0;
    String wanted(wantedName);
    normaliseWantedName(wanted);

    // One trailing backslash is dropped: dir\ is searched as dir.
    String folder(directory);
    folder.cursorToEnd();
    folder.prevChar();
    if (folder.currentChar() == '\\') folder.erase(0, -1);
    if (!pathExists(folder.data)) return 0;

    if (PakList.empty()) {
        buildPakList(folder.data);
        if (PakList.empty()) return 0;
    }
    for (std::size_t i = 0; i < PakList.size(); ++i) {
        const char* archive = PakList[i].data;
        // An archive that has vanished since the list was made is passed over.
        if (platform::fileAttributes(archive) == platform::kInvalidAttributes) continue;
        // The archive itself is opened from disk only: a further archive lookup for its path
        // would find the same list again.
        openFile(archive, 0, false);
        // One that cannot be opened (and whose prompt the user ignored) is passed over too.
        if (stream != nullptr && scanArchive(wanted.data != nullptr ? wanted.data : "")) return 1;
        close();
    }
    return 0;
}

int VirtualFile::scanArchive(const char* wanted) {
    auto wantedLength = static_cast<uint32_t>(std::strlen(wanted));
    uint64_t archiveSize = size();
    PakHeader header;
    header.read(*this);
    if (!ArchiveKey.isEmpty() && !archiveNameIs(header, ArchiveKey)) return 0;
    if (header.entryCount == 0) return 0; // nothing to find (and nothing to inflate)

    if (header.version == 0) {
        for (uint32_t i = 0; i < header.entryCount; ++i) {
            if (!entry->readRecord(*this, 3)) return 0; // corrupt from here on
            if (!nameMatches(wanted, wantedLength, entry->name.data)) continue;
            name.assign(entry->name);
            seek(entry->numbers[0], 0);
            baseOffset = entry->numbers[0];
            inArchive = 1;
            return 1;
        }
        return 0;
    }

    // Versions 1 and above: a directory stream that must fit the file and its inflate ratio.
    uint32_t dataArea = headerSize(header.version);
    uint64_t afterHeader = archiveSize > dataArea ? archiveSize - dataArea : 0;
    if (header.packedDirectorySize > afterHeader ||
        header.directorySize > inflateLimit(header.packedDirectorySize))
        return 0;

    PageBuffer directoryPages;
    directoryPages.resize(header.directorySize);
    readCompressed(header.packedDirectorySize, directoryPages.pages, header.directorySize);
    VirtualFile directory;
    if (!directory.openBuffer(directoryPages.pages, header.directorySize)) return 0;

    bool wide = header.version >= 4;
    for (uint32_t i = 0; i < header.entryCount; ++i) {
        int whole = wide ? entry->readWide(directory) : entry->read(directory);
        if (!whole) return 0; // corrupt from here on
        if (!nameMatches(wanted, wantedLength, entry->name.data)) continue;

        const uint32_t* n = entry->numbers;
        uint32_t offset = wide ? n[1] : n[0];
        uint32_t dataStart = offset + header.packedDirectorySize + dataArea;
        seek(dataStart, 0);
        name.assign(entry->name);
        uint32_t compressed = wide ? n[4] : n[3];
        if (compressed == 0) {
            baseOffset = dataStart;
        } else {
            uint32_t unpacked = wide ? n[2] : n[1];
            uint32_t packed = wide ? n[5] : n[4];
            // Sizes the archive cannot back are a failed decompression, found before any
            // allocation is made for them.
            if (dataStart > archiveSize || packed > archiveSize - dataStart ||
                unpacked > inflateLimit(packed))
                throw ZKErrorException(messages::kInflateFailed);
            auto* block = static_cast<unsigned char*>(platform::heapAllocate(unpacked));
            if (block == nullptr) throw ZKErrorException(messages::kInflateFailed);
            buffer = block;
            ownsBuffer = 1; // freed by close, also when inflating fails
            uint32_t produced = readCompressed(packed, block, unpacked);
            // A stream that ends early leaves the rest of the block zero, never stale memory.
            std::memset(block + produced, 0, unpacked - produced);
            readPointer = block;
            bufferSize = unpacked;
            baseOffset = 0;
            inMemory = 1;
        }
        inArchive = 1;
        return 1;
    }
    return 0;
}
