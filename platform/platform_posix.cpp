// POSIX back end of the platform layer (Linux).
//
// Inside the system, paths are code page 932 bytes with backslash separators. Here they become
// the host's UTF-8 paths with '/' and back, found whatever the case of their names as Windows
// finds them (posix_paths.h). Text is converted with Microsoft's table of code page 932
// (base/cp932_unicode.h), in which 0x5C is the backslash and U+00A5 has no code. Directories
// are searched in file_search_posix.cpp.
#include "base/cp932.h"
#include "base/cp932_unicode.h"
#include "base/word_sort.h"
#include "platform/backend.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/posix_paths.h"
#include "platform/sort_order.h"
#include "platform/streams.h"
#include "platform/utf8_text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h> // renameat2
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

thread_local uint32_t threadLastError = 0;

// Windows error codes for the errno values that file operations report.
uint32_t errorFromErrno(int e) {
    switch (e) {
    case 0:
        return 0;
    case ENOENT:
        return 2; // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
        return 3; // ERROR_PATH_NOT_FOUND
    case EMFILE:
    case ENFILE:
        return 4; // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
    case EROFS:
        return 5; // ERROR_ACCESS_DENIED
    case ENOMEM:
        return 8; // ERROR_NOT_ENOUGH_MEMORY
    case EILSEQ:
        return 123; // ERROR_INVALID_NAME
    case EEXIST:
        return 183; // ERROR_ALREADY_EXISTS
    case ENAMETOOLONG:
        return 206; // ERROR_FILENAME_EXCED_RANGE
    case ENOSPC:
    case EDQUOT:
        return 112; // ERROR_DISK_FULL
    case EBUSY:
        return 32; // ERROR_SHARING_VIOLATION
    default:
        return 31; // ERROR_GEN_FAILURE
    }
}

void setErrorFromErrno() {
    threadLastError = errorFromErrno(errno);
}

using posix::findPath;
using posix::systemPath;
using posix::withSlashes;

} // namespace

void backend::setErrorFromErrno() {
    threadLastError = errorFromErrno(errno);
}

uint32_t backend::attributesOfMode(unsigned mode) {
    if (S_ISLNK(mode)) return kReparsePointAttribute;
    uint32_t attributes = S_ISDIR(mode)   ? kDirectoryAttribute
                          : S_ISREG(mode) ? 0x80u // FILE_ATTRIBUTE_NORMAL
                                          : kDeviceAttribute;
    if ((mode & S_IWUSR) == 0) attributes |= 0x1u; // read-only
    return attributes;
}

uint32_t lastError() {
    return threadLastError;
}
void setLastError(uint32_t code) {
    threadLastError = code;
}

namespace {

// The Windows-style attributes of path, through a symbolic link or (followLinks false) of the
// link itself, which then reports kReparsePointAttribute alone.
uint32_t attributesOf(const char* path, bool followLinks) {
    std::string host;
    if (!findPath(path, host)) return kInvalidAttributes;
    struct stat st {};
    int status = host.empty()  ? -1
                 : followLinks ? stat(host.c_str(), &st)
                               : lstat(host.c_str(), &st);
    if (status != 0) {
        if (host.empty()) errno = ENOENT;
        setErrorFromErrno();
        return kInvalidAttributes;
    }
    return backend::attributesOfMode(st.st_mode);
}

} // namespace

namespace backend {

uint32_t fileAttributes(const char* path) {
    return attributesOf(path, true);
}

std::FILE* openStream(const char* path, const char* mode) {
    std::string host;
    if (!findPath(path, host)) return nullptr;
    std::FILE* stream = std::fopen(host.c_str(), mode);
    if (!stream) {
        setErrorFromErrno();
        return nullptr;
    }
    struct stat st {};
    if (fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode)) {
        // Windows cannot open a directory as a stream; neither do we.
        std::fclose(stream);
        threadLastError = 5;
        return nullptr;
    }
    return stream;
}

