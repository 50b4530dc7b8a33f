#include "platform/wildcard.h"

namespace platform {

namespace {

bool isLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Length in bytes of the character at p (1 or 2), and its case-folded code.
int characterAt(const char* p, unsigned* code) {
    auto b = static_cast<unsigned char>(p[0]);
    if (isLead(b) && p[1] != '\0') {
        unsigned c = b * 256u + static_cast<unsigned char>(p[1]);
        if (c >= 0x8260 && c <= 0x8279) c += 0x21; // full-width capitals to small letters
        *code = c;
        return 2;
    }
    *code = (b >= 'A' && b <= 'Z') ? b + 32u : b;
    return 1;
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
