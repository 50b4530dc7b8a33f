// WholeDeflater with zlib, for builds without libdeflate (see whole_deflater.h): one deflate
// stream per thread, reset for each entry rather than built anew.
#include "archive/whole_deflater.h"

#include <zlib.h>

#include <new>

namespace pak {

struct WholeDeflater::State {
    z_stream stream{};
};

WholeDeflater::WholeDeflater() : state_(std::make_unique<State>()) {
    if (deflateInit(&state_->stream, Z_DEFAULT_COMPRESSION) != Z_OK) throw std::bad_alloc();
}

WholeDeflater::~WholeDeflater() {
    deflateEnd(&state_->stream);
}

bool WholeDeflater::compress(const unsigned char* data, std::size_t size,
                             std::vector<unsigned char>& out) {
    z_stream& stream = state_->stream;
    if (deflateReset(&stream) != Z_OK) return false;
    // An entry is at most a few MiB here (larger ones go in blocks), so the sizes fit uInt.
    out.resize(deflateBound(&stream, static_cast<uLong>(size)));
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    // With room for the bound, one call compresses everything.
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return false;
    out.resize(out.size() - stream.avail_out);
    return true;
}

const char* WholeDeflater::library() {
    return "zlib";
}

} // namespace pak
