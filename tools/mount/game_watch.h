// The thread that follows a game directory for a mount: it watches the directory
// (platform/tree_watch.h) and hands what changed, a batch at a time, to the view. Changes that
// come close together (a program writing a file in many pieces, a tree copied in) are taken as
// one batch: the thread waits until none came for a moment, at most half a second. Once after
// each batch, a moment later, it hands an empty batch, so that the view can tell the system
// again what changed, for the requests that were under way at the first telling.
#pragma once

#include "platform/tree_watch.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace pak {

class GameWatch {
  public:
    using Handle = std::function<void(const std::vector<platform::TreeChange>& changes)>;

    // Watches directory (a system path) and calls handle from a thread of its own. watching()
    // tells whether the directory could be watched; when not, handle is still called every
    // moment with an empty batch.
    GameWatch(const std::string& directory, Handle handle);
    // Stops the thread and waits for it.
    ~GameWatch();
    GameWatch(const GameWatch&) = delete;
    GameWatch& operator=(const GameWatch&) = delete;

    bool watching() const { return watch_.watching(); }

  private:
    void run();

    platform::TreeWatch watch_;
    Handle handle_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace pak
