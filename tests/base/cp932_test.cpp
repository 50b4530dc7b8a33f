// The code page 932 primitives: every search must step over double-byte characters whose
// trail byte looks like ASCII (0x5C backslash, 0x5B '[', letters).
#include "base/cp932.h"
#include "base/cp932_unicode.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
// ソ 0x83 0x5C, 表 0x95 0x5C, ［ 0x81 0x6D (trail byte 'm'), Ａ 0x82 0x60, ａ 0x82 0x81.
const char* const kText = "a\x83\x5C\\b\x95\x5C\\";
} // namespace

TEST(Cp932Steps, NextAndPreviousKeepCharactersWhole) {
    const char* t = kText;
    EXPECT_EQ(cp932::next(t), t + 1);
    EXPECT_EQ(cp932::next(t + 1), t + 3);
    const char* end = t + std::strlen(t);
    EXPECT_EQ(cp932::next(end), end);
    EXPECT_EQ(cp932::previous(t, end), end - 1);     // the real backslash
    EXPECT_EQ(cp932::previous(t, end - 1), end - 3); // the whole of 表
    EXPECT_EQ(cp932::previous(t, t), t);
    // A lead byte right before the NUL is a single byte.
    const char* broken = "x\x83";
    EXPECT_EQ(cp932::next(broken + 1), broken + 2);
    EXPECT_EQ(cp932::previous(broken, broken + 2), broken + 1);
}

TEST(Cp932Search, CharactersAreFoundOnlyAtCharacterBoundaries) {
    const char* t = kText;
    EXPECT_EQ(cp932::findChar(t, '\\'), t + 3);
    EXPECT_EQ(cp932::findLastChar(t, '\\'), t + 7);
    EXPECT_EQ(cp932::findChar(t, 0x835C), t + 1);
    EXPECT_EQ(cp932::findChar(t, 0x955C), t + 5);
    EXPECT_EQ(cp932::findChar(t, 'z'), nullptr);
    EXPECT_EQ(cp932::findLastChar("\x83\x5C", '\\'), nullptr);
    EXPECT_EQ(cp932::characterCode(t + 1), 0x835Cu);

    EXPECT_EQ(cp932::findFirstOf(t, "\\b"), t + 3);
    EXPECT_EQ(cp932::findFirstOf(t, "\x95\x5C"), t + 5); // a double-byte set member
    EXPECT_EQ(cp932::findFirstNotOf(t, "a\x83\x5C"), t + 3);
    EXPECT_EQ(cp932::findFirstNotOf("  \t", " \t"), nullptr);

    EXPECT_EQ(cp932::findSubstring(t, "\\b"), t + 3);
    EXPECT_EQ(cp932::findSubstring("\x83\x5Cn", "\\n"), nullptr);
    const char* escape = "\x83\x5C\\\\n";
    EXPECT_EQ(cp932::findSubstring(escape, "\\\\n"), escape + 2);
    EXPECT_EQ(cp932::findSubstring("\x83\x5C", "\\"), nullptr);
}

TEST(Cp932Compare, FoldsAsciiAndFullWidthLettersOnly) {
    EXPECT_EQ(cp932::compareNoCase("Name", "nAME"), 0);
    EXPECT_EQ(cp932::compareNoCase("\x82\x81\x82\x82", "\x82\x60\x82\x61"), 0); // ａｂ / ＡＢ
    // Greek α (0x83 0xBF) and Α (0x83 0x9F) are different characters here.
    EXPECT_NE(cp932::compareNoCase("\x83\xBF", "\x83\x9F"), 0);
    EXPECT_LT(cp932::compareNoCase("abc", "abd"), 0);
    EXPECT_GT(cp932::compareNoCase("abc", "ab"), 0);
    EXPECT_LT(cp932::compareNoCase("z", "\x82\x60"), 0); // double-byte codes are larger
    // A 0x5C trail byte never equals a backslash.
    EXPECT_NE(cp932::compareNoCase("a\x83\x5C", "a\\"), 0);
}

TEST(Cp932Copy, BoundedCopyNeverSplitsACharacter) {
    char out[8] = {};
    EXPECT_EQ(cp932::boundedCopy(out, "ab\x83\x5Cz", 3), 2u);
    EXPECT_EQ(cp932::boundedCopy(out, "ab\x83\x5Cz", 4), 4u);
    EXPECT_EQ(std::memcmp(out, "ab\x83\x5C", 4), 0);
}

// File names fold more than entry names: Greek, Cyrillic, Roman numerals, and the two codes of
// one character are one character. Kana type and width never fold.
TEST(Cp932FileNames, FoldAsWindowsComparesFileNames) {
    struct Case {
        unsigned code, folded;
    } cases[] = {
        {'A', 'a'},       {'a', 'a'},       {'_', '_'},       {0x8260, 0x8281}, // Ａ ａ
        {0x839F, 0x83BF}, {0x83BF, 0x83BF},                                     // Α α
        {0x8440, 0x8470}, {0x8446, 0x8476}, {0x8460, 0x8491},                   // А Ё Я
        {0x8754, 0xFA40}, {0xFA4A, 0xFA40}, {0xEEEF, 0xFA40}, {0xFA40, 0xFA40}, // Ⅰ Ⅰ ⅰ ⅰ
        {0x8790, 0x81E0}, {0xED40, 0xFA5C},                                     // ≒, 纊
        {0x8341, 0x8341}, {0x82A0, 0x82A0}, {0xB1, 0xB1},                       // ア あ ｱ
        {0x8140, 0x8140}, {0x8540, 0x8540}, {0xA0, 0xA0},                       // no case
    };
    for (const Case& c : cases)
        EXPECT_EQ(cp932::foldFileNameCase(c.code), c.folded) << std::hex << c.code;
}

TEST(Cp932FileNames, OrderAsNtfsListsADirectory) {
    // Capitals are compared, so '_' (0x5F) comes after every letter; Greek after Latin.
    const char* sorted[] = {"a.txt",
                            "aa",
                            "B.txt",
                            "data-1.pak",
                            "data.pak",
                            "data1.pak",
                            "x.y",
                            "_x.txt",
                            "\x83\x9F.txt" /* Α */,
                            "\x83\xBF\x83\xC0.txt" /* αβ */,
                            "\x87\x54.txt" /* Ⅰ */,
                            "\xB1.txt" /* ｱ */};
    for (std::size_t i = 0; i + 1 < std::size(sorted); ++i)
        EXPECT_LT(cp932::compareFileNames(sorted[i], sorted[i + 1]), 0) << sorted[i];
    // Names that differ in case only are ordered by their bytes, never equal.
    EXPECT_LT(cp932::compareFileNames("GAME.INI", "game.ini"), 0);
    EXPECT_EQ(cp932::compareFileNames("game.ini", "game.ini"), 0);
}

// The POSIX back end passes over names of another UTF-8 length when it looks for a file whatever
// the case of its name; that holds only if folding never changes a character's UTF-8 length.
TEST(Cp932FileNames, FoldingKeepsTheUtf8Length) {
    auto utf8Length = [](unsigned unit) { return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3; };
    for (unsigned code = 0; code < 0x10000; ++code) {
        unsigned unit = cp932::fileNameUnicodeOf(code);
        if (unit == cp932::kNoCharacter) continue;
        unsigned folded = cp932::fileNameUnicodeOf(cp932::foldFileNameCase(code));
        ASSERT_EQ(utf8Length(folded), utf8Length(unit)) << std::hex << code;
    }
}
