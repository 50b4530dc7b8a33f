// BlockDeflater (see block_deflater.h).
#include "archive/block_deflater.h"

#include <zlib.h>

#include <new>

namespace pak {

// 0x78: deflate with a 32 KiB window; 0x9C: the default level, and a multiple of 31 in all.
const unsigned char BlockDeflater::kStreamHeader[2] = {0x78, 0x9C};

struct BlockDeflater::State {
    z_stream stream{};
};

BlockDeflater::BlockDeflater() : state_(std::make_unique<State>()) {
    // Negative window bits: raw deflate, no header or checksum of its own.
    if (deflateInit2(&state_->stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
}

BlockDeflater::~BlockDeflater() {
    deflateEnd(&state_->stream);
}

bool BlockDeflater::compress(const unsigned char* dictionary, std::size_t dictionarySize,
                             const unsigned char* data, std::size_t size, bool last,
                             std::vector<unsigned char>& out) {
    z_stream& stream = state_->stream;
    if (deflateReset(&stream) != Z_OK) return false;
    if (dictionarySize > 0 &&
        deflateSetDictionary(&stream, dictionary, static_cast<uInt>(dictionarySize)) != Z_OK)
        return false;
    // The bound is for a finished stream; the marker that ends a block that is not the last
    // takes a few bytes more.
    std::size_t start = out.size();
    out.resize(start + deflateBound(&stream, static_cast<uLong>(size)) + 16);
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data() + start;
    stream.avail_out = static_cast<uInt>(out.size() - start);
    int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    // A flush that filled the room might not be complete; with room for the bound it never is.
    if (result != (last ? Z_STREAM_END : Z_OK) || stream.avail_in != 0 || stream.avail_out == 0)
        return false;
    out.resize(out.size() - stream.avail_out);
    return true;
}

uint32_t BlockDeflater::checksum(uint32_t checksum, const unsigned char* data, std::size_t size) {
    return static_cast<uint32_t>(adler32_z(checksum, data, size));
}

uint32_t BlockDeflater::combine(uint32_t first, uint32_t second, std::size_t secondSize) {
    return static_cast<uint32_t>(adler32_combine(first, second, static_cast<z_off_t>(secondSize)));
}

} // namespace pak
