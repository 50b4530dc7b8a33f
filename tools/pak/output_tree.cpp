// Link-safe directories for extracted files (see output_tree.h).
#include "tools/pak/output_tree.h"

#include "platform/platform.h"
#include "tools/pak/failure.h"
#include "tools/pak/system_path.h"
#include "vfs/file_open.h"

namespace pak {

namespace {

bool isLink(uint32_t attributes) {
    return attributes != platform::kInvalidAttributes &&
           (attributes & platform::kReparsePointAttribute) != 0;
}

bool isDirectory(uint32_t attributes) {
    return attributes != platform::kInvalidAttributes &&
           (attributes & platform::kDirectoryAttribute) != 0;
}

} // namespace

OutputTree::OutputTree(const std::string& root) : root_(root) {
    if (root_.empty()) return;
    if (platform::fileAttributes(root_.c_str()) == platform::kInvalidAttributes)
        createDirectories(root_.c_str());
    if (!isDirectory(platform::fileAttributes(root_.c_str())))
        throw Failure(kCorrupt, root_ + ": is not a directory and cannot be made one");
}

std::string OutputTree::prepare(const std::vector<std::string>& components) {
    std::string path = root_;
    for (std::size_t i = 0; i < components.size(); ++i) {
        path = joinPath(path, components[i]);
        bool last = i + 1 == components.size();
        if (!last && directories_.count(path) != 0) continue;

        uint32_t attributes = platform::linkAttributes(path.c_str());
        if (isLink(attributes))
            throw Failure(kCorrupt, "refused: " + path + " is a symbolic link, which is never " +
                                        "followed or replaced");
        if (last) {
            if (isDirectory(attributes))
                throw Failure(kCorrupt, "refused: " + path + " is a directory");
            break;
        }
        if (attributes == platform::kInvalidAttributes) {
            if (!platform::createDirectory(path.c_str()))
                throw Failure(kCorrupt, path + ": cannot create the directory (system error " +
                                            std::to_string(platform::lastError()) + ")");
        } else if (!isDirectory(attributes)) {
            throw Failure(kCorrupt, "refused: " + path + " is a file, not a directory");
        }
        directories_.insert(path);
    }
    return path;
}

} // namespace pak
