// The one door between the portable core (text/, vfs/, tools/) and the operating system.
//
// Two back ends implement this interface and CMake picks one: platform_win32.cpp calls the ANSI
// Windows functions, platform_posix.cpp maps every call onto Linux. Nothing outside platform/
// includes windows.h or a POSIX header.
//
// Conventions that hold for every function below unless it says otherwise:
//  - Text and paths are code page 932 (Shift-JIS) bytes, NUL-terminated, with the backslash as
//    the only path separator. The POSIX back end converts them to UTF-8 paths with '/' at this
//    boundary, with Microsoft's table (base/cp932_unicode.h), and converts what it hands back
//    the other way; a name that cannot be converted counts as not found.
//  - File names are found whatever their case, as on Windows (by cp932::foldFileNameCase):
//    every function that takes a path finds each component of it on POSIX the way Windows
//    would. A name that exists as given is taken as it is; otherwise the entry whose name is
//    the same without regard to case, the first by character codes when there are several
//    (GAME.INI before Game.ini before game.ini); a name that matches nothing is created as
//    given. So creating, renaming to or opening for writing a name that exists in another case
//    meets that file, as on Windows.
//  - Nothing here throws. Failures are return values, and the functions that touch the file
//    system leave the thread's last error (see lastError) set the way Windows would.
//  - Pointers passed in are borrowed for the call only.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class Directory;   // platform/directory.h
struct TreeChange; // platform/tree_watch.h
// Serving a tree of files at a mount point (platform/served_tree.h).
class ServedTree;
struct ServeOptions;
enum class ServeResult;

// ---- Errors -------------------------------------------------------------------------------

// The calling thread's last system error code, in Windows terms (2 = file not found,
// 3 = path not found, 5 = access denied, ...); 0 when nothing has failed yet.
uint32_t lastError();

// Sets the calling thread's last system error code.
void setLastError(uint32_t code);

// ---- Files and directories ----------------------------------------------------------------

// Returned by fileAttributes when the path names nothing.
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
// Attribute bit of a directory.
constexpr uint32_t kDirectoryAttribute = 0x10u;
// Attribute bit of what is neither a file nor a directory: a FIFO, a socket or a device node
// (POSIX; on Windows the bit of the same value is never set for a file on a disk).
constexpr uint32_t kDeviceAttribute = 0x40u;

// The attributes of an existing file or directory (kDirectoryAttribute set for a directory),
// or kInvalidAttributes when the path names nothing or cannot be examined.
uint32_t fileAttributes(const char* path);

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

// Opens a runtime-library stream on path with an fopen mode text ("rb", "w+b", "a+b").
// The caller owns the stream and closes it with closeStream. Null on failure.
std::FILE* openStream(const char* path, const char* mode);

// What openRegularFile reports for anything that is not a regular file (ERROR_BAD_FILE_TYPE).
constexpr uint32_t kNotARegularFile = 222;

// Opens the regular file at path (through links) for reading in binary mode ("rb"). A FIFO, a
// socket or a device there is refused with lastError kNotARegularFile, without being read from
// or waited on: what was opened is looked at before it is kept, so a file swapped for a FIFO
// after the caller looked cannot hold it up. A directory is refused as openStream refuses it.
// The caller owns the stream. Null on failure.
std::FILE* openRegularFile(const char* path);

// Reads up to count bytes from stream into buffer. Returns the bytes delivered, fewer than count
// only at the end of the file, or -1 when reading failed (lastError set; bytes delivered before
// the failure are not to be used).
std::ptrdiff_t readStream(std::FILE* stream, void* buffer, std::size_t count);

// Writes count bytes of data to stream; returns the bytes accepted, fewer on failure (a full
// disk, a write error).
std::size_t writeStream(std::FILE* stream, const void* data, std::size_t count);

// Reads up to count bytes of the file that stream is open on, from offset (from the start of
// the file), into buffer, without using or moving the stream's position or its buffer: several
// threads may read one stream this way at once (but not while one reads it with readStream).
// Returns the bytes delivered, fewer than count only at the end of the file, or -1 when reading
// failed (lastError set).
std::ptrdiff_t readStreamAt(std::FILE* stream, int64_t offset, void* buffer, std::size_t count);

// Writes count bytes of data into the file that stream is open on (for writing), at offset,
// without using or moving the stream's position or its buffer (which must hold nothing not yet
// written): several threads may write one stream this way at once. True when every byte was
// written; false otherwise (lastError set: 112 for a full disk).
bool writeStreamAt(std::FILE* stream, int64_t offset, const void* data, std::size_t count);

// Makes the file that stream is open on (for writing) size bytes long: cut, or lengthened with
// zeros. False on failure (lastError set).
bool resizeStream(std::FILE* stream, uint64_t size);

