// A directory held open, and the names directly inside it.
//
// For programs that write below a directory at places named by untrusted data (the entries of
// an archive) while other processes may change the tree: a check of a name and its use must not
// be two lookups of one path, between which a checked directory could be swapped for a link.
// So every operation here works in a directory that is held, on one name, and none follows a
// symbolic link (on Windows, any reparse point) at that name.
//
// POSIX holds a descriptor and uses openat and its kin. Windows holds a handle that shares no
// delete access, so that the directory cannot be renamed, removed or replaced while it is held,
// and works below it by path: that path stays the same only while every directory along it is
// held too, so keep the parents of a directory open while working in it.
//
// Every operation goes through the table of system calls (system_calls.h). A name is one component:
// not empty, not "." or "..", without a backslash or '/'; any other fails with lastError 123
// (ERROR_INVALID_NAME) before the system is asked.
#pragma once

#include "platform/file_system.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace platform {

class Directory {
  public:
    // Holds nothing.
    Directory() = default;
    ~Directory();
    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // Opens the directory at path (a system path, "." for the current directory). Links along
    // path and at its end are followed: where it leads is the caller's choice. Holds nothing on
    // failure (lastError set; 267, ERROR_DIRECTORY, when path is no directory).
    static Directory open(const char* path);

    bool isOpen() const { return handle_ != kNoHandle; }
    // The directory's path as the system reaches it (on Windows a full path), then the names
    // of the openChild calls that led here.
    const std::string& path() const { return path_; }
    // The path of name inside this directory.
    std::string pathOf(const char* name) const;
    // The system's own handle (a descriptor on POSIX), for the back ends.
    intptr_t handle() const { return handle_; }
    // What the back end keeps of this directory besides its handle (POSIX: the folded names of
    // its entries and their watch, see posix_directory_names.h), made at its first use and
    // gone with the handle. For the back ends.
    struct Kept;
    Kept& kept() const;

    // Opens the directory name inside this one. Holds nothing on failure: when nothing is
    // there (lastError 2), or a link is, whatever it points to, or a file (lastError 267).
    Directory openChild(const char* name) const;
    // Creates the directory name inside this one. False when anything is there already
    // (lastError 183, a link included) or it cannot be created.
    bool createChild(const char* name) const;
    // The attributes of name inside this one, as linkAttributes reports them: a link is seen,
    // never followed. kInvalidAttributes when nothing is there.
    uint32_t attributesOf(const char* name) const;
    // Creates a new, empty file name inside this one, as createNewFile does: exclusively (a
    // link there, dangling or not, makes it fail with lastError 183), open for reading and
    // writing in binary mode. Null on failure; no file is left behind then.
    std::FILE* createFile(const char* name) const;
    // Renames the file from to the name to, both inside this one, in one step. With replace,
    // what is at to is replaced (a link itself, never followed); without it, anything at to
    // makes the call fail with lastError 183. A directory at to is never replaced.
    bool moveFile(const char* from, const char* to, bool replace) const;
    // Deletes the file name inside this one (a link itself, not its target).
    bool removeFile(const char* name) const;

    static constexpr intptr_t kNoHandle = -1;

  private:
    Directory(intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    void close();

    struct KeptDeleter {
        void operator()(Kept* kept) const; // in the back end, which knows what Kept is
    };

    intptr_t handle_ = kNoHandle;
    std::string path_;
    mutable std::unique_ptr<Kept, KeptDeleter> kept_;
};

} // namespace platform
