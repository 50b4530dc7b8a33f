// ParallelDeflater: compresses entries one after another into zlib streams on every thread, and
// hands each stream back in pieces, in the order the entries were added, on the caller's thread.
// An entry up to kWholeEntryLimit is one piece, compressed whole by one thread
// (whole_deflater.h); a larger one is cut into blocks of kBlockSize that all threads share
// (block_deflater.h), one piece each. The cuts fall at fixed sizes and each piece comes back in
// its place, so the bytes never depend on the number of threads. What is read and not yet
// handed back is bounded (kInFlight), whatever the size of the entries. Where the streams go is
// the caller's business: the deflater knows nothing of archives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pak {

// One piece of an entry's zlib stream: the whole stream of an entry compressed whole; the
// stream's header with the first block's bytes, a middle block's bytes, or the last block's
// bytes with the stream's checksum, of an entry compressed in blocks.
struct DeflatedPiece {
    std::size_t entry = 0;   // the number the caller gave the entry
    bool first = false;      // begins the entry's stream
    bool last = false;       // ends it
    bool compressed = false; // false when the compressor failed: then bytes is empty
    std::vector<unsigned char> bytes;
};

class ParallelDeflater {
  public:
    // Reads up to count bytes of the entry being added into buffer, fewer only at its end (a
    // short read ends the entry). What it throws comes out of add once every piece before has
    // been handed back (unless handing one back throws first: failures come in the order of the
    // entries).
    using Read = std::function<std::size_t(unsigned char* buffer, std::size_t count)>;
    // Takes the pieces one by one, in order, on the thread that calls add and handBackAll. What
    // it throws comes out of that call; a piece that is not compressed must end the run so.
    using Receive = std::function<void(const DeflatedPiece& piece)>;

    // threads: the threads that compress (below 2: the caller's own, as each piece is cut).
    ParallelDeflater(unsigned threads, Receive receive);
    // Pieces not yet handed back are dropped.
    ~ParallelDeflater();
    ParallelDeflater(const ParallelDeflater&) = delete;
    ParallelDeflater& operator=(const ParallelDeflater&) = delete;

    // Reads the entry numbered entry to its end and compresses it into one zlib stream; returns
    // its size. Its pieces are handed back later, by this call or the ones after. What a job
    // throws (std::bad_alloc when a compressor cannot be had) comes out of the call that hands
    // its piece back. After a throw nothing more may be added.
    uint64_t add(std::size_t entry, const Read& read);
    // Hands back every piece not yet handed back.
    void handBackAll();

    // Entries up to this size are compressed whole; larger ones in blocks of kBlockSize.
    static constexpr std::size_t kWholeEntryLimit = 8u << 20;
    static constexpr std::size_t kBlockSize = 1u << 20;
    // Bytes of entries read and not yet handed back: beyond it, add waits.
    static constexpr std::size_t kInFlight = 32u << 20;

  private:
    struct Input;      // bytes read from an entry, shared by the blocks cut from them
    struct Compressed; // what one job made: a piece and what handing it back needs
    struct Workers;

    std::size_t readOrHandBack(const Read& read, std::size_t count);
    std::shared_ptr<Input> copyOfStaging(std::size_t size) const;
    void submitWhole(std::size_t entry, std::shared_ptr<Input> input);
    void submitBlock(std::size_t entry, std::shared_ptr<Input> input, std::size_t offset,
                     std::size_t size, std::shared_ptr<Input> before, bool first, bool last);
    // Hands back the oldest pieces while the jobs under way hold too much.
    void makeRoomFor(std::size_t inputSize);
    // Hands back the oldest piece, once it is done.
    void handBackOldest();

    Receive receive_;
    std::unique_ptr<Workers> workers_;
    std::vector<unsigned char> staging_; // where entries are read
    std::size_t inFlight_ = 0;           // input bytes of the jobs not yet handed back
    uint32_t checksum_ = 1;              // Adler-32 so far of the entry in blocks being handed back
};

} // namespace pak
