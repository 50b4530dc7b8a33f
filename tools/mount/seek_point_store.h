// The seek points (archive/seek_points.h) of the large compressed entries of a mount, kept from
// one open of an entry to the next, so that an entry is inflated through once to record them,
// not once per open file. What they all take stays within a bound: an entry's points are
// planned in advance (its interval is widened until they fit the bound), and those of the
// entries least recently opened go first when room is needed. A stream still reading through
// points that went keeps them until it is done.
//
// Safe for several threads at once.
#pragma once

#include "archive/seek_points.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace pak {

class SeekPointStore {
  public:
    explicit SeekPointStore(uint64_t limit) : limit_(limit) {}
    SeekPointStore(const SeekPointStore&) = delete;
    SeekPointStore& operator=(const SeekPointStore&) = delete;

    // The points of the entry key (of dataSize bytes), made when there are none.
    std::shared_ptr<SeekPoints> pointsOf(uint64_t key, uint32_t dataSize);

  private:
    struct Kept {
        std::shared_ptr<SeekPoints> points;
        uint64_t bytes;
        std::list<uint64_t>::iterator placeInRecentUse;
    };

    uint64_t limit_;
    std::mutex lock_;
    uint64_t bytesPlanned_ = 0;
    std::list<uint64_t> keysByRecentUse_; // the most recently opened first
    std::unordered_map<uint64_t, Kept> kept_;
};

} // namespace pak
