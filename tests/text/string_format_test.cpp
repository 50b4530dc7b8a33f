// Formatting into a String: results, the room the measuring pass reserves, and the guarantee
// that no pattern writes past the block.
#include "text/byte_string.h"

#include "platform/system_calls.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

namespace {
// ファイル %s が開けません。
const char kPrompt[] = "\x83\x74\x83\x40\x83\x43\x83\x8B %s \x82\xAA\x8A\x4A\x82\xAF\x82\xDC"
                       "\x82\xB9\x82\xF1\x81\x42";

// A String holding 60 bytes: whether an append of an estimated T bytes grows the 64-byte block
// tells whether T is above 3.
String sixty() {
    std::string text(60, '.');
    return String(text.c_str());
}
} // namespace

TEST(StringFormat, JoinsPathsAndAppends) {
    String path;
    path.format("%s\\%s", "dir", "a.pak");
    EXPECT_STREQ(path.data, "dir\\a.pak");
    EXPECT_EQ(path.length, 9);
    EXPECT_EQ(path.capacity, 64);
    EXPECT_EQ(path.cursor, path.data);

    String dir("dir");
    dir.moveCursor(1, 0);
    dir.appendFormat("\\%s", "x");
    EXPECT_STREQ(dir.data, "dir\\x");
    EXPECT_EQ(dir.cursor, dir.data + 1);

    String empty;
    empty.format("");
    ASSERT_NE(empty.data, nullptr);
    EXPECT_STREQ(empty.data, "");
    EXPECT_EQ(empty.length, 0);
}

TEST(StringFormat, DoubleBytePatternsKeepTheirPercentSigns) {
    String message;
    message.format(kPrompt, "GAME.INI");
    std::string expected(kPrompt);
    expected.replace(expected.find("%s"), 2, "GAME.INI");
    EXPECT_EQ(message.data, expected);
    // A trail byte 0x25 does not exist in code page 932, but 0x5C does: "%%" after ソ.
    String percent;
    percent.format("\x83\x5C%%%d", 5);
    EXPECT_STREQ(percent.data, "\x83\x5C%5");
}

TEST(StringFormat, MeasuresTextConversionsWithWidthAndPrecision) {
    String a = sixty();
    a.appendFormat("%5.2s", "abcdef"); // room 5: grows
    EXPECT_EQ(a.capacity, 128);
    EXPECT_EQ(std::string(a.data + 60), "   ab");
    String b = sixty();
    b.appendFormat("%.3s", "abcdef"); // room 3: fits
    EXPECT_EQ(b.capacity, 64);
    EXPECT_EQ(std::string(b.data + 60), "abc");
    String c = sixty();
    c.appendFormat("%%%%"); // 2 bytes, no argument
    EXPECT_EQ(c.capacity, 64);
    EXPECT_EQ(std::string(c.data + 60), "%%");
}

TEST(StringFormat, IntegersAndFloats) {
    String s;
    s.format("%*d|%I64d|%08x|%f|%.2f", 4, 7, 9876543210LL, 0xBEEFu, 1.5, 1.5);
    EXPECT_STREQ(s.data, "   7|9876543210|0000beef|1.500000|1.50");
    EXPECT_EQ(s.length, static_cast<int>(std::strlen(s.data)));
}

TEST(StringFormat, UnfinishedConversionsEndTheMeasure) {
    for (const char* pattern : {"abc%", "abc%-", "abc%5", "abc%5.", "abc%I64"}) {
        String s;
        s.format(pattern);
        ASSERT_NE(s.data, nullptr) << pattern;
        EXPECT_EQ(std::string(s.data).substr(0, 3), "abc") << pattern;
        EXPECT_EQ(s.length, static_cast<int>(std::strlen(s.data))) << pattern;
    }
}

TEST(StringFormat, ResultsLongerThanTheEstimateNeverOverrunTheBlock) {
    // "%E" is outside the measuring table and gets no room; "%.300e" exceeds the room of 128;
    // wide text is estimated at one byte per character. Each must come out whole and fit.
    String e;
    e.format("%E", 1e300);
    EXPECT_STREQ(e.data, "1.000000E+300");
    EXPECT_LT(e.length, e.capacity + 1);

    String big;
    big.format("%.300e", 1.0);
    EXPECT_EQ(big.length, 306);
    EXPECT_LE(big.length, big.capacity);
    EXPECT_EQ(std::string(big.data).substr(0, 4), "1.00");

    String tail = sixty();
    tail.appendFormat("%E%s", 2.5, "xyz");
    EXPECT_EQ(std::string(tail.data + 60), "2.500000E+00xyz");
    EXPECT_LE(tail.length, tail.capacity);
}

