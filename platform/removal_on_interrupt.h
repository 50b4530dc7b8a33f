// Files removed when the program is interrupted.
//
// A program interrupted from outside ends wherever it is, without unwinding, so the temporary
// files it was writing would stay behind. A file armed here is removed first. The interruptions
// are SIGINT, SIGTERM and SIGHUP on POSIX, and on Windows the console's control events (Ctrl-C,
// Ctrl-Break, the console closed, logoff, shutdown). The program then ends with exit code
// 128 + the signal's number, as shells report a program that a signal ended: 130 for SIGINT,
// 143 for SIGTERM, 129 for SIGHUP; on Windows Ctrl-C counts as SIGINT, Ctrl-Break as SIGBREAK
// (21, so 149) and the others as SIGHUP. A signal the program was started to ignore (nohup)
// stays ignored. The handlers are put in place when the first file is armed; until then an
// interruption does what it always did.
//
// The handler may run on any thread at any moment, in the middle of anything (on Windows on a
// thread of its own), so it does only what is safe there: it walks a fixed table, removes each
// armed file (POSIX: unlinkat in the directory held open, which is why the directory must stay
// open while the file is armed) and ends the program (_exit). Arming and disarming take and
// give back a slot of that table with atomic operations, never a lock, and a thread that
// disarms a file the handler has begun to remove waits there for the end the handler brings.
#pragma once

#include "platform/directory.h"

namespace platform {

class RemovalOnInterrupt {
  public:
    RemovalOnInterrupt() = default;
    ~RemovalOnInterrupt() { disarm(); }
    RemovalOnInterrupt(const RemovalOnInterrupt&) = delete;
    RemovalOnInterrupt& operator=(const RemovalOnInterrupt&) = delete;

    // Arms the removal of the file name (exactly as it was created) inside directory, which must
    // stay open until disarm. False, with lastError set, when it cannot be armed: the table is
    // full (8, ERROR_NOT_ENOUGH_MEMORY) or the name does not fit it. Goes through
    // platform::systemCalls().
    bool arm(const Directory& directory, const char* name);
    // Disarms it (nothing when nothing is armed). Called after the file has been renamed or
    // removed, so that no interruption between the two can leave it behind: a removal meanwhile
    // finds nothing at the name.
    void disarm();

  private:
    int slot_ = -1;
};

} // namespace platform
