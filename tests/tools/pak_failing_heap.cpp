// pak itself, for tests that make the platform's heap run out while it runs (pak mount -f, whose
// requests then meet it). The arguments are pak's. Standard input takes one command a line,
// each answered with "ok" on standard output once it holds:
//   fail N  the heap grants N more allocations, then fails every one
//   heal    the heap grants every allocation again
#include "platform/system_calls.h"
#include "tools/pak/pak_tool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    std::thread([] {
        char line[64];
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
            bool known = true;
            if (std::strncmp(line, "fail ", 5) == 0)
                platform::failHeapAllocationsAfter(std::atoi(line + 5));
            else if (std::strcmp(line, "heal\n") == 0)
                platform::failHeapAllocationsAfter(-1);
            else
                known = false;
            std::fputs(known ? "ok\n" : "?\n", stdout);
            std::fflush(stdout);
        }
    }).detach();
    return pak::runPakCommandLine(argc, argv);
}
