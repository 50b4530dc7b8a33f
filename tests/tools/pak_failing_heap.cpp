// pak itself, for tests that make the platform's heap run out, or its writes fail, while it runs
// (pak mount -f, whose requests then meet it). The arguments are pak's. Standard input takes one
// command a line, each answered with "ok" on standard output once it holds:
//   fail N    the heap grants N more allocations, then fails every one
//   writes N  N more writes of streams succeed, then every one fails as on a full disk
//   heal      the heap grants every allocation again, and writes succeed
#include "platform/errors.h"
#include "platform/system_calls.h"
#include "tools/pak/pak_tool.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::atomic<int> writesBeforeFailure{-1};
std::size_t (*realWrite)(std::FILE*, const void*, std::size_t) = nullptr;
bool (*realWriteAt)(std::FILE*, int64_t, const void*, std::size_t) = nullptr;

// Whether this write may go on; one that may not leaves the last error of a full disk.
bool writeAllowed() {
    int left = writesBeforeFailure.load();
    while (left > 0 && !writesBeforeFailure.compare_exchange_weak(left, left - 1)) {
    }
    if (left != 0) return true;
    platform::setLastError(112); // ERROR_DISK_FULL
    return false;
}

std::size_t failingWrite(std::FILE* stream, const void* data, std::size_t count) {
    return writeAllowed() ? realWrite(stream, data, count) : 0;
}

bool failingWriteAt(std::FILE* stream, int64_t offset, const void* data, std::size_t count) {
    return writeAllowed() && realWriteAt(stream, offset, data, count);
}

} // namespace

int main(int argc, char** argv) {
    // The table is set before any thread runs; the commands only move the counts.
    platform::SystemCalls& calls = platform::systemCalls();
    realWrite = calls.writeStream;
    realWriteAt = calls.writeStreamAt;
    calls.writeStream = failingWrite;
    calls.writeStreamAt = failingWriteAt;
    std::thread([] {
        char line[64];
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
            bool known = true;
            if (std::strncmp(line, "fail ", 5) == 0) {
                platform::failHeapAllocationsAfter(std::atoi(line + 5));
            } else if (std::strncmp(line, "writes ", 7) == 0) {
                writesBeforeFailure = std::atoi(line + 7);
            } else if (std::strcmp(line, "heal\n") == 0) {
                platform::failHeapAllocationsAfter(-1);
                writesBeforeFailure = -1;
            } else {
                known = false;
            }
            std::fputs(known ? "ok\n" : "?\n", stdout);
            std::fflush(stdout);
        }
    }).detach();
    return pak::runPakCommandLine(argc, argv);
}
