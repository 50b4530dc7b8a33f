// Reading entries' data (see entry_reader.h). The checks come from PakDirectory, the same ones
// the game's lookup makes; what this adds is the verdict on data that the lookup would accept
// silently (a plain entry that runs past the end, a stream that ends early).
//
// Compressed entries are inflated here rather than by VirtualFile::readCompressed, which the
// game reads with in 4 KiB pieces: the tool reads the archive in large blocks. The verdicts are
// the game's: the same zlib, a stream given at most its packed bytes and room for at most its
// declared size, and any error, or a stream that cannot go on, is a failure.
#include "archive/entry_reader.h"

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
// worker has read and the caller not yet received. The window is wide (kWindowEntries), so that
// archives of many small entries keep the workers busy without a hand-over per entry, and the
// memory is bounded by bytes: workers wait while kReadAhead bytes wait for the caller, except
// the worker of the entry the caller waits for, which may always hold up to kFirstSlot bytes
// (so the caller is never left waiting on a worker that waits on the caller).
struct EntryReader::Ahead {
    static constexpr std::size_t kWindowEntries = 64;
    static constexpr std::size_t kFirstSlot = 1u << 20;

    struct Slot {
        std::deque<std::vector<unsigned char>> pieces;
        std::size_t bytes = 0; // held by pieces (their capacity)
        bool ended = false;    // its worker is done with it
        bool abandoned = false;
        std::optional<Failure> failure;
        std::exception_ptr error; // anything else its worker met (no memory)
    };

    Ahead(EntryReader& reader, const std::vector<StoredEntry>& entries, unsigned threads, bool keep)
        : reader(reader), entries(entries), keep(keep) {
        window = kWindowEntries + threads;
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
        room.notify_all();
        progress.notify_all();
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
                room.wait(lock, [this] {
                    return stopping || next == entries.size() || next < first + slots.size();
                });
                if (stopping || next == entries.size()) return;
                index = next++;
                Slot& mine = slot(index);
                if (mine.abandoned) {
                    mine.ended = true;
                    if (index == first) progress.notify_one();
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
            if (index == first) progress.notify_one();
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
        ++waitingForBudget;
        room.wait(lock, [&] {
            Slot& mine = slot(index);
            return stopping || mine.abandoned || waiting < kReadAhead ||
                   (index == first && mine.bytes < kFirstSlot);
        });
        --waitingForBudget;
        Slot& mine = slot(index);
        if (stopping || mine.abandoned) throw Abandoned();
        // Counted by capacity: a piece reused for less keeps the room it had.
        mine.bytes += piece.capacity();
        waiting += piece.capacity();
        mine.pieces.push_back(std::move(piece));
        if (index == first) progress.notify_one();
    }

    // Wakes the workers that wait for the budget, after it or the first entry changed.
    void budgetChanged() {
        if (waitingForBudget > 0) room.notify_all();
    }

    EntryReader& reader;
    const std::vector<StoredEntry>& entries;
    const bool keep;
    std::size_t window; // entries read ahead at most

    std::mutex mutex; // everything below
    // Two conditions, so that nobody is woken for what does not concern them: the workers wait
    // on room (the window moved on, or bytes were received), the caller on progress (the entry
    // it is at got a piece or ended).
    std::condition_variable room;
    std::condition_variable progress;
    std::size_t waitingForBudget = 0; // workers waiting in hand
    std::deque<Slot> slots;           // entries first, first + 1, ... (made by the caller)
    std::size_t first = 0;
    std::size_t next = 0;    // the entry the next worker takes
    std::size_t waiting = 0; // bytes held by all the slots' pieces
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
        ahead.waiting -= slot.bytes;
        slot.bytes = 0;
        ahead.room.notify_all();
        // A slot that no worker has taken yet is taken next (all the workers are free then).
        ahead.progress.wait(lock, [&] { return slot.ended; });
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // The window moves on once half of it is done: the entries up to window ahead get
        // their slots, and the workers waiting for one are woken once for many entries.
        if (ahead.slots.size() <= ahead.window / 2) {
            while (ahead.first + ahead.slots.size() < entries.size() &&
                   ahead.slots.size() < ahead.window)
                ahead.slots.emplace_back();
            ahead.room.notify_all();
        }
        Ahead::Slot& slot = ahead.slot(i); // stays in place until popped below
        lock.unlock();
        bool wanted = receiver.begin(i);
        lock.lock();
        std::optional<Failure> failure;
        if (!wanted) {
            abandon(slot);
        } else {
            for (;;) {
                ahead.progress.wait(lock, [&] { return !slot.pieces.empty() || slot.ended; });
                if (slot.pieces.empty()) {
                    if (slot.error) std::rethrow_exception(slot.error);
                    failure = slot.failure;
                    break;
                }
                std::vector<unsigned char> piece = std::move(slot.pieces.front());
                slot.pieces.pop_front();
                slot.bytes -= piece.capacity();
                ahead.waiting -= piece.capacity();
                ahead.budgetChanged();
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
        ahead.budgetChanged(); // the next entry's worker may go beyond the budget
        if (!wanted) continue;
        lock.unlock();
        receiver.end(i, failure ? &*failure : nullptr);
        lock.lock();
    }
}

} // namespace pak
