// Watching a tree (see tree_watch.h): the part that is the same on every system.
#include "platform/tree_watch.h"

#include "platform/backend.h"

namespace platform {

TreeWatch::TreeWatch(const char* path) : handle_(systemCalls().openTreeWatch(path)) {}

TreeWatch::~TreeWatch() {
    if (handle_ != kNoHandle) backend::closeTreeWatch(handle_);
}

bool TreeWatch::wait(int milliseconds, std::vector<TreeChange>& changes) {
    if (handle_ == kNoHandle) return false;
    return systemCalls().readTreeChanges(handle_, milliseconds, changes);
}

} // namespace platform
