// Cursor moves, searches and the editing operations of String.
#include "text/byte_string.h"
#include "text/error_exceptions.h"

#include "platform/system_calls.h"

#include <gtest/gtest.h>

#include <string>

namespace {
const char kSo[] = "\x83\x5C"; // ソ: its trail byte is a backslash
}

TEST(StringCursor, MovesStayInsideTheText) {
    String s("abc");
    EXPECT_EQ(s.moveCursor(10, 0), s.data);
    EXPECT_EQ(s.moveCursor(3, 0), s.data + 3);
    EXPECT_EQ(s.moveCursor(-1, 1), s.data + 2);
    EXPECT_EQ(s.moveCursor(0, 2), s.data + 2);
    EXPECT_EQ(s.moveCursor(-3, 1), s.data + 2);
    s.cursorToEnd();
    EXPECT_EQ(s.cursor, s.data + 3);
    EXPECT_EQ(s.nextChar(), s.data + 3);
    s.cursorToStart();
    EXPECT_EQ(s.prevChar(), s.data);
    String none;
    none.cursorToEnd();
    EXPECT_EQ(none.cursor, nullptr);
    EXPECT_EQ(none.currentChar(), 0);
}

TEST(StringCursor, DoubleByteCharactersAreSteppedWhole) {
    String s((std::string(kSo) + "\\").c_str());
    EXPECT_EQ(s.currentChar(), 0x835C);
    EXPECT_EQ(s.findChar('\\'), s.data + 2);
    s.cursorToStart();
    EXPECT_EQ(s.findChar(0x835C), s.data);
    s.cursorToEnd();
    EXPECT_EQ(s.currentChar(), 0);
    EXPECT_EQ(s.prevChar(), s.data + 2);
    EXPECT_EQ(s.prevChar(), s.data);
    String broken("\x83");
    EXPECT_EQ(broken.currentChar(), 0);
}

TEST(StringSearch, MissesLeaveTheCursorAndHitsMoveIt) {
    String s("abcabc");
    s.moveCursor(1, 0);
    EXPECT_EQ(s.findChar('a'), s.data + 3);
    s.moveCursor(4, 0);
    EXPECT_EQ(s.findChar('a'), nullptr);
    EXPECT_EQ(s.cursor, s.data + 4);
    s.moveCursor(1, 0);
    EXPECT_EQ(s.findLastChar('b'), s.data + 4);
    s.moveCursor(5, 0);
    EXPECT_EQ(s.findLastChar('a'), nullptr);
    EXPECT_EQ(s.cursor, s.data + 5);

    String blanks("  \t");
    EXPECT_EQ(blanks.skipChars(" \t"), nullptr);
    EXPECT_EQ(blanks.cursor, blanks.data);
    EXPECT_EQ(blanks.skipChars(nullptr), nullptr);
    String line("key\t=value");
    EXPECT_EQ(line.findAnyOf("=\t"), line.data + 3);
    EXPECT_EQ(line.skipChars("\t ="), line.data + 5);

    String empty;
    EXPECT_EQ(empty.findChar('a'), nullptr);
    EXPECT_EQ(empty.findAnyOf("a"), nullptr);
}

TEST(StringSearch, CompareNoCaseFromTheCursor) {
    String s("abc");
    EXPECT_EQ(s.compareNoCase("ABC"), 0);
    s.moveCursor(1, 0);
    EXPECT_NE(s.compareNoCase("ABC"), 0);
    EXPECT_EQ(s.compareNoCase("BC"), 0);
    EXPECT_EQ(s.compareNoCase(nullptr), 1);
    EXPECT_EQ(String().compareNoCase(nullptr), 0);
    EXPECT_EQ(String().compareNoCase("a"), -1);
}

TEST(StringEdit, CopyRangeSwapsAndRefusesOutsideRanges) {
    String s("abcdef");
    String out("keep");
    s.copyRange(out, s.data + 4, s.data + 1);
    EXPECT_STREQ(out.data, "bcd");
    EXPECT_EQ(out.cursor, out.data);
    s.copyRange(out, s.data + 1, s.data + 10);
    EXPECT_STREQ(out.data, "bcd");
    s.copyRange(out, s.data + 2, nullptr);
    EXPECT_STREQ(out.data, "cdef");
    s.copyRange(out, s.data + 2, s.data + 2);
    EXPECT_EQ(out.data, nullptr);
}

