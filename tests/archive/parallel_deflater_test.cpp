// ParallelDeflater, at the sizes where its paths change: every entry comes back, in the order
// added, as one zlib stream that zlib's own inflate reads back and that ends in the entry's
// Adler-32, cut into the pieces its size calls for, the same bytes for any number of threads.
// A failed read comes out only after the pieces before it, and after their failures.
#include "archive/parallel_deflater.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using pak::DeflatedPiece;
using pak::ParallelDeflater;

namespace {

constexpr std::size_t kWhole = ParallelDeflater::kWholeEntryLimit;
constexpr std::size_t kBlock = ParallelDeflater::kBlockSize;

// Words of a small vocabulary with stretches of noise between them: it compresses, and its
// matches reach back across the joins of blocks.
std::string entryBytes(std::size_t size, unsigned seed) {
    std::string noise = testing_support::randomBytes(size / 8 + 4096, seed);
    std::string out;
    out.reserve(size + 4096);
    for (std::size_t at = 0; out.size() < size; at = (at + 7) % (noise.size() - 600)) {
        unsigned char pick = static_cast<unsigned char>(noise[at]);
        if (pick < 16)
            out.append(noise, at, 1 + pick * 32u);
        else
            out.append(noise, (pick % 64) * 5, 2 + pick % 7).push_back(' ');
    }
    out.resize(size);
    return out;
}

// A reader of bytes for add, in the pieces asked for.
ParallelDeflater::Read readerOf(const std::string& bytes) {
    return [&bytes, at = std::size_t{0}](unsigned char* buffer, std::size_t count) mutable {
        std::size_t n = std::min(count, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        return n;
    };
}

// zlib's inflate of a whole stream, which also checks the Adler-32 it ends with.
bool inflatesTo(const std::string& stream, const std::string& expected) {
    std::string out(expected.size() + 1, '\0');
    uLongf outSize = static_cast<uLongf>(out.size());
    uLong inSize = static_cast<uLong>(stream.size());
    return uncompress2(reinterpret_cast<Bytef*>(&out[0]), &outSize,
                       reinterpret_cast<const Bytef*>(stream.data()), &inSize) == Z_OK &&
           inSize == stream.size() && out.substr(0, outSize) == expected;
}

uint32_t trailerOf(const std::string& stream) {
    const unsigned char* end =
        reinterpret_cast<const unsigned char*>(stream.data()) + stream.size();
    return uint32_t{end[-4]} << 24 | uint32_t{end[-3]} << 16 | uint32_t{end[-2]} << 8 | end[-1];
}

} // namespace

TEST(ParallelDeflater, EachEntryIsOneZlibStreamInPiecesCutAtTheLimits) {
    struct Case {
        std::size_t size, pieces;
    };
    const std::vector<Case> cases = {
        {0, 1},
        {kBlock, 1},
        {kWhole - 1, 1},
        {kWhole, 1},
        {kWhole + 1, 9},
        {kWhole + kBlock, 9},      // whole, then in blocks
        {kWhole + kBlock + 1, 10}, // the last block's dictionary in the block before
    };
    std::vector<std::string> inputs;
    for (const Case& c : cases)
        inputs.push_back(entryBytes(c.size, static_cast<unsigned>(inputs.size() + 1)));

    std::vector<std::string> firstRun;
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        std::vector<std::string> streams(cases.size());
        std::vector<std::size_t> pieces(cases.size());
        std::size_t current = 0; // the entry whose pieces come now
        ParallelDeflater deflater(threads, [&](const DeflatedPiece& piece) {
            ASSERT_EQ(piece.entry, current);
            EXPECT_TRUE(piece.compressed);
            EXPECT_EQ(piece.first, pieces[current] == 0);
            streams[current].append(piece.bytes.begin(), piece.bytes.end());
            ++pieces[current];
            if (piece.last) ++current;
        });
        for (std::size_t i = 0; i < cases.size(); ++i) {
            EXPECT_EQ(deflater.add(i, readerOf(inputs[i])), cases[i].size);
        }
        deflater.handBackAll();
        EXPECT_EQ(current, cases.size());
        for (std::size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE("entry of " + std::to_string(cases[i].size) + " bytes");
            EXPECT_EQ(pieces[i], cases[i].pieces);
            EXPECT_TRUE(inflatesTo(streams[i], inputs[i]));
            EXPECT_EQ(
                trailerOf(streams[i]),
                adler32_z(1, reinterpret_cast<const Bytef*>(inputs[i].data()), inputs[i].size()));
        }
        if (firstRun.empty())
            firstRun = std::move(streams);
        else
            EXPECT_TRUE(streams == firstRun); // not EXPECT_EQ: megabytes of bytes
    }
}

TEST(ParallelDeflater, AFailedReadComesOutAfterThePiecesBeforeItAndTheirFailures) {
    const std::string small = entryBytes(1000, 1), large = entryBytes(kWhole + 1, 2);
    auto failingRead = [](unsigned char*, std::size_t) -> std::size_t {
        throw std::runtime_error("cannot be read");
    };
    std::vector<std::size_t> ended;
    ParallelDeflater deflater(3, [&](const DeflatedPiece& piece) {
        if (piece.last) ended.push_back(piece.entry);
    });
    deflater.add(0, readerOf(small));
    deflater.add(1, readerOf(large));
    EXPECT_THROW(deflater.add(2, failingRead), std::runtime_error);
    EXPECT_EQ(ended, (std::vector<std::size_t>{0, 1}));

    // The piece of the entry before fails as it is handed back: that failure comes out.
    ParallelDeflater failing(3, [](const DeflatedPiece&) { throw std::logic_error("placing"); });
    failing.add(0, readerOf(small));
    EXPECT_THROW(failing.add(1, failingRead), std::logic_error);
}
