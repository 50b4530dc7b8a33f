// PageBuffer: zero-filled page memory for an archive's inflated directory, taken from the
// operating system and handed back as soon as the archive has been scanned.
#pragma once

#include <cstdint>

class PageBuffer {
  public:
    PageBuffer() = default;
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    virtual ~PageBuffer() { release(); }

    // Afterwards the buffer holds exactly n bytes, all zero (none for n = 0). Resizing to the
    // current size keeps the memory and clears it. When the pages cannot be had the buffer is
    // left empty and the operating system's status for exhausted memory, 0xC0000017, is thrown
    // as a bare uint32_t.
    void resize(uint32_t n);
    // Afterwards the buffer has room for n bytes of which none is usable yet (committed 0):
    // commit makes them usable front to back as they are written, so memory follows what is
    // written, not the room. Throws like resize when the address space cannot be had.
    void reserve(uint32_t n);
    // Makes the first n bytes (at most byteCount) usable, zero where nothing was written yet.
    // Throws like resize when the memory cannot be had.
    void commit(uint32_t n);
    // Gives the memory back; the buffer is empty afterwards.
    void release();

    uint32_t byteCount = 0; // bytes held; 0 when there is no memory
    unsigned char* pages = nullptr;
    uint32_t committed = 0; // bytes usable from the start: byteCount, unless reserved
};