// Writes what stream holds and makes the file's data reach the disk before returning (fsync).
// False on failure (lastError set).
bool syncStream(std::FILE* stream);

// Moves stream to offset from origin (0 the start, 1 the current position, 2 the end) with
// 64-bit offsets. False on failure (a target before the start, a stream that cannot seek); the
// position is then unspecified and the caller must not read on as if it had moved.
bool seekStream(std::FILE* stream, int64_t offset, int origin);

// The stream's position from the start of the file, or -1 on failure.
int64_t streamPosition(std::FILE* stream);

// Flushes and closes stream (null is accepted and succeeds). False when buffered data could not
// be written; the stream is closed all the same.
bool closeStream(std::FILE* stream);

// Creates one directory (its parent must exist). False when it could not be created,
// also when it exists already.
bool createDirectory(const char* path);

// Removes the empty directory at path (a link itself is not removed). False on failure, also
// when the directory is not empty (lastError 145, ERROR_DIR_NOT_EMPTY).
bool removeDirectory(const char* path);

// Whether the volume whose root is given (such as "C:\", with its backslash) is present and
// answers.
bool volumeAnswers(const char* root);

// Whether an existing file can be opened without any access rights (a probe that also succeeds
// for files that fileAttributes cannot examine). A directory cannot be opened this way.
bool canOpenExisting(const char* path);

// Writes the current directory and a NUL into buffer, which has room for size bytes.
// Returns the text's length; when it does not fit, returns the room it would need and leaves
// buffer untouched; 0 on failure.
uint32_t currentDirectory(char* buffer, uint32_t size);

// One entry found by a FileSearch.
struct FoundFile {
    char name[260];   // file name without its directory, NUL-terminated
    bool isDirectory; // the entry is a directory
};

// Enumerates the entries of one directory whose names match a wildcard pattern such as
// "data\*.pak": '*' matches any run of characters, '?' one character, and names compare by
// Windows' file-name rule (cp932::foldFileNameCase: letters without regard to case, Greek,
// Cyrillic and Roman numerals included); a final ".*" also matches a name without extension.
// Only the last path component may hold wildcards; without a backslash the pattern applies to
// the current directory. The entries "." and ".." are never reported.
//
// Order: on POSIX the order in which NTFS lists a directory (cp932::compareFileNames: by the
// UTF-16 units of the names' capitals), which is the order Windows returns on NTFS, the file
// system the game runs on; on Windows whatever the file system returns (NTFS: that order; FAT:
// the order of the directory's records). Not imitated on POSIX: Windows also matches the
// generated 8.3 short names (so "*.pak" can find "data.pak~"), and lets a '?' before a dot or
// at the end match nothing; a pattern ending in '.' matches only names ending in '.' here.
//
// An enumeration that cannot be completed says so: next returns false both at the end and on
// failure, and failed tells them apart, so a directory that cannot be read never passes for an
// empty one.
class FileSearch {
  public:
    explicit FileSearch(const char* pattern);
    ~FileSearch();
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    // Fills out with the next match and returns true, or returns false when there is none left
    // or the directory cannot be read further.
    bool next(FoundFile& out);
    // Whether next stopped because the directory could not be read (it does not exist, access
    // is denied, or reading it failed) rather than at its end; lastError tells why. A pattern
    // that matches nothing in a directory that can be read is no failure.
    bool failed() const;
    // How many entries next has passed over so far because their names have no code page 932
    // form or do not fit FoundFile (POSIX; Windows reports such names with '?' in place of the
    // characters it cannot write, so there it is always 0).
    unsigned skipped() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
    bool failed_ = false;
};

// Orders two texts the way the system sorts names without regard to case: negative when a sorts
// first, 0 when they are equal, positive otherwise. Windows uses lstrcmpiA; POSIX its word
// sort in the Japanese locale, rebuilt from Windows' own weights (base/word_sort.h): kana by
// reading, full-width forms with their ASCII forms, hyphens and apostrophes counting last.
int compareNoCase(const char* a, const char* b);

// The order in which the archives of a directory are taken: compareNoCase; for names it finds
// equal (they differ in case only), the same comparison with regard to case (lstrcmpA); then
// their bytes. A total order, so that a sort by it is the same on every run and every system.
int sortOrder(const char* a, const char* b);

// ---- Writing files safely ----------------------------------------------------------------
// For programs that write files named by untrusted data (the entries of an archive) and that must
// never leave a half-written file behind: exclusive creation, links that are seen rather than
// followed, and renaming into place.

// Attribute bit of a symbolic link (on Windows: of any reparse point, junctions included).
constexpr uint32_t kReparsePointAttribute = 0x400u;

