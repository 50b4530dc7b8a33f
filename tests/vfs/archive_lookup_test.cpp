// The archive lookup end to end in a temporary game directory: which archive wins, what the
// file looks like after a hit, and how corrupt archives end.
#include "platform/errors.h"
#include "platform/system_calls.h"
#include "tests/support/vfs_support.h"
#include "text/error_exceptions.h"
#include "vfs/archive_lookup.h"
#include "vfs/file_open.h"
#include "vfs/virtual_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

using namespace testing_support;

namespace {

std::string contents(VirtualFile& file) {
    std::string out(file.size(), '\0');
    out.resize(file.read(&out[0], static_cast<uint32_t>(out.size())));
    return out;
}

} // namespace

class ArchiveLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        resetFileSystemState();
        suppressFilePrompt = 1;
    }
    // Opens name in a game directory holding the files of scenario.
    std::string lookup(const std::string& scenario, const char* name) {
        copyScenario(scenario, dir);
        CurrentDirectory here(dir);
        if (!file.open(name, 0)) return "<missing>";
        return contents(file);
    }
    TempDir dir;
    VirtualFile file;
};

TEST_F(ArchiveLookup, ArchivesAreSearchedInCaseInsensitiveNameOrder) {
    EXPECT_EQ(lookup("order/data-patch", "GAME.INI"), "data");
    resetFileSystemState();
    TempDir numbered;
    copyScenario("order/numbered", numbered);
    CurrentDirectory here(numbered);
    ASSERT_EQ(file.open("GAME.INI", 0), 1);
    EXPECT_EQ(contents(file), "one");
    ASSERT_EQ(PakList.size(), 2u);
    EXPECT_EQ(std::string(PakList[0].data), numbered / "data1.pak");
}

TEST_F(ArchiveLookup, FirstPrefixMatchWinsAcrossArchives) {
    EXPECT_EQ(lookup("order/prefix", "GAME.INI"), "backup");
    EXPECT_STREQ(file.name.data, "GAME.INI.BAK");
}

TEST_F(ArchiveLookup, HitInTheSecondArchiveReportsItsPathAndStoredName) {
    EXPECT_EQ(lookup("order/second-only", "GAME.INI"), "lower");
    EXPECT_EQ(std::string(file.path.data), dir / "b.pak");
    EXPECT_STREQ(file.name.data, "game.ini");
    EXPECT_EQ(file.inArchive, 1);
}

TEST_F(ArchiveLookup, WildcardExtensionsAndDoubledBackslashes) {
    EXPECT_EQ(lookup("names", "title.*"), "bmp");
    EXPECT_EQ(lookup("names", "DATA\\\\X.BMP"), "x");
    EXPECT_EQ(lookup("names", ""), "bar"); // an empty name is the first record
}

TEST_F(ArchiveLookup, DirectoryWithATrailingBackslashAndSubdirectoriesNamedPak) {
    copyScenario("order/prefix", dir);
    makeDirectory(dir / "x.pak");
    std::string withSlash = dir.path() + "\\";
    ASSERT_EQ(file.findInArchives(withSlash.c_str(), "GAME.INI"), 1);
    ASSERT_EQ(PakList.size(), 2u);
    EXPECT_EQ(std::string(PakList[0].data), dir / "a.pak"); // one backslash at the join
    EXPECT_EQ(std::string(PakList[1].data), dir / "b.pak");
    EXPECT_EQ(file.findInArchives((dir / "missing").c_str(), "GAME.INI"), 0);
}

TEST_F(ArchiveLookup, VanishedArchivesArePassedOver) {
    copyScenario("order/prefix", dir);
    CurrentDirectory here(dir);
    ASSERT_EQ(file.open("GAME.INI", 0), 1);
    file.close();
    removeFile(dir / "a.pak");
    MessageBoxRecorder boxes;
    ASSERT_EQ(file.open("GAME.INI", 0), 1); // a.pak is gone: b.pak answers, nothing asked
    EXPECT_EQ(contents(file), "real");
    EXPECT_TRUE(boxes.shown().empty());
    file.close();
    removeFile(dir / "b.pak");
    EXPECT_EQ(file.open("GAME.INI", 0), 0);
    EXPECT_EQ(file.stream, nullptr);
}

TEST_F(ArchiveLookup, ArchiveKeySelectsArchivesByTheirOwnName) {
    ArchiveKey.assign("MAIN");
    EXPECT_EQ(lookup("keys", "GAME.INI"), "main");
}

