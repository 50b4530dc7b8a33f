// Keeping the seek points of a mount's entries (see seek_point_store.h).
#include "tools/mount/seek_point_store.h"

namespace pak {

std::shared_ptr<SeekPoints> SeekPointStore::pointsOf(uint64_t key, uint32_t dataSize) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = kept_.find(key);
    if (found != kept_.end()) {
        keysByRecentUse_.splice(keysByRecentUse_.begin(), keysByRecentUse_,
                                found->second.placeInRecentUse);
        return found->second.points;
    }
    uint32_t interval = SeekPoints::intervalWithin(dataSize, limit_);
    uint64_t bytes = SeekPoints::plannedBytes(dataSize, interval);
    while (bytesPlanned_ + bytes > limit_ && !keysByRecentUse_.empty()) {
        auto oldest = kept_.find(keysByRecentUse_.back());
        bytesPlanned_ -= oldest->second.bytes;
        kept_.erase(oldest);
        keysByRecentUse_.pop_back();
    }
    // From the platform's heap, as the rest of what reads take.
    std::shared_ptr<SeekPoints> points(new SeekPoints(interval));
    keysByRecentUse_.push_front(key);
    try {
        kept_.emplace(key, Kept{points, bytes, keysByRecentUse_.begin()});
    } catch (...) {
        keysByRecentUse_.pop_front();
        throw;
    }
    bytesPlanned_ += bytes;
    return points;
}

} // namespace pak
