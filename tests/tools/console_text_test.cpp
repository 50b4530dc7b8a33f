// What names look like when printed: the printable form, JSON literals and the progress line.
#include "tools/pak/console_text.h"
#include "tools/pak/json_text.h"
#include "tools/pak/progress_bar.h"

#include <gtest/gtest.h>

#include <string>

using pak::Console;
using pak::jsonString;

namespace {
const std::string kHyouSo = "\x95\x5C\\\x83\x5C.txt"; // 表\ソ.txt
} // namespace

TEST(PrintableText, ValidTextStaysAsItIs) {
    EXPECT_EQ(Console::printable(kHyouSo), kHyouSo);
    EXPECT_EQ(Console::printable("\xB1\xB2"), "\xB1\xB2"); // half-width katakana
    EXPECT_EQ(Console::printable(""), "");
    EXPECT_EQ(Console::printable("tab\there", true), "tab\there");
}

TEST(PrintableText, BrokenCharactersAndControlsAreEscaped) {
    // A lead byte before a byte that cannot trail it: the lead is escaped, the space kept.
    EXPECT_EQ(Console::printable("a\x81 b"), "a\\x81 b");
    // A lead byte at the very end.
    EXPECT_EQ(Console::printable("x\x95"), "x\\x95");
    // Bytes that are no character at all, next to valid ones.
    EXPECT_EQ(Console::printable("\xFF" + kHyouSo), "\\xFF" + kHyouSo);
    // Terminal control sequences never reach the terminal.
    EXPECT_EQ(Console::printable("evil\x1B[2Jname\n"), "evil\\x1B[2Jname\\x0A");
    EXPECT_EQ(Console::printable("line\nfeed", true), "line\nfeed");
}

TEST(JsonText, AsciiLiteralsForEveryName) {
    EXPECT_EQ(jsonString("GAME.INI", false), "\"GAME.INI\"");
    EXPECT_EQ(jsonString(kHyouSo, false), "\"\\u8868\\\\\\u30bd.txt\"");
    EXPECT_EQ(jsonString("q\"uote\x01", false), "\"q\\\"uote\\u0001\"");
    // Beyond the basic plane cannot come from code page 932; half-width katakana can.
    EXPECT_EQ(jsonString("\xB1", false), "\"\\uff71\"");
    // A broken byte shows as text, like everywhere else.
    EXPECT_EQ(jsonString("\x81 ", false), "\"\\\\x81 \"");
}

TEST(JsonText, RawLiteralsGiveBackTheBytes) {
    EXPECT_EQ(jsonString(kHyouSo, true), "\"\\u0095\\\\\\\\\\u0083\\\\.txt\"");
    EXPECT_EQ(jsonString("\x81 ", true), "\"\\u0081 \"");
}

TEST(ProgressBar, LineShowsEntriesBytesAndAShareOfTheBar) {
    EXPECT_EQ(pak::ProgressBar::line(1, 4, 1024 * 1024, 4 * 1024 * 1024),
              "[#######.......................]  25%  1/4 entries  1.0/4.0 MiB");
    // Without bytes, entries tell the progress; without either, it is complete.
    EXPECT_EQ(pak::ProgressBar::line(2, 4, 0, 0).substr(0, 37),
              "[###############...............]  50%");
    EXPECT_EQ(pak::ProgressBar::line(0, 0, 0, 0).substr(0, 37),
              "[##############################] 100%");
}