TEST(StringEdit, EraseCutsAndRemoves) {
    String s("abcdef");
    char* at = s.erase(2, 1);
    EXPECT_STREQ(s.data, "adef");
    EXPECT_EQ(at, s.data + 1);
    EXPECT_EQ(*at, 'd');

    String t("abcdef");
    t.erase(0, 3);
    EXPECT_STREQ(t.data, "abc");
    EXPECT_EQ(t.cursor, t.data + 3);

    String u("abcdef");
    EXPECT_EQ(u.erase(7, 0), nullptr);
    EXPECT_EQ(u.data, nullptr);

    String v("abcdef");
    v.erase(4, 4); // the run reaches past the end: cut at 4
    EXPECT_STREQ(v.data, "abcd");

    // Dropping a trailing backslash, as the archive lookup does with a directory.
    String dir("C:\\game\\");
    dir.cursorToEnd();
    dir.prevChar();
    dir.erase(0, -1);
    EXPECT_STREQ(dir.data, "C:\\game");

    String gone("ab");
    gone.erase(0, 0);
    ASSERT_NE(gone.data, nullptr); // an empty result still has a block
    EXPECT_STREQ(gone.data, "");
}

TEST(StringEdit, ReplaceAllGoesLeftToRightWithoutOverlap) {
    String crlf("a\r\n\r\nb");
    crlf.replaceAll("\r\n", "\n");
    EXPECT_STREQ(crlf.data, "a\n\nb");
    EXPECT_EQ(crlf.cursor, crlf.data);

    String three("a\\\\\\b");
    three.replaceAll("\\\\", "\\");
    EXPECT_STREQ(three.data, "a\\\\b");
    String four("a\\\\\\\\b");
    four.replaceAll("\\\\", "\\");
    EXPECT_STREQ(four.data, "a\\\\b");

    String untouched("plain");
    char* block = untouched.data;
    untouched.moveCursor(3, 0);
    untouched.replaceAll("\r\n", "\n");
    EXPECT_EQ(untouched.data, block);
    EXPECT_EQ(untouched.cursor, untouched.data);

    // Two backslashes after ソ: the first pair starts at the trail byte and is not a pair.
    String so((std::string(kSo) + "\\\\n").c_str());
    so.replaceAll("\\\\n", "\n");
    EXPECT_EQ(std::string(so.data), std::string(kSo) + "\n");
    String only((std::string(kSo) + "\\n").c_str());
    only.replaceAll("\\\\n", "\n");
    EXPECT_EQ(std::string(only.data), std::string(kSo) + "\\n");

    String toEmpty("xx");
    toEmpty.replaceAll("x", "");
    ASSERT_NE(toEmpty.data, nullptr);
    EXPECT_STREQ(toEmpty.data, "");
}

TEST(StringEdit, ReplaceAllThrowsAndKeepsTheTextWhenStorageRunsOut) {
    String s("a.*b.*c");
    platform::failHeapAllocationsAfter(0);
    try {
        s.replaceAll(".*", ".");
        ADD_FAILURE() << "no exception";
    } catch (const ZKException& e) {
        EXPECT_EQ(e.code, 0xFFFFFFFFu);
    }
    platform::failHeapAllocationsAfter(-1);
    EXPECT_STREQ(s.data, "a.*b.*c");
}

TEST(StringEdit, RemoveCharsFromTheCursorOn) {
    String s(" a b ");
    s.removeChars(" ");
    EXPECT_STREQ(s.data, "ab");
    EXPECT_EQ(s.cursor, s.data);
    String spaces("   ");
    spaces.removeChars(" ");
    EXPECT_EQ(spaces.data, nullptr);
    String partial(" a b");
    partial.moveCursor(2, 0);
    partial.removeChars(" ");
    EXPECT_STREQ(partial.data, " ab");
    // The full-width space (0x81 0x40) stays when only ASCII spaces go.
    String wide("N \x81\x40m");
    wide.removeChars(" ");
    EXPECT_STREQ(wide.data, "N\x81\x40m");
}

TEST(StringEdit, NextTokenSplitsLines) {
    String text("\r\nab\r\ncd");
    String token;
    EXPECT_EQ(text.nextToken(token, "\r\n", false), text.data + 2);
    EXPECT_STREQ(token.data, "ab");
    EXPECT_EQ(token.length, 2);
    EXPECT_EQ(token.cursor, token.data);
    EXPECT_EQ(text.nextToken(token, "\r\n", false), text.data + 6);
    EXPECT_STREQ(token.data, "cd");
    EXPECT_EQ(text.cursor, text.data + 8);
    EXPECT_EQ(text.nextToken(token, "\r\n", false), nullptr);
    EXPECT_STREQ(token.data, "cd");

    String kept("ab\ncd");
    kept.nextToken(token, "\n", true);
    EXPECT_STREQ(token.data, "ab\n");

    // A path split at backslashes keeps ソ whole.
    String path((std::string("dir\\") + kSo + "x\\f").c_str());
    path.nextToken(token, "\\", false);
    EXPECT_STREQ(token.data, "dir");
    path.nextToken(token, "\\", false);
    EXPECT_EQ(std::string(token.data), std::string(kSo) + "x");
}
