// Reading one entry piece by piece (see entry_stream.h).
#include "archive/entry_stream.h"

#include "archive/failure.h"
#include "platform/platform.h"

#include <algorithm>
#include <new>
#include <string>
#include <zlib.h>

namespace pak {

namespace {

constexpr uint32_t kInputChunk = 64 * 1024;

std::string number(uint64_t n) {
    return std::to_string(n);
}

// zlib's memory, from the platform's heap like the rest of the stream's.
voidpf zlibAllocate(voidpf /*opaque*/, uInt items, uInt size) {
    return platform::heapAllocate(std::size_t{items} * size);
}
void zlibFree(voidpf /*opaque*/, voidpf block) {
    platform::heapFree(block);
}

} // namespace

// One zlib inflate state, ended with its owner. Memory that runs out is std::bad_alloc, never
// a corrupt entry: the entry may well be sound.
struct EntryStream::Inflater : FromPlatformHeap {
    Inflater() {
        stream.zalloc = zlibAllocate;
        stream.zfree = zlibFree;
        if (inflateInit(&stream) != Z_OK) throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&stream); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream stream{};
};

EntryStream::EntryStream(ArchiveFile& archive, const StoredEntry& stored)
    : archive_(archive), stored_(stored) {
    if (!archive_.directory().dataInside(stored_))
        throw Failure(kCorrupt, "its stored data (" + number(stored_.storedSize()) +
                                    " bytes at offset " + number(stored_.dataStart) +
                                    ") runs past the end of the archive (" +
                                    number(archive_.size()) + " bytes)");
    if (stored_.compressed && !PakDirectory::inflatable(stored_))
        throw Failure(kCorrupt, "it declares " + number(stored_.unpackedSize) +
                                    " bytes, more than its " + number(stored_.packedSize) +
                                    " packed bytes can inflate to");
}

EntryStream::~EntryStream() = default;

void EntryStream::fail(const std::string& message) {
    failure_ = message;
    throw Failure(kCorrupt, failure_);
}

std::size_t EntryStream::read(unsigned char* out, std::size_t count) {
    if (!failure_.empty()) throw Failure(kCorrupt, failure_);
    std::size_t left = size() - position_;
    if (count > left) count = left;
    std::size_t delivered = stored_.compressed ? readCompressed(out, count) : readPlain(out, count);
    position_ += static_cast<uint32_t>(delivered);
    if (stored_.compressed && position_ == size()) checkEnd();
    return delivered;
}

std::size_t EntryStream::readPlain(unsigned char* out, std::size_t count) {
    if (count == 0) return 0;
    int64_t at = int64_t{stored_.dataStart} + position_;
    std::ptrdiff_t got = platform::readStreamAt(archive_.file().stream, at, out, count);
    if (got < 0 || static_cast<std::size_t>(got) < count)
        fail("the archive cannot be read at offset " + number(static_cast<uint64_t>(at)));
    return count;
}

bool EntryStream::refill() {
    if (consumed_ >= stored_.packedSize) return false;
    if (input_.empty()) input_.allocate(kInputChunk);
    uint32_t want = std::min(kInputChunk, stored_.packedSize - consumed_);
    int64_t at = int64_t{stored_.dataStart} + consumed_;
    std::ptrdiff_t got = platform::readStreamAt(archive_.file().stream, at, input_.data(), want);
    if (got < 0 || static_cast<uint32_t>(got) < want)
        fail("the archive cannot be read at offset " + number(static_cast<uint64_t>(at)));
    inflater_->stream.next_in = input_.data();
    inflater_->stream.avail_in = want;
    consumed_ += want;
    return true;
}

std::size_t EntryStream::readCompressed(unsigned char* out, std::size_t count) {
    if (count == 0) return 0;
    if (!inflater_) inflater_ = std::make_unique<Inflater>();
    z_stream& z = inflater_->stream;
    z.next_out = out;
    z.avail_out = static_cast<uInt>(count);
    while (z.avail_out > 0) {
        if (ended_)
            fail("it inflates to " + number(position_ + (count - z.avail_out)) +
                 " bytes, not its declared " + number(size()));
        if (z.avail_in == 0 && !refill())
            fail("its " + number(stored_.packedSize) + " packed bytes end before its declared " +
                 number(size()) + " bytes");
        int result = inflate(&z, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            ended_ = true;
        else if (result == Z_MEM_ERROR)
            throw std::bad_alloc();
        else if (result != Z_OK && result != Z_BUF_ERROR)
            fail("its " + number(stored_.packedSize) +
                 " packed bytes do not inflate into its declared " + number(size()) + " bytes");
    }
    return count;
}

void EntryStream::checkEnd() {
    if (ended_) return;
    if (!inflater_) inflater_ = std::make_unique<Inflater>();
    // The declared size is reached: the stream must end here, without a byte more.
    z_stream& z = inflater_->stream;
    unsigned char extra;
    for (;;) {
        z.next_out = &extra;
        z.avail_out = 1;
        if (z.avail_in == 0 && !refill())
            fail("its " + number(stored_.packedSize) + " packed bytes end before the stream does");
        int result = inflate(&z, Z_NO_FLUSH);
        if (result == Z_MEM_ERROR) throw std::bad_alloc();
        if (z.avail_out == 0)
            fail("it inflates to more than its declared " + number(size()) + " bytes");
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && result != Z_BUF_ERROR)
            fail("its " + number(stored_.packedSize) +
                 " packed bytes do not inflate into its declared " + number(size()) + " bytes");
    }
    ended_ = true;
}

void EntryStream::skip(uint32_t count) {
    if (!stored_.compressed) {
        if (!failure_.empty()) throw Failure(kCorrupt, failure_);
        position_ += std::min(count, size() - position_);
        return;
    }
    unsigned char scratch[16 * 1024];
    while (count > 0) {
        std::size_t got = read(scratch, std::min<uint32_t>(count, sizeof scratch));
        if (got == 0) return;
        count -= static_cast<uint32_t>(got);
    }
}

void EntryStream::rewind() {
    position_ = 0;
    consumed_ = 0;
    ended_ = false;
    failure_.clear();
    inflater_.reset();
}

} // namespace pak
