// Windows back end of the platform layer: the ANSI Windows functions, called with the arguments
// the system has always used. Paths and texts pass through unchanged in the ANSI code page.
#include "platform/backend.h"
#include "platform/platform.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace platform {

uint32_t lastError() {
    return GetLastError();
}
void setLastError(uint32_t code) {
    SetLastError(code);
}

uint32_t fileAttributes(const char* path) {
    return GetFileAttributesA(path);
}

std::FILE* openStream(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

bool createDirectory(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
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

struct FileSearch::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA first{};
    bool firstPending = false;
};

FileSearch::FileSearch(const char* pattern) : state_(std::make_unique<State>()) {
    state_->handle = FindFirstFileA(pattern, &state_->first);
    state_->firstPending = state_->handle != INVALID_HANDLE_VALUE;
}

FileSearch::~FileSearch() {
    if (state_->handle != INVALID_HANDLE_VALUE) FindClose(state_->handle);
}

bool FileSearch::next(FoundFile& out) {
    if (state_->handle == INVALID_HANDLE_VALUE) return false;
    WIN32_FIND_DATAA data;
    do {
        if (state_->firstPending) {
            data = state_->first;
            state_->firstPending = false;
        } else if (!FindNextFileA(state_->handle, &data)) {
            return false;
        }
    } while (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0);
    static_assert(sizeof out.name == sizeof data.cFileName, "file name buffers differ");
    std::memcpy(out.name, data.cFileName, sizeof out.name);
    out.name[sizeof out.name - 1] = '\0';
    out.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

int compareNoCase(const char* a, const char* b) {
    return lstrcmpiA(a, b);
}

void* allocatePages(uint32_t n) {
    if (n == 0) return nullptr;
    return VirtualAlloc(nullptr, n, MEM_COMMIT, PAGE_READWRITE);
}

void freePages(void* pages, uint32_t /*n*/) {
    if (pages) VirtualFree(pages, 0, MEM_RELEASE);
}

int formatText(char* buffer, std::size_t room, const char* pattern, va_list args) {
    return std::vsnprintf(buffer, room, pattern, args);
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
