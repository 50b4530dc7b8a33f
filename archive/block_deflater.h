// Compressing one entry in blocks that threads compress side by side, joined into one zlib
// stream: for entries too large to hold whole. Each block is raw deflate that has the 32 KiB
// of the entry before it as its dictionary (so matches reach back across the joins as they
// would in one stream) and ends on a byte boundary (an empty stored block), so that the next
// block's bytes can simply follow; the last one ends the stream. The stream is the zlib header,
// the blocks in order, then the Adler-32 of the whole entry, combined from each block's own.
// Blocks are cut at fixed sizes, so the same entry gives the same bytes whatever the number of
// threads. Always zlib: libdeflate cannot end a block anywhere but at the end of its stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pak {

class BlockDeflater {
  public:
    // The bytes of entry before a block that its compression may refer back to.
    static constexpr std::size_t kDictionarySize = 32 * 1024;

    // Throws std::bad_alloc when zlib cannot be started.
    BlockDeflater();
    ~BlockDeflater();
    BlockDeflater(const BlockDeflater&) = delete;
    BlockDeflater& operator=(const BlockDeflater&) = delete;

    // Appends to out the raw deflate of the size bytes at data, which follow the
    // dictionarySize bytes at dictionary (at most kDictionarySize; none for the first block).
    // last ends the deflate stream. False when zlib fails.
    bool compress(const unsigned char* dictionary, std::size_t dictionarySize,
                  const unsigned char* data, std::size_t size, bool last,
                  std::vector<unsigned char>& out);

    // The two bytes that begin a zlib stream (deflate, 32 KiB window, default level).
    static const unsigned char kStreamHeader[2];
    // The Adler-32 of size bytes, continuing from checksum (1 for none).
    static uint32_t checksum(uint32_t checksum, const unsigned char* data, std::size_t size);
    // The Adler-32 of two pieces one after the other, from theirs and the second one's size
    // (one block: at most a few MiB).
    static uint32_t combine(uint32_t first, uint32_t second, std::size_t secondSize);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace pak
