// Directories held open, Windows back end (see directory.h). A directory is held by a handle
// opened without following a reparse point at its name and shared without delete access: while
// it is held, nobody can rename, remove or replace it, so the path through it keeps leading to
// it, and the names inside it are reached by that path.
#include "platform/backend.h"
#include "platform/directory.h"

#include <windows.h>

namespace platform {

// Windows finds names whatever their case by itself: nothing is kept besides the handle.
struct Directory::Kept {};

void Directory::KeptDeleter::operator()(Kept* kept) const {
    delete kept;
}

} // namespace platform

namespace platform::backend {

namespace {

// A handle that holds the directory at path, or kNoHandle when path is no directory (or, with
// followLink false, is a reparse point, a junction included).
intptr_t holdDirectory(const char* path, bool followLink) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    // Listing access, not attribute access alone: only a handle with data access takes part in
    // the sharing checks that keep others from deleting or renaming the directory.
    HANDLE handle = CreateFileA(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Directory::kNoHandle;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        DWORD error = GetLastError();
        CloseHandle(handle);
        SetLastError(error);
        return Directory::kNoHandle;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(handle);
        SetLastError(ERROR_DIRECTORY);
        return Directory::kNoHandle;
    }
    return reinterpret_cast<intptr_t>(handle);
}

} // namespace

intptr_t openDirectory(const char* path, std::string& where) {
    // The full path, so that names inside are found below this directory even when path was
    // relative to a drive's own current directory ("C:").
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) {
        if (length != 0) SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return Directory::kNoHandle;
    }
    intptr_t handle = holdDirectory(full, true);
    if (handle != Directory::kNoHandle) where = full;
    return handle;
}

intptr_t openDirectoryAt(const Directory& parent, const char* name) {
    return holdDirectory(parent.pathOf(name).c_str(), false);
}

bool createDirectoryAt(const Directory& parent, const char* name) {
    return createDirectory(parent.pathOf(name).c_str());
}

uint32_t attributesAt(const Directory& parent, const char* name) {
    return linkAttributes(parent.pathOf(name).c_str());
}

std::FILE* createFileAt(const Directory& parent, const char* name) {
    return createNewFile(parent.pathOf(name).c_str());
}

bool moveFileAt(const Directory& parent, const char* from, const char* to, bool replace) {
    return moveFile(parent.pathOf(from).c_str(), parent.pathOf(to).c_str(), replace);
}

bool removeFileAt(const Directory& parent, const char* name) {
    return removeFile(parent.pathOf(name).c_str());
}

void closeDirectory(intptr_t handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

} // namespace platform::backend