std::FILE* openRegularFile(const char* path) {
    std::string host;
    if (!findPath(path, host)) return nullptr;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer; O_NOCTTY keeps a terminal from
    // becoming the program's own. Only then is it seen what was opened.
    int fd = open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        setErrorFromErrno();
        return nullptr;
    }
    struct stat st {};
    int flags = -1;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular) {
        threadLastError = kNotARegularFile;
    } else if ((flags = fcntl(fd, F_GETFL)) < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        setErrorFromErrno(); // a regular file is read as usual, without the flag
    } else if (std::FILE* stream = fdopen(fd, "rb")) {
        return stream;
    } else {
        setErrorFromErrno();
    }
    close(fd);
    return nullptr;
}

bool createDirectory(const char* path) {
    std::string host;
    if (!findPath(path, host)) return false;
    if (mkdir(host.c_str(), 0777) != 0) {
        setErrorFromErrno();
        return false;
    }
    return true;
}

bool removeDirectory(const char* path) {
    std::string host;
    if (!findPath(path, host)) return false;
    if (rmdir(host.c_str()) != 0) {
        int error = errno;
        setErrorFromErrno();
        if (error == ENOTEMPTY || error == EEXIST) threadLastError = 145; // ERROR_DIR_NOT_EMPTY
        return false;
    }
    return true;
}

bool seekStream(std::FILE* stream, int64_t offset, int origin) {
    static_assert(sizeof(off_t) == 8, "large-file support is needed: build with 64-bit off_t");
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
    if (whence < 0 || fseeko(stream, static_cast<off_t>(offset), whence) != 0) {
        threadLastError = whence < 0 ? 87 : errorFromErrno(errno); // 87: invalid parameter
        return false;
    }
    return true;
}

std::ptrdiff_t readStreamAt(std::FILE* stream, int64_t offset, void* buffer, std::size_t count) {
    // pread keeps to the descriptor and leaves its position alone, so the stream's own buffer
    // and position stay as they were and other threads may read at the same time.
    int descriptor = fileno(stream);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t delivered = 0;
    while (delivered < count) {
        ssize_t got = pread(descriptor, out + delivered, count - delivered,
                            static_cast<off_t>(offset) + static_cast<off_t>(delivered));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            setErrorFromErrno();
            return -1;
        }
        if (got == 0) break; // the end of the file
        delivered += static_cast<std::size_t>(got);
    }
    return static_cast<std::ptrdiff_t>(delivered);
}

bool writeStreamAt(std::FILE* stream, int64_t offset, const void* data, std::size_t count) {
    // pwrite, as pread for readStreamAt: the stream's position and buffer stay as they were.
    int descriptor = fileno(stream);
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t written = 0;
    while (written < count) {
        ssize_t done = pwrite(descriptor, in + written, count - written,
                              static_cast<off_t>(offset) + static_cast<off_t>(written));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            if (done == 0) errno = ENOSPC;
            setErrorFromErrno();
            return false;
        }
        written += static_cast<std::size_t>(done);
    }
    return true;
}

bool resizeStream(std::FILE* stream, uint64_t size) {
    if (std::fflush(stream) != 0 || ftruncate(fileno(stream), static_cast<off_t>(size)) != 0) {
        setErrorFromErrno();
        return false;
    }
    return true;
}

bool syncStream(std::FILE* stream) {
    if (std::fflush(stream) != 0 || fsync(fileno(stream)) != 0) {
        setErrorFromErrno();
        return false;
    }
    return true;
}

bool fileStatus(const char* path, FileStatus& out) {
    std::string host;
    if (!findPath(path, host)) return false;
    struct stat st {};
    if (host.empty() || stat(host.c_str(), &st) != 0) {
        if (host.empty()) errno = ENOENT;
        setErrorFromErrno();
        return false;
    }
    out.isDirectory = S_ISDIR(st.st_mode);
    out.isSpecial = !out.isDirectory && !S_ISREG(st.st_mode);
    out.size = out.isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
    out.modified = static_cast<int64_t>(st.st_mtime);
    return true;
}

