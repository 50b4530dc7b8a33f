// Interruptions on POSIX: SIGINT, SIGTERM and SIGHUP remove the armed files and end the program
// with 128 + the signal's number (see removal_on_interrupt.h).
#include "platform/backend.h"
#include "platform/directory.h"
#include "platform/posix_paths.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace platform::backend {

namespace {

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

void onInterrupt(int number) {
    removeArmedFiles();
    _exit(128 + number);
}

} // namespace

bool describeRemoval(const Directory& directory, const char* name, RemovalTarget& target) {
    // The file exists under exactly this name: it was created exclusively, which a name of
    // another case would have refused.
    std::string host;
    if (!posix::hostPath(name, host)) return false;
    if (host.size() >= sizeof target.name) {
        setLastError(206); // ERROR_FILENAME_EXCED_RANGE
        return false;
    }
    target.directory = directory.handle();
    std::memcpy(target.name, host.c_str(), host.size() + 1);
    return true;
}

void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    // One interruption at a time on a thread; another thread may take one at the same moment,
    // and the table lets each file be removed once.
    sigemptyset(&action.sa_mask);
    for (int number : kInterruptions)
        sigaddset(&action.sa_mask, number);
    for (int number : kInterruptions) {
        struct sigaction before {};
        if (sigaction(number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(number, &action, nullptr);
    }
}

void removeTarget(const RemovalTarget& target) {
    unlinkat(static_cast<int>(target.directory), target.name, 0);
}

void awaitTheEnd() {
    for (;;)
        pause();
}

} // namespace platform::backend
