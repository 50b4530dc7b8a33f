// Files and directories named by path: their attributes and status, creating, renaming and
// removing them, the current directory and the volumes (see errors.h for the conventions).
#pragma once

#include <cstdint>

namespace platform {

// Returned by fileAttributes and linkAttributes when the path names nothing.
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
// Attribute bit of a directory.
constexpr uint32_t kDirectoryAttribute = 0x10u;
// Attribute bit of what is neither a file nor a directory: a FIFO, a socket or a device node
// (POSIX; on Windows the bit of the same value is never set for a file on a disk).
constexpr uint32_t kDeviceAttribute = 0x40u;
// Attribute bit of a symbolic link (on Windows: of any reparse point, junctions included).
constexpr uint32_t kReparsePointAttribute = 0x400u;

// The attributes of an existing file or directory (kDirectoryAttribute set for a directory),
// or kInvalidAttributes when the path names nothing or cannot be examined.
uint32_t fileAttributes(const char* path);

// The attributes of path itself: like fileAttributes, except that when path is a symbolic link
// the link is not followed and kReparsePointAttribute is set (POSIX reports no other bit for a
// link; Windows adds the link's own bits, kDirectoryAttribute for a directory link).
// kInvalidAttributes when nothing is there.
uint32_t linkAttributes(const char* path);

// What fileStatus reports of a file or directory.
struct FileStatus {
    bool isDirectory = false;
    // Neither a file nor a directory: a FIFO, a socket or a device node (POSIX). Such a thing
    // is never to be read as a file: opening a FIFO waits for a writer, and a device may never
    // end.
    bool isSpecial = false;
    uint64_t size = 0;    // bytes of a file; 0 for a directory
    int64_t modified = 0; // time of the last write, in seconds since 1970-01-01 00:00 UTC
};

// The status of an existing file or directory (through links). False when the path names
// nothing or cannot be examined (lastError set).
bool fileStatus(const char* path, FileStatus& out);

// Whether an existing file can be opened without any access rights (a probe that also succeeds
// for files that fileAttributes cannot examine). A directory cannot be opened this way.
bool canOpenExisting(const char* path);

// Whether the two paths name the same existing file or directory (through links too). False when
// either names nothing.
bool sameFile(const char* a, const char* b);

// Whether the volume whose root is given (such as "C:\", with its backslash) is present and
// answers.
bool volumeAnswers(const char* root);

// Creates one directory (its parent must exist). False when it could not be created,
// also when it exists already.
bool createDirectory(const char* path);

// Removes the empty directory at path (a link itself is not removed). False on failure, also
// when the directory is not empty (lastError 145, ERROR_DIR_NOT_EMPTY).
bool removeDirectory(const char* path);

// Renames the file from to the name to, in one step, within one volume. With replace, an
// existing file at to is replaced (a symbolic link there is replaced itself, never followed);
// without it, an existing to makes the call fail with lastError 183 and leaves both alone.
// A directory at to is never replaced. False on failure.
bool moveFile(const char* from, const char* to, bool replace);

// Deletes the file at path (a symbolic link itself, not its target). False on failure.
bool removeFile(const char* path);

// Writes the current directory and a NUL into buffer, which has room for size bytes.
// Returns the text's length; when it does not fit, returns the room it would need and leaves
// buffer untouched; 0 on failure.
uint32_t currentDirectory(char* buffer, uint32_t size);

// Makes path the current directory. False on failure.
bool changeDirectory(const char* path);

} // namespace platform
