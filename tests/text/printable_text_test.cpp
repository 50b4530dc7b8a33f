// The printable form of system text.
#include "text/printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {
const std::string kHyouSo = "\x95\x5C\\\x83\x5C.txt"; // 表\ソ.txt
} // namespace

TEST(PrintableText, ValidTextStaysAsItIs) {
    EXPECT_EQ(printableText(kHyouSo), kHyouSo);
    EXPECT_EQ(printableText("\xB1\xB2"), "\xB1\xB2"); // half-width katakana
    EXPECT_EQ(printableText(""), "");
    EXPECT_EQ(printableText("tab\there", true), "tab\there");
}

TEST(PrintableText, BrokenCharactersAndControlsAreEscaped) {
    // A lead byte before a byte that cannot trail it: the lead is escaped, the space kept.
    EXPECT_EQ(printableText("a\x81 b"), "a\\x81 b");
    // A lead byte at the very end.
    EXPECT_EQ(printableText("x\x95"), "x\\x95");
    // Bytes that are no character at all, next to valid ones.
    EXPECT_EQ(printableText("\xFF" + kHyouSo), "\\xFF" + kHyouSo);
    // Terminal control sequences never reach the terminal.
    EXPECT_EQ(printableText("evil\x1B[2Jname\n"), "evil\\x1B[2Jname\\x0A");
    EXPECT_EQ(printableText("line\nfeed", true), "line\nfeed");
}
