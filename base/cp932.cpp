#include "base/cp932.h"

#include "base/cp932_unicode.h"

#include <cstring>

namespace cp932 {

namespace {

bool inSet(unsigned code, const char* set) {
    for (const char* s = set; *s != '\0'; s = next(s))
        if (characterCode(s) == code) return true;
    return false;
}

// The small letter of a UTF-16 unit among the letters that have case in code page 932.
unsigned smallLetter(unsigned unit) {
    if ((unit >= 'A' && unit <= 'Z') || (unit >= 0xFF21 && unit <= 0xFF3A) ||
        (unit >= 0x0391 && unit <= 0x03A9 && unit != 0x03A2) || (unit >= 0x0410 && unit <= 0x042F))
        return unit + 0x20;
    if (unit >= 0x0400 && unit <= 0x040F) return unit + 0x50;
    if (unit >= 0x2160 && unit <= 0x216F) return unit + 0x10;
    return unit;
}

unsigned capitalLetter(unsigned unit) {
    if ((unit >= 'a' && unit <= 'z') || (unit >= 0xFF41 && unit <= 0xFF5A) ||
        (unit >= 0x03B1 && unit <= 0x03C9 && unit != 0x03C2) || (unit >= 0x0430 && unit <= 0x044F))
        return unit - 0x20;
    if (unit >= 0x0450 && unit <= 0x045F) return unit - 0x50;
    if (unit >= 0x2170 && unit <= 0x217F) return unit - 0x10;
    return unit;
}

} // namespace

const char* previous(const char* start, const char* current) {
    if (current <= start) return start;
    const char* p = start;
    for (;;) {
        const char* after = next(p);
        if (after >= current || after == p) return p;
        p = after;
    }
}

unsigned characterCode(const char* p) {
    auto b = static_cast<unsigned char>(p[0]);
    if (isLeadByte(b) && p[1] != '\0') return b * 256u + static_cast<unsigned char>(p[1]);
    return b;
}

const char* findChar(const char* text, unsigned code) {
    for (const char* p = text;; p = next(p)) {
        if (characterCode(p) == code) return p;
        if (*p == '\0') return nullptr;
    }
}

const char* findLastChar(const char* text, unsigned code) {
    const char* last = nullptr;
    for (const char* p = text;; p = next(p)) {
        if (characterCode(p) == code) last = p;
        if (*p == '\0') return last;
    }
}

const char* findFirstOf(const char* text, const char* set) {
    for (const char* p = text; *p != '\0'; p = next(p))
        if (inSet(characterCode(p), set)) return p;
    return nullptr;
}

const char* findFirstNotOf(const char* text, const char* set) {
    for (const char* p = text; *p != '\0'; p = next(p))
        if (!inSet(characterCode(p), set)) return p;
    return nullptr;
}

const char* findSubstring(const char* text, const char* pattern) {
    std::size_t length = std::strlen(pattern);
    for (const char* p = text;; p = next(p)) {
        if (std::strncmp(p, pattern, length) == 0) return p;
        if (*p == '\0') return nullptr;
    }
}

int compareNoCase(const char* a, const char* b) {
    for (;;) {
        unsigned ca = foldCase(characterCode(a)), cb = foldCase(characterCode(b));
        if (ca != cb) return ca > cb ? 1 : -1;
        if (ca == 0) return 0;
        a = next(a);
        b = next(b);
    }
}

unsigned foldFileNameCase(unsigned code) {
    if (code < 0x80) return code >= 'A' && code <= 'Z' ? code + 0x20 : code;
    unsigned unit = fileNameUnicodeOf(code);
    if (unit == kNoCharacter) return code;
    unsigned folded = codeOf(smallLetter(unit));
    return folded != kNoCharacter ? folded : code;
}

int compareFileNames(const char* a, const char* b) {
    auto key = [](unsigned code) -> unsigned long {
        unsigned unit = fileNameUnicodeOf(code);
        return unit == kNoCharacter ? 0x10000ul + code : capitalLetter(unit);
    };
    for (const char *p = a, *q = b;; p = next(p), q = next(q)) {
        unsigned long x = key(characterCode(p)), y = key(characterCode(q));
        if (x != y) return x < y ? -1 : 1;
        if (*p == '\0') break;
    }
    int bytes = std::strcmp(a, b);
    return (bytes > 0) - (bytes < 0);
}

std::size_t boundedCopy(char* dst, const char* src, std::size_t count) {
    std::size_t copied = 0;
    while (copied < count) {
        auto b = static_cast<unsigned char>(src[copied]);
        std::size_t width = isLeadByte(b) && src[copied + 1] != '\0' ? 2 : 1;
        if (copied + width > count) break;
        std::memcpy(dst + copied, src + copied, width);
        copied += width;
    }
    return copied;
}

} // namespace cp932
