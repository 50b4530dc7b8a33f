// extract and create on a system that fails them or a tree that changes under them, with the
// faults injected through the platform's table of system calls.
#include "archive/failure.h"
#include "platform/console.h"
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/streams.h"
#include "platform/system_calls.h"
#include "tests/support/test_support.h"
#include "tools/pak/pak_tool.h"
#include "tools/pak/source_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr uint32_t kDiskFull = 112, kAccessDenied = 5, kReadFault = 30, kTooManyOpenFiles = 4;

// The table as it was before a test changed it, for the wrappers that pass calls on.
platform::SystemCalls original;

// A file whose first 64 KiB can be read and nothing after them: a read that reaches further
// fails, however large it is, whether it reads on from the stream's position or at an offset.
std::ptrdiff_t readFailingPastFirstChunk(std::FILE* stream, void* buffer, std::size_t count) {
    if (platform::streamPosition(stream) + static_cast<int64_t>(count) <= 65536)
        return original.readStream(stream, buffer, count);
    platform::setLastError(kReadFault);
    return -1;
}
std::ptrdiff_t readAtFailingPastFirstChunk(std::FILE* stream, int64_t offset, void* buffer,
                                           std::size_t count) {
    if (offset + static_cast<int64_t>(count) <= 65536)
        return original.readStreamAt(stream, offset, buffer, count);
    platform::setLastError(kReadFault);
    return -1;
}
void failReadsPastFirstChunk(platform::SystemCalls& table) {
    table.readStream = readFailingPastFirstChunk;
    table.readStreamAt = readAtFailingPastFirstChunk;
}
std::size_t writeOnFullDisk(std::FILE*, const void*, std::size_t) {
    platform::setLastError(kDiskFull);
    return 0;
}
std::FILE* noStream(intptr_t) {
    platform::setLastError(kTooManyOpenFiles);
    return nullptr;
}
int noRoomToArm(const platform::Directory&, const char*) {
    platform::setLastError(kTooManyOpenFiles);
    return -1;
}
bool renameDenied(const platform::Directory&, const char*, const char*, bool) {
    platform::setLastError(kAccessDenied);
    return false;
}
platform::SearchStep searchDenied(platform::FileSearch::State&, platform::FoundFile&) {
    platform::setLastError(kAccessDenied);
    return platform::kSearchFailed;
}

struct Outcome {
    int code;
    std::string error;
};

Outcome runPak(const std::vector<std::string>& arguments) {
    ::testing::internal::CaptureStderr();
    int code = pak::runPak(arguments);
    return {code, ::testing::internal::GetCapturedStderr()};
}

// What another process that can write below DIR does, once: it moves the directory sub away
// and puts a link to a directory outside in its place.
std::filesystem::path sub;
bool swapped;
void swapSubForLink() {
    if (swapped) return;
    swapped = true;
    // Windows refuses to move a directory that extract holds: then nothing is swapped.
    std::error_code refused;
    std::filesystem::rename(sub, sub.parent_path() / "moved", refused);
    if (!refused) std::filesystem::create_directory_symlink("../outside", sub);
}

} // namespace

