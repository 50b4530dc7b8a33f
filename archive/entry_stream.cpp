// Reading one entry as a stream (see entry_stream.h).
#include "archive/entry_stream.h"

#include "archive/failure.h"
#include "archive/seek_points.h"
#include "platform/memory.h"
#include "platform/streams.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace pak {

namespace {

std::string number(uint64_t n) {
    return std::to_string(n);
}

// What can be wrong with an entry's data: every verdict of the tools on it, written here once.
// The messages follow the entry's name where they are shown.
Failure storedPastEnd(const StoredEntry& stored, uint64_t archiveSize) {
    return Failure(kCorrupt, "its stored data (" + number(stored.storedSize()) +
                                 " bytes at offset " + number(stored.dataStart) +
                                 ") runs past the end of the archive (" + number(archiveSize) +
                                 " bytes)");
}
Failure declaresTooMuch(const StoredEntry& stored) {
    return Failure(kCorrupt, "it declares " + number(stored.unpackedSize) +
                                 " bytes, more than its " + number(stored.packedSize) +
                                 " packed bytes can inflate to");
}
Failure unreadableAt(uint64_t offset) {
    return Failure(kCorrupt, "the archive cannot be read at offset " + number(offset));
}
Failure doesNotInflate(const StoredEntry& stored) {
    return Failure(kCorrupt, "its " + number(stored.packedSize) +
                                 " packed bytes do not inflate into its declared " +
                                 number(stored.unpackedSize) + " bytes");
}
Failure inflatesToFewer(uint64_t produced, const StoredEntry& stored) {
    return Failure(kCorrupt, "it inflates to " + number(produced) + " bytes, not its declared " +
                                 number(stored.unpackedSize));
}
Failure packedEndBeforeDeclared(const StoredEntry& stored) {
    return Failure(kCorrupt, "its " + number(stored.packedSize) +
                                 " packed bytes end before its declared " +
                                 number(stored.unpackedSize) + " bytes");
}
Failure packedEndBeforeStream(const StoredEntry& stored) {
    return Failure(kCorrupt,
                   "its " + number(stored.packedSize) + " packed bytes end before the stream does");
}
Failure inflatesToMore(const StoredEntry& stored) {
    return Failure(kCorrupt, "it inflates to more than its declared " +
                                 number(stored.unpackedSize) + " bytes");
}

// zlib's memory, from the platform's heap like the rest of the stream's.
voidpf zlibAllocate(voidpf /*opaque*/, uInt items, uInt size) {
    return platform::heapAllocate(std::size_t{items} * size);
}
void zlibFree(voidpf /*opaque*/, voidpf block) {
    platform::heapFree(block);
}

} // namespace

// zlib's inflate state over one entry's packed bytes, which it reads from the archive a block at
// a time: everything that drives zlib is here. Memory that runs out is std::bad_alloc, never a
// corrupt entry: the entry may well be sound.
//
// With seek points it records one at the first block boundary after each point wanted (zlib
// then stops at every block boundary, which costs little, and only past the last point
// recorded), and it can begin at a point instead of the first packed byte: zlib then reads raw
// deflate blocks, primed with the bits of the byte the block begins in and the window before
// it. The stream's check value (the zlib stream's last four bytes) is checked only by a stream
// that began at the first byte.
class EntryStream::Inflation : public FromPlatformHeap {
  public:
    Inflation(const ArchiveFile& archive, const StoredEntry& stored, SeekPoints* points)
        : archive_(archive), stored_(stored), points_(points) {
        stream_.zalloc = zlibAllocate;
        stream_.zfree = zlibFree;
        if (inflateInit(&stream_) != Z_OK) throw std::bad_alloc();
        if (points_) nextWanted_ = points_->nextWanted();
    }
    ~Inflation() { inflateEnd(&stream_); }
    Inflation(const Inflation&) = delete;
    Inflation& operator=(const Inflation&) = delete;

    // Back to the first packed byte, keeping the memory.
    void restart() {
        inflateReset2(&stream_, MAX_WBITS);
        startFrom(0, 0);
    }

