// VirtualFile::readCompressed: a zlib stream from the file's position, inflated in input chunks
// (64 KiB from a file, 4 KiB from memory) straight into the caller's room: one block sized from the
// archive's directory, or room handed out piece by piece (InflateOutput). There is no intermediate
// output buffer.
#include "text/error_exceptions.h"
#include "vfs/messages.h"
#include "vfs/virtual_file.h"

#include <zlib.h>

namespace {

// Input read from a file: large enough that the runtime library reads each chunk straight
// from the file in one system call, past its own buffer of a few KiB, so that a large entry
// costs few calls; small enough for any thread's stack.
constexpr uint32_t kFileChunk = 64 * 1024;
// Input copied from memory, where a larger chunk saves nothing and would only copy more of
// what follows the stream.
constexpr uint32_t kMemoryChunk = 4096;

// One inflate stream, ended when it goes out of scope (also when an exception passes).
class InflateStream {
  public:
    InflateStream(unsigned char* input, uint32_t inputSize) {
        stream_.next_in = input;
        stream_.avail_in = inputSize;
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

// The caller's one block, handed out whole.
class WholeBlock : public InflateOutput {
  public:
    explicit WholeBlock(unsigned char* block) : block_(block) {}
    unsigned char* more(uint32_t produced, uint32_t left, uint32_t& room) override {
        room = left;
        return block_ + produced;
    }

  private:
    unsigned char* block_;
};

} // namespace

uint32_t VirtualFile::readCompressed(uint32_t packedSize, unsigned char* out, uint32_t outSize) {
    WholeBlock whole(out);
    return readCompressed(packedSize, whole, outSize);
}

uint32_t VirtualFile::readCompressed(uint32_t packedSize, InflateOutput& output, uint32_t outSize) {
    unsigned char input[kFileChunk];
    const uint32_t chunk = inMemory ? kMemoryChunk : kFileChunk;
    // Only the bytes actually read are handed to zlib, so a file that ends early is a
    // truncated stream, never a stream of whatever the input area held.
    uint32_t got = read(input, packedSize < chunk ? packedSize : chunk);
    InflateStream stream(input, got);
    uint32_t room = 0;
    stream->next_out = output.more(0, outSize, room);
    stream->avail_out = room;

    // Each round gives zlib fresh input or fresh room where it used up either; a round in which
    // it can make no progress at all (Z_BUF_ERROR) means the stream is cut short, or larger
    // than its room, and fails like corrupt data.
    for (;;) {
        int result = inflate(stream.get(), Z_NO_FLUSH);
        if (result == Z_STREAM_END) break;
        if (result != Z_OK) throw ZKErrorException(messages::kInflateFailed);
        auto produced = static_cast<uint32_t>(stream->total_out);
        if (stream->avail_out == 0 && produced < outSize) {
            stream->next_out = output.more(produced, outSize - produced, room);
            stream->avail_out = room;
        }
        auto consumed = static_cast<uint32_t>(stream->total_in);
        if (stream->avail_in == 0 && consumed < packedSize) {
            uint32_t left = packedSize - consumed;
            stream->next_in = input;
            stream->avail_in = read(input, left < chunk ? left : chunk);
        }
    }
    return static_cast<uint32_t>(stream->total_out);
}
