// Reading many entries of one archive in their order, as extract and verify do: worker threads
// each take the next entry, read it through an EntryStream of their own and hand its data over
// in pieces, while the caller receives entry after entry, in order, on its own thread. What
// the caller receives, and in which order, is the same for any number of threads.
//
// Memory stays bounded whatever the entries' sizes: at most kReadAhead bytes of data wait for
// the caller, in a window of at most kWindowEntries entries (and one per thread) ahead of it.
#pragma once

#include "archive/archive_file.h"
#include "archive/failure.h"

#include <cstddef>
#include <vector>

namespace pak {

// What readEntriesInOrder delivers to: entry by entry in order, on the thread that called it.
class EntryReceiver {
  public:
    virtual ~EntryReceiver() = default;
    // Whether the data of entries[index] is wanted; false skips the entry, and nothing more is
    // called for it.
    virtual bool begin(std::size_t index) = 0;
    // The next piece of its data. May throw Failure: the rest of the entry is skipped, and end
    // receives that failure.
    virtual void receive(const unsigned char* data, std::size_t size) = 0;
    // All of its data has come (failure null), or what its stream threw (EntryStream::read), or
    // what receive threw. A failed entry may have delivered part of its data before.
    virtual void end(std::size_t index, const Failure* failure) = 0;
};

// Bytes of entry data that wait for the caller at most (the entry the caller waits for may
// always hold kFirstEntryBytes, so that the caller is never left waiting on a worker that waits
// on the caller).
constexpr std::size_t kReadAhead = 24u << 20;
constexpr std::size_t kFirstEntryBytes = 1u << 20;
// Entries read ahead of the caller at most, besides one per thread: many, so that archives of
// small entries keep the workers busy without a hand-over per entry.
constexpr std::size_t kWindowEntries = 64;

// Reads the data of entries of archive (which stays open, its directory not walked meanwhile)
// into receiver, with up to threads threads reading and inflating ahead of the caller; with
// fewer than two, on the caller's thread alone. Without keepData the data is only checked:
// receive is never called. What the receiver throws, other than a Failure from receive, passes
// through once the threads have stopped.
void readEntriesInOrder(const ArchiveFile& archive, const std::vector<StoredEntry>& entries,
                        EntryReceiver& receiver, unsigned threads, bool keepData = true);

} // namespace pak
