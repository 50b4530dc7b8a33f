// Reading entries' data (see entry_reader.h). The checks come from PakDirectory, the same ones
// the game's lookup makes; what this adds is the verdict on data that the lookup would accept
// silently (a plain entry that runs past the end, a stream that ends early).
//
// Compressed entries are inflated here rather than by VirtualFile::readCompressed, which the
// game reads with in 4 KiB pieces: the tool reads the archive in large blocks. The verdicts are
// the game's: the same zlib, a stream given at most its packed bytes and room for at most its
// declared size, and any error, or a stream that cannot go on, is a failure.
#include "tools/pak/entry_reader.h"

#include "platform/platform.h"

#include <zlib.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <optional>
#include <string>
#include <thread>

namespace pak {

namespace {

constexpr uint32_t kBlock = 512u << 10;  // archive bytes read at a time
constexpr uint32_t kWindow = 256u << 10; // inflated bytes delivered at a time

std::string number(uint64_t n) {
    return std::to_string(n);
}

// One inflate stream, ended when it goes out of scope.
class Inflater {
  public:
    Inflater() = default;
    ~Inflater() {
        if (started_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool start() { return started_ = inflateInit(&stream_) == Z_OK; }
    z_stream* operator->() { return &stream_; }
    z_stream* get() { return &stream_; }

  private:
    z_stream stream_{};
    bool started_ = false;
};

// Thrown on a worker when the caller no longer wants what it reads.
struct Abandoned {};

} // namespace

uint32_t EntryReader::readArchive(uint64_t offset, unsigned char* buffer, uint32_t count) {
    std::lock_guard<std::mutex> turn(archiveTurn_);
    VirtualFile& file = archive_.file();
    if ((file.positionLost || file.position != static_cast<int64_t>(offset)) &&
        file.seek(static_cast<int64_t>(offset), 0) != 0)
        return 0;
    return file.read(buffer, count);
}

void EntryReader::read(const StoredEntry& stored, const Sink& sink) {
    stream(stored, sink);
}

void EntryReader::stream(const StoredEntry& stored, const Sink& sink) {
    const PakDirectory& directory = archive_.directory();
    if (!directory.dataInside(stored))
        throw Failure(kCorrupt, "its stored data (" + number(stored.storedSize()) +
                                    " bytes at offset " + number(stored.dataStart) +
                                    ") runs past the end of the archive (" +
                                    number(archive_.size()) + " bytes)");
    auto cannotRead = [&stored](uint64_t done) {
        return Failure(kCorrupt,
                       "the archive cannot be read at offset " + number(stored.dataStart + done));
    };
    {
        std::lock_guard<std::mutex> turn(archiveTurn_);
        if (archive_.file().seek(stored.dataStart, 0) != 0) throw cannotRead(0);
    }
    // Never empty: zlib takes a null pointer for a missing buffer, even one of no room.
    std::vector<unsigned char> input(stored.storedSize() < kBlock ? stored.storedSize() + 1
                                                                  : kBlock);

    if (!stored.compressed) {
        uint32_t done = 0;
        while (done < stored.size) {
            uint32_t left = stored.size - done;
            uint32_t got = readArchive(stored.dataStart + uint64_t{done}, input.data(),
                                       left < kBlock ? left : kBlock);
            if (got == 0) throw cannotRead(done);
            sink(input.data(), got);
            done += got;
        }
        return;
    }

    const uint32_t unpacked = stored.unpackedSize, packed = stored.packedSize;
    if (!PakDirectory::inflatable(stored))
        throw Failure(kCorrupt, "it declares " + number(unpacked) + " bytes, more than its " +
                                    number(packed) + " packed bytes can inflate to");
    auto corrupt = [&]() {
        return Failure(kCorrupt, "its " + number(packed) +
                                     " packed bytes do not inflate into its declared " +
                                     number(unpacked) + " bytes");
    };
    std::vector<unsigned char> window(unpacked < kWindow ? unpacked + 1 : kWindow);
    Inflater stream;
    // Only the bytes actually read are handed to zlib: an archive that ends early, or cannot
    // be read, leaves the stream cut short.
    stream->next_in = input.data();
    stream->avail_in =
        readArchive(stored.dataStart, input.data(), packed < kBlock ? packed : kBlock);
    if (!stream.start()) throw corrupt();
    stream->next_out = window.data();
    stream->avail_out = unpacked < kWindow ? unpacked : kWindow;
    uint32_t delivered = 0; // bytes of the stream handed to sink
    // Each round gives zlib fresh input or fresh room where it used up either; a round in which
    // it can make no progress (Z_BUF_ERROR) means the stream is cut short or larger than its
    // declared size, and fails like corrupt data.
    for (;;) {
        int result = inflate(stream.get(), Z_NO_FLUSH);
        if (result == Z_STREAM_END) break;
        if (result != Z_OK) throw corrupt();
        auto produced = static_cast<uint32_t>(stream->total_out);
        if (stream->avail_out == 0 && produced < unpacked) {
            sink(window.data(), produced - delivered);
            delivered = produced;
            uint32_t left = unpacked - produced;
            stream->next_out = window.data();
            stream->avail_out = left < kWindow ? left : kWindow;
        }
        auto consumed = static_cast<uint32_t>(stream->total_in);
        if (stream->avail_in == 0 && consumed < packed) {
            uint32_t left = packed - consumed;
            stream->next_in = input.data();
            stream->avail_in = readArchive(stored.dataStart + uint64_t{consumed}, input.data(),
                                           left < kBlock ? left : kBlock);
        }
    }
    auto produced = static_cast<uint32_t>(stream->total_out);
    if (produced != unpacked)
        throw Failure(kCorrupt, "it inflates to " + number(produced) + " bytes, not its declared " +
                                    number(unpacked));
    if (produced > delivered) sink(window.data(), produced - delivered);
}

// The entries being read ahead: a window of them, each with the pieces of its data that its
// worker has read and the caller not yet received.
struct EntryReader::Ahead {
    struct Slot {
        std::deque<std::vector<unsigned char>> pieces;
        std::size_t bytes = 0; // in pieces
        bool ended = false;    // its worker is done with it
        bool abandoned = false;
        std::optional<Failure> failure;
        std::exception_ptr error; // anything else its worker met (no memory)
    };