TEST_F(ArchiveLookup, MissLeavesTheFileClosed) {
    EXPECT_EQ(lookup("versions/v2", "nothing.here"), "<missing>");
    EXPECT_EQ(file.stream, nullptr);
    EXPECT_EQ(file.inArchive, 0);
}

// Corrupt archives: each ends in a miss or in the decompression error, never in a crash, a
// hang, an uninitialised byte, bytes of another entry or an allocation the archive cannot back.
namespace {
// The settings text of the fixtures' GAME.INI: [設定] Name=TESTGAME Title=テスト.
const std::string kIni =
    "[\x90\xDD\x92\xE8]\r\nName=TESTGAME\r\nTitle=\x83\x65\x83\x58\x83\x67\r\n";
} // namespace

struct MalformedCase {
    enum Outcome { Miss, Error, Hit };
    MalformedCase(const char* s, Outcome o, std::string d = "")
        : scenario(s), outcome(o), data(std::move(d)) {}
    const char* scenario;
    Outcome outcome;
    std::string data; // what a hit reads
};

class MalformedArchive : public ::testing::TestWithParam<MalformedCase> {
  protected:
    void SetUp() override {
        resetFileSystemState();
        suppressFilePrompt = 1;
    }
    TempDir dir;
};

// The largest block asked of the system (heap, pages, or room for pages) while the hooks below
// are installed.
std::size_t largestRequest = 0;
platform::SystemCalls systemTable;

TEST_P(MalformedArchive, EndsCleanly) {
    std::string scenario = std::string("malformed/") + GetParam().scenario;
    copyScenario(scenario, dir);
    CurrentDirectory here(dir);
    SystemCallsGuard guard;
    largestRequest = 0;
    systemTable = guard.original();
    platform::systemCalls().heapAllocate = [](std::size_t n) {
        largestRequest = std::max(largestRequest, n);
        return std::malloc(n == 0 ? 1 : n);
    };
    platform::systemCalls().allocatePages = [](uint32_t n) {
        largestRequest = std::max<std::size_t>(largestRequest, n);
        return systemTable.allocatePages(n);
    };
    platform::systemCalls().reservePages = [](uint32_t n) {
        largestRequest = std::max<std::size_t>(largestRequest, n);
        return systemTable.reservePages(n);
    };
    VirtualFile file;
    int opened = -1;
    bool threw = false;
    try {
        opened = file.open("GAME.INI", 0);
    } catch (const ZKErrorException& e) {
        threw = true;
        EXPECT_EQ(std::string(e.message.data),
                  "\x83\x66\x81[\x83^\x89\xF0\x93\x80\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5"
                  "\x82\xBD\x81\x42");
    }
    switch (GetParam().outcome) {
    case MalformedCase::Miss:
        EXPECT_EQ(opened, 0);
        break;
    case MalformedCase::Error:
        EXPECT_TRUE(threw);
        break;
    case MalformedCase::Hit: {
        ASSERT_EQ(opened, 1);
        ASSERT_LE(file.size(), 1u << 20); // no entry is larger than its archive lets it be
        // Whatever the entry yields, it is its own bytes, never stale memory or another's.
        EXPECT_EQ(contents(file), GetParam().data);
        break;
    }
    }
    // Nothing asked of the system is larger than what the archive's bytes (each fixture is
    // below 4 KiB) can inflate to.
    EXPECT_LE(largestRequest, 1032u * 4096);
}

INSTANTIATE_TEST_SUITE_P(
    Corrupt, MalformedArchive,
    ::testing::Values(MalformedCase{"truncated-header", MalformedCase::Miss},
                      MalformedCase{"truncated-directory", MalformedCase::Miss},
                      MalformedCase{"corrupt-directory", MalformedCase::Error},
                      MalformedCase{"directory-size-huge", MalformedCase::Miss},
                      MalformedCase{"directory-size-short", MalformedCase::Error},
                      MalformedCase{"negative-name-length", MalformedCase::Miss},
                      MalformedCase{"huge-name-length", MalformedCase::Miss},
                      MalformedCase{"v0-negative-name-length", MalformedCase::Miss},
                      MalformedCase{"v0-huge-name-length", MalformedCase::Miss},
                      MalformedCase{"entry-beyond-end", MalformedCase::Hit, ""},
                      MalformedCase{"offset-beyond-2gib", MalformedCase::Hit, ""},
                      MalformedCase{"plain-size-huge", MalformedCase::Hit, "[a]\r\nb=cdefg\r\n"},
                      MalformedCase{"compressed-beyond-end", MalformedCase::Error},
                      MalformedCase{"inflates-to-more", MalformedCase::Error},
                      MalformedCase{"inflates-to-fewer", MalformedCase::Hit,
                                    kIni + std::string(50, '\0')},
                      MalformedCase{"unpacked-huge", MalformedCase::Error},
                      MalformedCase{"entry-count-too-large", MalformedCase::Miss},
                      MalformedCase{"empty-archive", MalformedCase::Miss},
                      MalformedCase{"unknown-version", MalformedCase::Miss},
                      MalformedCase{"stray-files", MalformedCase::Hit, kIni}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) {
        std::string name = info.param.scenario;
        for (char& c : name)
            if (c == '-') c = '_';
        return name;
    });

