// Link-safe directories for extracted files (see output_tree.h).
#include "tools/pak/output_tree.h"

#include "archive/failure.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "text/system_path.h"
#include "vfs/file_open.h"

namespace pak {

namespace {

constexpr uint32_t kAlreadyExists = 183;

bool isLink(uint32_t attributes) {
    return attributes != platform::kInvalidAttributes &&
           (attributes & platform::kReparsePointAttribute) != 0;
}

bool isDirectory(uint32_t attributes) {
    return attributes != platform::kInvalidAttributes &&
           (attributes & platform::kDirectoryAttribute) != 0;
}

Failure linkRefused(const std::string& path) {
    return Failure(kCorrupt, "refused: " + platform::shownPath(path) +
                                 " is a symbolic link, which is never followed or replaced");
}

// The directory name inside parent (path is its whole path, for messages), created when it is
// missing and opened without following a link.
platform::Directory enter(const platform::Directory& parent, const std::string& name,
                          const std::string& path) {
    if (parent.attributesOf(name.c_str()) == platform::kInvalidAttributes &&
        !parent.createChild(name.c_str()) && platform::lastError() != kAlreadyExists)
        throw Failure(kCorrupt, platform::shownPath(path) +
                                    ": cannot create the directory (system error " +
                                    std::to_string(platform::lastError()) + ")");
    platform::Directory child = parent.openChild(name.c_str());
    if (child.isOpen()) return child;
    // What is there is looked at only now, to say why; what keeps a link from being followed
    // is openChild itself, whatever may have been swapped in since any earlier look.
    uint32_t error = platform::lastError();
    uint32_t attributes = parent.attributesOf(name.c_str());
    if (isLink(attributes)) throw linkRefused(path);
    if (attributes != platform::kInvalidAttributes && !isDirectory(attributes))
        throw Failure(kCorrupt,
                      "refused: " + platform::shownPath(path) + " is a file, not a directory");
    throw Failure(kCorrupt, platform::shownPath(path) +
                                ": cannot open the directory (system error " +
                                std::to_string(error) + ")");
}

} // namespace

OutputTree::OutputTree(const std::string& root) : root_(root) {
    if (!root_.empty() && platform::fileAttributes(root_.c_str()) == platform::kInvalidAttributes)
        createDirectories(root_.c_str());
    rootDirectory_ = platform::Directory::open(root_.empty() ? "." : root_.c_str());
    if (!rootDirectory_.isOpen())
        throw Failure(kCorrupt, (root_.empty() ? std::string(".") : platform::shownPath(root_)) +
                                    ": is not a directory and cannot be made one");
}

OutputTree::FileDestination OutputTree::prepare(const std::vector<std::string>& components) {
    if (components.empty()) throw Failure(kCorrupt, "refused: the name is empty");
    const std::size_t depth = components.size() - 1; // the directories on the way
    std::size_t kept = 0;
    while (kept < openOnTheWay_.size() && kept < depth &&
           openOnTheWay_[kept].name == components[kept])
        ++kept;
    openOnTheWay_.erase(openOnTheWay_.begin() + static_cast<std::ptrdiff_t>(kept),
                        openOnTheWay_.end());

    std::string path = root_;
    for (std::size_t i = 0; i < depth; ++i) {
        path = joinPath(path, components[i]);
        if (i < kept) continue;
        const platform::Directory& parent =
            i == 0 ? rootDirectory_ : openOnTheWay_[i - 1].directory;
        openOnTheWay_.push_back({components[i], enter(parent, components[i], path)});
    }
    const platform::Directory& directory =
        depth == 0 ? rootDirectory_ : openOnTheWay_.back().directory;
    const std::string& name = components.back();
    path = joinPath(path, name);
    // A link or a directory where the file goes is refused. (A link put there after this look
    // would be replaced itself by the final rename, never followed.)
    uint32_t attributes = directory.attributesOf(name.c_str());
    if (isLink(attributes)) throw linkRefused(path);
    if (isDirectory(attributes))
        throw Failure(kCorrupt, "refused: " + platform::shownPath(path) + " is a directory");
    return {directory, name, path};
}

} // namespace pak
