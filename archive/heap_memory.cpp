// Memory from the platform's heap (see heap_memory.h).
#include "archive/heap_memory.h"

#include "platform/memory.h"

#include <new>

namespace pak {

void* heapBytes(std::size_t n) {
    void* block = platform::heapAllocate(n);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void FromPlatformHeap::operator delete(void* block) noexcept {
    platform::heapFree(block);
}

void HeapBytes::allocate(std::size_t size) {
    block_.reset(static_cast<unsigned char*>(heapBytes(size)));
}

void HeapBytes::Free::operator()(unsigned char* block) const noexcept {
    platform::heapFree(block);
}

} // namespace pak
