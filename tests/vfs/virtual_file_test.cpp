// VirtualFile's reading modes: memory, region (an archive entry read in place) and disk.
#include "vfs/virtual_file.h"

#include "platform/streams.h"
#include "platform/system_calls.h"
#include "tests/support/vfs_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;

namespace {

std::string readAll(VirtualFile& file, uint32_t chunk = 3) {
    std::string out;
    char buffer[64];
    while (uint32_t n = file.read(buffer, chunk))
        out.append(buffer, n);
    return out;
}

} // namespace

TEST(VirtualFileMemory, SeeksInsideTheBufferAndRefusesTargetsOutsideIt) {
    char bytes[] = "0123456789";
    VirtualFile file;
    ASSERT_EQ(file.openBuffer(bytes, 10), 1);
    EXPECT_EQ(file.size(), 10u);
    EXPECT_EQ(file.seek(10, 0), 0);
    char out[8] = {};
    EXPECT_EQ(file.read(out, 4), 0u);

    EXPECT_EQ(file.seek(4, 0), 0);
    EXPECT_NE(file.seek(11, 0), 0); // refused: the position stays at 4
    EXPECT_NE(file.seek(-1, 0), 0);
    EXPECT_EQ(file.position, 4);
    EXPECT_EQ(file.seek(2, 1), 0);
    EXPECT_EQ(file.position, 6);
    EXPECT_EQ(file.seek(3, 2), 0); // three bytes before the end
    EXPECT_EQ(file.position, 7);
    EXPECT_EQ(file.read(out, 8), 3u);
    EXPECT_EQ(std::string(out, 3), "789");
    EXPECT_EQ(file.read(out, 8), 0u);
    EXPECT_NE(file.seek(-1, 2), 0);
    EXPECT_NE(file.seek(0, 7), 0); // no such origin
    EXPECT_EQ(file.position, 10);
}

TEST(VirtualFileMemory, OwnedBuffersAreZeroFilledAndCallersBuffersStayTheirs) {
    VirtualFile file;
    ASSERT_EQ(file.openBuffer(nullptr, 16), 1);
    EXPECT_EQ(file.ownsBuffer, 1);
    EXPECT_EQ(readAll(file, 16), std::string(16, '\0'));
    file.close();
    file.close(); // harmless twice

    char mine[4] = {'a', 'b', 'c', 'd'};
    ASSERT_EQ(file.openBuffer(mine, 4), 1);
    EXPECT_EQ(file.ownsBuffer, 0);
    file.close();
    EXPECT_EQ(mine[0], 'a'); // still ours; a sanitizer would object to a free

    platform::failHeapAllocationsAfter(0);
    int opened = file.openBuffer(nullptr, 16);
    platform::failHeapAllocationsAfter(-1);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(file.inMemory, 0);
    EXPECT_EQ(file.size(), 0u);
}

TEST(VirtualFileClosed, AnswersZeroToEverything) {
    VirtualFile file;
    char out[4];
    EXPECT_EQ(file.size(), 0u);
    EXPECT_EQ(file.read(out, 4), 0u);
    EXPECT_EQ(file.seek(3, 0), 0);
    EXPECT_EQ(file.entry->name.data, nullptr);
    for (uint32_t n : file.entry->numbers)
        EXPECT_EQ(n, 0u);
}

class VirtualFileOnDisk : public ::testing::Test {
  protected:
    void SetUp() override { resetFileSystemState(); }
    TempDir dir;
};

TEST_F(VirtualFileOnDisk, DiskModeFollowsTheRuntimeLibrary) {
    writeFile(dir / "hundred.bin", std::string(70, 'a') + std::string(30, 'b'));
    VirtualFile file;
    ASSERT_EQ(file.open((dir / "hundred.bin").c_str(), 0), 1);
    EXPECT_EQ(file.inArchive, 0);
    EXPECT_EQ(file.position, 0);
    char out[8];
    EXPECT_EQ(file.read(out, 5), 5u);
    EXPECT_EQ(file.size(), 100u); // measuring does not move the position
    EXPECT_EQ(file.position, 5);
    EXPECT_EQ(file.seek(-30, 2), 0); // origin 2 adds the offset to the size here
    EXPECT_EQ(file.position, 70);
    EXPECT_EQ(file.read(out, 1), 1u);
    EXPECT_EQ(out[0], 'b');
    EXPECT_NE(file.seek(-500, 0), 0);

    // A file of 4 GiB and more (sparse here) keeps its whole size. It grows through the
    // platform layer: the 32-bit Windows runtime's resize_file stops at 2 GiB.
    const uint64_t huge = (uint64_t{1} << 32) + 16;
    std::FILE* grown = platform::openStream((dir / "hundred.bin").c_str(), "r+b");
    ASSERT_NE(grown, nullptr);
    ASSERT_TRUE(platform::seekStream(grown, static_cast<int64_t>(huge) - 1, 0));
    ASSERT_EQ(platform::writeStream(grown, "b", 1), 1u);
    ASSERT_TRUE(platform::closeStream(grown));
    VirtualFile large;
    ASSERT_EQ(large.open((dir / "hundred.bin").c_str(), 0), 1);
    EXPECT_EQ(large.size(), huge);
    EXPECT_EQ(large.declaredSize(), huge);
    EXPECT_EQ(large.heldSize(), huge);
    EXPECT_EQ(large.seek(-16, 2), 0);
    EXPECT_EQ(large.bytesLeft(), 16u);
}

TEST_F(VirtualFileOnDisk, RegionModeStaysInsideTheEntry) {
    // In this archive the plain entry 表\ソ.txt ("hyou-so") is followed by other entries' data.
    copyScenario("versions/v3", dir);
    CurrentDirectory here(dir);
    VirtualFile file;
    ASSERT_EQ(file.open("\x95\x5C\\\x83\x5C.txt", 0), 1);
    ASSERT_EQ(file.inArchive, 1);
    ASSERT_EQ(file.inMemory, 0);
    EXPECT_EQ(file.size(), 7u);
    EXPECT_EQ(readAll(file, 100), "hyou-so"); // and not a byte of the next entry
    EXPECT_EQ(file.seek(0, 2), 0);
    EXPECT_EQ(file.position, 7);
    EXPECT_EQ(file.seek(3, 2), 0); // counts back from the end
    EXPECT_EQ(file.position, 4);
    EXPECT_EQ(readAll(file), "-so");
    EXPECT_EQ(file.seek(2, 0), 0);
    EXPECT_EQ(file.seek(1, 1), 0);
    EXPECT_EQ(readAll(file), "u-so");
    EXPECT_NE(file.seek(-1, 0), 0); // before the entry: refused
    EXPECT_EQ(file.position, 7);
    EXPECT_EQ(file.seek(50, 0), 0); // past the end: nothing to read there
    EXPECT_EQ(readAll(file), "");
}
