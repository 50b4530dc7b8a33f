// VirtualFile::findInArchives: a name that is not on disk is looked up in the pak archives.
//
// The archives are found once (PakList); their headers and directories are read again on every
// lookup, and nothing else is cached. A directory lives in page memory only while its archive is
// scanned. A plain entry is read in place from the archive; a compressed one is inflated whole
// into a block of exactly its size at open time.
//
// Every size an archive declares is checked against what the file can hold before it is used
// to allocate or to read (by PakDirectory, which every walk over an archive goes through), so a
// corrupt archive is a miss (or, where its data cannot be inflated, the decompression error),
// never a wild allocation.
#include "vfs/archive_lookup.h"

#include "platform/platform.h"
#include "text/error_exceptions.h"
#include "vfs/file_open.h"
#include "vfs/messages.h"
#include "vfs/pak_directory.h"
#include "vfs/pak_format.h"
#include "vfs/virtual_file.h"

#include <algorithm>
#include <cstring>

std::vector<String> PakList;
String ArchiveKey;

namespace {

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
    // The game's order (lstrcmpiA), made total: names it finds equal differ in case only, which
    // a POSIX directory can hold, and must still come out in one order every time.
    std::sort(PakList.begin(), PakList.end(), [](const String& a, const String& b) {
        return platform::sortOrder(a.data, b.data) < 0;
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
    PakDirectory directory(*this);
    if (!ArchiveKey.isEmpty() && !archiveNameIs(directory.header(), ArchiveKey)) return 0;
    if (!directory.readDirectory()) return 0;

    StoredEntry stored;
    while (directory.next(*entry, stored)) {
        if (!nameMatches(wanted, wantedLength, entry->name.data)) continue;
        seek(stored.dataStart, 0);
        name.assign(entry->name);
        if (!stored.compressed) {
            baseOffset = stored.dataStart;
        } else {
            // Sizes the archive cannot back are a failed decompression, found before any
            // allocation is made for them.
            if (!directory.dataInside(stored) || !PakDirectory::inflatable(stored))
                throw ZKErrorException(messages::kInflateFailed);
            uint32_t unpacked = stored.unpackedSize;
            auto* block = static_cast<unsigned char*>(platform::heapAllocate(unpacked));
            if (block == nullptr) throw ZKErrorException(messages::kInflateFailed);
            buffer = block;
            ownsBuffer = 1; // freed by close, also when inflating fails
            uint32_t produced = readCompressed(stored.packedSize, block, unpacked);
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
