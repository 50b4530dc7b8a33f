// Places inside one compressed entry where inflation can begin again, so that a read anywhere
// in a large entry costs at most one interval of inflation instead of inflating from its first
// byte. A point is what zlib needs to go on from a boundary between deflate blocks: where the
// next block begins in the packed bytes (a byte and a bit), where its output goes in the data,
// and the 32 KiB of data before it that the block may refer back to.
//
// An EntryStream records points as it inflates through the entry for the first time, one at
// the first block boundary after every interval of data, and starts from the nearest one
// before where it is asked to read. The points of an entry are shared by its streams (several
// open files, one after another), so they are recorded once: a point is only ever added after
// the last one, and never changes or goes away while the object lives. The memory they take
// (about 32 KiB per interval: 3% of the data at the default interval) comes from the platform's
// heap and is known in advance (plannedBytes), so that whoever keeps points for many entries can
// bound it.
//
// Safe for several threads at once.
#pragma once

#include "archive/heap_memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace pak {

class SeekPoints : public FromPlatformHeap {
  public:
    // Data between points, at least.
    static constexpr uint32_t kInterval = 1u << 20;
    // What a deflate block may refer back to.
    static constexpr uint32_t kWindow = 32u << 10;

    struct Point : FromPlatformHeap {
        uint32_t dataOffset = 0; // where its output begins in the entry's data
        uint32_t packedByte = 0; // the packed byte the next block begins in, from the first
        int bits = 0;            // bits of the byte before packedByte that belong to the block
        unsigned char partialByte = 0; // that byte
        uint32_t windowSize = 0;       // bytes of window held: kWindow, or fewer near the start
        HeapBytes window;              // the data just before dataOffset
    };

    // Points about interval apart (tests take small ones). How many an entry gets depends on
    // what is inflated, never on what it declares.
    explicit SeekPoints(uint32_t interval = kInterval);
    SeekPoints(const SeekPoints&) = delete;
    SeekPoints& operator=(const SeekPoints&) = delete;

    // The interval that keeps the points of an entry of dataSize bytes within bytes of memory
    // (never below kInterval), and the memory all the points of such an entry take.
    static uint32_t intervalWithin(uint32_t dataSize, uint64_t bytes);
    static uint64_t plannedBytes(uint32_t dataSize, uint32_t interval);

    uint32_t interval() const { return interval_; }
    // Where the next point is wanted: an interval after the last one (the first is one
    // interval into the data; the start of the data needs none).
    uint32_t nextWanted() const;
    // The last point at or before dataOffset, or null when there is none (start from the first
    // byte). The point stays valid for the life of this object.
    const Point* before(uint64_t dataOffset) const;
    // Takes point if it is the one wanted next (at or after nextWanted); otherwise another
    // stream recorded it first, and it is dropped. Throws std::bad_alloc, dropping it, when
    // there is no memory to hold it.
    void add(std::unique_ptr<Point> point);

  private:
    uint32_t interval_;
    mutable std::mutex lock_;
    std::vector<std::unique_ptr<Point>> points_; // by dataOffset
};

} // namespace pak
