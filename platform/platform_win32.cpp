// Windows back end of the platform layer: the ANSI Windows functions, called with the arguments
// the launcher's file system depends on (for example GetVolumeInformationA with only the
// outputs it needs). Paths and texts pass through unchanged in the ANSI code page.
#include "platform/backend.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/sort_order.h"
#include "platform/streams.h"
#include "platform/utf8_text.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace platform {

void backend::setErrorFromErrno() {
    switch (errno) {
    case ENOSPC:
        SetLastError(ERROR_DISK_FULL);
        break;
    case EACCES:
        SetLastError(ERROR_ACCESS_DENIED);
        break;
    case ENOENT:
        SetLastError(ERROR_FILE_NOT_FOUND);
        break;
    case EBADF:
        SetLastError(ERROR_INVALID_HANDLE);
        break;
    case ENOMEM:
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        break;
    default:
        SetLastError(ERROR_GEN_FAILURE);
        break;
    }
}

uint32_t lastError() {
    return GetLastError();
}
void setLastError(uint32_t code) {
    SetLastError(code);
}

namespace backend {

uint32_t fileAttributes(const char* path) {
    return GetFileAttributesA(path);
}

std::FILE* openStream(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

std::FILE* openRegularFile(const char* path) {
    // Opening never waits here, and a directory cannot be opened as a stream at all; a device
    // (CON, a pipe) is refused once it is seen to be one.
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) return nullptr; // the last error is the system's own
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (GetFileType(handle) == FILE_TYPE_DISK) return stream;
    std::fclose(stream);
    SetLastError(kNotARegularFile);
    return nullptr;
}

bool createDirectory(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
}

bool removeDirectory(const char* path) {
    return RemoveDirectoryA(path) != 0;
}

bool seekStream(std::FILE* stream, int64_t offset, int origin) {
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (_fseeki64(stream, offset, whence) != 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return false;
    }
    return true;
}

int64_t streamPosition(std::FILE* stream) {
    return _ftelli64(stream);
}

// A handle of its own, for overlapped use, on the file that stream is open on. Reads and writes at
// an OVERLAPPED offset through the stream's own handle, which is synchronous, would move that
// handle's file pointer, on which the runtime library's next read of the stream relies; putting
// the pointer back afterwards races with another thread doing the same. An overlapped handle has
// no file pointer at all, and each transfer names its offset. INVALID_HANDLE_VALUE on failure
// (last error set).
HANDLE overlappedHandleOf(std::FILE* stream, DWORD access) {
    auto held = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (held == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    return ReOpenFile(held, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      FILE_FLAG_OVERLAPPED);
}

struct ClosedHandle {
    HANDLE handle;
    ~ClosedHandle() { CloseHandle(handle); }
};

// Transfers count bytes at offset through handle (overlapped, this call's alone, so the wait for
// each transfer may be on the handle), in pieces a DWORD can count. The bytes transferred, fewer
// than count at the end of the file; -1 on failure (last error set).
template <typename Transfer>
std::ptrdiff_t transferAt(HANDLE handle, int64_t offset, std::size_t count, Transfer transfer) {
    std::size_t done = 0;
    while (done < count) {
        uint64_t at = static_cast<uint64_t>(offset) + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        std::size_t left = count - done;
        DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!transfer(done, want, where) && GetLastError() != ERROR_IO_PENDING) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (!GetOverlappedResult(handle, &where, &got, TRUE)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<std::ptrdiff_t>(done);
}

std::ptrdiff_t readStreamAt(std::FILE* stream, int64_t offset, void* buffer, std::size_t count) {
    HANDLE handle = overlappedHandleOf(stream, GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    ClosedHandle closed{handle};
    auto* out = static_cast<unsigned char*>(buffer);
    return transferAt(handle, offset, count, [&](std::size_t done, DWORD want, OVERLAPPED& where) {
        return ReadFile(handle, out + done, want, nullptr, &where);
    });
}

bool writeStreamAt(std::FILE* stream, int64_t offset, const void* data, std::size_t count) {
    HANDLE handle = overlappedHandleOf(stream, GENERIC_WRITE);
    if (handle == INVALID_HANDLE_VALUE) return false;
    ClosedHandle closed{handle};
    const auto* in = static_cast<const unsigned char*>(data);
    std::ptrdiff_t written =
        transferAt(handle, offset, count, [&](std::size_t done, DWORD want, OVERLAPPED& where) {
            return WriteFile(handle, in + done, want, nullptr, &where);
        });
    if (written < 0) return false;
    if (static_cast<std::size_t>(written) < count) {
        SetLastError(ERROR_DISK_FULL); // a write that takes nothing: no room is left
        return false;
    }
    return true;
}

bool resizeStream(std::FILE* stream, uint64_t size) {
    if (std::fflush(stream) != 0 || _chsize_s(_fileno(stream), static_cast<__int64>(size)) != 0) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

bool syncStream(std::FILE* stream) {
    if (std::fflush(stream) != 0) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
}

bool fileStatus(const char* path, FileStatus& out) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    out.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.isSpecial = false; // a directory holds only files and directories here
    out.size = out.isDirectory ? 0 : (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    // FILETIME counts 100 ns from 1601; 11644473600 seconds lie between then and 1970.
    uint64_t ticks =
        (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    out.modified = static_cast<int64_t>(ticks / 10000000u) - 11644473600LL;
    return true;
}

bool volumeAnswers(const char* root) {
    DWORD maximumComponentLength = 0, fileSystemFlags = 0;
    return GetVolumeInformationA(root, nullptr, 0, nullptr, &maximumComponentLength,
                                 &fileSystemFlags, nullptr, 0) != 0;
}

bool canOpenExisting(const char* path) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

uint32_t currentDirectory(char* buffer, uint32_t size) {
    return GetCurrentDirectoryA(size, buffer);
}

uint32_t linkAttributes(const char* path) {
    // GetFileAttributes reports a reparse point's own attributes; it never follows one.
    return GetFileAttributesA(path);
}

std::FILE* createNewFile(const char* path) {
    // CREATE_NEW fails on any existing name, a symbolic link included. Delete access lets a
    // failure below remove the new file through its handle: by name, it might by then be
    // someone else's. Shared deletion lets an interruption remove it while it is open (see
    // removal_on_interrupt.h), as POSIX always allows.
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // CREATE_NEW reports ERROR_FILE_EXISTS; the contract is the one code for both cases.
        if (GetLastError() == ERROR_FILE_EXISTS) SetLastError(ERROR_ALREADY_EXISTS);
        return nullptr;
    }
    std::FILE* stream = systemCalls().streamOnNewFile(reinterpret_cast<intptr_t>(handle));
    if (stream != nullptr) return stream;
    DWORD error = GetLastError();
    FILE_DISPOSITION_INFO discard = {TRUE};
    SetFileInformationByHandle(handle, FileDispositionInfo, &discard, sizeof discard);
    CloseHandle(handle);
    SetLastError(error);
    return nullptr;
}

std::FILE* streamOnNewFile(intptr_t handle) {
    // A descriptor of the runtime library owns the handle it is given even when no stream can be
    // made on it: it gets a duplicate, and the handle itself is closed once the stream stands.
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(handle), GetCurrentProcess(),
                         &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_RDWR | _O_BINARY);
    std::FILE* stream = fd == -1 ? nullptr : _fdopen(fd, "w+b");
    if (stream == nullptr) {
        if (fd == -1)
            CloseHandle(copy);
        else
            _close(fd); // closes the duplicate too
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return nullptr;
    }
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return stream;
}

bool moveFile(const char* from, const char* to, bool replace) {
    return MoveFileExA(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
}

bool removeFile(const char* path) {
    return DeleteFileA(path) != 0;
}

namespace {

// The volume and index that identify an existing file or directory.
bool fileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return known;
}

} // namespace

bool sameFile(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    if (!fileIdentity(a, first) || !fileIdentity(b, second)) return false;
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool changeDirectory(const char* path) {
    return SetCurrentDirectoryA(path) != 0;
}

} // namespace backend

bool hostToSystemText(const char* text, std::string& out) {
    out.assign(text); // the ANSI code page is code page 932 already
    return true;
}

bool hostToSystemPath(const char* path, std::string& out) {
    out.assign(path);
    for (char& c : out)
        if (c == '/') c = '\\'; // 0x2F is never a trail byte
    return true;
}

std::string shownPath(const std::string& path) {
    return path;
}

namespace {

// The console behind stream, or null when stream goes to a file, a pipe or the NUL device.
HANDLE askConsole(std::FILE* stream) {
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
    return handle;
}

// The answer for the three standard streams, asked once: the question is a call into the
// console (under Wine, into its server) that would otherwise be made for every line.
struct StandardStream {
    bool asked = false;
    HANDLE console = nullptr;
};
StandardStream standardStreams[3];

HANDLE consoleOf(std::FILE* stream) {
    int descriptor = _fileno(stream);
    if (descriptor < 0 || descriptor > 2) return askConsole(stream);
    StandardStream& known = standardStreams[descriptor];
    if (!known.asked) {
        known.console = askConsole(stream);
        known.asked = true;
    }
    return known.console;
}

} // namespace

bool backend::writeText(std::FILE* stream, const char* text, std::size_t length) {
    if (length == 0) return true;
    HANDLE console = consoleOf(stream);
    if (console == nullptr) return std::fwrite(text, 1, length, stream) == length;
    int wideLength =
        MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0);
    if (wideLength <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), wide.data(),
                        wideLength);
    std::fflush(stream); // what went through the stream comes first
    const wchar_t* next = wide.c_str();
    DWORD left = static_cast<DWORD>(wide.size());
    while (left > 0) {
        // Older consoles refuse one call of more than about 64 KiB; pieces of 16K characters
        // are still large.
        DWORD piece = left < 16384 ? left : 16384;
        DWORD written = 0;
        if (!WriteConsoleW(console, next, piece, &written, nullptr) || written == 0) return false;
        next += written;
        left -= written;
    }
    return true;
}

bool backend::isTerminal(std::FILE* stream) {
    return consoleOf(stream) != nullptr;
}

void setUpStandardOutput() {
    consoleOf(stderr);
    // A buffer of our own, as on POSIX, where the runtime library would not take the size alone.
    static char buffer[64 * 1024];
    if (consoleOf(stdout) == nullptr) setStreamBuffer(stdout, buffer, sizeof buffer);
}

bool backend::setBinaryMode(std::FILE* stream) {
    return _setmode(_fileno(stream), _O_BINARY) != -1;
}

struct FileSearch::State {
    std::string pattern;
    bool started = false; // FindFirstFileA has been asked
    HANDLE handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA first{};
    bool firstPending = false;
    DWORD openError = 0; // why FindFirstFileA failed; ERROR_FILE_NOT_FOUND when nothing matched
};

FileSearch::FileSearch(const char* pattern) : state_(std::make_unique<State>()) {
    state_->pattern = pattern;
}

FileSearch::~FileSearch() {
    if (state_->handle != INVALID_HANDLE_VALUE) FindClose(state_->handle);
}

SearchStep backend::searchNext(FileSearch::State& state, FoundFile& out) {
    if (!state.started) {
        state.started = true;
        state.handle = FindFirstFileA(state.pattern.c_str(), &state.first);
        state.firstPending = state.handle != INVALID_HANDLE_VALUE;
        if (!state.firstPending) state.openError = GetLastError();
    }
    if (state.handle == INVALID_HANDLE_VALUE) {
        // Nothing matched in a directory that exists: an empty result, not a failure.
        SetLastError(state.openError);
        return state.openError == ERROR_FILE_NOT_FOUND ? kSearchEnded : kSearchFailed;
    }
    WIN32_FIND_DATAA data;
    do {
        if (state.firstPending) {
            data = state.first;
            state.firstPending = false;
        } else if (!FindNextFileA(state.handle, &data)) {
            return GetLastError() == ERROR_NO_MORE_FILES ? kSearchEnded : kSearchFailed;
        }
    } while (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0);
    static_assert(sizeof out.name == sizeof data.cFileName, "file name buffers differ");
    std::memcpy(out.name, data.cFileName, sizeof out.name);
    out.name[sizeof out.name - 1] = '\0';
    out.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return kSearchFound;
}

unsigned FileSearch::skipped() const {
    return 0;
}

int compareNoCase(const char* a, const char* b) {
    return lstrcmpiA(a, b);
}

int backend::compareWithCase(const char* a, const char* b) {
    return lstrcmpA(a, b);
}

void* backend::allocatePages(uint32_t n) {
    return VirtualAlloc(nullptr, n, MEM_COMMIT, PAGE_READWRITE);
}

void* backend::reservePages(uint32_t n) {
    return VirtualAlloc(nullptr, n, MEM_RESERVE, PAGE_NOACCESS);
}

bool backend::commitPages(void* pages, uint32_t n) {
    return VirtualAlloc(pages, n, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void backend::freePages(void* pages, uint32_t /*n*/) {
    VirtualFree(pages, 0, MEM_RELEASE);
}

namespace {

// Converts between two code pages through UTF-16; -1 when a character does not survive.
int convert(UINT from, UINT to, const char* text, char* out, std::size_t room) {
    int wideLength = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (wideLength <= 0) return -1;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text, -1, wide.data(), wideLength);
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = to == CP_UTF8 ? nullptr : &usedDefault;
    DWORD flags = to == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int length = WideCharToMultiByte(to, flags, wide.c_str(), -1, out, static_cast<int>(room),
                                     nullptr, usedDefaultOut);
    if (length <= 0 || usedDefault) return -1;
    return length - 1;
}

} // namespace

int cp932ToUtf8(const char* text, char* out, std::size_t room) {
    return convert(932, CP_UTF8, text, out, room);
}

int utf8ToCp932(const char* text, char* out, std::size_t room) {
    return convert(CP_UTF8, 932, text, out, room);
}

namespace backend {

int systemMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

} // namespace backend

} // namespace platform
