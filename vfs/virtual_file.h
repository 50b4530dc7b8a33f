// VirtualFile: the one object through which the system reads file data, wherever it is held.
//
// Reading modes, as the operations tell them apart:
//   memory mode   inMemory set           reads come from `buffer` (bufferSize bytes, of which
//                                        the first bufferHeld hold data and the rest read as
//                                        zeros): a buffer handed to openBuffer, or an archive
//                                        entry that was stored compressed and has been inflated
//                                        at open time
//   region mode   stream, inArchive set  an entry stored plain, read in place from the archive
//                                        file starting at baseOffset, never past its end
//   disk mode     stream, inArchive 0    a loose file
//   closed        no stream, no buffer   size, seek and read answer 0
//
// In disk and region mode a seek or a read of the stream that fails leaves its position
// unknown: reads then deliver nothing until a seek succeeds, so they never deliver bytes from
// another place in the file.
//
// open (file_open.cpp) looks a name up on disk, then in the archives, each of which
// scanArchive (archive_lookup.cpp) searches, then asks the user. Nothing here throws except open
// (Abort at the prompt, a failed decompression) and readCompressed (inflate.cpp).
#pragma once

#include "text/byte_string.h"
#include "vfs/inflate_output.h"
#include "vfs/pak_entry.h"

#include <cstdint>
#include <cstdio>
#include <memory>

class VirtualFile {
  public:
    VirtualFile();
    VirtualFile(const VirtualFile&) = delete;
    VirtualFile& operator=(const VirtualFile&) = delete;
    virtual ~VirtualFile();

    // Opens name (file_open.cpp). Flags bits 0-1: 0 or 3 read ("rb"), 1 create or truncate
    // ("w+b"), 2 read and append ("a+b"); bit 3 (8): do not search the archives of
    // SearchPathList. Returns 1 when the object is open afterwards, else 0; throws
    // ZKErrorException when the user answers Abort. position is 0 afterwards.
    int open(const char* name, int flags);
    // Memory mode over the caller's block, which stays the caller's, or over a fresh zero-filled
    // block of size bytes when block is null. Returns 1, or 0 (and stays closed) when no block
    // can be had. With held below size, a caller's block holds only held bytes of data and the
    // rest of the size reads as zeros.
    int openBuffer(void* block, uint32_t size, uint32_t held = UINT32_MAX);
    void close();

    // The data's size in bytes, whole: a loose file may hold 4 GiB and more.
    uint64_t size();
    // The size the entry's record declares, for an archive entry; the data's size otherwise.
    // An entry may deliver less than it declares: a plain one is read no further than its
    // archive holds, and one that inflates to fewer bytes reads as zeros after them.
    uint64_t declaredSize();
    // The bytes of the data that its source really holds: size() less the zeros that stand for
    // the bytes an entry's stream never produced.
    uint64_t heldSize();
    // Origin 0 from the start, 1 from the current position, 2 from the end. In memory and region
    // mode origin 2 counts backwards from the end (offset 4 is 4 bytes before it), and a target
    // outside the data (memory mode) or before its start (region mode) is refused with a
    // non-zero result. In disk mode the runtime library's fseek rules apply, with 64-bit offsets.
    // 0 means success; a failure in disk or region mode blocks reading until a seek succeeds.
    int seek(int64_t offset, int origin);
    // Copies up to count bytes to destination; returns the number delivered. Reads of an archive
    // entry stop at the entry's end.
    uint32_t read(void* destination, uint32_t count);
    // Bytes between the position and the end of the data.
    uint64_t bytesLeft();

    // Reads at most packedSize bytes of a zlib stream from the position and inflates them into
    // out (outSize bytes of room); returns the bytes produced. Throws ZKErrorException with
    // "データ解凍に失敗しました。" when the stream cannot be inflated into that room
    // (inflate.cpp).
    uint32_t readCompressed(uint32_t packedSize, unsigned char* out, uint32_t outSize);
    // The same, with the room taken from output piece by piece as the stream produces bytes (at
    // most outSize in all), so that memory follows what the stream holds, not what it declares.
    uint32_t readCompressed(uint32_t packedSize, InflateOutput& output, uint32_t outSize);

    // Looks name up in the archives of directory, in PakList's order (file_open.cpp). On a hit the
    // object is open on the entry and 1 is returned; on a miss it is closed and 0 is returned.
    int findInArchives(const char* directory, const char* name);

    std::FILE* stream = nullptr;     // the loose file, or the archive an entry was found in
    String path;                     // disk path of stream
    String name;                     // the name the data was found under
    int64_t position = 0;            // from the start of the data
    int inArchive = 0;               // the data is an archive entry
    std::unique_ptr<PakEntry> entry; // the directory record last read by a lookup
    uint32_t entryDeclared = 0;      // the size that record declares for the entry's data
    int64_t baseOffset = 0;          // where a plain entry's data starts in the archive
    int inMemory = 0;                // reads come from buffer
    unsigned char* buffer = nullptr;
    int64_t bufferSize = 0;
    int64_t bufferHeld = 0;               // bytes of buffer that hold data; the rest reads as 0
    unsigned char* readPointer = nullptr; // buffer + position (at most + bufferHeld), memory mode
    int ownsBuffer = 0;                   // buffer is this object's to free
    int positionLost = 0;                 // a seek or read of stream failed: read nothing

  private:
    // open without, for archive paths, a further archive lookup (which would only find the same
    // archive list again).
    int openFile(const char* name, int flags, bool searchArchives);
    // One pass of open: wildcard, disk, archives. Leaves stream set on success.
    void attemptOpen(const char* name, const char* mode, bool writeIntent, bool searchPathList,
                     bool searchArchives);
    void searchArchives(const char* name, bool searchPathList);
    // Scans the archive this object is open on for the normalised wanted name
    // (archive_lookup.cpp).
    int scanArchive(const char* wanted);
    // Moves stream and records whether its position is still known; 0 on success.
    int moveStream(int64_t offset, int origin);
    // Opens stream on the file at path with an fopen mode, buffered by streamBuffer_.
    void openDiskStream(const char* path, const char* mode);

    // The buffer of every stream this object opens, made at the first open and kept: with the
    // runtime library's own of a few KiB, the 64 KiB chunks of a compressed entry would each
    // be read as two pieces. Without it (no memory for it), a stream keeps its own.
    static constexpr uint32_t kStreamBuffer = 64 * 1024;
    std::unique_ptr<unsigned char[]> streamBuffer_;
};
