// What each back end supplies to the portable part of the platform layer (platform_common.cpp).
// Internal to platform/.
//
// The functions that reach the system are the back end's own versions of the public functions
// of the same name; the portable part puts them into the table of system calls
// (system_calls.h), through which every call of them goes.
#pragma once

#include "platform/errors.h"
#include "platform/system_calls.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform::backend {

// Sets the last error from the runtime library's errno, in Windows terms.
void setErrorFromErrno();

// The system's own message box (no test handler involved); see platform::messageBox.
int systemMessageBox(void* owner, const char* text, const char* caption, uint32_t style);

// compareNoCase with regard to case (lstrcmpA on Windows), for sortOrder.
int compareWithCase(const char* a, const char* b);

uint32_t fileAttributes(const char* path);
uint32_t linkAttributes(const char* path);
bool canOpenExisting(const char* path);
bool sameFile(const char* a, const char* b);
uint32_t currentDirectory(char* buffer, uint32_t size);
bool changeDirectory(const char* path);
std::FILE* openStream(const char* path, const char* mode);
std::FILE* openRegularFile(const char* path);
std::FILE* createNewFile(const char* path);
std::FILE* streamOnNewFile(intptr_t handle);
bool seekStream(std::FILE* stream, int64_t offset, int origin);
std::ptrdiff_t readStreamAt(std::FILE* stream, int64_t offset, void* buffer, std::size_t count);
bool fileStatus(const char* path, FileStatus& out);
bool writeStreamAt(std::FILE* stream, int64_t offset, const void* data, std::size_t count);
bool resizeStream(std::FILE* stream, uint64_t size);
bool syncStream(std::FILE* stream);
int64_t streamPosition(std::FILE* stream);
bool moveFile(const char* from, const char* to, bool replace);
bool removeFile(const char* path);
bool createDirectory(const char* path);
bool removeDirectory(const char* path);
SearchStep searchNext(FileSearch::State& state, FoundFile& out);
void* allocatePages(uint32_t n);
void* reservePages(uint32_t n);
bool volumeAnswers(const char* root);
bool commitPages(void* pages, uint32_t n);
void freePages(void* pages, uint32_t n);
bool writeText(std::FILE* stream, const char* text, std::size_t length);
bool isTerminal(std::FILE* stream);
bool setBinaryMode(std::FILE* stream);

// Directories held open (directory_posix.cpp, directory_win32.cpp); see platform/directory.h.
intptr_t openDirectory(const char* path, std::string& where);
intptr_t openDirectoryAt(const Directory& parent, const char* name);
bool createDirectoryAt(const Directory& parent, const char* name);
uint32_t attributesAt(const Directory& parent, const char* name);
std::FILE* createFileAt(const Directory& parent, const char* name);
bool moveFileAt(const Directory& parent, const char* from, const char* to, bool replace);
bool removeFileAt(const Directory& parent, const char* name);
void closeDirectory(intptr_t handle);

// Files removed when the program is interrupted (removal_on_interrupt.cpp, which keeps the
// table, and interruption_posix.cpp or interruption_win32.cpp, which handle the interruption);
// see platform/removal_on_interrupt.h.
//
// What the handler needs to remove one file, made ready before it is needed: POSIX the held
// directory's descriptor and the file's host name there, Windows its full path.
struct RemovalTarget {
    intptr_t directory = -1;
    char name[1024] = {};
};
// The table's entry: arms the removal of name inside directory, giving the slot, or -1 with
// the last error set.
int armRemoval(const Directory& directory, const char* name);
// Fills target for name inside directory; false (last error set) when it does not fit.
bool describeRemoval(const Directory& directory, const char* name, RemovalTarget& target);
// Puts the handlers in place; called once, at the first arming.
void catchInterrupts();
// For the handler: removes every armed file (removeTarget for each). Safe in a signal handler.
void removeArmedFiles();
// Removes the file target describes. Safe in a signal handler.
void removeTarget(const RemovalTarget& target);
// For a thread that finds the handler removing a file it armed: waits for the end the handler
// is about to bring.
[[noreturn]] void awaitTheEnd();

// Watching a tree (tree_watch_inotify.cpp on Linux, tree_watch_none.cpp elsewhere); see
// platform/tree_watch.h.
intptr_t openTreeWatch(const char* path);
bool readTreeChanges(intptr_t watch, int milliseconds, std::vector<TreeChange>& changes);
void closeTreeWatch(intptr_t watch);

// Serving a tree (served_tree_fuse.cpp on Linux with libfuse3, served_tree_none.cpp elsewhere);
// see platform/served_tree.h.
ServeResult serveTree(ServedTree& tree, const char* mountPoint, const ServeOptions& options,
                      std::string& problem);

// POSIX back end only: the attributes, in Windows terms, of a file whose st_mode is mode (a link
// reports kReparsePointAttribute alone).
uint32_t attributesOfMode(unsigned mode);

} // namespace platform::backend
