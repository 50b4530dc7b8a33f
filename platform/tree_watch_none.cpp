// Watching trees where this build cannot (see tree_watch.h): the Windows build.
#include "platform/backend.h"
#include "platform/tree_watch.h"

namespace platform::backend {

intptr_t openTreeWatch(const char* /*path*/) {
    setLastError(50); // ERROR_NOT_SUPPORTED
    return TreeWatch::kNoHandle;
}

bool readTreeChanges(intptr_t /*handle*/, int /*milliseconds*/,
                     std::vector<TreeChange>& /*changes*/) {
    setLastError(50);
    return false;
}

void closeTreeWatch(intptr_t /*handle*/) {}

} // namespace platform::backend
