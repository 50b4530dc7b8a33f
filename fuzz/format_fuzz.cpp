// Formatting patterns: the input is a printf-style pattern, formatted into a String with an
// argument list that every conversion can take safely (each integer-class argument is a pointer
// to a small writable buffer holding a short text, each floating one 1.5), so that only the
// measuring pass and the formatter are under test. The result must be whole: its length that
// of its text, within the block.
#include "fuzz/fuzz_support.h"
#include "text/byte_string.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

alignas(8) char argumentText[64];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzzing::checkAllocations(fuzzing::kLargestRequest);
    std::string pattern(reinterpret_cast<const char*>(data), size);
    pattern = pattern.c_str(); // up to its first NUL
    // Bounded work: at most 20 conversions, and no width or precision of six digits or more
    // (they format megabytes of padding). A '*' would take its width from a pointer's bits, so
    // it becomes a width of 9 (the unit tests take widths from the arguments).
    std::replace(pattern.begin(), pattern.end(), '*', '9');
    if (std::count(pattern.begin(), pattern.end(), '%') > 20) return 0;
    int digits = 0;
    for (char c : pattern) {
        digits = c >= '0' && c <= '9' ? digits + 1 : 0;
        if (digits > 5) return 0;
    }
    std::memset(argumentText, 0, sizeof argumentText);
    std::memcpy(argumentText, "abc", 3); // %n may write over it; it stays terminated
    char* a = argumentText;
    const double f = 1.5;
    String s;
    // 60 pointers cover 20 arguments of 16 bytes (a long double) taken from the stack.
    s.format(pattern.c_str(), a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a,
             a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a,
             a, a, a, a, a, a, a, a, f, f, f, f, f, f, f, f);
    if (s.data != nullptr &&
        (s.length != static_cast<int>(std::strlen(s.data)) || s.length > s.capacity))
        fuzzing::finding("a formatted text that is not whole");
    return 0;
}