    Ahead(EntryReader& reader, const std::vector<StoredEntry>& entries, unsigned threads, bool keep)
        : reader(reader), entries(entries), keep(keep) {
        window = threads + 2u;
        slotLimit = kReadAhead / window;
        try {
            for (unsigned i = 0; i < threads; ++i)
                workers.emplace_back([this] { work(); });
        } catch (...) {
            stop();
            throw;
        }
    }
    ~Ahead() { stop(); }
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (std::thread& worker : workers)
            worker.join();
        workers.clear();
    }

    // The slot of entry index; only under the lock, and only while index is in the window.
    Slot& slot(std::size_t index) { return slots[index - first]; }

    void work() {
        for (;;) {
            std::size_t index;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] {
                    return stopping || next == entries.size() || next < first + slots.size();
                });
                if (stopping || next == entries.size()) return;
                index = next++;
                Slot& mine = slot(index);
                if (mine.abandoned) {
                    mine.ended = true;
                    changed.notify_all();
                    continue;
                }
            }
            std::optional<Failure> failure;
            std::exception_ptr error;
            try {
                reader.stream(entries[index],
                              [this, index](const unsigned char* data, std::size_t size) {
                                  if (keep) hand(index, data, size);
                              });
            } catch (const Failure& problem) {
                failure = problem;
            } catch (const Abandoned&) {
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(mutex);
            Slot& mine = slot(index);
            mine.failure = std::move(failure);
            mine.error = error;
            mine.ended = true;
            changed.notify_all();
        }
    }

