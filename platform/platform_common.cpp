// The parts of the platform layer that are the same on every operating system: the table of
// system calls with the dispatch through it, the heap with its injectable failures, and the
// test hook of the message box.
#include "platform/backend.h"
#include "platform/console.h"
#include "platform/format_text.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/served_tree.h"
#include "platform/sort_order.h"
#include "platform/streams.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {

std::atomic<int> allocationsBeforeFailure{-1};

bool runtimeSetBuffer(std::FILE* stream, void* buffer, std::size_t size) {
    if (std::setvbuf(stream, static_cast<char*>(buffer), _IOFBF, size) == 0) return true;
    backend::setErrorFromErrno();
    return false;
}

std::ptrdiff_t runtimeRead(std::FILE* stream, void* buffer, std::size_t count) {
    std::size_t delivered = count == 0 ? 0 : std::fread(buffer, 1, count, stream);
    if (delivered < count && std::ferror(stream)) {
        backend::setErrorFromErrno();
        return -1;
    }
    return static_cast<std::ptrdiff_t>(delivered);
}

std::size_t runtimeWrite(std::FILE* stream, const void* data, std::size_t count) {
    std::size_t accepted = count == 0 ? 0 : std::fwrite(data, 1, count, stream);
    if (accepted < count) backend::setErrorFromErrno();
    return accepted;
}

bool runtimeClose(std::FILE* stream) {
    if (stream == nullptr) return true;
    bool flushed = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    if (!flushed) backend::setErrorFromErrno();
    if (std::fclose(stream) == 0) return flushed;
    backend::setErrorFromErrno();
    return false;
}

void* runtimeAllocate(std::size_t n) {
    return std::malloc(n == 0 ? 1 : n);
}

void runtimeFree(void* block) {
    std::free(block);
}

// The back end's own functions, entry by entry (by name, so that the order of the members in
// system_calls.h does not matter here). A constant expression, so the table is filled before any
// code runs, static constructors included.
constexpr SystemCalls backendCalls() {
    SystemCalls calls{};
    calls.fileAttributes = backend::fileAttributes;
    calls.linkAttributes = backend::linkAttributes;
    calls.canOpenExisting = backend::canOpenExisting;
    calls.sameFile = backend::sameFile;
    calls.currentDirectory = backend::currentDirectory;
    calls.changeDirectory = backend::changeDirectory;
    calls.streamPosition = backend::streamPosition;
    calls.freePages = backend::freePages;
    calls.heapFree = runtimeFree;
    calls.writeText = backend::writeText;
    calls.isTerminal = backend::isTerminal;
    calls.setBinaryMode = backend::setBinaryMode;
    calls.messageBox = backend::systemMessageBox;
    calls.closeDirectory = backend::closeDirectory;
    calls.openStream = backend::openStream;
    calls.openRegularFile = backend::openRegularFile;
    calls.createNewFile = backend::createNewFile;
    calls.streamOnNewFile = backend::streamOnNewFile;
    calls.setStreamBuffer = runtimeSetBuffer;
    calls.readStream = runtimeRead;
    calls.readStreamAt = backend::readStreamAt;
    calls.fileStatus = backend::fileStatus;
    calls.writeStream = runtimeWrite;
    calls.writeStreamAt = backend::writeStreamAt;
    calls.resizeStream = backend::resizeStream;
    calls.syncStream = backend::syncStream;
    calls.seekStream = backend::seekStream;
    calls.closeStream = runtimeClose;
    calls.moveFile = backend::moveFile;
    calls.removeFile = backend::removeFile;
    calls.createDirectory = backend::createDirectory;
    calls.removeDirectory = backend::removeDirectory;
    calls.searchNext = backend::searchNext;
    calls.allocatePages = backend::allocatePages;
    calls.heapAllocate = runtimeAllocate;
    calls.reservePages = backend::reservePages;
    calls.commitPages = backend::commitPages;
    calls.volumeAnswers = backend::volumeAnswers;
    calls.openDirectory = backend::openDirectory;
    calls.openDirectoryAt = backend::openDirectoryAt;
    calls.createDirectoryAt = backend::createDirectoryAt;
    calls.attributesAt = backend::attributesAt;
    calls.createFileAt = backend::createFileAt;
    calls.moveFileAt = backend::moveFileAt;
    calls.removeFileAt = backend::removeFileAt;
    calls.armRemovalOnInterrupt = backend::armRemoval;
    calls.openTreeWatch = backend::openTreeWatch;
    calls.readTreeChanges = backend::readTreeChanges;
    calls.serveTree = backend::serveTree;
    return calls;
}

SystemCalls table = backendCalls();

} // namespace

SystemCalls& systemCalls() {
    return table;
}

int formatText(char* buffer, std::size_t room, const char* pattern, va_list args) {
    // Both back ends format with a C99 formatter (glibc's; mingw-w64's own, not the system
    // DLL's), which knows neither Microsoft's size prefixes nor all of glibc's: each is spelled
    // the C99 way. "I64" and "q" are "ll", "I32" is nothing, "I" (pointer-sized) and "Z" are "z",
    // "w" (wide) is "l".
    std::string translated;
    for (const char* p = pattern; *p != '\0'; ++p) {
        translated += *p;
        if (*p != '%') continue;
        ++p;
        while (*p != '\0' && std::strchr("#*-+0 123456789.", *p))
            translated += *p++;
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            translated += "ll";
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            p += 3;
        } else if (p[0] == 'q') {
            translated += "ll";
            ++p;
        } else if (p[0] == 'I' || p[0] == 'Z') {
            translated += 'z';
            ++p;
        } else if (p[0] == 'w') {
            translated += 'l';
            ++p;
        }
        if (*p == '\0') break;
        translated += *p;
    }
    return std::vsnprintf(buffer, room, translated.c_str(), args);
}

