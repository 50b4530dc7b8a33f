// Starts a program with a chosen show command, as a shortcut set to "minimised" or "maximised"
// does, waits for it and exits with its exit code.
//
//   e2e_start.exe SHOW PROGRAM
//
// Exit code 250 when the program could not be started.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: e2e_start SHOW PROGRAM\n");
        return 250;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(std::atoi(argv[1]));
    std::string commandLine = std::string("\"") + argv[2] + "\"";
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "e2e_start: cannot start %s (error %lu)\n", argv[2], GetLastError());
        return 250;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 250;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
