// Inflated entries kept in memory for the readers that come back to them, so that a compressed
// entry read in many small pieces (a file system reads 128 KiB at a time) is inflated once, not
// once per piece.
//
// The cache holds at most its limit in bytes of entry data, counted exactly: an entry is given
// the room of its whole declared size when it comes in, and pages are filled as its stream is
// inflated, only as far as readers have asked. The entries least recently read go first when
// room is needed; an entry that a reader is using at that moment stays. Entries larger than the
// limit are never held (read them with an EntryStream of your own).
//
// Safe for several threads at once: the cache is guarded by one lock, each entry by its own
// while its stream is inflated further, and bytes already inflated are copied out without
// waiting for either.
#pragma once

#include "archive/archive_file.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace pak {

class EntryCache {
  public:
    explicit EntryCache(uint64_t limit);
    ~EntryCache();
    EntryCache(const EntryCache&) = delete;
    EntryCache& operator=(const EntryCache&) = delete;

    // Whether an entry of this many bytes can be held at all.
    bool fits(uint64_t size) const { return size <= limit_; }

    // Copies up to count bytes of the compressed entry stored as stored in archive, from offset
    // into its data, into out, and sets delivered (fewer than count only at the end of the
    // data). key names the entry for the life of the cache. Returns false, having done nothing,
    // when the entry cannot be given room now (the room is taken by entries that are being
    // read). Throws Failure (kCorrupt) as EntryStream::read does; every later read of the entry
    // then throws the same.
    bool read(uint64_t key, const ArchiveFile& archive, const StoredEntry& stored, uint64_t offset,
              unsigned char* out, std::size_t count, std::size_t& delivered);

  private:
    struct Slot;

    // The entry's slot, counted as in use; null when it cannot be given room.
    Slot* acquire(uint64_t key, const StoredEntry& stored);
    void release(Slot& slot);
    // Inflates slot's data at least up to end; throws as EntryStream does.
    void fill(Slot& slot, const ArchiveFile& archive, const StoredEntry& stored, uint64_t end);

    uint64_t limit_;
    mutable std::mutex lock_;
    uint64_t bytesHeld_ = 0;
    std::list<uint64_t> keysByRecentUse_; // keys, the most recently read first
    std::unordered_map<uint64_t, std::unique_ptr<Slot>> slots_;
};

} // namespace pak
