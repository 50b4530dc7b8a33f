#include "platform/wildcard.h"

#include "base/cp932.h"

#include <cstring>
#include <string>

namespace platform {

namespace {

// Length in bytes of the character at p (1 or 2), and its code under the file-name case rule.
int characterAt(const char* p, unsigned* code) {
    *code = cp932::foldFileNameCase(cp932::characterCode(p));
    return cp932::characterLength(p);
}

bool matches(const char* pattern, const char* name) {
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

} // namespace

bool wildcardMatch(const char* pattern, const char* name) {
    if (matches(pattern, name)) return true;
    // A final ".*" (followed by nothing but stars) may also stand for no extension at all. '*'
    // and '.' are never trail bytes, so the pattern can be read backwards byte by byte.
    std::size_t length = std::strlen(pattern), end = length;
    while (end > 0 && pattern[end - 1] == '*')
        --end;
    if (end == length || end == 0 || pattern[end - 1] != '.') return false;
    return matches(std::string(pattern, end - 1).c_str(), name);
}

} // namespace platform
