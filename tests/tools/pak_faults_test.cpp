// extract and create when the system fails them: each fault is injected through the platform's
// table of system calls, and the run must end with exit code 3, a message naming the file, and
// no partial or temporary file left anywhere.
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tools/pak/failure.h"
#include "tools/pak/source_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr uint32_t kAccessDenied = 5;

// The table as it was before a test changed it, for the wrappers that pass calls on.
platform::SystemCalls original;

platform::SearchStep searchDenied(platform::FileSearch::State&, platform::FoundFile&) {
    platform::setLastError(kAccessDenied);
    return platform::kSearchFailed;
}

} // namespace

TEST(PakFaults, AnUnreadableDirectoryIsNeverTakenForAnEmptyOne) {
    TempDir dir;
    for (const char* name : {"a.txt", "sub\\b.txt", "sub\\deeper\\c.txt", "z\\d.txt"})
        writeFile(dir / name, name);
    SystemCallsGuard guard;
    original = guard.original();
    static int steps, failAt;
    platform::systemCalls().searchNext = [](platform::FileSearch::State& state,
                                            platform::FoundFile& out) {
        return steps++ == failAt ? searchDenied(state, out) : original.searchNext(state, out);
    };
    steps = 0, failAt = -1;
    ASSERT_EQ(pak::collectSourceFiles(dir.path(), {"."}).size(), 4u);
    const int total = steps;
    // Whichever step of the walk fails, the walk fails and names a directory below the base.
    for (failAt = 0; failAt < total; ++failAt) {
        steps = 0;
        try {
            pak::collectSourceFiles(dir.path(), {"."});
            ADD_FAILURE() << "step " << failAt << " failed unnoticed";
        } catch (const pak::Failure& failure) {
            EXPECT_EQ(failure.exitCode, pak::kCorrupt);
            EXPECT_EQ(failure.message.rfind(dir.path(), 0), 0u) << failure.message;
            EXPECT_NE(failure.message.find("(system error 5)"), std::string::npos)
                << failure.message;
        }
    }
}