    // On from point, as if the data before it had been inflated.
    void restartAt(const SeekPoints::Point& point) {
        inflateReset2(&stream_, -MAX_WBITS);
        startFrom(point.dataOffset, point.packedByte);
        int result = Z_OK;
        if (point.bits > 0)
            result = inflatePrime(&stream_, point.bits, point.partialByte >> (8 - point.bits));
        if (result == Z_OK)
            result = inflateSetDictionary(&stream_, point.window.data(), point.windowSize);
        if (result == Z_MEM_ERROR) throw std::bad_alloc();
        if (result != Z_OK) throw doesNotInflate(stored_);
    }

    // Inflates exactly count bytes, those after the ones inflated so far, into out.
    void produce(unsigned char* out, std::size_t count) {
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(count);
        while (stream_.avail_out > 0) {
            if (ended_) throw inflatesToFewer(produced(), stored_);
            bool record = points_ != nullptr && produced() >= nextWanted_;
            step(false, record ? Z_BLOCK : Z_NO_FLUSH);
            if (record && (stream_.data_type & 128) != 0 && (stream_.data_type & 64) == 0)
                recordPoint();
        }
    }

    // The declared size is reached: the stream must end there, without a byte more.
    void checkEnd() {
        unsigned char extra;
        while (!ended_) {
            stream_.next_out = &extra;
            stream_.avail_out = 1;
            step(true, Z_NO_FLUSH);
            if (stream_.avail_out == 0) throw inflatesToMore(stored_);
        }
    }

  private:
    void startFrom(uint32_t dataOffset, uint32_t packedByte) {
        stream_.next_in = nullptr; // the block held belongs to another place
        stream_.avail_in = 0;
        consumed_ = packedByte;
        base_ = dataOffset;
        ended_ = false;
        if (points_) nextWanted_ = points_->nextWanted();
    }

    // The data inflated so far, counted from the start of the entry.
    uint64_t produced() const { return base_ + stream_.total_out; }

    // One call of inflate, with the next block of packed bytes when zlib has used up the last.
    void step(bool atDeclaredEnd, int flush) {
        if (stream_.avail_in == 0 && !refill())
            throw atDeclaredEnd ? packedEndBeforeStream(stored_) : packedEndBeforeDeclared(stored_);
        int result = inflate(&stream_, flush);
        if (result == Z_STREAM_END)
            ended_ = true;
        else if (result == Z_MEM_ERROR)
            throw std::bad_alloc();
        else if (result != Z_OK && result != Z_BUF_ERROR) // Z_BUF_ERROR: it wants more input
            throw doesNotInflate(stored_);
    }

    // zlib stands at a block boundary past the point wanted: one more point. One that cannot
    // be given memory is not recorded; reads go on as before.
    void recordPoint() {
        try {
            auto point = std::make_unique<SeekPoints::Point>();
            point->dataOffset = static_cast<uint32_t>(produced());
            point->packedByte = consumed_ - stream_.avail_in;
            point->bits = stream_.data_type & 7;
            if (point->bits > 0)
                point->partialByte =
                    stream_.next_in != input_.data() ? stream_.next_in[-1] : lastOfPrevious_;
            point->window.allocate(SeekPoints::kWindow);
            uInt length = 0;
            if (inflateGetDictionary(&stream_, point->window.data(), &length) != Z_OK) return;
            point->windowSize = length;
            points_->add(std::move(point));
        } catch (const std::bad_alloc&) {
        }
        nextWanted_ = points_->nextWanted();
    }