TEST(PakFaults, FailingSystemCallsLeaveNothingBehind) {
    struct Case {
        const char* command;
        const char* fault;
        void (*inject)(platform::SystemCalls&);
        const char* named; // what the message must name
    };
    const Case cases[] = {
        {"create", "enumerate", [](auto& t) { t.searchNext = searchDenied; }, "src"},
        {"create", "read", failReadsPastFirstChunk, "victim"},
        {"create", "write", [](auto& t) { t.writeStream = writeOnFullDisk; }, "new.pak"},
        {"create", "rename", [](auto& t) { t.moveFileAt = renameDenied; }, "new.pak"},
        {"create", "stream", [](auto& t) { t.streamOnNewFile = noStream; }, "new.pak"},
        {"create", "arming", [](auto& t) { t.armRemovalOnInterrupt = noRoomToArm; }, "new.pak"},
        {"extract", "read", failReadsPastFirstChunk, "a.pak"},
        {"extract", "write", [](auto& t) { t.writeStream = writeOnFullDisk; }, "victim"},
        {"extract", "rename", [](auto& t) { t.moveFileAt = renameDenied; }, "victim"},
        {"extract", "stream", [](auto& t) { t.streamOnNewFile = noStream; }, "victim"},
        {"extract", "arming", [](auto& t) { t.armRemovalOnInterrupt = noRoomToArm; }, "victim"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " under a failing " + c.fault);
        TempDir work;
        CurrentDirectory here(work);
        writeFile(work / "src\\sub\\victim.bin", randomBytes(200000, 3));
        makeDirectory(work / "out");
        ASSERT_EQ(pak::runPak({"create", "--store", "-o", "a.pak", "src"}), 0);
        const std::vector<std::string> before = filesBelow(work.path());

        SystemCallsGuard guard;
        original = guard.original();
        c.inject(platform::systemCalls());
        Outcome outcome = std::string(c.command) == "create"
                              ? runPak({"create", "-o", "out/new.pak", "src"})
                              : runPak({"extract", "-C", "out", "a.pak"});

        EXPECT_EQ(outcome.code, pak::kCorrupt) << outcome.error;
        EXPECT_NE(outcome.error.find(c.named), std::string::npos) << outcome.error;
        EXPECT_EQ(filesBelow(work.path()), before);
    }
}

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
    ASSERT_EQ(pak::collectSourceFiles(dir.path(), {"."}).files.size(), 4u);
    const int total = steps;
    // Whichever step of the walk fails, the walk fails and names a directory below the base.
    for (failAt = 0; failAt < total; ++failAt) {
        steps = 0;
        try {
            pak::collectSourceFiles(dir.path(), {"."});
            ADD_FAILURE() << "step " << failAt << " failed unnoticed";
        } catch (const pak::Failure& failure) {
            EXPECT_EQ(failure.exitCode, pak::kCorrupt);
            EXPECT_EQ(failure.message.rfind(platform::shownPath(dir.path()), 0), 0u)
                << failure.message;
            EXPECT_NE(failure.message.find("(system error 5)"), std::string::npos)
                << failure.message;
        }
    }
}

// A directory that extract has looked at already is swapped for a link to a directory outside,
// right before extract goes on to use it: nothing may be written outside.
TEST(PakFaults, ADirectorySwappedForALinkAfterItsCheckLeadsNowhere) {
    TempDir work;
    CurrentDirectory here(work);
    writeFile(work / "src\\sub\\x.txt", "payload");
    ASSERT_EQ(pak::runPak({"create", "-o", "a.pak", "-C", "src", "."}), 0);
    makeDirectory(work / "outside");
    std::error_code error;
    std::filesystem::create_directory_symlink("outside", hostPath(work / "probe"), error);
    if (error) GTEST_SKIP() << "symbolic links cannot be made here";

    struct Case {
        const char* use;
        void (*inject)(platform::SystemCalls&);
    };
    // The hook swaps the directory right before the operation that follows extract's look at it.
    const Case cases[] = {
        {"opening the directory",
         [](auto& t) {
             t.openDirectoryAt = [](const platform::Directory& parent, const char* name) {
                 swapSubForLink();
                 return original.openDirectoryAt(parent, name);
             };
         }},
        {"creating the file",
         [](auto& t) {
             t.createFileAt = [](const platform::Directory& parent, const char* name) {
                 swapSubForLink();
                 return original.createFileAt(parent, name);
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.use);
        std::filesystem::remove_all(hostPath(work / "out"));
        makeDirectory(work / "out\\sub");
        sub = hostPath(work / "out\\sub");
        swapped = false;
        SystemCallsGuard guard;
        original = guard.original();
        c.inject(platform::systemCalls());
        Outcome outcome = runPak({"extract", "-C", "out", "a.pak"});
        EXPECT_TRUE(swapped) << outcome.error;
        EXPECT_EQ(filesBelow(work / "outside"), std::vector<std::string>());
    }
}
