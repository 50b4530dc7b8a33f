// Entries of the test generator's archives read back through EntryStream: out of order against
// in order, the verdicts on damaged entries, the archive reads that reading out of order costs,
// and memory that runs out.
#include "archive/entry_stream.h"

#include "archive/archive_file.h"
#include "archive/failure.h"
#include "archive/seek_points.h"
#include "platform/system_calls.h"
#include "tests/support/vfs_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

struct Entry {
    std::string name;
    StoredEntry stored;
};

// The entries of the archive data.pak of a fixture scenario, read from the archive's directory.
std::vector<Entry> entriesOf(pak::ArchiveFile& archive) {
    archive.readDirectory();
    std::vector<Entry> entries;
    PakEntry record;
    StoredEntry stored;
    while (archive.next(record, stored))
        entries.push_back({record.name.data != nullptr ? record.name.data : "", stored});
    return entries;
}

std::string archiveOf(const std::string& scenario) {
    return fixturePath(scenario) + "\\data.pak";
}

std::string readWhole(pak::EntryStream& stream) {
    std::string data(stream.size(), '\0');
    std::size_t got = stream.read(reinterpret_cast<unsigned char*>(&data[0]), data.size());
    EXPECT_EQ(got, data.size());
    return data;
}

std::string readAt(pak::EntryStream& stream, uint64_t offset, std::size_t count) {
    std::string data(count, '\0');
    data.resize(stream.readAt(offset, reinterpret_cast<unsigned char*>(&data[0]), count));
    return data;
}

} // namespace

namespace {

platform::SystemCalls original;
int64_t watchedOffset;
int readsFromStart; // archive reads at watchedOffset

std::ptrdiff_t countingReadAt(std::FILE* stream, int64_t offset, void* buffer, std::size_t n) {
    if (offset == watchedOffset) ++readsFromStart;
    return original.readStreamAt(stream, offset, buffer, n);
}

} // namespace

// Every entry of every version, and one that deflate packed in many blocks, read at random
// against a read in order: with few recent bytes, and with seek points that one stream records
// while it reads at random and a second one, over the same points, reads from.
TEST(EntryStream, ReadsOutOfOrderGiveTheBytesOfAReadInOrder) {
    std::mt19937 random(5);
    for (std::string scenario :
         {"versions/v0", "versions/v1", "versions/v2", "versions/v3", "versions/v4", "seek"}) {
        pak::ArchiveFile archive(archiveOf(scenario));
        for (const Entry& entry : entriesOf(archive)) {
            SCOPED_TRACE(scenario + " " + entry.name);
            pak::EntryStream inOrder(archive, entry.stored);
            const std::string whole = readWhole(inOrder);
            auto points = std::make_shared<pak::SeekPoints>(8192);
            const struct {
                uint32_t recent;
                std::shared_ptr<pak::SeekPoints> points;
            } ways[] = {{1, nullptr},
                        {4096, nullptr},
                        {pak::EntryStream::kRecentBytes, nullptr},
                        {4096, points},
                        {1, points}};
            for (const auto& way : ways) {
                pak::EntryStream stream(archive, entry.stored, way.recent, way.points);
                for (int i = 0; i < 40; ++i) {
                    uint64_t offset = random() % (whole.size() + 1);
                    std::size_t count = random() % 9000 + 1;
                    EXPECT_EQ(readAt(stream, offset, count), whole.substr(offset, count))
                        << "at " << offset;
                    if (i % 8 == 0) stream.skip(random() % 5000);
                }
            }
            if (scenario != "seek") continue;
            // The points reach the last block, and a read there no longer starts from the first
            // byte.
            ASSERT_NE(points->before(whole.size()), nullptr);
            EXPECT_GT(points->before(whole.size())->dataOffset, whole.size() * 3 / 4);
            SystemCallsGuard guard;
            original = guard.original();
            platform::systemCalls().readStreamAt = countingReadAt;
            watchedOffset = entry.stored.dataStart;
            readsFromStart = 0;
            pak::EntryStream stream(archive, entry.stored, 4096, points);
            EXPECT_EQ(readAt(stream, whole.size() - 100, 100), whole.substr(whole.size() - 100));
            EXPECT_EQ(readsFromStart, 0);
        }
    }
}

TEST(EntryStream, DamagedEntriesFailWithWhatIsWrong) {
    const struct {
        const char* scenario;
        const char* says;
    } cases[] = {
        {"entry-beyond-end", "runs past the end of the archive"},
        {"compressed-beyond-end", "runs past the end of the archive"},
        {"unpacked-huge", "packed bytes can inflate to"},
        {"inflates-to-more", "inflates to more than its declared"},
        {"inflates-to-fewer", "bytes, not its declared"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        pak::ArchiveFile archive(archiveOf(std::string("malformed/") + c.scenario));
        const StoredEntry stored = entriesOf(archive).at(0).stored;
        std::string told;
        try {
            pak::EntryStream stream(archive, stored);
            readWhole(stream);
        } catch (const pak::Failure& failure) {
            EXPECT_EQ(failure.exitCode, pak::kCorrupt);
            told = failure.message;
        }
        EXPECT_NE(told.find(c.says), std::string::npos) << told;
    }
}

// A file system's threads take up read-ahead requests in any order: a request behind the last
// one is served from the recent bytes, and only one behind those inflates from the start again.
TEST(EntryStream, ReadsALittleOutOfOrderDoNotInflateFromTheStartAgain) {
    pak::ArchiveFile archive(archiveOf("versions/v3"));
    Entry zeros;
    for (const Entry& entry : entriesOf(archive))
        if (entry.name == "zeros.bin") zeros = entry;
    ASSERT_TRUE(zeros.stored.compressed);
    SystemCallsGuard guard;
    original = guard.original();
    platform::systemCalls().readStreamAt = countingReadAt;
    watchedOffset = zeros.stored.dataStart;
    readsFromStart = 0;

    pak::EntryStream stream(archive, zeros.stored, 32768);
    const std::string expected(8192, '\0');
    // Behind, behind again, ahead past a gap, behind that gap, and at last too far behind.
    for (uint64_t offset : {40960, 32768, 24576, 65536, 49152, 0})
        EXPECT_EQ(readAt(stream, offset, 8192), expected) << offset;
    EXPECT_EQ(readsFromStart, 2);
}

TEST(EntryStream, MemoryThatRunsOutSendsTheStreamBackToItsStart) {
    pak::ArchiveFile archive(archiveOf("versions/v3"));
    for (const Entry& entry : entriesOf(archive)) {
        if (!entry.stored.compressed) continue;
        SCOPED_TRACE(entry.name);
        pak::EntryStream reference(archive, entry.stored);
        const std::string whole = readWhole(reference);
        const uint64_t middle = whole.size() / 2;
        // Each allocation of a fresh stream's first read fails in turn.
        int failed = 0;
        for (bool succeeded = false; !succeeded;) {
            pak::EntryStream stream(archive, entry.stored, 4096);
            platform::failHeapAllocationsAfter(failed);
            try {
                readAt(stream, middle, 100);
                succeeded = true;
            } catch (const std::bad_alloc&) {
                EXPECT_EQ(stream.position(), 0u);
                ++failed;
            }
            platform::failHeapAllocationsAfter(-1);
            EXPECT_EQ(readAt(stream, middle, 100), whole.substr(middle, 100)) << failed;
        }
        // The inflate state, zlib's two blocks, the input block and the recent bytes.
        EXPECT_GE(failed, 5);
    }
}
