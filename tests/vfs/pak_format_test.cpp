// The pak format: archives of every version written by the independent generator, read back
// through open; the header and record decoders; the name-matching rule.
#include "vfs/pak_format.h"

#include "tests/support/vfs_support.h"
#include "vfs/file_open.h"
#include "vfs/virtual_file.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;

namespace {

const char kHyouSo[] = "\x95\x5C\\\x83\x5C.txt"; // 表\ソ.txt

std::string contents(VirtualFile& file) {
    std::string out(file.size(), '\0');
    uint32_t n = file.read(&out[0], static_cast<uint32_t>(out.size()));
    out.resize(n);
    return out;
}

std::string openAndRead(const char* name) {
    VirtualFile file;
    if (!file.open(name, 0)) return "<missing>";
    return contents(file);
}

} // namespace

class PakVersions : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        resetFileSystemState();
        suppressFilePrompt = 1;
        copyScenario("versions/v" + std::to_string(GetParam()), dir);
    }
    TempDir dir;
};

TEST_P(PakVersions, EveryEntryReadsBackWhole) {
    CurrentDirectory here(dir);
    std::string big = readFile(fixturePath("reference") + "\\big.bin");

    VirtualFile ini;
    ASSERT_EQ(ini.open("GAME.INI", 0), 1);
    EXPECT_EQ(ini.inArchive, 1);
    EXPECT_EQ(std::string(ini.path.data), dir.path() + "\\data.pak");
    EXPECT_EQ(contents(ini).substr(0, 3), "[\x90\xDD");

    EXPECT_EQ(openAndRead(kHyouSo), "hyou-so");
    EXPECT_EQ(openAndRead("\x82\x81\x82\x82.txt"), "full width"); // ａｂ.txt finds ＡＢ.TXT
    EXPECT_EQ(openAndRead("big.bin"), big);
    EXPECT_EQ(openAndRead("zeros.bin"), std::string(100000, '\0'));
    EXPECT_EQ(openAndRead("empty.dat"), "");
    EXPECT_EQ(openAndRead("next.txt"), "NEXT");
    EXPECT_EQ(openAndRead("missing.txt"), "<missing>");

    VirtualFile compressed;
    ASSERT_EQ(compressed.open("zeros.bin", 0), 1);
    EXPECT_EQ(compressed.inMemory, GetParam() == 0 ? 0 : 1);
    EXPECT_EQ(compressed.size(), 100000u);
}

TEST_P(PakVersions, HeaderFieldsDecode) {
    VirtualFile file;
    ASSERT_EQ(file.open((dir / "data.pak").c_str(), 0), 1);
    PakHeader header;
    header.read(file);
    int version = GetParam();
    EXPECT_EQ(header.version, static_cast<uint32_t>(version));
    EXPECT_EQ(header.entryCount, 7u);
    EXPECT_EQ(std::string(header.archiveName), version >= 2 ? "MAIN" : "");
    EXPECT_EQ(header.value, version >= 2 ? 7.0 : 0.0);
    EXPECT_EQ(file.position, version == 0 ? 8 : 16 + (version == 1 ? 0 : version == 2 ? 260 : 264));
}

INSTANTIATE_TEST_SUITE_P(AllVersions, PakVersions, ::testing::Values(0, 1, 2, 3, 4));

TEST(PakRecords, StoredNamesEndAtTheirLengthOrTheirFirstNul) {
    unsigned char bytes[] = {5, 0, 0, 0, 'a', 'b', 0, 'c', 'd', 0xFF};
    VirtualFile file;
    file.openBuffer(bytes, sizeof bytes);
    String name;
    EXPECT_EQ(name.readFrom(file), 1);
    EXPECT_STREQ(name.data, "ab");
    EXPECT_EQ(name.length, 2);
    EXPECT_EQ(name.capacity, 64);
    EXPECT_EQ(file.position, 9);

    unsigned char zero[] = {0, 0, 0, 0};
    file.openBuffer(zero, sizeof zero);
    EXPECT_EQ(name.readFrom(file), 1);
    EXPECT_EQ(name.data, nullptr);
}

TEST(PakRecords, ImpossibleNameLengthsAreRefusedWithoutAllocating) {
    String name("old");
    VirtualFile file;
    unsigned char negative[] = {0xFB, 0xFF, 0xFF, 0xFF, 'x'};
    file.openBuffer(negative, sizeof negative);
    EXPECT_EQ(name.readFrom(file), 0);
    EXPECT_EQ(name.data, nullptr);

    unsigned char huge[] = {0xF0, 0xFF, 0xFF, 0x7F, 'x', 'y'};
    file.openBuffer(huge, sizeof huge);
    EXPECT_EQ(name.readFrom(file), 0);
    EXPECT_EQ(name.data, nullptr);

    unsigned char cut[] = {2, 0};
    file.openBuffer(cut, sizeof cut);
    EXPECT_EQ(name.readFrom(file), 0);
}

TEST(PakRecords, ShortRecordsLeaveTheNumbersAlone) {
    // A version 1-3 record named "a" with only four of its five numbers.
    unsigned char record[] = {1, 0, 0, 0, 'a', 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0};
    VirtualFile file;
    file.openBuffer(record, sizeof record);
    PakEntry entry;
    entry.numbers[4] = 99;
    EXPECT_EQ(entry.read(file), 0);
    EXPECT_EQ(entry.numbers[0], 0u);
    EXPECT_EQ(entry.numbers[4], 99u);
}

TEST(PakNames, PrefixMatchWithoutCaseForAsciiAndFullWidthLetters) {
    auto matches = [](const char* wanted, const char* record) {
        String w(wanted);
        normaliseWantedName(w);
        return nameMatches(w.data, static_cast<uint32_t>(w.byteLength()), record);
    };
    EXPECT_TRUE(matches("GAME.INI", "game.ini"));
    EXPECT_TRUE(matches("GAME.INI", "game.ini.old"));
    EXPECT_FALSE(matches("GAME.INI", "GAME.IN"));
    EXPECT_TRUE(matches("", "anything"));
    EXPECT_FALSE(matches("a", nullptr));
    EXPECT_TRUE(matches("title.*", "TITLE.PNG"));
    EXPECT_FALSE(matches("title.*", "titlebar.txt"));
    EXPECT_TRUE(matches("DATA\\\\X.BMP", "data\\X.bmp"));
    EXPECT_TRUE(matches("\x82\x81\x82\x82.txt", "\x82\x60\x82\x61.TXT"));
    EXPECT_FALSE(matches("\x83\xBF", "\x83\x9F")); // Greek small and capital alpha
    EXPECT_FALSE(matches("\\", "\x83\x5C"));       // ソ's trail byte is no backslash
    EXPECT_FALSE(matches("\x83\x5C", "\x83\x5D"));
}
