// Serving trees where this build cannot (see served_tree.h): the Windows build, whose system
// has no file systems run by programs, and a Linux build made without libfuse3.
#include "platform/backend.h"
#include "platform/served_tree.h"

namespace platform {

TreeServing treeServing() {
#ifdef _WIN32
    return TreeServing::kNotOnWindows;
#else
    return TreeServing::kNotBuilt;
#endif
}

NameFit servedNameFit(const std::string& /*name*/) {
    return NameFit::kFits; // nothing is ever served here
}

ServeResult backend::serveTree(ServedTree& /*tree*/, const char* /*mountPoint*/,
                               const ServeOptions& /*options*/, std::string& problem) {
    problem = treeServing() == TreeServing::kNotOnWindows
                  ? "the Windows build cannot mount file systems"
                  : "this build was made without libfuse3 and cannot mount file systems";
    return ServeResult::kUnsupported;
}

} // namespace platform
