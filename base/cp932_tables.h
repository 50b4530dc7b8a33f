// The generated tables of code page 932 (cp932_unicode_table.cpp, word_sort_table.cpp), written
// by scripts/cp932_tables.py from what Windows reports and checked against it by the
// differential test. Internal to base/: cp932_unicode.h and word_sort.h are their interfaces.
#pragma once

#include "base/cp932.h"

#include <cstdint>

namespace cp932::tables {

// A slot for every code a character can have: the 256 single bytes, then each lead byte with the
// trail bytes 0x40-0xFF (0x7F and 0xFD-0xFF are never characters, but keeping them makes the index
// a plain calculation).
constexpr int kSlotCount = 256 + kLeadByteCount * 192;

// The slot of a character code, or -1 for a code that no character can have (a lead byte with a
// trail byte below 0x40, a first byte that is no lead byte).
inline int slotOf(unsigned code) {
    if (code < 0x100) return static_cast<int>(code);
    unsigned trail = code & 0xFF;
    int row = code > 0xFFFF ? -1 : leadByteIndex(code >> 8);
    if (row < 0 || trail < 0x40) return -1;
    return 256 + row * 192 + static_cast<int>(trail - 0x40);
}

// No character.
constexpr uint16_t kNone = 0xFFFF;

// The UTF-16 unit of each slot as MultiByteToWideChar(932, MB_ERR_INVALID_CHARS) gives it, or
// kNone. Every character of code page 932 is one unit of the Basic Multilingual Plane.
extern const uint16_t kUnicode[kSlotCount];

// The codes whose character WideCharToMultiByte writes with another code (the NEC and IBM
// duplicates), in ascending order: they decode, but are never written.
constexpr int kDecodeOnlyCount = 398;
extern const uint16_t kDecodeOnly[kDecodeOnlyCount];

// {code, unit}: single bytes that MultiByteToWideChar refuses as text but maps in file names
// (0xA0, 0xFD-0xFF, to private-use units), and that WideCharToMultiByte writes for those units.
constexpr int kLooseOnlyCount = 4;
extern const uint16_t kLooseOnly[kLooseOnlyCount][2];

// The word-sort weights of each slot's character, and the weights of the characters that sort
// as several; word_sort.cpp describes the packing.
constexpr int kSortExpansionCount = 16;
extern const uint32_t kSortWeights[kSlotCount];
extern const uint32_t kSortExpansions[kSortExpansionCount];

} // namespace cp932::tables
