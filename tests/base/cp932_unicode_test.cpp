// Microsoft's code page 932 at its edges. The whole table is checked against Windows by the
// differential test; these are the cases whose mistakes change what a name means.
#include "base/cp932_unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr unsigned kNone = cp932::kNoCharacter;

std::string utf8(unsigned unit) {
    if (unit < 0x80) return std::string(1, static_cast<char>(unit));
    if (unit < 0x800)
        return {static_cast<char>(0xC0 | unit >> 6), static_cast<char>(0x80 | (unit & 0x3F))};
    return {static_cast<char>(0xE0 | unit >> 12), static_cast<char>(0x80 | (unit >> 6 & 0x3F)),
            static_cast<char>(0x80 | (unit & 0x3F))};
}

} // namespace

TEST(Cp932Unicode, EdgesOfMicrosoftsTable) {
    struct Case {
        unsigned code, text, fileName;
    } decoding[] = {
        {0x5C, 0x5C, 0x5C},       {0x7E, 0x7E, 0x7E}, // backslash and tilde, not ¥ and ‾
        {0x80, 0x80, 0x80},       {0xA0, kNone, 0xF8F0},    {0xFD, kNone, 0xF8F1},
        {0xFF, kNone, 0xF8F3},    {0x81, kNone, kNone}, // a lead byte alone
        {0x8160, 0xFF5E, 0xFF5E}, {0x817C, 0xFF0D, 0xFF0D}, {0x815C, 0x2015, 0x2015},
        {0x8161, 0x2225, 0x2225}, {0x8191, 0xFFE0, 0xFFE0}, {0x8790, 0x2252, 0x2252},
        {0xF040, 0xE000, 0xE000}, {0x8540, kNone, kNone},   {0x817F, kNone, kNone},
    };
    for (const Case& c : decoding) {
        EXPECT_EQ(cp932::unicodeOf(c.code), c.text) << std::hex << c.code;
        EXPECT_EQ(cp932::fileNameUnicodeOf(c.code), c.fileName) << std::hex << c.code;
    }
    struct Encoding {
        unsigned unit, code;
    } encoding[] = {
        // What the C library's table accepts and Microsoft's lacks: refused, never a look-alike.
        {0xA5, kNone},
        {0x203E, kNone},
        {0x2014, kNone},
        {0x301C, kNone},
        {0x2212, kNone},
        {0x2016, kNone},
        {0xA2, kNone},
        {0xA3, kNone},
        {0xAC, kNone},
        // One character, two or three codes: the one WideCharToMultiByte writes.
        {0x2252, 0x81E0},
        {0x2235, 0x81E6},
        {0xFFE2, 0x81CA},
        {0x2160, 0x8754},
        {0x2170, 0xFA40},
        {0x7E8A, 0xFA5C},
        {0xF8F0, 0xA0},
        {0x80, 0x80},
        {0x10000, kNone},
    };
    for (const Encoding& c : encoding)
        EXPECT_EQ(cp932::codeOf(c.unit), c.code) << std::hex << c.unit;
}

// Whole texts: every character through UTF-8 and back, to itself or to the code of the same
// character that Windows writes.
TEST(Cp932Unicode, EveryCharacterComesBackToItself) {
    int characters = 0;
    for (unsigned code = 0; code < 0x10000; ++code) {
        unsigned unit = cp932::unicodeOf(code);
        if (unit == kNone) continue;
        ++characters;
        std::string bytes = code > 0xFF
                                ? std::string{static_cast<char>(code >> 8), static_cast<char>(code)}
                                : std::string(1, static_cast<char>(code)),
                    text, back;
        ASSERT_TRUE(cp932::toUtf8(bytes.data(), bytes.size(), text)) << std::hex << code;
        EXPECT_EQ(text, utf8(unit)) << std::hex << code;
        ASSERT_TRUE(cp932::fromUtf8(text.data(), text.size(), back)) << std::hex << code;
        ASSERT_TRUE(cp932::toUtf8(back.data(), back.size(), text));
        EXPECT_EQ(text, utf8(unit)) << std::hex << code;
    }
    EXPECT_EQ(characters, 9796); // all but the four single bytes that text refuses
}

TEST(Cp932Unicode, RefusesWhatIsNotText) {
    std::string out;
    for (std::string bad : {"\x81", "a\x81", "\x81\x20", "\x85\x40", "\xA0"})
        EXPECT_FALSE(cp932::toUtf8(bad.data(), bad.size(), out)) << bad;
    EXPECT_TRUE(cp932::toUtf8("\xA0", 1, out, true));
    EXPECT_EQ(out, "\xEF\xA3\xB0");
    for (std::string bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xE3\x81", "\x80",
                            "\xF0\x9F\x98\x80", "\xC2\xA5" /* ¥ */})
        EXPECT_FALSE(cp932::fromUtf8(bad.data(), bad.size(), out)) << bad;
    std::string nul("a\0b", 3);
    ASSERT_TRUE(cp932::fromUtf8(nul.data(), nul.size(), out));
    EXPECT_EQ(out, nul);
}
