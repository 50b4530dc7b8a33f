// What names look like when printed: JSON literals and the progress line.
#include "tools/pak/json_text.h"
#include "tools/pak/progress_bar.h"

#include <gtest/gtest.h>

#include <string>

using pak::jsonString;

namespace {
const std::string kHyouSo = "\x95\x5C\\\x83\x5C.txt"; // 表\ソ.txt
} // namespace

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
