// Memory from the operating system: whole pages, reserved address space, and the heap (see
// errors.h for the conventions).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Zero-filled memory in whole pages straight from the operating system, for n > 0 bytes,
// backed by memory only where it is written. Null when none can be had. Give it back with
// freePages and the same n.
void* allocatePages(uint32_t n);
void freePages(void* pages, uint32_t n);

// Address space for n > 0 bytes of page memory, none of it usable yet, for memory that is filled
// front to back and whose final size is only an upper bound: commitPages makes it usable piece
// by piece as it is written. Null when the address space cannot be had. Given back, with
// whatever was committed, by freePages and the same n.
void* reservePages(uint32_t n);
// Makes n bytes of a reservation usable, zero-filled, from pages on (a multiple of the page
// size from its start), and backs them with memory at once, since the caller is about to write
// them. False when the memory cannot be had.
bool commitPages(void* pages, uint32_t n);

// Heap blocks for the byte string and the file buffers. Null when none can be had (or when a
// test has asked for a failure). Released with heapFree, which accepts null.
void* heapAllocate(std::size_t n);
void heapFree(void* block);

} // namespace platform
