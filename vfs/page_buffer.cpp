#include "vfs/page_buffer.h"

#include "platform/memory.h"

#include <cstring>

void PageBuffer::resize(uint32_t n) {
    if (n == byteCount) {
        if (pages != nullptr) std::memset(pages, 0, byteCount);
        return;
    }
    release();
    if (n == 0) return;
    pages = static_cast<unsigned char*>(platform::allocatePages(n));
    if (pages == nullptr) throw static_cast<uint32_t>(0xC0000017u);
    byteCount = committed = n;
}

void PageBuffer::reserve(uint32_t n) {
    release();
    if (n == 0) return;
    pages = static_cast<unsigned char*>(platform::reservePages(n));
    if (pages == nullptr) throw static_cast<uint32_t>(0xC0000017u);
    byteCount = n;
}

void PageBuffer::commit(uint32_t n) {
    if (n > byteCount) n = byteCount;
    if (n <= committed) return;
    // Commits start where the last one ended, which is a multiple of the page size except at
    // the very end of the room.
    if (!platform::commitPages(pages + committed, n - committed))
        throw static_cast<uint32_t>(0xC0000017u);
    committed = n;
}

void PageBuffer::release() {
    if (pages != nullptr) platform::freePages(pages, byteCount);
    pages = nullptr;
    byteCount = 0;
    committed = 0;
}
