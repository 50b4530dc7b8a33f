// Reading entries in their order, on worker threads (see entry_scheduler.h). Each entry is read
// through an EntryStream of its own, which reads the archive at positions: the workers never
// wait for each other to read it.
#include "archive/entry_scheduler.h"

#include "archive/entry_stream.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace pak {

namespace {

// Entry data read at a time, at most: a stream reads straight into a piece of this size.
constexpr std::size_t kPieceSize = 256u << 10;

// A piece of an entry's data. Its bytes are left as they are when it is made: the stream writes
// them.
struct Piece {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t capacity = 0;
    std::size_t size = 0;

    // Room for at least wanted bytes.
    void reserve(std::size_t wanted) {
        if (capacity >= wanted) return;
        bytes.reset(new unsigned char[wanted]);
        capacity = wanted;
    }
};

// How much of the stream the next piece takes.
std::size_t nextPieceSize(const EntryStream& stream) {
    std::size_t left = stream.size() - stream.position();
    return left < kPieceSize ? left : kPieceSize;
}

// Thrown on a worker when the caller no longer wants what it reads.
struct Abandoned {};

// Every entry on the caller's thread, one after the other.
void readAlone(const ArchiveFile& archive, const std::vector<StoredEntry>& entries,
               EntryReceiver& receiver, bool keepData) {
    Piece piece;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!receiver.begin(i)) continue;
        try {
            EntryStream stream(archive, entries[i]);
            do { // an empty entry is read once too: its stream must be an empty one
                piece.reserve(nextPieceSize(stream));
                std::size_t got = stream.read(piece.bytes.get(), nextPieceSize(stream));
                if (keepData && got > 0) receiver.receive(piece.bytes.get(), got);
            } while (stream.position() < stream.size());
        } catch (const Failure& failure) {
            receiver.end(i, &failure);
            continue;
        }
        receiver.end(i, nullptr);
    }
}

// The entries being read ahead: a window of them, each with the pieces of its data that its
// worker has read and the caller not yet received. The memory is bounded by bytes: workers wait
// while kReadAhead bytes wait for the caller, except the worker of the entry the caller is at,
// which may always hold up to kFirstEntryBytes.
class ReadAhead {
  public:
    ReadAhead(const ArchiveFile& archive, const std::vector<StoredEntry>& entries, unsigned threads,
              bool keepData)
        : archive_(archive), entries_(entries), keepData_(keepData),
          window_(kWindowEntries + threads) {
        try {
            for (unsigned i = 0; i < threads; ++i)
                workers_.emplace_back([this] { work(); });
        } catch (...) {
            stop();
            throw;
        }
    }
    ~ReadAhead() { stop(); }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The caller's side: every entry, in order, into receiver.
    void deliverInOrder(EntryReceiver& receiver);

  private:
    struct Slot {
        std::deque<Piece> pieces;
        std::size_t bytes = 0; // held by pieces (their capacity)
        bool ended = false;    // its worker is done with it
        bool abandoned = false;
        std::optional<Failure> failure;
        std::exception_ptr error; // anything else its worker met (no memory)
    };

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        workersMayGoOn_.notify_all();
        callersEntryMoved_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
        workers_.clear();
    }

    // The slot of entry index; only under the lock, and only while index is in the window.
    Slot& slot(std::size_t index) { return slots_[index - callerAt_]; }

    void work();
    // Reads entry index through its stream, handing its pieces over as they come.
    void readEntry(std::size_t index, Piece& scratch);
    // A worker hands a piece of entry index's data over, waiting while the budget is spent.
    void handOver(std::size_t index, Piece piece);
    Piece sparePiece();
    // Drops what an entry holds and waits until its worker has let go of it.
    void abandon(Slot& slot, std::unique_lock<std::mutex>& lock);
    // Wakes the workers that wait for the budget, after it or the caller's entry changed.
    void budgetChanged() {
        if (workersWaitingForBudget_ > 0) workersMayGoOn_.notify_all();
    }

    const ArchiveFile& archive_;
    const std::vector<StoredEntry>& entries_;
    const bool keepData_;
    const std::size_t window_; // entries read ahead at most

    std::mutex mutex_; // everything below
    // Two conditions, so that nobody is woken for what does not concern them: the workers wait
    // until the window moves on or bytes are received, the caller until the entry it is at gets
    // a piece or ends.
    std::condition_variable workersMayGoOn_;
    std::condition_variable callersEntryMoved_;
    std::size_t workersWaitingForBudget_ = 0; // in handOver
    std::deque<Slot> slots_;                  // entries callerAt_, callerAt_ + 1, ...
    std::size_t callerAt_ = 0;                // the entry the caller receives or waits for
    std::size_t nextToRead_ = 0;              // the entry the next free worker takes
    std::size_t bytesHeld_ = 0;               // by all the slots' pieces
    bool stopping_ = false;
    std::vector<Piece> sparePieces_; // received, for reuse
    std::vector<std::thread> workers_;
};