// A read or a seek of the archive that fails at any one point of a lookup ends in a miss, in
// the decompression error or in a hit that delivers the start of the entry's own bytes: never in
// a crash and never in bytes from elsewhere in the archive. The failed read still consumes its
// bytes, as a real one may.
namespace {
int callsBeforeFault = -1; // the call that finds it at 0 fails
bool faultInjected = false;
platform::SystemCalls realCalls;

bool faultNow() {
    if (callsBeforeFault < 0 || callsBeforeFault-- != 0) return false;
    faultInjected = true;
    platform::setLastError(23); // ERROR_CRC, as a damaged medium reports
    return true;
}

// The entry's data read in small pieces until a read delivers nothing.
std::string readInPieces(VirtualFile& file) {
    std::string data;
    char piece[7];
    while (uint32_t got = file.read(piece, sizeof piece))
        data.append(piece, got);
    return data;
}
} // namespace

TEST(ArchiveLookupFaults, AFailedReadOrSeekNeverDeliversOtherBytes) {
    SystemCallsGuard guard;
    realCalls = guard.original();
    platform::systemCalls().readStream = [](std::FILE* s, void* b, std::size_t n) {
        std::ptrdiff_t got = realCalls.readStream(s, b, n);
        return faultNow() ? std::ptrdiff_t{-1} : got;
    };
    platform::systemCalls().seekStream = [](std::FILE* s, int64_t offset, int origin) {
        return !faultNow() && realCalls.seekStream(s, offset, origin);
    };
    for (int version = 0; version <= 4; ++version) {
        resetFileSystemState();
        suppressFilePrompt = 1;
        TempDir dir;
        copyScenario("versions/v" + std::to_string(version), dir);
        CurrentDirectory here(dir);
        for (const char* name : {"GAME.INI", "next.txt", "big.bin", "\x82\x60\x82\x61.TXT"}) {
            VirtualFile clean;
            ASSERT_EQ(clean.open(name, 0), 1) << name;
            std::string expected = readInPieces(clean);
            ASSERT_FALSE(expected.empty());
            faultInjected = true;
            for (callsBeforeFault = 0; faultInjected; ++callsBeforeFault) {
                int faultAt = callsBeforeFault;
                faultInjected = false;
                VirtualFile file;
                std::string data;
                try {
                    if (file.open(name, 0)) data = readInPieces(file);
                } catch (const ZKErrorException&) {
                }
                EXPECT_TRUE(expected.compare(0, data.size(), data) == 0)
                    << "v" << version << " " << name << ", fault at call " << faultAt << ": "
                    << data.size() << " bytes that are not the entry's";
                callsBeforeFault = faultAt;
            }
            callsBeforeFault = -1;
        }
    }
}

// Storage that fails while the archive list is made leaves it whole and sorted or empty, never
// half built (a half list would stay in use for the whole process).
TEST_F(ArchiveLookup, TheArchiveListIsMadeWholeOrNotAtAll) {
    copyScenario("order/numbered", dir);
    copyScenario("order/prefix", dir);
    for (int allowed = 0; PakList.empty(); ++allowed) {
        ASSERT_LT(allowed, 100);
        platform::failHeapAllocationsAfter(allowed);
        try {
            file.findInArchives(dir.path().c_str(), "GAME.INI");
        } catch (uint32_t) { // the system's status for exhausted memory
        } catch (const ZKErrorException&) {
        }
        platform::failHeapAllocationsAfter(-1);
        if (PakList.empty()) continue;
        ASSERT_EQ(PakList.size(), 4u) << allowed;
        EXPECT_EQ(std::string(PakList[0].data), dir / "a.pak");
        EXPECT_EQ(std::string(PakList[3].data), dir / "data2.pak");
    }
}