    // Gives zlib the next block; false when the packed bytes are used up.
    bool refill() {
        uint32_t packed = stored_.packedSize;
        if (consumed_ >= packed) return false;
        if (input_.empty()) {
            inputSize_ = std::min(kArchiveBlock, packed);
            input_.allocate(inputSize_);
        } else if (stream_.next_in != nullptr && stream_.next_in != input_.data()) {
            lastOfPrevious_ = stream_.next_in[-1]; // a point may begin inside it
        }
        uint32_t want = std::min(inputSize_, packed - consumed_);
        int64_t at = int64_t{stored_.dataStart} + consumed_;
        std::ptrdiff_t got = platform::readStreamAt(archive_.stream(), at, input_.data(), want);
        if (got < 0 || static_cast<uint32_t>(got) < want)
            throw unreadableAt(static_cast<uint64_t>(at));
        stream_.next_in = input_.data();
        stream_.avail_in = want;
        consumed_ += want;
        return true;
    }

    const ArchiveFile& archive_;
    const StoredEntry& stored_;
    SeekPoints* points_; // null: none recorded
    z_stream stream_{};
    HeapBytes input_;
    uint32_t inputSize_ = 0;
    uint32_t consumed_ = 0;            // packed bytes handed to zlib
    uint64_t base_ = 0;                // where in the data zlib began
    uint64_t nextWanted_ = 0;          // where the next point is wanted
    unsigned char lastOfPrevious_ = 0; // the last byte of the block of packed bytes before
    bool ended_ = false;               // zlib has seen the end of the stream
};

// The last bytes delivered, up to the position, in a ring.
class EntryStream::RecentBytes : public FromPlatformHeap {
  public:
    RecentBytes(uint32_t capacity, uint64_t end) : capacity_(capacity), end_(end) {
        ring_.allocate(capacity);
    }

    // Where the bytes held begin and end in the entry's data.
    uint64_t start() const { return end_ - held_; }
    uint64_t end() const { return end_; }
    void clear(uint64_t at) {
        end_ = at;
        held_ = 0;
    }
    // The piece of the ring where the bytes after end() go, and its length.
    unsigned char* room(std::size_t& length) {
        auto at = static_cast<std::size_t>(end_ % capacity_);
        length = capacity_ - at;
        return ring_.data() + at;
    }
    // count bytes were written into room(); they are held now.
    void added(std::size_t count) {
        end_ += count;
        held_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{held_} + count, capacity_));
    }
    // Adds copies of the bytes that follow end().
    void add(const unsigned char* data, std::size_t count) {
        // Only the last capacity bytes can stay.
        if (count > capacity_) {
            end_ += count - capacity_;
            data += count - capacity_;
            count = capacity_;
        }
        for (std::size_t done = 0; done < count;) {
            std::size_t length;
            unsigned char* at = room(length);
            length = std::min(length, count - done);
            std::memcpy(at, data + done, length);
            added(length);
            done += length;
        }
    }
    // Copies the bytes from offset (at least start()) up to end(), at most count; returns how
    // many.
    std::size_t copy(uint64_t offset, unsigned char* out, std::size_t count) const {
        std::size_t done = 0;
        while (offset < end_ && done < count) {
            auto at = static_cast<std::size_t>(offset % capacity_);
            auto piece = static_cast<std::size_t>(
                std::min<uint64_t>({count - done, capacity_ - at, end_ - offset}));
            std::memcpy(out + done, ring_.data() + at, piece);
            done += piece;
            offset += piece;
        }
        return done;
    }

  private:
    uint32_t capacity_;
    HeapBytes ring_;
    uint64_t end_;
    uint32_t held_ = 0;
};

EntryStream::EntryStream(const ArchiveFile& archive, const StoredEntry& stored,
                         uint32_t recentBytes, std::shared_ptr<SeekPoints> points)
    : archive_(archive), stored_(stored), recentBytes_(recentBytes), points_(std::move(points)) {
    if (!archive_.directory().dataInside(stored_)) throw storedPastEnd(stored_, archive_.size());
    if (stored_.compressed && !PakDirectory::inflatable(stored_)) throw declaresTooMuch(stored_);
}

EntryStream::~EntryStream() = default;

template <class Work> auto EntryStream::guarded(Work work) -> decltype(work()) {
    if (!failure_.empty()) throw Failure(kCorrupt, failure_);
    try {
        return work();
    } catch (const Failure& failure) {
        failure_ = failure.message;
        throw;
    } catch (const std::bad_alloc&) {
        // zlib's state may be spent, and the recent bytes no longer agree with the position:
        // both go, and give their memory back.
        position_ = 0;
        inflation_.reset();
        recent_.reset();
        throw;
    }
}

