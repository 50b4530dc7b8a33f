// The code page 932 primitives: every search must step over double-byte characters whose
// trail byte looks like ASCII (0x5C backslash, 0x5B '[', letters).
#include "base/cp932.h"

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
