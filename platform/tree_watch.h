// Watching a directory and everything below it for changes, so that a view of it can follow
// what other programs do there. Linux watches with inotify, one watch per directory, added as
// directories appear; the Windows build cannot watch (the mount, its one user, is absent there)
// and says so.
//
// Changes are told as paths relative to the watched directory (system text, backslashes), a
// path once for every change of it, in the order they happened. A name that has no code page
// 932 form is passed over: no view of the game can hold it. When the system had to drop
// changes (too many at once), one change with an empty path says that anything may have
// changed. Goes through platform::systemCalls().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct TreeChange {
    std::string path;         // relative to the watched directory; empty: anything may have changed
    bool contentOnly = false; // a file's bytes or attributes changed, not the names that exist
};

class TreeWatch {
  public:
    // Starts watching the directory at path (a system path) and every directory below it
    // (links are not followed). watching() tells whether it could (lastError set if not).
    explicit TreeWatch(const char* path);
    ~TreeWatch();
    TreeWatch(const TreeWatch&) = delete;
    TreeWatch& operator=(const TreeWatch&) = delete;

    bool watching() const { return handle_ != kNoHandle; }
    // Waits at most milliseconds for changes and appends those that came. False when the watch
    // failed or there is none (lastError set); then nothing more will come.
    bool wait(int milliseconds, std::vector<TreeChange>& changes);

    static constexpr intptr_t kNoHandle = -1;

  private:
    intptr_t handle_ = kNoHandle;
};

} // namespace platform
