// Watching a directory tree, against the real file system: what other programs do below it is
// told, in directories made after the watch began too. The Windows build cannot watch and says
// so.
#include "platform/tree_watch.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using testing_support::makeDirectory;
using testing_support::removeFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

#ifdef _WIN32
TEST(TreeWatch, SaysItCannotWatch) {
    TempDir dir;
    platform::TreeWatch watch(dir.path().c_str());
    EXPECT_FALSE(watch.watching());
    std::vector<platform::TreeChange> changes;
    EXPECT_FALSE(watch.wait(0, changes));
}
#else
// Whether watch tells a change of path (content only or not) within a few seconds.
bool tells(platform::TreeWatch& watch, const std::string& path, bool contentOnly) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        std::vector<platform::TreeChange> changes;
        if (!watch.wait(100, changes)) return false;
        for (const platform::TreeChange& change : changes)
            if (change.path == path && change.contentOnly == contentOnly) return true;
    }
    return false;
}

TEST(TreeWatch, TellsWhatChangesBelowTheDirectory) {
    TempDir dir;
    makeDirectory(dir / "a");
    writeFile(dir / "a\\x.txt", "x");
    platform::TreeWatch watch(dir.path().c_str());
    ASSERT_TRUE(watch.watching());
    const std::string hyou = "\x95\x5C.txt"; // 表, whose trail byte is a backslash
    struct Case {
        void (*change)(const TempDir& dir);
        std::string path;
        bool contentOnly;
    } cases[] = {
        {[](const TempDir& d) { writeFile(d / "new.txt", "n"); }, "new.txt", false},
        {[](const TempDir& d) { writeFile(d / "a\\x.txt", "changed"); }, "a\\x.txt", true},
        {[](const TempDir& d) { writeFile(d / "a\\\x95\x5C.txt", "h"); }, "a\\" + hyou, false},
        {[](const TempDir& d) { makeDirectory(d / "b"); }, "b", false},
        // The directory made after the watch began is watched too.
        {[](const TempDir& d) { writeFile(d / "b\\later.txt", "l"); }, "b\\later.txt", false},
        {[](const TempDir& d) { removeFile(d / "new.txt"); }, "new.txt", false},
    };
    for (const Case& c : cases) {
        c.change(dir);
        EXPECT_TRUE(tells(watch, c.path, c.contentOnly)) << c.path;
    }
}
#endif

} // namespace
