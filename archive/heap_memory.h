// Memory that serving a read takes (an open file, an entry's stream, their buffers, zlib's
// state), from the platform's heap (platform::heapAllocate) rather than the runtime's: the mount
// must outlive running out of it, and a test can make it run out only there. Running out throws
// std::bad_alloc, as new does.
#pragma once

#include <cstddef>
#include <memory>

namespace pak {

// n bytes from the platform's heap, given back with platform::heapFree; throws std::bad_alloc
// when there are none.
void* heapBytes(std::size_t n);

// The classes derived from this one are made with new from the platform's heap.
struct FromPlatformHeap {
    static void* operator new(std::size_t size) { return heapBytes(size); }
    static void operator delete(void* block) noexcept;
};

// A block of bytes from the platform's heap, given back with its owner; none until allocate.
class HeapBytes {
  public:
    unsigned char* data() const { return block_.get(); }
    bool empty() const { return !block_; }
    // Takes a block of size bytes in place of the one held; throws std::bad_alloc, keeping the
    // one held, when there is none.
    void allocate(std::size_t size);

  private:
    struct Free {
        void operator()(unsigned char* block) const noexcept;
    };
    std::unique_ptr<unsigned char, Free> block_;
};

} // namespace pak