TEST(StringFormat, NoStorageLeavesTheStringEmpty) {
    String s("abc");
    platform::failHeapAllocationsAfter(0);
    std::string longText(300, 'z');
    s.appendFormat("%s", longText.c_str());
    platform::failHeapAllocationsAfter(-1);
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.length, 0);
    EXPECT_EQ(s.capacity, 0);
}

// Every length modifier the platforms' formatters know takes its argument with its own type, so
// the walk over the arguments never falls out of step (a "%s" after it would read an integer as
// a pointer); a pattern the measuring pass cannot walk is refused and appends nothing.
TEST(StringFormat, LengthModifiersTakeTheirArgumentsWithTheirTypes) {
    struct Case {
        const char* expected;
        void (*format)(String&);
    };
    const Case cases[] = {
        {"1234567890123|x", [](String& s) { s.format("%lld|%s", 1234567890123LL, "x"); }},
        {"1234567890123|x", [](String& s) { s.format("%I64d|%s", 1234567890123LL, "x"); }},
        {"1234567890123|x", [](String& s) { s.format("%qd|%s", 1234567890123LL, "x"); }},
        {"5|x", [](String& s) { s.format("%I32d|%s", 5, "x"); }},
        {"-7|x", [](String& s) { s.format("%Id|%s", static_cast<std::ptrdiff_t>(-7), "x"); }},
        {"-1|x", [](String& s) { s.format("%hhd|%s", 255, "x"); }},
        {"65535|x", [](String& s) { s.format("%hu|%s", 65535, "x"); }},
        {"-9|x", [](String& s) { s.format("%ld|%s", -9L, "x"); }},
        {"123|x", [](String& s) { s.format("%zu|%s", static_cast<std::size_t>(123), "x"); }},
        {"9|x", [](String& s) { s.format("%Zu|%s", static_cast<std::size_t>(9), "x"); }},
        {"-3|x", [](String& s) { s.format("%jd|%s", static_cast<std::intmax_t>(-3), "x"); }},
        {"8|x", [](String& s) { s.format("%td|%s", static_cast<std::ptrdiff_t>(8), "x"); }},
        {"  7|x", [](String& s) { s.format("%*zu|%s", 3, static_cast<std::size_t>(7), "x"); }},
        // Negative '*' arguments as C reads them: a width left-justifies, a precision is none.
        {"abc   ", [](String& s) { s.format("%*.*s", -6, -1, "abc"); }},
        {"abc", [](String& s) { s.format("%.*s", -1, "abc"); }},
        {"7   |x", [](String& s) { s.format("%*d|%s", -4, 7, "x"); }},
        {"2.50|x", [](String& s) { s.format("%.2Lf|%s", 2.5L, "x"); }},
        {"2.5|1.5|x", [](String& s) { s.format("%g|%lg|%s", 2.5, 1.5, "x"); }},
        {"1.5|x", [](String& s) { s.format("%.1F|%s", 1.5, "x"); }},
        {"A|x", [](String& s) { s.format("%lc|%s", static_cast<wint_t>('A'), "x"); }},
        {"ab|x", [](String& s) { s.format("%ls|%s", L"ab", "x"); }},
        {"ab|B|x", [](String& s) { s.format("%ws|%wc|%s", L"ab", static_cast<wint_t>('B'), "x"); }},
        {"ab|x", [](String& s) { s.format("%hs|%s", "ab", "x"); }},
        {"%|x", [](String& s) { s.format("%%|%s", "x"); }},
        {"\x81x|y", [](String& s) { s.format("\x81%s|%s", "x", "y"); }}, // '%' is no trail byte
        // Refused: unknown conversions and modifiers, and pairs the platforms read differently.
        {"", [](String& s) { s.format("%y|%s", 1, "x"); }},
        {"", [](String& s) { s.format("%Ld|%s", 1LL, "x"); }},
        {"", [](String& s) { s.format("%hS|%s", "a", "x"); }},
        {"", [](String& s) { s.format("%lp|%s", nullptr, "x"); }},
        {"", [](String& s) { s.format("%hhs|%s", "a", "x"); }},
    };
    for (const Case& c : cases) {
        String s;
        c.format(s);
        ASSERT_NE(s.data, nullptr) << c.expected;
        EXPECT_STREQ(s.data, c.expected);
        EXPECT_EQ(s.length, static_cast<int>(std::strlen(s.data)));
    }
}
