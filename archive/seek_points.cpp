// Places to begin inflating an entry again (see seek_points.h).
#include "archive/seek_points.h"

#include <algorithm>

namespace pak {

namespace {

// A point's bookkeeping beside its window, roughly.
constexpr uint64_t kPointOverhead = sizeof(SeekPoints::Point) + 64;

uint64_t pointsOf(uint32_t dataSize, uint32_t interval) {
    return dataSize / interval;
}

} // namespace

SeekPoints::SeekPoints(uint32_t interval) : interval_(std::max(interval, 1u)) {}

uint32_t SeekPoints::intervalWithin(uint32_t dataSize, uint64_t bytes) {
    uint64_t points = std::max<uint64_t>(1, bytes / (kWindow + kPointOverhead));
    uint64_t interval = (uint64_t{dataSize} + points - 1) / points;
    return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(interval, kInterval),
                                                    std::max<uint32_t>(dataSize, kInterval)));
}

uint64_t SeekPoints::plannedBytes(uint32_t dataSize, uint32_t interval) {
    return sizeof(SeekPoints) +
           pointsOf(dataSize, std::max(interval, 1u)) * (kWindow + kPointOverhead + sizeof(void*));
}

uint32_t SeekPoints::nextWanted() const {
    std::lock_guard<std::mutex> hold(lock_);
    uint64_t next =
        points_.empty() ? uint64_t{interval_} : uint64_t{points_.back()->dataOffset} + interval_;
    return static_cast<uint32_t>(std::min<uint64_t>(next, UINT32_MAX));
}

const SeekPoints::Point* SeekPoints::before(uint64_t dataOffset) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto after = std::upper_bound(points_.begin(), points_.end(), dataOffset,
                                  [](uint64_t offset, const std::unique_ptr<Point>& point) {
                                      return offset < point->dataOffset;
                                  });
    return after == points_.begin() ? nullptr : std::prev(after)->get();
}

void SeekPoints::add(std::unique_ptr<Point> point) {
    std::lock_guard<std::mutex> hold(lock_);
    uint64_t wanted =
        points_.empty() ? uint64_t{interval_} : uint64_t{points_.back()->dataOffset} + interval_;
    // The points themselves stay where they are when the list grows.
    if (point->dataOffset >= wanted) points_.push_back(std::move(point));
}

} // namespace pak
