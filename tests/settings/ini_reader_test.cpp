// The settings reader: the line rules on text in memory, then whole files through the virtual
// file system (loose, in an archive, missing).
#include "settings/ini_reader.h"

#include "platform/message_box.h"
#include "tests/support/vfs_support.h"
#include "vfs/file_open.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;

namespace {

const char kSection[] = "\x90\xDD\x92\xE8"; // 設定
const std::string kHeader = std::string("[") + kSection + "]\n";

// The value of Name found in text, or "<none>".
std::string nameIn(const std::string& text, const char* key = "Name") {
    String source(text.c_str());
    String out;
    findIniValue(kSection, key, out, source);
    return out.data != nullptr ? std::string(out.data) : "<none>";
}

struct LineCase {
    const char* line;
    const char* value;
};

class IniLine : public ::testing::TestWithParam<LineCase> {};

} // namespace

TEST_P(IniLine, KeyAndValueRules) {
    EXPECT_EQ(nameIn(kHeader + GetParam().line + "\n"), GetParam().value) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, IniLine,
    ::testing::Values(LineCase{"Name=abc", "abc"}, LineCase{"NAME=abc", "abc"},
                      LineCase{"Name = abc ", "abc "}, LineCase{"Name\tabc\tnote", "abc"},
                      LineCase{"\tName=abc", "abc"}, LineCase{"  Name=abc", "abc"},
                      LineCase{"Na me=abc", "abc"}, LineCase{"Name==abc", "abc"},
                      LineCase{"Name\t= abc", "abc"}, LineCase{"Name=a\\\\nb", "a\nb"},
                      LineCase{"Name=a\\\\tb", "a"}, LineCase{"Name=a\\nb", "a\\nb"},
                      LineCase{"'Name=abc", "<none>"}, LineCase{";Name=abc", "<none>"},
                      LineCase{"Name", "<none>"}, LineCase{"\t\t", "<none>"},
                      // ソ ends in 0x5C: it does not start an escape with the next backslash.
                      LineCase{"Name=\x83\x5C\\n", "\x83\x5C\\n"},
                      // The full-width space is no space: it stays in the key.
                      LineCase{"Name\x81\x40=abc", "<none>"}));

TEST(IniText, EmptyValuesArePassedOverAndTheFirstValueWins) {
    EXPECT_EQ(nameIn(kHeader + "Name=\nName=xyz\nName=later\n"), "xyz");
}

TEST(IniText, HeadersAndSections) {
    EXPECT_EQ(nameIn(std::string("[") + kSection + "] trailing words\nName=a\n"), "a");
    EXPECT_EQ(nameIn(std::string(" [") + kSection + "]\nName=a\n"), "<none>");
    EXPECT_EQ(nameIn("Name=before\n" + kHeader + "Title=t\n"), "<none>");
    EXPECT_EQ(nameIn("[Other]\nName=other\n" + kHeader + "Name=mine\n"), "mine");
    // The wanted section twice: a key missing from the first is found in the second.
    EXPECT_EQ(nameIn(kHeader + "Title=t\n[Other]\nx=1\n" + kHeader + "Name=second\n"), "second");
    // Without ']' the name ends one byte before the line's end: "[ABC" names "AB".
    String text("[ABC\nName=ab\n");
    String out;
    findIniValue("ab", "Name", out, text);
    EXPECT_STREQ(out.data, "ab");
}

TEST(IniText, ForeignSectionsAreSkippedToTheNextBracket) {
    // A '[' inside a line of another section: the scan resumes just before it and reads the
    // rest of that line as a line. After the wanted header, that makes the foreign lines that
    // follow entries again.
    std::string text = kHeader + "Title=t\n[Other]\nkey=x[y\nName=foreign\n";
    EXPECT_EQ(nameIn(text), "foreign");
    // Before the wanted header has been read they stay ignored.
    EXPECT_EQ(nameIn("[Other]\nkey=x[y\nName=foreign\n"), "<none>");
}

TEST(IniText, LineEndsOfEveryKind) {
    for (const char* end : {"\n", "\r\n", "\r"}) {
        std::string text =
            std::string("[") + kSection + "]" + end + end + "Title=t" + end + "Name=abc" + end;
        EXPECT_EQ(nameIn(text), "abc");
    }
}

TEST(IniText, CursorIsLeftOnTheWantedHeader) {
    std::string body = "Name=x\n[Other]\ny=1\n" + kHeader + "Title=t\n";
    String text(body.c_str());
    String out;
    findIniValue(kSection, "Title", out, text);
    EXPECT_EQ(text.cursor - text.data, static_cast<long>(body.find(kHeader)));
}

class IniFile : public ::testing::Test {
  protected:
    void SetUp() override { resetFileSystemState(); }
    TempDir dir;
};

TEST_F(IniFile, ReadsLooseFilesAndArchiveEntries) {
    CurrentDirectory here(dir);
    writeFile(dir / "loose.ini", std::string("[") + kSection + "]\r\nName=loose\r\n");
    String out;
    readIniValue(kSection, "Name", out, "loose.ini");
    EXPECT_STREQ(out.data, "loose");

    // GAME.INI stored compressed in a version 3 archive (written by the test generator).
    copyScenario("versions/v3", dir);
    String name, title;
    readIniValue(kSection, "Name", name, "GAME.INI");
    readIniValue(kSection, "Title", title, "GAME.INI");
    EXPECT_STREQ(name.data, "TESTGAME");
    EXPECT_STREQ(title.data, "\x83\x65\x83\x58\x83\x67"); // テスト
}

TEST_F(IniFile, MissingFileAnsweredWithIgnoreLeavesTheOutputAlone) {
    CurrentDirectory here(dir);
    MessageBoxRecorder boxes({platform::kIdIgnore});
    String out("unchanged");
    char* before = out.data;
    readIniValue(kSection, "Name", out, "GAME.INI");
    EXPECT_EQ(out.data, before);
    EXPECT_STREQ(out.data, "unchanged");
    EXPECT_EQ(boxes.shown().size(), 1u);
}

TEST_F(IniFile, TextEndsAtTheFirstNul) {
    CurrentDirectory here(dir);
    writeFile(dir / "nul.ini", kHeader + std::string("Title=t\0Name=hidden\n", 21));
    String out;
    readIniValue(kSection, "Name", out, "nul.ini");
    EXPECT_EQ(out.data, nullptr);
}
