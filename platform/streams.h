// Files open as runtime-library streams: opening, reading (also at an offset, from several
// threads), writing, moving and closing (see errors.h for the conventions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

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

// For programs that write files named by untrusted data (the entries of an archive) and that
// must never leave a half-written file behind: creates a new, empty file at path and opens it
// for reading and writing in binary mode ("w+b"). Fails when anything exists at path, a symbolic
// link included (dangling or not; it is never followed), with lastError 183
// (ERROR_ALREADY_EXISTS) in that case. The caller owns the stream. Null on failure.
std::FILE* createNewFile(const char* path);

// Gives stream, just opened and not yet read or written, the caller's buffer of size bytes in
// place of the runtime library's own of a few KiB, so that the system is asked for blocks of
// that size. The buffer must stay until the stream is closed. False when the runtime library
// refuses; the stream then keeps its own buffer.
bool setStreamBuffer(std::FILE* stream, void* buffer, std::size_t size);

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

} // namespace platform
