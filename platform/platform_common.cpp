// The parts of the platform layer that are the same on every operating system: the heap with
// its injectable failures and the dispatch of message boxes to a test handler.
#include "platform/backend.h"
#include "platform/platform.h"

#include <atomic>
#include <cstdlib>

namespace platform {

namespace {
std::atomic<int> allocationsBeforeFailure{-1};
std::atomic<MessageBoxHandler> messageBoxHandler{nullptr};
} // namespace

void* heapAllocate(std::size_t n) {
    int left = allocationsBeforeFailure.load();
    if (left == 0) return nullptr;
    if (left > 0) allocationsBeforeFailure.store(left - 1);
    return std::malloc(n == 0 ? 1 : n);
}

void heapFree(void* block) {
    std::free(block);
}

void failHeapAllocationsAfter(int count) {
    allocationsBeforeFailure.store(count < 0 ? -1 : count);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
    return messageBoxHandler.exchange(handler);
}

int messageBox(void* owner, const char* text, const char* caption, uint32_t style) {
    if (MessageBoxHandler handler = messageBoxHandler.load())
        return handler(owner, text, caption, style);
    return backend::systemMessageBox(owner, text, caption, style);
}

} // namespace platform
