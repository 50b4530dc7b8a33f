// Entries of the test generator's archives read back through EntryStream: out of order against
// in order, the verdicts on damaged entries, the archive reads that reading out of order costs,
// and memory that runs out.
#include "archive/entry_stream.h"

#include "archive/archive_file.h"
#include "archive/failure.h"
#include "platform/system_calls.h"
#include "tests/support/vfs_support.h"

#include <gtest/gtest.h>

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

TEST(EntryStream, ReadsOutOfOrderGiveTheBytesOfAReadInOrder) {
    std::mt19937 random(5);
    for (int version = 0; version <= 4; ++version) {
        pak::ArchiveFile archive(archiveOf("versions/v" + std::to_string(version)));
        for (const Entry& entry : entriesOf(archive)) {
            SCOPED_TRACE("v" + std::to_string(version) + " " + entry.name);
            pak::EntryStream inOrder(archive, entry.stored);
            const std::string whole = readWhole(inOrder);
            // Few recent bytes: reads are served from them, past gaps and from the start again.
            for (uint32_t recent : {1u, 4096u, pak::EntryStream::kRecentBytes}) {
                pak::EntryStream stream(archive, entry.stored, recent);
                for (int i = 0; i < 40; ++i) {
                    uint64_t offset = random() % (whole.size() + 1);
                    std::size_t count = random() % 9000 + 1;
                    EXPECT_EQ(readAt(stream, offset, count), whole.substr(offset, count))
                        << "at " << offset;
                    if (i % 8 == 0) stream.skip(random() % 5000);
                }
            }
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

namespace {

platform::SystemCalls original;
int64_t watchedOffset;
int readsFromStart; // archive reads at watchedOffset

std::ptrdiff_t countingReadAt(std::FILE* stream, int64_t offset, void* buffer, std::size_t n) {
    if (offset == watchedOffset) ++readsFromStart;
    return original.readStreamAt(stream, offset, buffer, n);
}

} // namespace

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
