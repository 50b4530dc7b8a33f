// PakDirectory over archives written by the independent generator: what a walk delivers for
// every version, and where it stops on corrupt archives.
#include "vfs/pak_directory.h"

#include "platform/system_calls.h"
#include "tests/support/test_support.h"
#include "tests/support/vfs_support.h"
#include "text/error_exceptions.h"
#include "vfs/file_open.h"
#include "vfs/pak_entry.h"
#include "vfs/virtual_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

// Opens a fixture archive from disk, as the lookup has it before a scan.
void openFixture(VirtualFile& file, const std::string& scenario) {
    resetFileSystemState();
    suppressFilePrompt = 1;
    ASSERT_EQ(file.open((fixturePath(scenario) + "\\data.pak").c_str(), 0), 1);
    ASSERT_EQ(file.inArchive, 0);
}

// The data of an entry read at its stored place, the way a program that walks archives does.
std::string dataOf(VirtualFile& archive, const StoredEntry& stored) {
    std::string out(stored.dataSize(), '\0');
    archive.seek(stored.dataStart, 0);
    if (stored.compressed) {
        out.resize(archive.readCompressed(
            stored.packedSize, reinterpret_cast<unsigned char*>(&out[0]), stored.unpackedSize));
    } else {
        out.resize(archive.read(&out[0], stored.size));
    }
    return out;
}

} // namespace

class PakDirectoryVersions : public ::testing::TestWithParam<int> {};

TEST_P(PakDirectoryVersions, WalkDeliversEveryRecordWithItsData) {
    int version = GetParam();
    VirtualFile archive;
    openFixture(archive, "versions/v" + std::to_string(version));
    PakDirectory directory(archive);
    EXPECT_EQ(directory.header().version, static_cast<uint32_t>(version));
    EXPECT_TRUE(directory.headerComplete());
    ASSERT_TRUE(directory.readDirectory());

    std::string big = readFile(fixturePath("reference") + "\\big.bin");
    struct Expected {
        std::string name, data;
        bool compressed;
    };
    bool packs = version != 0;
    const std::vector<Expected> expected = {
        {"GAME.INI", "", false},
        {"\x95\x5C\\\x83\x5C.txt", "hyou-so", false},
        {"\x82\x60\x82\x61.TXT", "full width", packs},
        {"big.bin", big, packs},
        {"empty.dat", "", false},
        {"zeros.bin", std::string(100000, '\0'), packs},
        {"next.txt", "NEXT", false},
    };
    PakEntry entry;
    StoredEntry stored;
    for (const Expected& e : expected) {
        ASSERT_TRUE(directory.next(entry, stored)) << e.name;
        EXPECT_EQ(std::string(entry.name.data), e.name);
        EXPECT_EQ(stored.compressed, e.compressed) << e.name;
        EXPECT_TRUE(directory.dataInside(stored)) << e.name;
        EXPECT_TRUE(PakDirectory::inflatable(stored)) << e.name;
        // Reading data between records moves the archive's position; the walk must not care
        // (version 0 reads its records from the archive itself).
        std::string data = dataOf(archive, stored);
        if (e.name == "GAME.INI")
            EXPECT_EQ(data.substr(0, 3), "[\x90\xDD");
        else
            EXPECT_EQ(data, e.data) << e.name;
    }
    EXPECT_FALSE(directory.next(entry, stored));
    EXPECT_FALSE(directory.broken());
    EXPECT_EQ(directory.recordsRead(), 7u);
}

TEST_P(PakDirectoryVersions, DataStartsAreAbsoluteOffsets) {
    // The generator stores the entries back to back in record order, so each entry starts where
    // the one before it ends, and the last one ends with the file.
    VirtualFile archive;
    openFixture(archive, "versions/v" + std::to_string(GetParam()));
    PakDirectory directory(archive);
    ASSERT_TRUE(directory.readDirectory());
    PakEntry entry;
    StoredEntry stored;
    uint64_t expectedStart = 0;
    bool first = true;
    while (directory.next(entry, stored)) {
        if (!first) {
            EXPECT_EQ(stored.dataStart, expectedStart) << entry.name.data;
        }
        first = false;
        expectedStart = uint64_t{stored.dataStart} + stored.storedSize();
    }
    EXPECT_EQ(expectedStart, directory.archiveSize());
}

