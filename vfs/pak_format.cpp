// Decoding the pak format: headers, directory records, stored names and name matching.
// The byte layout of every version is described in pak_format.h.
#include "vfs/pak_format.h"

#include "base/cp932.h"
#include "text/byte_string.h"
#include "vfs/virtual_file.h"

#include <cstring>

namespace {

uint32_t littleEndian32(const unsigned char* b) {
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// Reads a 4-byte little-endian number into value; false (value untouched) when the file ends.
bool readNumber(VirtualFile& file, uint32_t& value) {
    unsigned char bytes[4];
    if (file.read(bytes, 4) != 4) return false;
    value = littleEndian32(bytes);
    return true;
}

} // namespace

void PakHeader::read(VirtualFile& file) {
    readNumber(file, version);
    // A version the system does not know has no more fields: its count stays 0, so the lookup
    // passes over any file that merely ends in ".pak" (a picture, a zip) instead of failing on it.
    if (version > 4) return;
    readNumber(file, entryCount);
    if (version == 0) return;
    readNumber(file, directorySize);
    readNumber(file, packedDirectorySize);
    if (version == 1) return;
    if (version == 2) {
        uint32_t integer = 0;
        if (readNumber(file, integer)) value = integer;
    } else {
        unsigned char bytes[8];
        if (file.read(bytes, 8) == 8) {
            uint64_t bits = littleEndian32(bytes) | (uint64_t{littleEndian32(bytes + 4)} << 32);
            std::memcpy(&value, &bits, sizeof value);
        }
    }
    file.read(archiveName, sizeof archiveName);
}

uint32_t headerSize(uint32_t version) {
    switch (version) {
    case 2:
        return 276;
    case 3:
    case 4:
        return 280;
    default:
        return 16;
    }
}

int String::readFrom(VirtualFile& file) {
    return readFrom(file, file.bytesLeft());
}

int String::readFrom(VirtualFile& file, uint64_t bytesLeft) {
    uint32_t count = 0;
    auto length = readNumber(file, count) ? static_cast<int32_t>(count) : -1;
    // A length the file cannot hold is corrupt: refuse it before asking for storage.
    uint64_t afterLength = bytesLeft > 4 ? bytesLeft - 4 : 0;
    if (length <= 0 || static_cast<uint64_t>(length) > afterLength) {
        clear();
        return length == 0 ? 1 : 0;
    }
    // A directory scan reads every name into the same String: keep the block when it is large
    // enough instead of asking the heap for a new one per record.
    if (data == nullptr || capacity < length) {
        clear();
        reserve(length);
        if (data == nullptr) return 0;
    }
    uint32_t delivered = file.read(data, static_cast<uint32_t>(length));
    data[delivered] = '\0'; // a short read ends the text after what was delivered
    cursor = data;
    this->length = byteLength();
    return delivered == static_cast<uint32_t>(length);
}

int PakEntry::readRecord(VirtualFile& file, int numberCount) {
    return readRecord(file, numberCount, file.bytesLeft());
}

int PakEntry::readRecord(VirtualFile& file, int numberCount, uint64_t bytesLeft) {
    if (!name.readFrom(file, bytesLeft)) return 0;
    unsigned char bytes[6 * 4];
    auto wanted = static_cast<uint32_t>(4 * numberCount);
    if (file.read(bytes, wanted) != wanted) return 0;
    for (int i = 0; i < numberCount; ++i)
        numbers[i] = littleEndian32(bytes + 4 * i);
    return 1;
}

void normaliseWantedName(String& wanted) {
    wanted.replaceAll("\\\\", "\\");
    wanted.replaceAll(".*", ".");
}

bool nameMatches(const char* wanted, uint32_t wantedLength, const char* recordName) {
    if (recordName == nullptr) recordName = "";
    uint32_t consumed = 0;
    while (consumed < wantedLength) {
        auto w = static_cast<unsigned char>(*wanted);
        auto r = static_cast<unsigned char>(*recordName);
        if (w < 0x80 && r < 0x80) { // two ASCII bytes, by far the most common case
            if (cp932::foldCase(w) != cp932::foldCase(r)) return false;
            ++wanted;
            ++recordName;
            ++consumed;
            continue;
        }
        if (cp932::foldCase(cp932::characterCode(wanted)) !=
            cp932::foldCase(cp932::characterCode(recordName)))
            return false;
        int width = cp932::characterLength(wanted);
        consumed += static_cast<uint32_t>(width);
        wanted += width;
        recordName += cp932::characterLength(recordName);
    }
    return true;
}