int64_t streamPosition(std::FILE* stream) {
    off_t position = ftello(stream);
    if (position < 0) setErrorFromErrno();
    return position;
}

bool volumeAnswers(const char* /*root*/) {
    // Linux has no drive letters: a path that starts with one names nothing here.
    threadLastError = 3; // ERROR_PATH_NOT_FOUND
    return false;
}

bool canOpenExisting(const char* path) {
    std::string host;
    if (!findPath(path, host)) return false;
    int fd = open(host.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) {
        setErrorFromErrno();
        return false;
    }
    struct stat st {};
    bool isDirectory = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    close(fd);
    if (isDirectory) threadLastError = 5; // as on Windows, a directory is not opened this way
    return !isDirectory;
}

uint32_t currentDirectory(char* buffer, uint32_t size) {
    char host[4096];
    std::string text;
    if (!getcwd(host, sizeof host)) {
        setErrorFromErrno();
        return 0;
    }
    if (!systemPath(host, text)) {
        threadLastError = 123;
        return 0;
    }
    auto length = static_cast<uint32_t>(text.size());
    if (length + 1 > size) return length + 1;
    std::memcpy(buffer, text.c_str(), length + 1);
    return length;
}

uint32_t linkAttributes(const char* path) {
    return attributesOf(path, false);
}

std::FILE* createNewFile(const char* path) {
    std::string host;
    if (!findPath(path, host)) return nullptr;
    // "x" (O_EXCL with O_CREAT) fails on any existing name, a symbolic link included, and never
    // follows one; "e" keeps the descriptor from child programs. fopen makes its stream before
    // it creates the file, so no failure leaves a new file to be cleared away by name, which by
    // then might be someone else's.
    std::FILE* stream = std::fopen(host.c_str(), "w+bxe");
    if (stream == nullptr) setErrorFromErrno();
    return stream;
}