    // A worker hands a piece of entry index's data over, waiting while its slot is full.
    void hand(std::size_t index, const unsigned char* data, std::size_t size) {
        std::vector<unsigned char> piece;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!spare.empty()) {
                piece = std::move(spare.back());
                spare.pop_back();
            }
        }
        piece.assign(data, data + size);
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] {
            Slot& mine = slot(index);
            return stopping || mine.abandoned || mine.bytes < slotLimit;
        });
        Slot& mine = slot(index);
        if (stopping || mine.abandoned) throw Abandoned();
        mine.bytes += size;
        mine.pieces.push_back(std::move(piece));
        changed.notify_all();
    }

    EntryReader& reader;
    const std::vector<StoredEntry>& entries;
    const bool keep;
    std::size_t window;    // entries read ahead at most
    std::size_t slotLimit; // bytes a slot holds before its worker waits

    std::mutex mutex; // everything below
    std::condition_variable changed;
    std::deque<Slot> slots; // entries first, first + 1, ... (made by the caller)
    std::size_t first = 0;
    std::size_t next = 0; // the entry the next worker takes
    bool stopping = false;
    std::vector<std::vector<unsigned char>> spare; // received pieces, for reuse
    std::vector<std::thread> workers;
};

void EntryReader::readEach(const std::vector<StoredEntry>& entries, Receiver& receiver,
                           unsigned threads, bool keepData) {
    static const Sink ignore = [](const unsigned char*, std::size_t) {};
    if (threads < 2) {
        Sink sink = [&receiver](const unsigned char* data, std::size_t size) {
            receiver.receive(data, size);
        };
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!receiver.begin(i)) continue;
            try {
                stream(entries[i], keepData ? sink : ignore);
            } catch (const Failure& failure) {
                receiver.end(i, &failure);
                continue;
            }
            receiver.end(i, nullptr);
        }
        return;
    }

    Ahead ahead(*this, entries, threads, keepData);
    std::unique_lock<std::mutex> lock(ahead.mutex);
    // Drops what an entry holds and waits until its worker has let go of it.
    auto abandon = [&](Ahead::Slot& slot) {
        slot.abandoned = true;
        for (std::vector<unsigned char>& piece : slot.pieces)
            ahead.spare.push_back(std::move(piece));
        slot.pieces.clear();
        slot.bytes = 0;
        ahead.changed.notify_all();
        // A slot that no worker has taken yet is taken next (all the workers are free then).
        ahead.changed.wait(lock, [&] { return slot.ended; });
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // The window moves on: the entries up to window ahead get their slots.
        while (ahead.first + ahead.slots.size() < entries.size() &&
               ahead.slots.size() < ahead.window)
            ahead.slots.emplace_back();
        ahead.changed.notify_all();
        Ahead::Slot& slot = ahead.slot(i); // stays in place until popped below
        lock.unlock();
        bool wanted = receiver.begin(i);
        lock.lock();
        std::optional<Failure> failure;
        if (!wanted) {
            abandon(slot);
        } else {
            for (;;) {
                ahead.changed.wait(lock, [&] { return !slot.pieces.empty() || slot.ended; });
                if (slot.pieces.empty()) {
                    if (slot.error) std::rethrow_exception(slot.error);
                    failure = slot.failure;
                    break;
                }
                std::vector<unsigned char> piece = std::move(slot.pieces.front());
                slot.pieces.pop_front();
                slot.bytes -= piece.size();
                ahead.changed.notify_all();
                lock.unlock();
                try {
                    receiver.receive(piece.data(), piece.size());
                } catch (const Failure& problem) {
                    failure = problem;
                }
                lock.lock();
                ahead.spare.push_back(std::move(piece));
                if (failure) {
                    abandon(slot);
                    break;
                }
            }
        }
        ahead.slots.pop_front();
        ++ahead.first;
        ahead.changed.notify_all();
        if (!wanted) continue;
        lock.unlock();
        receiver.end(i, failure ? &*failure : nullptr);
        lock.lock();
    }
}

} // namespace pak
