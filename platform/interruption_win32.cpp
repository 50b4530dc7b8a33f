// Interruptions on Windows: the console's control events remove the armed files and end the
// program with 128 + the number of the signal the C runtime names them by (see
// removal_on_interrupt.h). Windows calls the handler on a thread of its own.
#include "platform/backend.h"
#include "platform/directory.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace platform::backend {

namespace {

BOOL WINAPI onControlEvent(DWORD event) {
    // SIGINT 2 and SIGBREAK 21 as the C runtime numbers them; the console closed, logoff and
    // shutdown are hangups.
    UINT code = 128 + (event == CTRL_C_EVENT ? 2 : event == CTRL_BREAK_EVENT ? 21 : 1);
    removeArmedFiles();
    // At once, as _exit on POSIX: nothing of the program runs on, no stream is flushed.
    TerminateProcess(GetCurrentProcess(), code);
    return TRUE;
}

} // namespace

bool describeRemoval(const Directory& directory, const char* name, RemovalTarget& target) {
    std::string path = directory.pathOf(name); // a full path, as every held directory's is
    if (path.size() >= sizeof target.name) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::memcpy(target.name, path.c_str(), path.size() + 1);
    return true;
}

void catchInterrupts() {
    SetConsoleCtrlHandler(onControlEvent, TRUE);
}

void removeTarget(const RemovalTarget& target) {
    // The file is still open: it goes once the program ends and its handles are closed, which
    // its sharing allows (createNewFile).
    DeleteFileA(target.name);
}

void awaitTheEnd() {
    for (;;)
        Sleep(INFINITE);
}

} // namespace platform::backend
