// Entry names judged before extraction.
#include "archive/entry_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using pak::entryPath;

namespace {

const std::string kHyou = "\x95\x5C"; // 表: its trail byte is a backslash's
const std::string kSo = "\x83\x5C";   // ソ: likewise

std::vector<std::string> components(const std::string& name) {
    pak::EntryPath path = entryPath(name);
    EXPECT_EQ(path.refusal, "") << name;
    return path.components;
}

bool refused(const std::string& name) {
    return !entryPath(name).refusal.empty();
}

} // namespace

TEST(EntryPath, SafeNamesBecomeComponents) {
    EXPECT_EQ(components("data\\title.bmp"), (std::vector<std::string>{"data", "title.bmp"}));
    EXPECT_EQ(components(kHyou + "\\" + kSo + ".txt"),
              (std::vector<std::string>{kHyou, kSo + ".txt"}));
    EXPECT_EQ(components(kHyou + kSo), std::vector<std::string>{kHyou + kSo});
    EXPECT_EQ(components("a/b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(components(".\\a\\\\.\\b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(components("..a\\b..\\.c"), (std::vector<std::string>{"..a", "b..", ".c"}));
}

TEST(EntryPath, NamesThatCouldLeaveTheDirectoryAreRefused) {
    for (const char* name : {"..\\..\\x", "..", "a\\..\\..\\x", "a/../../x", "a\\..", "\\x", "/x",
                             "\\\\server\\share", "\\\\?\\C:\\x", "C:\\x", "C:x", "c:/x", "a\\b:c",
                             "a\\...\\x", "a\\.. \\x", "a\\ .\\x", "", ".", ".\\"}) {
        EXPECT_TRUE(refused(name)) << name;
    }
    // A NUL inside a name would cut the path short somewhere else.
    EXPECT_TRUE(refused(std::string("a\0b", 3)));
    // 表 followed by "..": the trail byte must not make the dots look like a component.
    EXPECT_EQ(components(kHyou + ".."), std::vector<std::string>{kHyou + ".."});
    EXPECT_TRUE(refused(kHyou + "\\..\\..\\x"));
}
