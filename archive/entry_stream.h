// Reading one entry's data a piece at a time, as the reader asks for it: plain entries straight
// from the archive, compressed ones inflated only as far as asked, the inflate state kept
// between calls. Memory stays the same whatever the entry declares (the inflate state and one
// input chunk, all from the platform's heap, see heap_memory.h), and the archive is read at
// positions (platform::readStreamAt), never by moving its stream, so streams over one archive may
// run in several threads at once, one thread per stream.
//
// The checks are PakDirectory's (the stored bytes lie in the archive; the declared size is one
// the packed bytes can inflate to), and a stream must inflate to exactly its declared size:
// the game would pad a short one with zeros, a reader here gets a failure instead.
#pragma once

#include "archive/archive_file.h"
#include "archive/heap_memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pak {

class EntryStream : public FromPlatformHeap {
  public:
    // A stream over the entry stored as stored in archive, which must stay open, and whose
    // directory is not walked meanwhile. Throws Failure (kCorrupt) like read when the entry's
    // stored bytes do not lie in the archive or its declared size cannot be right.
    EntryStream(ArchiveFile& archive, const StoredEntry& stored);
    ~EntryStream();
    EntryStream(const EntryStream&) = delete;
    EntryStream& operator=(const EntryStream&) = delete;

    // The bytes of the entry's data, and how many of them have been delivered.
    uint32_t size() const { return stored_.dataSize(); }
    uint32_t position() const { return position_; }

    // Delivers the next bytes of the data into out, up to count, and returns how many: fewer
    // than count only at the end of the data, 0 there. Throws Failure (kCorrupt), with a message
    // that says what is wrong with the entry (without its name), when the archive cannot be
    // read or the stream is corrupt, ends before its declared size or goes on beyond it; the
    // stream is then spent and every later read throws the same until rewind. Throws
    // std::bad_alloc when memory to inflate it cannot be had; the stream must then be rewound
    // or dropped.
    std::size_t read(unsigned char* out, std::size_t count);
    // Moves count bytes forward (at most to the end), inflating past them. Throws like read.
    void skip(uint32_t count);
    // Back to the start of the data (a compressed entry is inflated anew from its first byte).
    void rewind();

  private:
    struct Inflater;

    std::size_t readPlain(unsigned char* out, std::size_t count);
    std::size_t readCompressed(unsigned char* out, std::size_t count);
    // Gives zlib the next input chunk; false when the packed bytes are used up.
    bool refill();
    // Makes sure the stream ends where its declared size does.
    void checkEnd();
    [[noreturn]] void fail(const std::string& message);

    ArchiveFile& archive_;
    StoredEntry stored_;
    uint32_t position_ = 0;
    uint32_t consumed_ = 0; // packed bytes handed to zlib
    bool ended_ = false;    // zlib has seen the end of the stream
    std::string failure_;   // why the stream is spent; empty while it is not
    std::unique_ptr<Inflater> inflater_;
    HeapBytes input_;
};

} // namespace pak
