// PageBuffer and readCompressed, driven with real zlib streams.
#include "tests/support/test_support.h"
#include "text/error_exceptions.h"
#include "vfs/page_buffer.h"
#include "vfs/virtual_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> deflated(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<unsigned char> out(size);
    EXPECT_EQ(compress(out.data(), &size, reinterpret_cast<const Bytef*>(data.data()),
                       static_cast<uLong>(data.size())),
              Z_OK);
    out.resize(size);
    return out;
}

bool throwsInflateError(VirtualFile& file, uint32_t packed, unsigned char* out, uint32_t size) {
    try {
        file.readCompressed(packed, out, size);
    } catch (const ZKErrorException& e) {
        return std::string(e.message.data) ==
               "\x83\x66\x81[\x83^\x89\xF0\x93\x80\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5"
               "\x82\xBD\x81\x42";
    }
    return false;
}

} // namespace

TEST(PageBuffer, ResizeClearsReusesAndReleases) {
    PageBuffer buffer;
    buffer.resize(0);
    EXPECT_EQ(buffer.pages, nullptr);
    buffer.resize(5000);
    ASSERT_NE(buffer.pages, nullptr);
    unsigned char* first = buffer.pages;
    buffer.pages[4999] = 0x55;
    buffer.resize(5000); // same size: same memory, cleared
    EXPECT_EQ(buffer.pages, first);
    EXPECT_EQ(buffer.pages[4999], 0);
    buffer.resize(0);
    EXPECT_EQ(buffer.pages, nullptr);
    EXPECT_EQ(buffer.byteCount, 0u);
    buffer.release();
}

TEST(ReadCompressed, InflatesAcrossChunksAndIgnoresBytesAfterTheStream) {
    std::string data =
        testing_support::randomBytes(10000, 7); // incompressible: several 4096-byte input chunks
    std::vector<unsigned char> packed = deflated(data);
    ASSERT_GT(packed.size(), 8192u);
    packed.insert(packed.end(), 20000, 0xEE); // whatever follows the stream is never looked at
    VirtualFile file;
    file.openBuffer(packed.data(), static_cast<uint32_t>(packed.size()));
    std::string out(data.size(), '\0');
    EXPECT_EQ(file.readCompressed(static_cast<uint32_t>(packed.size()),
                                  reinterpret_cast<unsigned char*>(&out[0]),
                                  static_cast<uint32_t>(out.size())),
              data.size());
    EXPECT_EQ(out, data);
    EXPECT_LT(file.position, static_cast<int64_t>(packed.size() - 8192)); // the rest stays unread
}

TEST(ReadCompressed, FailuresThrowTheDecompressionError) {
    std::vector<unsigned char> packed = deflated(std::string(101, 'x'));
    unsigned char out[200];
    VirtualFile file;

    file.openBuffer(packed.data(), static_cast<uint32_t>(packed.size()));
    EXPECT_TRUE(throwsInflateError(file, static_cast<uint32_t>(packed.size()), out, 100));

    file.openBuffer(packed.data(), static_cast<uint32_t>(packed.size()));
    EXPECT_TRUE(throwsInflateError(file, 0, out, 200)); // no input at all

    file.openBuffer(packed.data(), static_cast<uint32_t>(packed.size()));
    EXPECT_TRUE(throwsInflateError(file, static_cast<uint32_t>(packed.size() - 3), out, 200));

    file.openBuffer(packed.data(), static_cast<uint32_t>(packed.size()));
    EXPECT_TRUE(throwsInflateError(file, static_cast<uint32_t>(packed.size()), nullptr, 200));

    std::vector<unsigned char> garbage(64, 0x5A);
    file.openBuffer(garbage.data(), 64);
    EXPECT_TRUE(throwsInflateError(file, 64, out, 200));

    // The file ends before the packed size says: a truncated stream, not stale input bytes.
    file.openBuffer(packed.data(), static_cast<uint32_t>(packed.size() - 3));
    EXPECT_TRUE(throwsInflateError(file, static_cast<uint32_t>(packed.size()), out, 200));
}

TEST(ReadCompressed, EmptyStreamsAndShortStreams) {
    std::vector<unsigned char> empty = deflated("");
    unsigned char block[1];
    VirtualFile file;
    file.openBuffer(empty.data(), static_cast<uint32_t>(empty.size()));
    EXPECT_EQ(file.readCompressed(static_cast<uint32_t>(empty.size()), block, 0), 0u);

    std::vector<unsigned char> small = deflated("abc");
    unsigned char out[10];
    std::fill(out, out + 10, 0x77);
    file.openBuffer(small.data(), static_cast<uint32_t>(small.size()));
    EXPECT_EQ(file.readCompressed(static_cast<uint32_t>(small.size()), out, 10), 3u);
    EXPECT_EQ(out[3], 0x77); // the caller decides what the rest of its block holds
}
