// Directories held open, the portable part: the names checked once for every back end, and each
// operation dispatched through the table of system calls (see directory.h).
#include "platform/directory.h"

#include "base/cp932.h"
#include "platform/backend.h"
#include "platform/errors.h"

#include <cstring>
#include <utility>

namespace platform {

namespace {

constexpr uint32_t kInvalidName = 123; // ERROR_INVALID_NAME
constexpr uint32_t kInvalidHandle = 6; // ERROR_INVALID_HANDLE

// Whether name is one component that stays inside the directory; sets lastError when not.
bool usable(const Directory& directory, const char* name) {
    if (!directory.isOpen()) {
        setLastError(kInvalidHandle);
        return false;
    }
    bool component = name != nullptr && *name != '\0' && std::strcmp(name, ".") != 0 &&
                     std::strcmp(name, "..") != 0 && cp932::findFirstOf(name, "\\/") == nullptr;
    if (!component) setLastError(kInvalidName);
    return component;
}

} // namespace

Directory::~Directory() {
    close();
}

Directory::Directory(Directory&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)), path_(std::move(other.path_)),
      kept_(std::move(other.kept_)) {}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, kNoHandle);
        path_ = std::move(other.path_);
        kept_ = std::move(other.kept_);
    }
    return *this;
}

void Directory::close() {
    kept_.reset();
    if (handle_ != kNoHandle) systemCalls().closeDirectory(handle_);
    handle_ = kNoHandle;
}

Directory Directory::open(const char* path) {
    std::string where;
    intptr_t handle = systemCalls().openDirectory(path, where);
    return handle == kNoHandle ? Directory() : Directory(handle, where);
}

std::string Directory::pathOf(const char* name) const {
    // A trail byte can be 0x5C, so only a whole character ends the path with a separator.
    const char* separator = cp932::findLastChar(path_.c_str(), '\\');
    bool separated = separator != nullptr && separator + 1 == path_.c_str() + path_.size();
    return path_ + (separated ? "" : "\\") + name;
}

Directory Directory::openChild(const char* name) const {
    if (!usable(*this, name)) return Directory();
    intptr_t handle = systemCalls().openDirectoryAt(*this, name);
    return handle == kNoHandle ? Directory() : Directory(handle, pathOf(name));
}

bool Directory::createChild(const char* name) const {
    return usable(*this, name) && systemCalls().createDirectoryAt(*this, name);
}

uint32_t Directory::attributesOf(const char* name) const {
    return usable(*this, name) ? systemCalls().attributesAt(*this, name) : kInvalidAttributes;
}

std::FILE* Directory::createFile(const char* name) const {
    return usable(*this, name) ? systemCalls().createFileAt(*this, name) : nullptr;
}

bool Directory::moveFile(const char* from, const char* to, bool replace) const {
    return usable(*this, from) && usable(*this, to) &&
           systemCalls().moveFileAt(*this, from, to, replace);
}

bool Directory::removeFile(const char* name) const {
    return usable(*this, name) && systemCalls().removeFileAt(*this, name);
}

} // namespace platform
