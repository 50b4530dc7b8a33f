// Compressing one entry whole, as one zlib stream, with a compressor that is kept for every
// entry its thread compresses (building one per entry costs as much as compressing a small
// file). The build chooses the library: libdeflate where it is found (whole_deflater_libdeflate
// .cpp), which is about twice as fast as zlib, and zlib otherwise (whole_deflater_zlib.cpp).
// Either way the result is a zlib stream that the game's inflate reads as it is; the same
// input gives the same bytes every time within one build.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace pak {

class WholeDeflater {
  public:
    // Throws std::bad_alloc when the compressor cannot be had.
    WholeDeflater();
    ~WholeDeflater();
    WholeDeflater(const WholeDeflater&) = delete;
    WholeDeflater& operator=(const WholeDeflater&) = delete;

    // Replaces out by the zlib stream of the size bytes at data. False when the library
    // fails.
    bool compress(const unsigned char* data, std::size_t size, std::vector<unsigned char>& out);

    // The library this build compresses with: "libdeflate" or "zlib".
    static const char* library();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace pak