bool moveFile(const char* from, const char* to, bool replace) {
    std::string hostFrom, hostTo;
    if (!findPath(from, hostFrom) || !findPath(to, hostTo)) return false;
    if (replace) {
        struct stat st {};
        // A directory is never replaced (rename() would replace an empty one with another).
        if (lstat(hostTo.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            threadLastError = 5;
            return false;
        }
        if (rename(hostFrom.c_str(), hostTo.c_str()) != 0) {
            setErrorFromErrno();
            return false;
        }
        return true;
    }
    if (renameat2(AT_FDCWD, hostFrom.c_str(), AT_FDCWD, hostTo.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        setErrorFromErrno();
        return false;
    }
    // A file system without RENAME_NOREPLACE: a hard link is just as exclusive.
    if (link(hostFrom.c_str(), hostTo.c_str()) != 0) {
        setErrorFromErrno();
        return false;
    }
    unlink(hostFrom.c_str());
    return true;
}

bool removeFile(const char* path) {
    std::string host;
    if (!findPath(path, host)) return false;
    if (unlink(host.c_str()) != 0) {
        setErrorFromErrno();
        return false;
    }
    return true;
}

bool sameFile(const char* a, const char* b) {
    std::string hostA, hostB;
    if (!findPath(a, hostA) || !findPath(b, hostB)) return false;
    struct stat first {
    }, second{};
    if (stat(hostA.c_str(), &first) != 0 || stat(hostB.c_str(), &second) != 0) {
        setErrorFromErrno();
        return false;
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool changeDirectory(const char* path) {
    std::string host;
    if (!findPath(path, host)) return false;
    if (host.empty() || chdir(host.c_str()) != 0) {
        if (host.empty()) errno = ENOENT;
        setErrorFromErrno();
        return false;
    }
    return true;
}

} // namespace backend

bool commandLineArguments(int argc, char** argv, std::vector<std::string>& out) {
    out.clear();
    for (int i = 1; i < argc; ++i)
        out.emplace_back(argv[i]);
    return true;
}

bool hostToSystemText(const char* text, std::string& out) {
    return cp932::fromUtf8(text, std::strlen(text), out);
}

bool hostToSystemPath(const char* path, std::string& out) {
    return systemPath(path, out);
}

std::string shownPath(const std::string& path) {
    return withSlashes(path.c_str());
}

bool backend::writeText(std::FILE* stream, const char* text, std::size_t length) {
    std::string utf8;
    if (!cp932::toUtf8(text, length, utf8)) return false;
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

bool backend::isTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

void setUpStandardOutput() {
    // A buffer of our own: given none, glibc keeps the device's block size (4 KiB for a pipe)
    // whatever size is asked for.
    static char buffer[64 * 1024];
    if (!isTerminal(stdout)) setStreamBuffer(stdout, buffer, sizeof buffer);
}

bool backend::setBinaryMode(std::FILE* /*stream*/) {
    return true; // POSIX streams never translate
}

int compareNoCase(const char* a, const char* b) {
    return cp932::compareWordSort(a, b, true);
}

int backend::compareWithCase(const char* a, const char* b) {
    return cp932::compareWordSort(a, b, false);
}

void* backend::allocatePages(uint32_t n) {
    // Pages are backed by memory only when first written, so what a corrupt archive declares
    // but its stream never fills costs address space and nothing more.
    void* pages = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        setErrorFromErrno();
        return nullptr;
    }
    return pages;
}

void* backend::reservePages(uint32_t n) {
    void* pages = mmap(nullptr, n, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (pages == MAP_FAILED) {
        setErrorFromErrno();
        return nullptr;
    }
    return pages;
}

bool backend::commitPages(void* pages, uint32_t n) {
    if (mprotect(pages, n, PROT_READ | PROT_WRITE) != 0) {
        setErrorFromErrno();
        return false;
    }
    // Faulting the pages in at once is much faster than one write fault per page; a kernel
    // that cannot (before Linux 5.14) leaves them to be faulted in as they are written.
    if (madvise(pages, n, MADV_POPULATE_WRITE) != 0 && errno != EINVAL) {
        setErrorFromErrno();
        return false;
    }
    return true;
}

void backend::freePages(void* pages, uint32_t n) {
    munmap(pages, n);
}

int cp932ToUtf8(const char* text, char* out, std::size_t room) {
    std::string converted;
    if (!cp932::toUtf8(text, std::strlen(text), converted) || converted.size() + 1 > room)
        return -1;
    std::memcpy(out, converted.c_str(), converted.size() + 1);
    return static_cast<int>(converted.size());
}

int utf8ToCp932(const char* text, char* out, std::size_t room) {
    std::string converted;
    if (!cp932::fromUtf8(text, std::strlen(text), converted) || converted.size() + 1 > room)
        return -1;
    std::memcpy(out, converted.c_str(), converted.size() + 1);
    return static_cast<int>(converted.size());
}

namespace backend {

int systemMessageBox(void* /*owner*/, const char* text, const char* caption, uint32_t style) {
    auto show = [](const char* s) {
        std::string utf8;
        if (!s) return std::string();
        return cp932::toUtf8(s, std::strlen(s), utf8) ? utf8 : std::string(s);
    };
    std::string message = show(caption) + ": " + show(text) + "\n";
    std::fputs(message.c_str(), stderr);
    switch (style & 0xF) {
    case kMbAbortRetryIgnore: {
        if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) return kIdIgnore;
        for (;;) {
            std::fputs("[A]bort, [R]etry or [I]gnore? ", stderr);
            std::fflush(stderr);
            char answer[64];
            if (!std::fgets(answer, sizeof answer, stdin)) return kIdIgnore;
            switch (answer[0]) {
            case 'a':
            case 'A':
                return kIdAbort;
            case 'r':
            case 'R':
                return kIdRetry;
            case 'i':
            case 'I':
                return kIdIgnore;
            default:
                break;
            }
        }
    }
    case 0x0:
        return kIdOk;
    case 0x4:
        return 7; // Yes/No: No
    default:
        return kIdCancel; // boxes with a Cancel button
    }
}

} // namespace backend

} // namespace platform
