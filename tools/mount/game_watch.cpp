// Following a game directory (see game_watch.h).
#include "tools/mount/game_watch.h"

#include <chrono>

namespace pak {

namespace {

constexpr int kMoment = 50;       // ms without a change that ends a batch
constexpr int kLongestBatch = 10; // moments a batch may take at most
constexpr int kIdle = 200;        // ms between looks at whether to stop

} // namespace

GameWatch::GameWatch(const std::string& directory, Handle handle)
    : watch_(directory.c_str()), handle_(std::move(handle)), thread_([this] { run(); }) {}

GameWatch::~GameWatch() {
    stopping_ = true;
    thread_.join();
}

void GameWatch::run() {
    bool settle = false;
    while (!stopping_) {
        std::vector<platform::TreeChange> changes;
        if (!watch_.wait(settle ? kMoment : kIdle, changes))
            std::this_thread::sleep_for(std::chrono::milliseconds(settle ? kMoment : kIdle));
        if (changes.empty()) {
            if (settle || !watching()) handle_(changes);
            settle = false;
            continue;
        }
        for (int moment = 0; moment < kLongestBatch && !stopping_; ++moment) {
            std::size_t before = changes.size();
            if (!watch_.wait(kMoment, changes) || changes.size() == before) break;
        }
        handle_(changes);
        settle = true;
    }
}

} // namespace pak
