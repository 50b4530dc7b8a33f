#include "platform/wildcard.h"

#include <gtest/gtest.h>

using platform::wildcardMatch;

TEST(Wildcard, StarsQuestionMarksAndCase) {
    EXPECT_TRUE(wildcardMatch("*.pak", "data.pak"));
    EXPECT_TRUE(wildcardMatch("*.pak", "DATA.PAK"));
    EXPECT_TRUE(wildcardMatch("*.pak", ".pak"));
    EXPECT_FALSE(wildcardMatch("*.pak", "data.pak.bak"));
    EXPECT_FALSE(wildcardMatch("*.pak", "data.pa"));
    EXPECT_TRUE(wildcardMatch("d*a*.p?k", "data1.pak"));
    EXPECT_TRUE(wildcardMatch("*", ""));
    EXPECT_FALSE(wildcardMatch("?", ""));
    EXPECT_TRUE(wildcardMatch("a**b", "ab"));
}

TEST(Wildcard, DoubleByteCharactersAreWholeCharacters) {
    // '?' takes the whole of ソ (0x83 0x5C); full-width ａ (0x8281) matches Ａ (0x8260).
    EXPECT_TRUE(wildcardMatch("?.txt", "\x83\x5C.txt"));
    EXPECT_FALSE(wildcardMatch("??.txt", "\x83\x5C.txt"));
    EXPECT_TRUE(wildcardMatch("\x82\x81*", "\x82\x60\x82\x61"));
    // A pattern byte equal to a trail byte does not match inside a character.
    EXPECT_FALSE(wildcardMatch("*\\*", "\x83\x5C"));
}

TEST(Wildcard, FileNameCaseAndTheDotStarOfWindows) {
    struct Case {
        const char *pattern, *name;
        bool matches;
    } cases[] = {
        {"\x83\xBF*", "\x83\x9F.txt", true},    // α* finds Α.txt
        {"\x84\x70*", "\x84\x40", true},        // а* finds А
        {"\xEE\xEF.txt", "\x87\x54.txt", true}, // ⅰ (NEC-selected code) finds Ⅰ
        {"\x82\xA0*", "\x83\x41", false},       // あ is not ア
        {"a*", "\x82\x81", false},              // a is not ａ
        {"title.*", "title", true},             // a final .* may be no extension
        {"*.*", "noext", true},
        {"title.*", "titles", false},
        {"*.", "noext", false},
        {"title.**", "title", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}
