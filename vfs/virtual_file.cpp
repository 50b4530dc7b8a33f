// VirtualFile: the reading modes (memory, region, disk), size, seek and read.
#include "vfs/virtual_file.h"

#include "platform/memory.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>
#include <new>

VirtualFile::VirtualFile() : entry(std::make_unique<PakEntry>()) {}

VirtualFile::~VirtualFile() {
    entry.reset();
    close();
}

void VirtualFile::close() {
    if (stream != nullptr) {
        platform::closeStream(stream);
        stream = nullptr;
        path.clear();
    }
    if (buffer != nullptr && ownsBuffer) platform::heapFree(buffer);
    buffer = nullptr;
    ownsBuffer = 0;
    inMemory = 0;
    inArchive = 0;
    position = 0;
    positionLost = 0;
    readPointer = nullptr;
}

void VirtualFile::openDiskStream(const char* at, const char* mode) {
    stream = platform::openStream(at, mode);
    if (stream == nullptr) return;
    if (!streamBuffer_) streamBuffer_.reset(new (std::nothrow) unsigned char[kStreamBuffer]);
    if (streamBuffer_) platform::setStreamBuffer(stream, streamBuffer_.get(), kStreamBuffer);
}

int VirtualFile::openBuffer(void* block, uint32_t size, uint32_t held) {
    close();
    auto* bytes = static_cast<unsigned char*>(block);
    if (bytes == nullptr) {
        bytes = static_cast<unsigned char*>(platform::heapAllocate(size));
        if (bytes == nullptr) return 0;
        std::memset(bytes, 0, size);
        ownsBuffer = 1;
        held = size;
    }
    baseOffset = 0;
    bufferSize = size;
    bufferHeld = std::min(held, size);
    buffer = readPointer = bytes;
    inMemory = 1;
    return 1;
}

uint64_t VirtualFile::size() {
    if (inMemory) return static_cast<uint64_t>(bufferSize);
    if (inArchive) return entry->numbers[2];
    if (stream == nullptr) return 0;
    // Measuring moves the stream; a position that was already lost stays lost.
    int lost = positionLost;
    int64_t here = platform::streamPosition(stream);
    seek(0, 2);
    int64_t end = platform::streamPosition(stream);
    seek(here, 0);
    positionLost |= lost;
    return end > 0 ? static_cast<uint64_t>(end) : 0;
}

uint64_t VirtualFile::declaredSize() {
    return inArchive ? entryDeclared : size();
}

uint64_t VirtualFile::heldSize() {
    return inMemory ? static_cast<uint64_t>(bufferHeld) : size();
}

int VirtualFile::moveStream(int64_t offset, int origin) {
    positionLost = platform::seekStream(stream, offset, origin) ? 0 : 1;
    return positionLost ? -1 : 0;
}

int VirtualFile::seek(int64_t offset, int origin) {
    if (inMemory || (stream != nullptr && inArchive)) {
        // Memory and region mode share their rules: origin 2 counts back from the end.
        int64_t target;
        switch (origin) {
        case 0:
            target = offset;
            break;
        case 1:
            target = position + offset;
            break;
        case 2:
            target = static_cast<int64_t>(size()) - offset;
            break;
        default:
            return -1;
        }
        if (inMemory) {
            if (target < 0 || target > bufferSize) return -1; // stays where it was
            position = target;
            readPointer = buffer + std::min(position, bufferHeld);
            return 0;
        }
        if (target < 0) return -1; // before the entry: another entry's bytes
        position = target;
        return moveStream(baseOffset + position, 0);
    }
    if (stream == nullptr) return 0;
    int result = moveStream(offset, origin);
    position = platform::streamPosition(stream);
    return result;
}

uint32_t VirtualFile::read(void* destination, uint32_t count) {
    if (inMemory) {
        if (position + count > bufferSize) count = static_cast<uint32_t>(bufferSize - position);
        if (count == 0) return 0;
        // Past the bytes held, the data is zeros that were never stored.
        auto copied = static_cast<uint32_t>(std::clamp<int64_t>(bufferHeld - position, 0, count));
        std::memmove(destination, readPointer, copied);
        std::memset(static_cast<unsigned char*>(destination) + copied, 0, count - copied);
        readPointer += copied;
        position += count;
        return count;
    }
    if (stream == nullptr || positionLost) return 0;
    if (inArchive) { // an entry read in place ends where the entry ends
        int64_t left = static_cast<int64_t>(size()) - position;
        if (left <= 0) return 0;
        if (count > left) count = static_cast<uint32_t>(left);
    }
    std::ptrdiff_t delivered = platform::readStream(stream, destination, count);
    if (delivered < 0) positionLost = 1; // how far the failed read got is unknown
    if (delivered <= 0) return 0;
    position += delivered;
    return static_cast<uint32_t>(delivered);
}

uint64_t VirtualFile::bytesLeft() {
    if (!inMemory && stream == nullptr) return 0;
    int64_t left = static_cast<int64_t>(size()) - position;
    return left > 0 ? static_cast<uint64_t>(left) : 0;
}
