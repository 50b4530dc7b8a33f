// The table of system calls: every operation by which the platform layer reaches the operating
// system goes through one entry of it. For the back ends, which fill it and call through it,
// and for the tests, which replace entries to make an operation fail as the system would; no
// other code includes this header (tests/check_layers.py holds it to that).
//
// The entries start out as the back end's own functions. A test replaces an entry (returning
// the failure and setting lastError), usually by wrapping the original, and puts the table back
// afterwards. The public functions of the other headers are the table's entries called as they
// are, or checks and conversions around them. Not in the table is what cannot fail in a way a
// test would need: what only computes (formatting, sorting, text conversion; on Windows through
// the system's own tables), the last error itself, the program's command line, and the setting
// up of the handlers that catch an interruption.
#pragma once

#include "platform/file_search.h"
#include "platform/file_system.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

class Directory;   // platform/directory.h
struct TreeChange; // platform/tree_watch.h
// Serving a tree of files at a mount point (platform/served_tree.h).
class ServedTree;
struct ServeOptions;
enum class ServeResult;

// What FileSearch::next asks of the back end for one step: 1 with out filled, 0 at the end of
// the directory, -1 when it cannot be read (with lastError set).
enum SearchStep : int { kSearchFailed = -1, kSearchEnded = 0, kSearchFound = 1 };

struct SystemCalls {
    // Files and directories by path (file_system.h).
    uint32_t (*fileAttributes)(const char* path);
    uint32_t (*linkAttributes)(const char* path);
    bool (*fileStatus)(const char* path, FileStatus& out);
    bool (*canOpenExisting)(const char* path);
    bool (*sameFile)(const char* a, const char* b);
    bool (*volumeAnswers)(const char* root);
    bool (*createDirectory)(const char* path);
    bool (*removeDirectory)(const char* path);
    bool (*moveFile)(const char* from, const char* to, bool replace);
    bool (*removeFile)(const char* path);
    uint32_t (*currentDirectory)(char* buffer, uint32_t size);
    bool (*changeDirectory)(const char* path);
    SearchStep (*searchNext)(FileSearch::State& state, FoundFile& out);

    // Streams (streams.h).
    std::FILE* (*openStream)(const char* path, const char* mode);
    std::FILE* (*openRegularFile)(const char* path);
    std::FILE* (*createNewFile)(const char* path);
    // The stream ("w+b") on a file just created exclusively and open as handle (a descriptor on
    // POSIX, a HANDLE on Windows): it takes the handle over. Null on failure (lastError set),
    // the handle still the caller's, who then removes the file again.
    std::FILE* (*streamOnNewFile)(intptr_t handle);
    bool (*setStreamBuffer)(std::FILE* stream, void* buffer, std::size_t size);
    std::ptrdiff_t (*readStream)(std::FILE* stream, void* buffer, std::size_t count);
    std::ptrdiff_t (*readStreamAt)(std::FILE* stream, int64_t offset, void* buffer,
                                   std::size_t count);
    std::size_t (*writeStream)(std::FILE* stream, const void* data, std::size_t count);
    bool (*writeStreamAt)(std::FILE* stream, int64_t offset, const void* data, std::size_t count);
    bool (*resizeStream)(std::FILE* stream, uint64_t size);
    bool (*syncStream)(std::FILE* stream);
    bool (*seekStream)(std::FILE* stream, int64_t offset, int origin);
    int64_t (*streamPosition)(std::FILE* stream);
    bool (*closeStream)(std::FILE* stream);

    // Memory (memory.h).
    void* (*allocatePages)(uint32_t n);
    void* (*reservePages)(uint32_t n);
    bool (*commitPages)(void* pages, uint32_t n);
    void (*freePages)(void* pages, uint32_t n);
    void* (*heapAllocate)(std::size_t n);
    void (*heapFree)(void* block);

    // The console (console.h) and the message box (message_box.h).
    bool (*writeText)(std::FILE* stream, const char* text, std::size_t length);
    bool (*isTerminal)(std::FILE* stream);
    bool (*setBinaryMode)(std::FILE* stream);
    int (*messageBox)(void* owner, const char* text, const char* caption, uint32_t style);

    // Directories held open (platform/directory.h). openDirectory sets where to the path by
    // which the system reaches the directory; both open functions give Directory::kNoHandle on
    // failure. The other entries receive names already checked to be one component.
    intptr_t (*openDirectory)(const char* path, std::string& where);
    intptr_t (*openDirectoryAt)(const Directory& parent, const char* name);
    bool (*createDirectoryAt)(const Directory& parent, const char* name);
    uint32_t (*attributesAt)(const Directory& parent, const char* name);
    std::FILE* (*createFileAt)(const Directory& parent, const char* name);
    bool (*moveFileAt)(const Directory& parent, const char* from, const char* to, bool replace);
    bool (*removeFileAt)(const Directory& parent, const char* name);
    void (*closeDirectory)(intptr_t handle);
    // Files removed when the program is interrupted (platform/removal_on_interrupt.h): arms one,
    // giving a slot of the table, or -1 with lastError set.
    int (*armRemovalOnInterrupt)(const Directory& directory, const char* name);
    // Watching a tree (platform/tree_watch.h): a watch of the directory at path, or
    // TreeWatch::kNoHandle with lastError set; and the changes of one, as TreeWatch::wait.
    intptr_t (*openTreeWatch)(const char* path);
    bool (*readTreeChanges)(intptr_t watch, int milliseconds, std::vector<TreeChange>& changes);
    ServeResult (*serveTree)(ServedTree& tree, const char* mountPoint, const ServeOptions& options,
                             std::string& problem);
};

// The live table.
SystemCalls& systemCalls();

// ---- For the tests only: production code never calls these. ----

// Replaces the message box by handler (null restores the real one) and returns the previous
// handler, null when it was the real one. The handler receives what messageBox received and
// returns the button to report.
using MessageBoxHandler = int (*)(void* owner, const char* text, const char* caption,
                                  uint32_t style);
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// Makes heapAllocate succeed count more times and then fail until called again with a
// negative count (the default: never fail).
void failHeapAllocationsAfter(int count);

} // namespace platform
