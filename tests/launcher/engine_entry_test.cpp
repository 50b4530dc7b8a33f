// The launcher's call into the engine, made through the launcher's own entry type, against an
// engine whose run is __stdcall. Such a callee removes its arguments from the stack, so an entry
// type that disagrees leaves the stack pointer off by their size after every call (or crashes):
// a fault only a 32-bit build can have, which the 64-bit build (one calling convention) never
// shows. Repeated calls from one place must find their arguments at one address.
#include "launcher/engine_entry.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

namespace {

struct Call {
    HINSTANCE instance;
    int showCommand;
    const char* title;
    std::uintptr_t firstArgument; // where the engine found it: the caller's stack pointer
};
std::vector<Call> calls;

int __stdcall engineRun(HINSTANCE instance, int showCommand, const char* title) {
    calls.push_back({instance, showCommand, title, reinterpret_cast<std::uintptr_t>(&instance)});
    return showCommand + 100;
}

} // namespace

TEST(EngineEntry, RunGetsItsArgumentsAndTheStackIsAsBeforeAfterEachCall) {
    // An address, as GetProcAddress gives the launcher; the compiler cannot see through it.
    void* volatile address = reinterpret_cast<void*>(&engineRun);
    auto run = reinterpret_cast<EngineEntry>(address);
    HINSTANCE self = GetModuleHandleA(nullptr);
    const char title[] = "\x95\x5C\x8E\xA6"; // 表示
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(run(self, 10 + i, title), 110 + i);
    ASSERT_EQ(calls.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].instance, self);
        EXPECT_EQ(calls[i].showCommand, 10 + i);
        EXPECT_EQ(calls[i].title, title);
        EXPECT_EQ(calls[i].firstArgument, calls[0].firstArgument)
            << "the stack pointer moved by "
            << static_cast<std::intptr_t>(calls[i].firstArgument - calls[0].firstArgument)
            << " bytes between calls";
    }
}
