#include "base/cp932.h"

#include <cstring>

namespace cp932 {

namespace {

bool inSet(unsigned code, const char* set) {
    for (const char* s = set; *s != '\0'; s = next(s))
        if (characterCode(s) == code) return true;
    return false;
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
