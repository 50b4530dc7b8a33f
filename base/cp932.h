// Character primitives of code page 932 (Shift-JIS), the encoding of every text the system
// reads: settings, archive entry names, paths and messages.
//
// A double-byte character is a lead byte (0x81-0x9F, 0xE0-0xFC) followed by a trail byte
// (0x40-0x7E, 0x80-0xFC). Trail bytes include '[', '\\' and ']' and the ASCII letters, so every
// search here steps over whole characters and never matches the second byte of a double-byte
// character. These functions are used on every platform, whatever the host's own code page,
// so that the data reads the same everywhere.
//
// A character code is the byte value for a single-byte character and lead * 256 + trail for a
// double-byte one. A lead byte directly before the terminating NUL counts as a single byte.
//
// This is the lowest library of all: the platform layer follows these rules too, so each rule
// is written here once.
#pragma once

#include <cstddef>

namespace cp932 {

// The lead bytes: two runs, 0x81-0x9F and 0xE0-0xFC.
constexpr unsigned kFirstLeadRun = 0x81, kFirstLeadRunEnd = 0x9F;
constexpr unsigned kSecondLeadRun = 0xE0, kSecondLeadRunEnd = 0xFC;
constexpr int kLeadByteCount =
    (kFirstLeadRunEnd - kFirstLeadRun + 1) + (kSecondLeadRunEnd - kSecondLeadRun + 1);

// The place of lead byte b among all lead bytes in ascending order (0x81 is 0, 0xE0 is 31), or
// -1 when b is no lead byte.
constexpr int leadByteIndex(unsigned b) {
    if (b >= kFirstLeadRun && b <= kFirstLeadRunEnd) return static_cast<int>(b - kFirstLeadRun);
    if (b >= kSecondLeadRun && b <= kSecondLeadRunEnd)
        return static_cast<int>(b - kSecondLeadRun + kFirstLeadRunEnd - kFirstLeadRun + 1);
    return -1;
}

// The lead byte at place index (0 to kLeadByteCount - 1) of leadByteIndex.
constexpr unsigned leadByteAt(int index) {
    constexpr int firstRun = static_cast<int>(kFirstLeadRunEnd - kFirstLeadRun + 1);
    return index < firstRun ? kFirstLeadRun + static_cast<unsigned>(index)
                            : kSecondLeadRun + static_cast<unsigned>(index - firstRun);
}

inline bool isLeadByte(unsigned char b) {
    return leadByteIndex(b) >= 0;
}

inline bool isTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Byte count (1 or 2) of the character at p, which must not be the terminating NUL.
inline int characterLength(const char* p) {
    return isLeadByte(static_cast<unsigned char>(p[0])) && p[1] != '\0' ? 2 : 1;
}

// The character after the one at p; p itself at the terminating NUL.
inline const char* next(const char* p) {
    return *p == '\0' ? p : p + characterLength(p);
}
inline char* next(char* p) {
    return *p == '\0' ? p : p + characterLength(p);
}

// The character before current, found by scanning from start; start itself at start.
const char* previous(const char* start, const char* current);
inline char* previous(char* start, char* current) {
    return const_cast<char*>(previous(static_cast<const char*>(start), current));
}

// The code of the character at p (see above).
unsigned characterCode(const char* p);

// The letters that the system compares without regard to case: the ASCII letters and the
// full-width Latin letters (capitals 0x8260-0x8279, small letters 0x8281-0x829A). Returns the
// small letter for a capital and every other code unchanged. This is the rule of archive entry
// names and of the settings reader; file names follow foldFileNameCase.
inline unsigned foldCase(unsigned code) {
    if (code >= 'A' && code <= 'Z') return code + 0x20;
    if (code >= 0x8260 && code <= 0x8279) return code + 0x21;
    return code;
}

// The rule by which Windows compares the names of files (and so the rule of wildcard searches
// and of finding a file whatever the case of its name). Windows compares file names as UTF-16,
// so two things differ from foldCase: more letters have case (besides ASCII and full-width
// Latin, the Greek and Cyrillic letters and the Roman numerals), and two codes of one character
// (the NEC and IBM duplicates, such as 0x8754 and 0xFA4A for Ⅰ) are the same character.
// Returns the code that WideCharToMultiByte writes for the character's small letter; codes
// without a character come back unchanged. Two file-name characters are the same when their
// folded codes are equal.
unsigned foldFileNameCase(unsigned code);

// Orders two file names as NTFS orders the names of a directory, the order in which Windows
// lists them: character by character, by the UTF-16 unit of each character's capital. Names
// that NTFS would take for one (they differ in case only) are ordered by their bytes, so that
// the order is total. Codes without a character sort after every character.
int compareFileNames(const char* a, const char* b);

// First, or last, character of text whose code equals code; null when there is none.
// Searching for 0 finds the terminating NUL.
const char* findChar(const char* text, unsigned code);
const char* findLastChar(const char* text, unsigned code);

// First character of text that is in set, or that is not in set; null when the text ends
// first. Double-byte characters of set match as whole characters.
const char* findFirstOf(const char* text, const char* set);
const char* findFirstNotOf(const char* text, const char* set);

// First character boundary of text at which pattern occurs; null when none. An empty pattern
// occurs at the start.
const char* findSubstring(const char* text, const char* pattern);

// Case-insensitive comparison, character by character: letters compare by their foldCase code,
// every other character by its code. Returns -1, 0 or 1 like strcmp.
int compareNoCase(const char* a, const char* b);

// Copies at most count bytes of src to dst without splitting a double-byte character at the
// end and without stopping at a NUL; returns the number of bytes copied. Writes no terminator.
std::size_t boundedCopy(char* dst, const char* src, std::size_t count);

} // namespace cp932
