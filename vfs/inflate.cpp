// VirtualFile::readCompressed: a zlib stream from the file's position, inflated straight into
// the caller's block in input chunks of 4096 bytes. There is no intermediate output buffer and
// the output never grows: the caller sizes it from the archive's directory.
#include "text/error_exceptions.h"
#include "vfs/messages.h"
#include "vfs/virtual_file.h"

#include <zlib.h>

namespace {

constexpr uint32_t kChunk = 4096;

// One inflate stream, ended when it goes out of scope (also when an exception passes).
class InflateStream {
  public:
    InflateStream(unsigned char* input, uint32_t inputSize, unsigned char* out, uint32_t outSize) {
        stream_.next_in = input;
        stream_.avail_in = inputSize;
        stream_.next_out = out;
        stream_.avail_out = outSize;
        // zlib's inflateInit, named with the interface version the archives were made for and
        // the stream record's size in the zlib actually linked.
        if (inflateInit_(&stream_, "1.2.3", static_cast<int>(sizeof(z_stream))) != Z_OK)
            throw ZKErrorException(messages::kInflateFailed);
    }
    ~InflateStream() { inflateEnd(&stream_); }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    z_stream* operator->() { return &stream_; }
    z_stream* get() { return &stream_; }

  private:
    z_stream stream_{};
};

} // namespace

uint32_t VirtualFile::readCompressed(uint32_t packedSize, unsigned char* out, uint32_t outSize) {
    unsigned char input[kChunk];
    // Only the bytes actually read are handed to zlib, so a file that ends early is a
    // truncated stream, never a stream of whatever the input area held.
    uint32_t got = read(input, packedSize < kChunk ? packedSize : kChunk);
    InflateStream stream(input, got, out, outSize);

    int result = Z_OK;
    while (stream->avail_in != 0) {
        result = inflate(stream.get(), Z_NO_FLUSH);
        if (result == Z_STREAM_END) break;
        if (result != Z_OK) throw ZKErrorException(messages::kInflateFailed);
        if (stream->avail_in == 0) {
            uint32_t left = packedSize - static_cast<uint32_t>(stream->total_in);
            stream->next_in = input;
            stream->avail_in = read(input, left < kChunk ? left : kChunk);
            if (stream->avail_in == 0) // the packed bytes ran out before the stream ended
                throw ZKErrorException(messages::kInflateFailed);
        }
    }
    do {
        result = inflate(stream.get(), Z_FINISH);
    } while (result == Z_OK);
    if (result != Z_STREAM_END) throw ZKErrorException(messages::kInflateFailed);
    return static_cast<uint32_t>(stream->total_out);
}