// The attributes of path itself: like fileAttributes, except that when path is a symbolic link
// the link is not followed and kReparsePointAttribute is set (POSIX reports no other bit for a
// link; Windows adds the link's own bits, kDirectoryAttribute for a directory link).
// kInvalidAttributes when nothing is there.
uint32_t linkAttributes(const char* path);

// Creates a new, empty file at path and opens it for reading and writing in binary mode
// ("w+b"). Fails when anything exists at path, a symbolic link included (dangling or not; it is
// never followed), with lastError 183 (ERROR_ALREADY_EXISTS) in that case. The caller owns the
// stream. Null on failure.
std::FILE* createNewFile(const char* path);

// Renames the file from to the name to, in one step, within one volume. With replace, an
// existing file at to is replaced (a symbolic link there is replaced itself, never followed);
// without it, an existing to makes the call fail with lastError 183 and leaves both alone.
// A directory at to is never replaced. False on failure.
bool moveFile(const char* from, const char* to, bool replace);

// Deletes the file at path (a symbolic link itself, not its target). False on failure.
bool removeFile(const char* path);

// Whether the two paths name the same existing file or directory (through links too). False when
// either names nothing.
bool sameFile(const char* a, const char* b);

// Makes path the current directory. False on failure.
bool changeDirectory(const char* path);

// ---- Command line and console -------------------------------------------------------------
// The host's text encoding is the one of command lines, terminals and text files on this
// system: UTF-8 on POSIX; on Windows the ANSI code page, code page 932 here, so that host text
// and system text are the same bytes there and only the console itself is written in UTF-16.

// Fills out with the program's arguments after its own name, in the host's encoding: on POSIX
// the bytes of argv unchanged; on Windows the wide command line (argc and argv are not used)
// converted to code page 932. False when an argument holds a character that code page 932 does
// not have (Windows only); out then holds the arguments before it.
bool commandLineArguments(int argc, char** argv, std::vector<std::string>& out);

// Converts host text (an argument) to system text. POSIX: UTF-8 to code page 932; Windows: the
// bytes unchanged. False (out then means nothing) when the text is not valid in the host's encoding
// or holds a character that code page 932 does not have.
bool hostToSystemText(const char* text, std::string& out);

// Converts a host path (an argument naming a file or directory) to a system path: the text as
// hostToSystemText converts it, with every separator of the host written as the backslash
// ('/' on POSIX; on Windows, which takes both, '/' as well). False as for hostToSystemText.
bool hostToSystemPath(const char* path, std::string& out);

// A system path as people on this host write paths, for messages: on POSIX every backslash
// that separates components becomes '/' (a trail byte 0x5C stays what it is); on Windows the
// path unchanged. Still system text, for writeText.
std::string shownPath(const std::string& path);

// Writes length bytes of system text to stream (standard output or standard error) for a person
// to read: POSIX converts it to UTF-8; Windows writes it to a console through the console's
// UTF-16 interface and to anything else (a file, a pipe) as it is. False when the text is not
// valid code page 932 (nothing is written then) or writing fails.
bool writeText(std::FILE* stream, const char* text, std::size_t length);

// Whether stream is an interactive terminal (on Windows: a console; the NUL device is none).
// For standard output and standard error this is decided once, by setUpStandardOutput or at
// the first question.
bool isTerminal(std::FILE* stream);

// For a program that writes much to standard output: decides once whether standard output and
// standard error are terminals, and gives standard output a buffer of 64 KiB when it is not
// one, so that it is written in large blocks whatever it goes to (Windows leaves a character
// device such as NUL unbuffered, a write per character). Call before anything is written.
void setUpStandardOutput();

// Puts stream into binary mode, so that bytes written pass unchanged (Windows translates line
// feeds in text mode; POSIX has nothing to do). False on failure.
bool setBinaryMode(std::FILE* stream);

// ---- Memory -------------------------------------------------------------------------------

// Zero-filled memory in whole pages straight from the operating system, for n > 0 bytes,
// backed by memory only where it is written. Null when none can be had. Give it back with
// freePages and the same n.
void* allocatePages(uint32_t n);
void freePages(void* pages, uint32_t n);

// Address space for n > 0 bytes of page memory, none of it usable yet, for memory that is filled
// front to back and whose final size is only an upper bound: commitPages makes it usable piece
// by piece as it is written. Null when the address space cannot be had. Given back, with
// whatever was committed, by freePages and the same n.
void* reservePages(uint32_t n);
// Makes n bytes of a reservation usable, zero-filled, from pages on (a multiple of the page
// size from its start), and backs them with memory at once, since the caller is about to write
// them. False when the memory cannot be had.
bool commitPages(void* pages, uint32_t n);

