// WholeDeflater with libdeflate (see whole_deflater.h).
#include "archive/whole_deflater.h"

#include <libdeflate.h>

#include <new>

namespace pak {

namespace {

// Level 7, not the 6 of zlib's default: on game data (pictures, scripts, compressed sound)
// libdeflate's level 6 makes archives a little larger than zlib's default does, its level 7 a
// little smaller, still at about twice zlib's speed.
constexpr int kLevel = 7;

} // namespace

struct WholeDeflater::State {
    libdeflate_compressor* compressor = nullptr;
};

WholeDeflater::WholeDeflater() : state_(std::make_unique<State>()) {
    state_->compressor = libdeflate_alloc_compressor(kLevel);
    if (state_->compressor == nullptr) throw std::bad_alloc();
}

WholeDeflater::~WholeDeflater() {
    libdeflate_free_compressor(state_->compressor);
}

bool WholeDeflater::compress(const unsigned char* data, std::size_t size,
                             std::vector<unsigned char>& out) {
    out.resize(libdeflate_zlib_compress_bound(state_->compressor, size));
    std::size_t written =
        libdeflate_zlib_compress(state_->compressor, data, size, out.data(), out.size());
    out.resize(written);
    return written > 0;
}

const char* WholeDeflater::library() {
    return "libdeflate";
}

} // namespace pak
