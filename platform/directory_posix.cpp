// Directories held open, POSIX back end (see directory.h): a descriptor per directory, and the
// *at functions on it, none of which follows a link at the name it is given.
#include "platform/backend.h"
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/posix_directory_names.h"
#include "platform/posix_paths.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <stdio.h> // renameat2
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

struct Directory::Kept {
    posix::DirectoryNames names;
};

void Directory::KeptDeleter::operator()(Kept* kept) const {
    delete kept;
}

Directory::Kept& Directory::kept() const {
    // Directories are shared between threads: the first use makes the names once.
    static std::mutex making;
    std::lock_guard<std::mutex> held(making);
    if (!kept_) kept_.reset(new Kept);
    return *kept_;
}

} // namespace platform

namespace platform::backend {

namespace {

constexpr uint32_t kNotADirectory = 267; // ERROR_DIRECTORY

int descriptor(const Directory& directory) {
    return static_cast<int>(directory.handle());
}

// The host name that name (one component, system text) finds inside parent, as Windows finds
// a name whatever its case: the name itself when something is there, otherwise the entry whose
// name is the same under the file-name case rule, otherwise the name as given (which is what a
// new file or directory is created as). So an archive's data\b.txt goes into the Data that its
// Data\a.txt made, as it does on Windows. False, with the last error set, when name cannot be
// converted.
bool hostNameAt(const Directory& parent, const char* name, std::string& host) {
    if (!posix::hostPath(name, host)) return false;
    struct stat st {};
    if (fstatat(descriptor(parent), host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return true;
    std::string reachedBy; // only to watch the directory; the names are read through parent
    if (!posix::hostPath(parent.path().c_str(), reachedBy)) reachedBy.clear();
    std::string variant = parent.kept().names.find(descriptor(parent), reachedBy, host);
    if (!variant.empty()) host = variant;
    return true;
}

} // namespace

intptr_t openDirectory(const char* path, std::string& where) {
    std::string host;
    if (!posix::findPath(path, host)) return Directory::kNoHandle;
    int fd = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOTDIR)
            setLastError(kNotADirectory);
        else
            setErrorFromErrno();
        return Directory::kNoHandle;
    }
    where = path;
    return fd;
}

intptr_t openDirectoryAt(const Directory& parent, const char* name) {
    std::string host;
    if (!hostNameAt(parent, name, host)) return Directory::kNoHandle;
    int fd =
        openat(descriptor(parent), host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // ELOOP: a link at the name, which O_NOFOLLOW refuses to follow.
        if (errno == ELOOP || errno == ENOTDIR)
            setLastError(kNotADirectory);
        else
            setErrorFromErrno();
        return Directory::kNoHandle;
    }
    return fd;
}

bool createDirectoryAt(const Directory& parent, const char* name) {
    std::string host;
    if (!hostNameAt(parent, name, host)) return false;
    if (mkdirat(descriptor(parent), host.c_str(), 0777) != 0) {
        setErrorFromErrno();
        return false;
    }
    return true;
}

uint32_t attributesAt(const Directory& parent, const char* name) {
    std::string host;
    if (!hostNameAt(parent, name, host)) return kInvalidAttributes;
    struct stat st {};
    if (fstatat(descriptor(parent), host.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        setErrorFromErrno();
        return kInvalidAttributes;
    }
    return attributesOfMode(st.st_mode);
}

std::FILE* createFileAt(const Directory& parent, const char* name) {
    std::string host;
    if (!hostNameAt(parent, name, host)) return nullptr;
    // O_EXCL fails on anything at the name, a link included, which it never follows.
    int fd = openat(descriptor(parent), host.c_str(),
                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        setErrorFromErrno();
        return nullptr;
    }
    std::FILE* stream = systemCalls().streamOnNewFile(fd);
    if (stream != nullptr) return stream;
    // No stream, so the new file goes again, through the directory it was made in.
    uint32_t error = lastError();
    unlinkat(descriptor(parent), host.c_str(), 0);
    ::close(fd);
    setLastError(error);
    return nullptr;
}

std::FILE* streamOnNewFile(intptr_t handle) {
    std::FILE* stream = fdopen(static_cast<int>(handle), "w+b");
    if (stream == nullptr) setErrorFromErrno();
    return stream;
}

bool moveFileAt(const Directory& parent, const char* from, const char* to, bool replace) {
    std::string hostFrom, hostTo;
    if (!hostNameAt(parent, from, hostFrom) || !hostNameAt(parent, to, hostTo)) return false;
    int fd = descriptor(parent);
    // renameat replaces a link at to itself; a file never replaces a directory (EISDIR).
    if (replace) {
        if (renameat(fd, hostFrom.c_str(), fd, hostTo.c_str()) == 0) return true;
        setErrorFromErrno();
        return false;
    }
    if (renameat2(fd, hostFrom.c_str(), fd, hostTo.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        setErrorFromErrno();
        return false;
    }
    // A file system without RENAME_NOREPLACE: a hard link is just as exclusive.
    if (linkat(fd, hostFrom.c_str(), fd, hostTo.c_str(), 0) != 0) {
        setErrorFromErrno();
        return false;
    }
    unlinkat(fd, hostFrom.c_str(), 0);
    return true;
}

bool removeFileAt(const Directory& parent, const char* name) {
    std::string host;
    if (!hostNameAt(parent, name, host)) return false;
    if (unlinkat(descriptor(parent), host.c_str(), 0) != 0) {
        setErrorFromErrno();
        return false;
    }
    return true;
}

void closeDirectory(intptr_t handle) {
    ::close(static_cast<int>(handle));
}

} // namespace platform::backend
