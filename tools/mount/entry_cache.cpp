// Keeping inflated entries (see entry_cache.h).
#include "tools/mount/entry_cache.h"

#include "archive/entry_stream.h"
#include "archive/failure.h"
#include "archive/heap_memory.h"
#include "platform/memory.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

namespace pak {

namespace {

// A reader that finds its bytes not yet inflated inflates at least this much further, so that
// a sequential reader takes the entry's lock once per step, not once per piece it reads.
constexpr uint32_t kStep = 1u << 20;

// Page memory for one entry's data, given back with its owner. Pages are backed by memory only
// once written, so the room of a large entry costs only what has been inflated into it.
class PageMemory {
  public:
    explicit PageMemory(uint32_t size)
        : size_(size), pages_(static_cast<unsigned char*>(platform::allocatePages(size))) {}
    ~PageMemory() { platform::freePages(pages_, size_); }
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;
    unsigned char* data() const { return pages_; }

  private:
    uint32_t size_;
    unsigned char* pages_;
};

} // namespace

struct EntryCache::Slot : FromPlatformHeap {
    explicit Slot(uint32_t size) : memory(size), size(size) {}
    PageMemory memory;
    uint32_t size;
    std::atomic<uint32_t> ready{0};    // bytes inflated; written under fillLock
    std::atomic<bool> complete{false}; // all of them, and the stream ended where it should
    std::mutex fillLock;               // held while the stream is inflated further
    std::unique_ptr<EntryStream> stream;
    std::string failure; // set under fillLock; once set the data is never read again
    std::atomic<bool> failed{false};
    uint32_t users = 0; // readers inside, under the cache's lock
    std::list<uint64_t>::iterator placeInRecentUse;
};

EntryCache::EntryCache(uint64_t limit) : limit_(limit) {}

EntryCache::~EntryCache() = default;

EntryCache::Slot* EntryCache::acquire(uint64_t key, const StoredEntry& stored) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = slots_.find(key);
    if (found != slots_.end()) {
        Slot& slot = *found->second;
        keysByRecentUse_.splice(keysByRecentUse_.begin(), keysByRecentUse_, slot.placeInRecentUse);
        ++slot.users;
        return &slot;
    }
    uint32_t size = stored.dataSize();
    // Room is made from the least recently read end; entries being read stay.
    for (auto it = keysByRecentUse_.end();
         bytesHeld_ + size > limit_ && it != keysByRecentUse_.begin();) {
        --it;
        auto victim = slots_.find(*it);
        if (victim->second->users > 0) continue;
        bytesHeld_ -= victim->second->size;
        slots_.erase(victim);
        it = keysByRecentUse_.erase(it);
    }
    if (bytesHeld_ + size > limit_) return nullptr;
    auto slot = std::make_unique<Slot>(size);
    if (size > 0 && slot->memory.data() == nullptr) return nullptr; // no pages to be had now
    // Nothing is changed until nothing more can throw.
    Slot* entered = slot.get();
    auto placed = slots_.emplace(key, std::move(slot)).first;
    try {
        keysByRecentUse_.push_front(key);
    } catch (...) {
        slots_.erase(placed);
        throw;
    }
    entered->placeInRecentUse = keysByRecentUse_.begin();
    entered->users = 1;
    bytesHeld_ += size;
    return entered;
}

void EntryCache::release(Slot& slot) {
    std::lock_guard<std::mutex> hold(lock_);
    --slot.users;
}

void EntryCache::fill(Slot& slot, const ArchiveFile& archive, const StoredEntry& stored,
                      uint64_t end) {
    std::lock_guard<std::mutex> hold(slot.fillLock);
    if (!slot.failure.empty()) throw Failure(kCorrupt, slot.failure);
    uint32_t ready = slot.ready.load(std::memory_order_relaxed);
    if (ready >= end && (end < slot.size || slot.complete.load())) return; // done meanwhile
    uint32_t target = static_cast<uint32_t>(
        std::min<uint64_t>(slot.size, std::max<uint64_t>(end, uint64_t{ready} + kStep)));
    try {
        if (!slot.stream) {
            slot.stream = std::make_unique<EntryStream>(archive, stored);
            slot.stream->skip(ready); // a stream dropped when memory ran out left off there
        }
        while (ready < target) {
            std::size_t got = slot.stream->read(slot.memory.data() + ready, target - ready);
            if (got == 0) break;
            ready += static_cast<uint32_t>(got);
            slot.ready.store(ready, std::memory_order_release);
        }
        if (ready == slot.size) {
            // The last read checked that the stream ends there; an empty entry's stream is
            // checked by a read of nothing.
            if (slot.size == 0) slot.stream->read(nullptr, 0);
            slot.complete.store(true, std::memory_order_release);
            slot.stream.reset(); // whole: the inflate state goes
        }
    } catch (const Failure& failure) {
        slot.failure = failure.message;
        slot.failed.store(true, std::memory_order_release);
        slot.stream.reset();
        throw;
    } catch (...) {
        // Memory ran out: the data inflated so far stays, the stream goes (zlib's may be
        // spent), and a later read takes up from where it was.
        slot.stream.reset();
        throw;
    }
}

bool EntryCache::read(uint64_t key, const ArchiveFile& archive, const StoredEntry& stored,
                      uint64_t offset, unsigned char* out, std::size_t count,
                      std::size_t& delivered) {
    Slot* slot = acquire(key, stored);
    if (slot == nullptr) return false;
    struct Release {
        EntryCache& cache;
        Slot& slot;
        ~Release() { cache.release(slot); }
    } release{*this, *slot};

    delivered = 0;
    uint64_t end = std::min<uint64_t>(offset + count, slot->size);
    if (slot->failed.load(std::memory_order_acquire) ||
        slot->ready.load(std::memory_order_acquire) < end ||
        (end == slot->size && !slot->complete.load(std::memory_order_acquire)))
        fill(*slot, archive, stored, end);
    if (offset >= end) return true;
    std::memcpy(out, slot->memory.data() + offset, static_cast<std::size_t>(end - offset));
    delivered = static_cast<std::size_t>(end - offset);
    return true;
}

} // namespace pak