// Heap blocks for the byte string and the file buffers. Null when none can be had
// (or when a test has asked for a failure, see failHeapAllocationsAfter). Released with heapFree,
// which accepts null.
void* heapAllocate(std::size_t n);
void heapFree(void* block);

// ---- Text ---------------------------------------------------------------------------------

// Formats pattern with args into buffer (room bytes, room may be 0) the way the platform's
// printf family does, writing at most room bytes including the terminating NUL. Returns the
// length the whole result has (so a result of room or more means it was cut short), or a
// negative value when the pattern cannot be formatted. The length modifiers of glibc's and of
// Microsoft's formatters are understood on every platform: hh h l ll q L j z Z t, I I32 I64 w.
int formatText(char* buffer, std::size_t room, const char* pattern, va_list args);

// Converts code page 932 text to UTF-8 and back. The result is written to out (room bytes,
// NUL-terminated); returns the length written without the NUL, or -1 when the text is not valid
// in the source encoding, cannot be represented in the target one, or does not fit.
int cp932ToUtf8(const char* text, char* out, std::size_t room);
int utf8ToCp932(const char* text, char* out, std::size_t room);

// ---- Message boxes ------------------------------------------------------------------------

// Button identifiers and styles, as Windows defines them.
constexpr int kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5;
constexpr uint32_t kMbOk = 0x0, kMbAbortRetryIgnore = 0x2, kMbIconError = 0x10,
                   kMbTaskModal = 0x2000, kMbTopmost = 0x40000;

// Shows text under caption with the given style and returns the identifier of the button
// pressed, or 0 when no box could be shown. owner is a window handle or null.
// On POSIX the text goes to standard error; an Abort/Retry/Ignore question is asked on the
// terminal when there is one and is otherwise answered as Ignore would be.
int messageBox(void* owner, const char* text, const char* caption, uint32_t style);

// ---- Test hooks ---------------------------------------------------------------------------
// For the test suites only: production code never calls these.

// Replaces the message box by handler (null restores the real one) and returns the previous
// handler. The handler receives what messageBox received and returns the button to report.
using MessageBoxHandler = int (*)(void* owner, const char* text, const char* caption,
                                  uint32_t style);
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// Makes heapAllocate succeed count more times and then fail until called again with a
// negative count (the default: never fail).
void failHeapAllocationsAfter(int count);

// What FileSearch::next asks of the back end for one step: 1 with out filled, 0 at the end of
// the directory, -1 when it cannot be read (with lastError set).
enum SearchStep : int { kSearchFailed = -1, kSearchEnded = 0, kSearchFound = 1 };

// Every operation of this layer that reaches the file system or asks for memory goes through
// one entry of this table. The entries start out as the back end's own functions. A test
// replaces an entry to make the operation fail as the system would (returning the failure and
// setting lastError), usually by wrapping the original, and puts the table back afterwards.
struct SystemCalls {
    std::FILE* (*openStream)(const char* path, const char* mode);
    std::FILE* (*openRegularFile)(const char* path);
    std::FILE* (*createNewFile)(const char* path);
    // The stream ("w+b") on a file just created exclusively and open as handle (a descriptor on
    // POSIX, a HANDLE on Windows): it takes the handle over. Null on failure (lastError set),
    // the handle still the caller's, who then removes the file again.
    std::FILE* (*streamOnNewFile)(intptr_t handle);
    std::ptrdiff_t (*readStream)(std::FILE* stream, void* buffer, std::size_t count);
    std::ptrdiff_t (*readStreamAt)(std::FILE* stream, int64_t offset, void* buffer,
                                   std::size_t count);
    bool (*fileStatus)(const char* path, FileStatus& out);
    std::size_t (*writeStream)(std::FILE* stream, const void* data, std::size_t count);
    bool (*writeStreamAt)(std::FILE* stream, int64_t offset, const void* data, std::size_t count);
    bool (*resizeStream)(std::FILE* stream, uint64_t size);
    bool (*syncStream)(std::FILE* stream);
    bool (*seekStream)(std::FILE* stream, int64_t offset, int origin);
    bool (*closeStream)(std::FILE* stream);
    bool (*moveFile)(const char* from, const char* to, bool replace);
    bool (*removeFile)(const char* path);
    bool (*createDirectory)(const char* path);
    bool (*removeDirectory)(const char* path);
    SearchStep (*searchNext)(FileSearch::State& state, FoundFile& out);
    void* (*allocatePages)(uint32_t n);
    void* (*heapAllocate)(std::size_t n);
    void* (*reservePages)(uint32_t n);
    bool (*commitPages)(void* pages, uint32_t n);
    bool (*volumeAnswers)(const char* root);
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

} // namespace platform
