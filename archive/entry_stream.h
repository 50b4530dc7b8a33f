// One entry's data read as a stream: the one decoder of entry data. Plain entries come straight
// from the archive, compressed ones are inflated only as far as they are read, the inflate state
// kept between reads. Whoever reads an entry's data reads it through this: extract and verify
// (through entry_scheduler.h, one stream per entry on worker threads), the mount (one stream per
// open file, and one per entry its cache fills).
//
// The archive is read at positions (platform::readStreamAt), in blocks of up to kArchiveBlock,
// never by moving its stream, so that streams over one archive run in several threads at once,
// one thread per stream. Memory stays the same whatever the entry declares: the inflate state,
// one block of input and, once the stream is read out of order, the recent bytes; all of it
// from the platform's heap (heap_memory.h), so that a test can make it run out. A stream given
// seek points (seek_points.h) records them as it first inflates through the entry and starts
// from the nearest one where a read goes back or far ahead: those take about 3% of the entry,
// and belong to whoever gave them.
//
// The checks are PakDirectory's (the stored bytes lie in the archive; the declared size is one
// the packed bytes can inflate to), and a stream must inflate to exactly its declared size: the
// game would pad a short one with zeros, a reader here gets a failure instead. Every message
// of those checks is written in entry_stream.cpp, once; messages say what is wrong with the
// entry, without its name.
#pragma once

#include "archive/archive_file.h"
#include "archive/heap_memory.h"
#include "archive/seek_points.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pak {

class EntryStream : public FromPlatformHeap {
  public:
    // Archive bytes read at a time, at most.
    static constexpr uint32_t kArchiveBlock = 256u << 10;
    // The bytes before the position that a stream read out of order keeps, so that a read that
    // arrives a little behind another (a file system's threads take up read-ahead requests in
    // any order) does not inflate the entry again from its first byte.
    static constexpr uint32_t kRecentBytes = 1u << 20;

    // A stream over the entry stored as stored in archive, which must stay open and whose
    // directory is not walked while the stream reads. Throws Failure (kCorrupt) when the
    // entry's stored bytes do not lie in the archive or its declared size cannot be right.
    // recentBytes: how many bytes before the position readAt keeps (tests take few). points:
    // where inflation can begin again inside the entry, shared with its other streams and
    // recorded by whichever gets there first; null for none (a read behind the recent bytes
    // then inflates from the start).
    EntryStream(const ArchiveFile& archive, const StoredEntry& stored,
                uint32_t recentBytes = kRecentBytes, std::shared_ptr<SeekPoints> points = nullptr);
    ~EntryStream();
    EntryStream(const EntryStream&) = delete;
    EntryStream& operator=(const EntryStream&) = delete;

    // The bytes of the entry's data, and how many of them have been delivered.
    uint32_t size() const { return stored_.dataSize(); }
    uint32_t position() const { return position_; }

    // Delivers the next bytes of the data into out, up to count, and returns how many: fewer
    // than count only at the end of the data, 0 there. A read that reaches the end, or is made
    // there, makes sure that a compressed entry's stream ends there too.
    //
    // Throws Failure (kCorrupt) when the archive cannot be read or the stream is corrupt, ends
    // before its declared size or goes on beyond it; the stream is then spent and every later
    // read throws the same until rewind. Throws std::bad_alloc when memory to inflate it cannot
    // be had; the stream is then back at its start (position 0). What was written into out is
    // not to be used after either.
    std::size_t read(unsigned char* out, std::size_t count);
    // Up to count bytes from offset into out, wherever the position is: what the recent bytes
    // hold is copied, a gap before offset is inflated past (into the recent bytes), and only an
    // offset before them makes a compressed entry inflate again, from the seek point nearest
    // before offset (or its start); a seek point past the position is jumped to as well. The
    // position is then after the bytes delivered, or further on where they came from the recent
    // bytes. Throws like read.
    std::size_t readAt(uint64_t offset, unsigned char* out, std::size_t count);
    // Moves count bytes forward (at most to the end); the bytes passed over are kept as recent
    // bytes. Throws like read.
    void skip(uint32_t count);
    // Back to the start of the data; a spent stream may be read again.
    void rewind();

  private:
    class Inflation;   // zlib's state and the archive's bytes it inflates
    class RecentBytes; // the last bytes delivered

    std::size_t readPlain(uint64_t offset, unsigned char* out, std::size_t count);
    // Makes the next inflation begin where reaching offset costs least, when that is not on
    // from the position: at a seek point, or the start.
    void moveNear(uint64_t offset);
    // Inflates the next count bytes into out (count at most what is left) and moves on.
    void inflateNext(unsigned char* out, std::size_t count);
    // Makes sure the recent bytes can be kept from the position on.
    void keepRecentBytes();
    // Runs work, turning what it throws into the stream's state: a failure spends the stream,
    // memory that runs out sends it back to its start.
    template <class Work> auto guarded(Work work) -> decltype(work());

    const ArchiveFile& archive_;
    StoredEntry stored_;
    uint32_t recentBytes_;
    uint32_t position_ = 0;
    std::string failure_; // why the stream is spent; empty while it is not
    std::shared_ptr<SeekPoints> points_;
    std::unique_ptr<Inflation> inflation_;
    std::unique_ptr<RecentBytes> recent_;
};

} // namespace pak
