// System paths put together and apart character by character.
#include "text/system_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHyou = "\x95\x5C"; // 表: its trail byte is a backslash's
const std::string kSo = "\x83\x5C";   // ソ: likewise

} // namespace

TEST(SystemPath, JoiningLooksAtWholeCharacters) {
    EXPECT_TRUE(endsWithSeparator("dir\\"));
    EXPECT_FALSE(endsWithSeparator("dir\\" + kHyou));
    EXPECT_FALSE(endsWithSeparator(""));
    EXPECT_EQ(joinPath("dir\\" + kHyou, "x"), "dir\\" + kHyou + "\\x");
    EXPECT_EQ(joinPath("dir\\", "x"), "dir\\x");
    EXPECT_EQ(joinPath("", "x"), "x");
    EXPECT_EQ(joinPath("dir", ""), "dir");

    EXPECT_EQ(directoryOf("a\\b\\c.pak"), "a\\b");
    EXPECT_EQ(directoryOf(kSo + "\\c.pak"), kSo);
    EXPECT_EQ(directoryOf(kSo + ".pak"), ""); // no separator in it at all
    EXPECT_EQ(directoryOf("\\c.pak"), "\\");
    EXPECT_EQ(directoryOf("C:\\c.pak"), "C:\\");
    EXPECT_EQ(directoryOf("C:c.pak"), "C:");
}