uint32_t fileAttributes(const char* path) {
    return table.fileAttributes(path);
}

uint32_t linkAttributes(const char* path) {
    return table.linkAttributes(path);
}

bool canOpenExisting(const char* path) {
    return table.canOpenExisting(path);
}

bool sameFile(const char* a, const char* b) {
    return table.sameFile(a, b);
}

uint32_t currentDirectory(char* buffer, uint32_t size) {
    return table.currentDirectory(buffer, size);
}

bool changeDirectory(const char* path) {
    return table.changeDirectory(path);
}

bool writeText(std::FILE* stream, const char* text, std::size_t length) {
    return table.writeText(stream, text, length);
}

bool isTerminal(std::FILE* stream) {
    return table.isTerminal(stream);
}

bool setBinaryMode(std::FILE* stream) {
    return table.setBinaryMode(stream);
}

std::FILE* openStream(const char* path, const char* mode) {
    return table.openStream(path, mode);
}

std::FILE* openRegularFile(const char* path) {
    return table.openRegularFile(path);
}

std::FILE* createNewFile(const char* path) {
    return table.createNewFile(path);
}

bool setStreamBuffer(std::FILE* stream, void* buffer, std::size_t size) {
    return table.setStreamBuffer(stream, buffer, size);
}

std::ptrdiff_t readStream(std::FILE* stream, void* buffer, std::size_t count) {
    return table.readStream(stream, buffer, count);
}

std::ptrdiff_t readStreamAt(std::FILE* stream, int64_t offset, void* buffer, std::size_t count) {
    return table.readStreamAt(stream, offset, buffer, count);
}

bool writeStreamAt(std::FILE* stream, int64_t offset, const void* data, std::size_t count) {
    return table.writeStreamAt(stream, offset, data, count);
}

bool resizeStream(std::FILE* stream, uint64_t size) {
    return table.resizeStream(stream, size);
}

bool syncStream(std::FILE* stream) {
    return table.syncStream(stream);
}

bool fileStatus(const char* path, FileStatus& out) {
    return table.fileStatus(path, out);
}

std::size_t writeStream(std::FILE* stream, const void* data, std::size_t count) {
    return table.writeStream(stream, data, count);
}

bool seekStream(std::FILE* stream, int64_t offset, int origin) {
    return table.seekStream(stream, offset, origin);
}

int64_t streamPosition(std::FILE* stream) {
    return table.streamPosition(stream);
}

bool closeStream(std::FILE* stream) {
    return table.closeStream(stream);
}

bool moveFile(const char* from, const char* to, bool replace) {
    return table.moveFile(from, to, replace);
}

bool removeFile(const char* path) {
    return table.removeFile(path);
}

bool createDirectory(const char* path) {
    return table.createDirectory(path);
}

bool removeDirectory(const char* path) {
    return table.removeDirectory(path);
}

void* allocatePages(uint32_t n) {
    return n == 0 ? nullptr : table.allocatePages(n);
}

bool volumeAnswers(const char* root) {
    return table.volumeAnswers(root);
}

void* reservePages(uint32_t n) {
    return n == 0 ? nullptr : table.reservePages(n);
}

bool commitPages(void* pages, uint32_t n) {
    return n == 0 || table.commitPages(pages, n);
}

void freePages(void* pages, uint32_t n) {
    if (pages != nullptr) table.freePages(pages, n);
}

ServeResult serveTree(ServedTree& tree, const char* mountPoint, const ServeOptions& options,
                      std::string& problem) {
    return table.serveTree(tree, mountPoint, options, problem);
}

bool FileSearch::next(FoundFile& out) {
    if (failed_) return false;
    SearchStep step = table.searchNext(*state_, out);
    failed_ = step == kSearchFailed;
    return step == kSearchFound;
}

bool FileSearch::failed() const {
    return failed_;
}

int sortOrder(const char* a, const char* b) {
    int order = compareNoCase(a, b);
    if (order == 0) order = backend::compareWithCase(a, b);
    if (order == 0) order = std::strcmp(a, b);
    return (order > 0) - (order < 0);
}

void* heapAllocate(std::size_t n) {
    int left = allocationsBeforeFailure.load();
    if (left == 0) return nullptr;
    if (left > 0) allocationsBeforeFailure.store(left - 1);
    return table.heapAllocate(n);
}

void heapFree(void* block) {
    if (block != nullptr) table.heapFree(block);
}

void failHeapAllocationsAfter(int count) {
    allocationsBeforeFailure.store(count < 0 ? -1 : count);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = table.messageBox;
    table.messageBox = handler != nullptr ? handler : backend::systemMessageBox;
    return previous == backend::systemMessageBox ? nullptr : previous;
}

int messageBox(void* owner, const char* text, const char* caption, uint32_t style) {
    return table.messageBox(owner, text, caption, style);
}

} // namespace platform
