// The archive lookup end to end in a temporary game directory: which archive wins, what the
// file looks like after a hit, and how corrupt archives end.
#include "platform/platform.h"
#include "tests/support/vfs_support.h"
#include "text/error_exceptions.h"
#include "vfs/archive_lookup.h"
#include "vfs/file_open.h"
#include "vfs/virtual_file.h"

#include <gtest/gtest.h>

#include <string>

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
// hang, an uninitialised byte or an allocation the archive cannot back (the sanitizer build
// checks the last two).
struct MalformedCase {
    const char* scenario;
    enum { Miss, Error, Hit } outcome;
};

class MalformedArchive : public ::testing::TestWithParam<MalformedCase> {
  protected:
    void SetUp() override {
        resetFileSystemState();
        suppressFilePrompt = 1;
    }
    TempDir dir;
};

TEST_P(MalformedArchive, EndsCleanly) {
    copyScenario(std::string("malformed/") + GetParam().scenario, dir);
    CurrentDirectory here(dir);
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
        std::string data(file.size(), 'x');
        data.resize(file.read(&data[0], static_cast<uint32_t>(data.size())));
        // Whatever the entry yields, it is never stale memory: here the tail is zeros.
        if (data.size() > 50) {
            EXPECT_EQ(data.substr(data.size() - 50), std::string(50, '\0'));
        }
        break;
    }
    }
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
                      MalformedCase{"entry-beyond-end", MalformedCase::Hit},
                      MalformedCase{"compressed-beyond-end", MalformedCase::Error},
                      MalformedCase{"inflates-to-more", MalformedCase::Error},
                      MalformedCase{"inflates-to-fewer", MalformedCase::Hit},
                      MalformedCase{"unpacked-huge", MalformedCase::Error},
                      MalformedCase{"entry-count-too-large", MalformedCase::Miss},
                      MalformedCase{"empty-archive", MalformedCase::Miss},
                      MalformedCase{"unknown-version", MalformedCase::Error}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) {
        std::string name = info.param.scenario;
        for (char& c : name)
            if (c == '-') c = '_';
        return name;
    });