void ReadAhead::work() {
    Piece scratch; // where the data goes that is only checked
    for (;;) {
        std::size_t index;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            workersMayGoOn_.wait(lock, [this] {
                return stopping_ || nextToRead_ == entries_.size() ||
                       nextToRead_ < callerAt_ + slots_.size();
            });
            if (stopping_ || nextToRead_ == entries_.size()) return;
            index = nextToRead_++;
            Slot& mine = slot(index);
            if (mine.abandoned) {
                mine.ended = true;
                if (index == callerAt_) callersEntryMoved_.notify_one();
                continue;
            }
        }
        std::optional<Failure> failure;
        std::exception_ptr error;
        try {
            readEntry(index, scratch);
        } catch (const Failure& problem) {
            failure = problem;
        } catch (const Abandoned&) {
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& mine = slot(index);
        mine.failure = std::move(failure);
        mine.error = error;
        mine.ended = true;
        if (index == callerAt_) callersEntryMoved_.notify_one();
    }
}

void ReadAhead::readEntry(std::size_t index, Piece& scratch) {
    EntryStream stream(archive_, entries_[index]);
    do { // an empty entry is read once too: its stream must be an empty one
        std::size_t size = nextPieceSize(stream);
        if (!keepData_ || size == 0) {
            scratch.reserve(size);
            stream.read(scratch.bytes.get(), size);
            continue;
        }
        Piece piece = sparePiece();
        piece.reserve(size);
        piece.size = stream.read(piece.bytes.get(), size);
        if (piece.size > 0) handOver(index, std::move(piece));
    } while (stream.position() < stream.size());
}

Piece ReadAhead::sparePiece() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sparePieces_.empty()) return Piece();
    Piece piece = std::move(sparePieces_.back());
    sparePieces_.pop_back();
    return piece;
}

void ReadAhead::handOver(std::size_t index, Piece piece) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++workersWaitingForBudget_;
    workersMayGoOn_.wait(lock, [&] {
        Slot& mine = slot(index);
        return stopping_ || mine.abandoned || bytesHeld_ < kReadAhead ||
               (index == callerAt_ && mine.bytes < kFirstEntryBytes);
    });
    --workersWaitingForBudget_;
    Slot& mine = slot(index);
    if (stopping_ || mine.abandoned) throw Abandoned();
    // Counted by capacity: a piece reused for less keeps the room it had.
    mine.bytes += piece.capacity;
    bytesHeld_ += piece.capacity;
    mine.pieces.push_back(std::move(piece));
    if (index == callerAt_) callersEntryMoved_.notify_one();
}

void ReadAhead::abandon(Slot& slot, std::unique_lock<std::mutex>& lock) {
    slot.abandoned = true;
    for (Piece& piece : slot.pieces)
        sparePieces_.push_back(std::move(piece));
    slot.pieces.clear();
    bytesHeld_ -= slot.bytes;
    slot.bytes = 0;
    workersMayGoOn_.notify_all();
    // A slot that no worker has taken yet is taken next (all the workers are free then).
    callersEntryMoved_.wait(lock, [&] { return slot.ended; });
}

void ReadAhead::deliverInOrder(EntryReceiver& receiver) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        // The window moves on once half of it is done: the entries up to window_ ahead get
        // their slots, and the workers waiting for one are woken once for many entries.
        if (slots_.size() <= window_ / 2) {
            while (callerAt_ + slots_.size() < entries_.size() && slots_.size() < window_)
                slots_.emplace_back();
            workersMayGoOn_.notify_all();
        }
        Slot& current = slot(i); // stays in place until popped below
        lock.unlock();
        bool wanted = receiver.begin(i);
        lock.lock();
        std::optional<Failure> failure;
        if (!wanted) {
            abandon(current, lock);
        } else {
            for (;;) {
                callersEntryMoved_.wait(lock,
                                        [&] { return !current.pieces.empty() || current.ended; });
                if (current.pieces.empty()) {
                    if (current.error) std::rethrow_exception(current.error);
                    failure = current.failure;
                    break;
                }
                Piece piece = std::move(current.pieces.front());
                current.pieces.pop_front();
                current.bytes -= piece.capacity;
                bytesHeld_ -= piece.capacity;
                budgetChanged();
                lock.unlock();
                try {
                    receiver.receive(piece.bytes.get(), piece.size);
                } catch (const Failure& problem) {
                    failure = problem;
                }
                lock.lock();
                sparePieces_.push_back(std::move(piece));
                if (failure) {
                    abandon(current, lock);
                    break;
                }
            }
        }
        slots_.pop_front();
        ++callerAt_;
        budgetChanged(); // the next entry's worker may go beyond the budget
        if (!wanted) continue;
        lock.unlock();
        receiver.end(i, failure ? &*failure : nullptr);
        lock.lock();
    }
}

} // namespace

void readEntriesInOrder(const ArchiveFile& archive, const std::vector<StoredEntry>& entries,
                        EntryReceiver& receiver, unsigned threads, bool keepData) {
    if (threads < 2) {
        readAlone(archive, entries, receiver, keepData);
        return;
    }
    ReadAhead ahead(archive, entries, threads, keepData);
    ahead.deliverInOrder(receiver);
}

} // namespace pak
