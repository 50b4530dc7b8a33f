// Reading the data of archive entries, as the game's open would deliver it: plain entries
// straight from the archive, compressed ones inflated, both in pieces of bounded size, so that
// memory never follows what an entry declares (or holds): the archive is read in large blocks
// and what it yields is handed on as it comes.
//
// Which entries there are, and whether their data lies where it says, is the business of the
// checked walk (PakDirectory, through ArchiveFile); this reads what the walk delivered. The
// archive is read through its VirtualFile, so its position stays what the walk expects.
#pragma once

#include "archive/archive_file.h"
#include "archive/failure.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace pak {

class EntryReader {
  public:
    // Receives the data in order, in pieces.
    using Sink = std::function<void(const unsigned char* data, std::size_t size)>;

    explicit EntryReader(ArchiveFile& archive) : archive_(archive) {}
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // Delivers the whole data of the entry to sink: exactly stored.dataSize() bytes. Throws
    // Failure (kCorrupt) with a message that says what is wrong, after the entry's name, when
    // the stored bytes do not lie inside the archive, a compressed entry declares more than its
    // packed bytes can inflate to or does not inflate to exactly its declared size, or the
    // archive cannot be read. A compressed entry that fails may have delivered part of its data
    // to sink already. What sink throws passes through.
    void read(const StoredEntry& stored, const Sink& sink);

    // What readEach delivers to: entry by entry in order, on the thread that called readEach.
    class Receiver {
      public:
        virtual ~Receiver() = default;
        // Whether the data of entries[index] is wanted; false skips the entry, and nothing
        // more is called for it.
        virtual bool begin(std::size_t index) = 0;
        // The next piece of its data. May throw Failure: the rest of the entry is skipped, and
        // end receives that failure.
        virtual void receive(const unsigned char* data, std::size_t size) = 0;
        // All of its data has come (failure null), or what read would have thrown, or what
        // receive threw.
        virtual void end(std::size_t index, const Failure* failure) = 0;
    };

    // Reads entries as read does, one after another, with up to threads threads reading and
    // inflating ahead of the caller: what receiver gets, and in which order, is the same for
    // any number of threads. Whatever the entries' sizes, at most kReadAhead bytes of their
    // data wait to be received. Without keepData the data is only checked: receive is never
    // called. What the receiver throws, other than a Failure from receive, passes through once
    // the threads have stopped.
    void readEach(const std::vector<StoredEntry>& entries, Receiver& receiver, unsigned threads,
                  bool keepData = true);

    static constexpr std::size_t kReadAhead = 24u << 20;

  private:
    struct Ahead; // the entries being read ahead

    // read's work, on any thread.
    void stream(const StoredEntry& stored, const Sink& sink);
    // Reads up to count bytes of the archive at offset; the bytes delivered, 0 when the archive
    // cannot be read there. Threads take turns.
    uint32_t readArchive(uint64_t offset, unsigned char* buffer, uint32_t count);

    ArchiveFile& archive_;
    std::mutex archiveTurn_; // the archive's one position is everyone's
};

} // namespace pak
