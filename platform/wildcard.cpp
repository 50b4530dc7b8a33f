#include "platform/wildcard.h"

#include "base/cp932.h"

namespace platform {

namespace {

// Length in bytes of the character at p (1 or 2), and its case-folded code.
int characterAt(const char* p, unsigned* code) {
    *code = cp932::foldCase(cp932::characterCode(p));
    return cp932::characterLength(p);
}

} // namespace

bool wildcardMatch(const char* pattern, const char* name) {
    // Iterative matcher with a single backtrack point: the last '*' seen.
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name != '\0') {
        unsigned pc = 0, nc = 0;
        int plen = *pattern ? characterAt(pattern, &pc) : 0;
        int nlen = characterAt(name, &nc);
        if (plen && pc == '*') {
            starPattern = ++pattern;
            starName = name;
            continue;
        }
        if (plen && (pc == '?' || pc == nc)) {
            pattern += plen;
            name += nlen;
            continue;
        }
        if (!starPattern) return false;
        // Let the last '*' swallow one more character of the name and try again.
        unsigned skipped = 0;
        starName += characterAt(starName, &skipped);
        pattern = starPattern;
        name = starName;
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

} // namespace platform