std::size_t EntryStream::read(unsigned char* out, std::size_t count) {
    return guarded([&]() -> std::size_t {
        count = std::min<std::size_t>(count, size() - position_);
        if (!stored_.compressed) {
            std::size_t got = readPlain(position_, out, count);
            position_ += static_cast<uint32_t>(got);
            return got;
        }
        inflateNext(out, count);
        if (recent_) recent_->add(out, count);
        return count;
    });
}

std::size_t EntryStream::readAt(uint64_t offset, unsigned char* out, std::size_t count) {
    return guarded([&]() -> std::size_t {
        if (offset >= size()) return 0;
        count = static_cast<std::size_t>(std::min<uint64_t>(count, size() - offset));
        if (!stored_.compressed) {
            std::size_t got = readPlain(offset, out, count);
            position_ = static_cast<uint32_t>(offset + got);
            return got;
        }
        keepRecentBytes();
        std::size_t delivered = 0;
        if (offset < position_ && offset >= recent_->start())
            delivered = recent_->copy(offset, out, count);
        else
            moveNear(offset);
        if (delivered == count) return count;
        offset += delivered;
        while (position_ < offset) { // inflated past, into the recent bytes
            std::size_t length;
            unsigned char* room = recent_->room(length);
            length = static_cast<std::size_t>(std::min<uint64_t>(length, offset - position_));
            inflateNext(room, length);
            recent_->added(length);
        }
        inflateNext(out + delivered, count - delivered);
        recent_->add(out + delivered, count - delivered);
        return count;
    });
}

void EntryStream::skip(uint32_t count) {
    guarded([&]() {
        count = std::min(count, size() - position_);
        if (!stored_.compressed) {
            position_ += count;
            return;
        }
        keepRecentBytes();
        do {
            std::size_t length;
            unsigned char* room = recent_->room(length);
            length = std::min<std::size_t>(length, count);
            inflateNext(room, length);
            recent_->added(length);
            count -= static_cast<uint32_t>(length);
        } while (count > 0);
    });
}

void EntryStream::rewind() {
    position_ = 0;
    failure_.clear();
    if (inflation_) inflation_->restart();
    if (recent_) recent_->clear(0);
}

std::size_t EntryStream::readPlain(uint64_t offset, unsigned char* out, std::size_t count) {
    if (count == 0) return 0;
    int64_t at = int64_t{stored_.dataStart} + static_cast<int64_t>(offset);
    std::ptrdiff_t got = platform::readStreamAt(archive_.stream(), at, out, count);
    if (got < 0 || static_cast<std::size_t>(got) < count)
        throw unreadableAt(static_cast<uint64_t>(at));
    return count;
}

void EntryStream::moveNear(uint64_t offset) {
    const SeekPoints::Point* point = points_ ? points_->before(offset) : nullptr;
    if (point == nullptr || (offset >= position_ && point->dataOffset <= position_)) {
        if (offset < position_) rewind();
        return;
    }
    if (!inflation_) inflation_ = std::make_unique<Inflation>(archive_, stored_, points_.get());
    position_ = 0; // until the inflation stands at the point
    recent_->clear(0);
    inflation_->restartAt(*point);
    position_ = point->dataOffset;
    recent_->clear(position_);
}

void EntryStream::inflateNext(unsigned char* out, std::size_t count) {
    if (!inflation_) inflation_ = std::make_unique<Inflation>(archive_, stored_, points_.get());
    if (count > 0) inflation_->produce(out, count);
    position_ += static_cast<uint32_t>(count);
    if (position_ == size()) inflation_->checkEnd();
}

void EntryStream::keepRecentBytes() {
    if (recent_) return;
    uint32_t capacity = std::max(1u, std::min(recentBytes_, size()));
    recent_ = std::make_unique<RecentBytes>(capacity, position_);
}

} // namespace pak