// The walk knows the archive's size: reading records must not measure it again (a seek to the
// end and back per record, which made version 0 lookups many times slower than the others).
TEST_P(PakDirectoryVersions, WalkingTheRecordsNeverSeeks) {
    VirtualFile archive;
    openFixture(archive, "versions/v" + std::to_string(GetParam()));
    PakDirectory directory(archive);
    ASSERT_TRUE(directory.readDirectory());
    SystemCallsGuard guard;
    static int seeks;
    static platform::SystemCalls original;
    seeks = 0;
    original = guard.original();
    platform::systemCalls().seekStream = [](std::FILE* stream, int64_t offset, int origin) {
        ++seeks;
        return original.seekStream(stream, offset, origin);
    };
    PakEntry entry;
    StoredEntry stored;
    while (directory.next(entry, stored)) {
    }
    EXPECT_EQ(directory.recordsRead(), 7u);
    EXPECT_EQ(seeks, 0);
}

INSTANTIATE_TEST_SUITE_P(AllVersions, PakDirectoryVersions, ::testing::Values(0, 1, 2, 3, 4));

TEST(PakDirectoryCorrupt, ImpossibleDirectorySizesAreRefusedBeforeAllocating) {
    for (const char* scenario :
         {"malformed/directory-size-huge", "malformed/truncated-directory"}) {
        VirtualFile archive;
        openFixture(archive, scenario);
        PakDirectory directory(archive);
        EXPECT_FALSE(directory.readDirectory()) << scenario;
        PakEntry entry;
        StoredEntry stored;
        EXPECT_FALSE(directory.next(entry, stored)) << scenario;
    }
}

TEST(PakDirectoryCorrupt, HeadersThatEndEarly) {
    VirtualFile archive;
    openFixture(archive, "malformed/truncated-header");
    PakDirectory truncated(archive);
    EXPECT_FALSE(truncated.headerComplete());

    VirtualFile unknown;
    openFixture(unknown, "malformed/unknown-version");
    PakDirectory future(unknown);
    EXPECT_EQ(future.header().version, 9u);
    EXPECT_TRUE(future.headerComplete()); // only the version is read
    EXPECT_EQ(future.header().entryCount, 0u);
    EXPECT_TRUE(future.readDirectory()); // nothing in it: the lookup passes it over
}

TEST(PakDirectoryCorrupt, ADirectoryThatDoesNotInflateThrows) {
    VirtualFile archive;
    openFixture(archive, "malformed/corrupt-directory");
    PakDirectory directory(archive);
    EXPECT_THROW(directory.readDirectory(), ZKErrorException);
}

TEST(PakDirectoryCorrupt, BrokenRecordsEndTheWalk) {
    struct Case {
        const char* scenario;
        uint32_t before; // whole records before the broken one
    };
    for (Case c :
         {Case{"malformed/huge-name-length", 0}, Case{"malformed/negative-name-length", 0},
          Case{"malformed/v0-huge-name-length", 0}, Case{"malformed/v0-negative-name-length", 0},
          Case{"malformed/entry-count-too-large", 1}}) {
        VirtualFile archive;
        openFixture(archive, c.scenario);
        PakDirectory directory(archive);
        ASSERT_TRUE(directory.readDirectory()) << c.scenario;
        PakEntry entry;
        StoredEntry stored;
        uint32_t read = 0;
        while (directory.next(entry, stored))
            ++read;
        EXPECT_EQ(read, c.before) << c.scenario;
        EXPECT_TRUE(directory.broken()) << c.scenario;
        EXPECT_FALSE(directory.next(entry, stored)) << c.scenario; // and stays ended
    }
}

TEST(PakDirectoryCorrupt, EntriesThatTheArchiveCannotBack) {
    auto only = [](const char* scenario, VirtualFile& archive, StoredEntry& stored) {
        openFixture(archive, scenario);
        PakDirectory directory(archive);
        EXPECT_TRUE(directory.readDirectory());
        PakEntry entry;
        EXPECT_TRUE(directory.next(entry, stored));
        return directory.dataInside(stored);
    };
    VirtualFile a, b, c;
    StoredEntry stored;
    EXPECT_FALSE(only("malformed/entry-beyond-end", a, stored));
    EXPECT_FALSE(stored.compressed);
    EXPECT_FALSE(only("malformed/compressed-beyond-end", b, stored));
    EXPECT_TRUE(stored.compressed);
    EXPECT_TRUE(only("malformed/unpacked-huge", c, stored));
    EXPECT_EQ(stored.unpackedSize, 0x7FFFFFFFu);
    EXPECT_FALSE(PakDirectory::inflatable(stored));
}

TEST(PakDirectoryCorrupt, AnEmptyArchiveIsReadyWithNothingInIt) {
    VirtualFile archive;
    openFixture(archive, "malformed/empty-archive");
    PakDirectory directory(archive);
    ASSERT_TRUE(directory.readDirectory());
    PakEntry entry;
    StoredEntry stored;
    EXPECT_FALSE(directory.next(entry, stored));
    EXPECT_FALSE(directory.broken());
}
