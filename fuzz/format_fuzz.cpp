// Formatting patterns, in two runs over each input: the pattern (up to its first NUL) and, after
// that NUL, a pool of bytes that the arguments of the second run are taken from.
//
// The first run formats the whole pattern into a String with an argument list that every
// conversion can take safely (each integer-class argument a pointer to a small writable buffer
// holding a short text, each floating one 1.5). Whatever the pattern, the result must be whole:
// its length that of its text, within the block.
//
// The second run holds String's formatting against the platform's own vsnprintf. It cuts the
// pattern into pieces, each some text and one conversion, as far as every conversion is one
// that both must format alike, gives each piece arguments of the types its conversion takes
// (star widths and precisions of either sign, numbers, texts and doubles from the pool) and
// appends piece after piece to one String; the C library formats the same pieces with the same
// arguments, and the two texts must be equal. Left out, because String differs from the C
// library there on purpose (the unit tests hold those cases):
//   - Microsoft's and glibc's own length modifiers (I, I32, I64, w, q, Z): the platform layer
//     spells them the C99 way before the C library sees them, and glibc reads I as a flag;
//   - pairs of modifier and conversion that the platforms read differently, positional
//     arguments and conversions the C standard does not name (%C, %S, %m): String refuses them
//     and appends nothing;
//   - a pattern that ends inside a conversion: String keeps the text before it, the formatters
//     disagree. The comparison stops at the first conversion outside the rules above.
// One difference is allowed for in the comparison itself: String's text ends at its first NUL,
// so each piece is compared up to the NUL that a %c may produce. Precision counts bytes in
// both, double-byte text included, so %.Ns is compared like every other conversion.
#include "fuzz/fuzz_support.h"
#include "text/byte_string.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

alignas(8) char argumentText[64];

// The first run (see above).
void formatWhole(std::string pattern) {
    // A '*' would take its width from a pointer's bits, so it becomes a width of 9 here; the
    // second run gives stars their own arguments.
    std::replace(pattern.begin(), pattern.end(), '*', '9');
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
}

// The bytes after the pattern, handed out in order; zeros once they are used up.
class Pool {
  public:
    Pool(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T> T next() {
        unsigned char bytes[sizeof(T)] = {};
        for (unsigned char& b : bytes)
            b = used_ < size_ ? data_[used_++] : 0;
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// One conversion as the C standard writes it: flags, width, precision, length, conversion.
struct Conversion {
    int stars = 0;       // arguments taken for the width and the precision
    std::string length;  // "", "hh", "h", "l", "ll", "j", "z", "t" or "L"
    char conversion = 0; // the letter, or '%' for "%%"
    const char* end = nullptr;
};

// Reads the conversion at p (just after its '%'); false when it is not one that String and the
// C library must format alike.
bool readConversion(const char* p, Conversion& out) {
    if (*p == '%') {
        out.conversion = '%';
        out.end = p + 1;
        return true;
    }
    while (*p != '\0' && std::strchr("-+ #0", *p))
        ++p;
    if (*p == '*') {
        ++out.stars;
        ++p;
    } else {
        while (*p >= '0' && *p <= '9')
            ++p;
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++out.stars;
            ++p;
        } else {
            while (*p >= '0' && *p <= '9')
                ++p;
        }
    }
    for (const char* length : {"hh", "ll", "h", "l", "j", "z", "t", "L"}) {
        if (std::strncmp(p, length, std::strlen(length)) == 0) {
            out.length = length;
            p += out.length.size();
            break;
        }
    }
    out.conversion = *p;
    out.end = p + 1;
    const std::string& n = out.length;
    switch (*p) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
    case 'n':
        return n != "L";
    case 'c':
    case 's':
        return n.empty() || n == "l";
    case 'p':
        return n.empty();
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        return n.empty() || n == "l" || n == "L";
    default:
        return false;
    }
}

// The C library's own text for a piece, up to the NUL a %c may put in it; nothing when it
// fails (as a wide character outside the locale makes it).
std::string oracle(const char* piece, ...) {
    va_list arguments, measuring;
    va_start(arguments, piece);
    va_copy(measuring, arguments);
    int length = std::vsnprintf(nullptr, 0, piece, measuring);
    va_end(measuring);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(&text[0], text.size(), piece, arguments);
        text.resize(std::strlen(text.c_str()));
    }
    va_end(arguments);
    return text;
}

class Comparison {
  public:
    explicit Comparison(Pool& pool) : pool_(pool) {}

    // Appends the piece (text and conversion) to both sides.
    void piece(const std::string& text, const Conversion& c) {
        const char* p = text.c_str();
        const std::string& n = c.length;
        // The pool's bytes go to the arguments in their order: stars first, then the value.
        // Stars take either sign, no larger than the widths the pattern may spell.
        for (int i = 0; i < c.stars; ++i)
            stars_[i] = pool_.next<int16_t>();
        switch (c.conversion) {
        case '%':
            both(p);
            return;
        case 'c':
            if (n == "l") return withStars(p, c, static_cast<wint_t>(pool_.next<uint32_t>()));
            return withStars(p, c, static_cast<int>(pool_.next<int32_t>()));
        case 's':
            if (n == "l") {
                for (int i = 0; i < 4; ++i)
                    wideText_[i] = static_cast<wchar_t>(pool_.next<uint8_t>());
                return withStars(p, c, static_cast<const wchar_t*>(wideText_));
            }
            for (int i = 0; i < 8; ++i)
                text_[i] = static_cast<char>(pool_.next<uint8_t>());
            return withStars(p, c, static_cast<const char*>(text_));
        case 'p':
            return withStars(p, c, reinterpret_cast<void*>(pool_.next<uintptr_t>()));
        case 'n':
            return withStars(p, c, static_cast<void*>(counts_));
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X': {
            auto value = pool_.next<int64_t>();
            if (n == "l") return withStars(p, c, static_cast<long>(value));
            if (n == "ll") return withStars(p, c, static_cast<long long>(value));
            if (n == "j") return withStars(p, c, static_cast<std::intmax_t>(value));
            if (n == "z") return withStars(p, c, static_cast<std::size_t>(value));
            if (n == "t") return withStars(p, c, static_cast<std::ptrdiff_t>(value));
            return withStars(p, c, static_cast<int>(value));
        }
        default: { // floating
            auto value = pool_.next<double>();
            if (n == "L") return withStars(p, c, static_cast<long double>(value));
            return withStars(p, c, value);
        }
        }
    }

    // Appends text without a conversion to both sides.
    void text(const std::string& text) { both(text.c_str()); }

    void check() const {
        std::string got = result_.data != nullptr ? result_.data : "";
        if (got != expected_) fuzzing::finding("a formatted text unlike the C library's");
        if (result_.data != nullptr && result_.length != static_cast<int>(got.size()))
            fuzzing::finding("a formatted text that is not whole");
    }

  private:
    template <typename Value> void withStars(const char* p, const Conversion& c, Value value) {
        if (c.stars == 0) return both(p, value);
        if (c.stars == 1) return both(p, stars_[0], value);
        both(p, stars_[0], stars_[1], value);
    }

    template <typename... Arguments> void both(const char* p, Arguments... arguments) {
        result_.appendFormat(p, arguments...);
        expected_ += oracle(p, arguments...);
    }

    Pool& pool_;
    String result_;
    std::string expected_;
    int stars_[2] = {};
    char text_[9] = {};
    wchar_t wideText_[5] = {};
    alignas(8) unsigned char counts_[16] = {}; // where %n writes, whatever its length
};

// The second run (see above).
void compareWithTheCLibrary(const std::string& pattern, Pool& pool) {
    Comparison comparison(pool);
    const char* p = pattern.c_str();
    while (*p != '\0') {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            comparison.text(p);
            break;
        }
        Conversion conversion;
        if (!readConversion(percent + 1, conversion)) {
            comparison.text(std::string(p, percent));
            break;
        }
        comparison.piece(std::string(p, conversion.end), conversion);
        p = conversion.end;
    }
    comparison.check();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzzing::checkAllocations(fuzzing::kLargestRequest);
    std::string pattern(reinterpret_cast<const char*>(data), size);
    pattern = pattern.c_str(); // up to its first NUL
    // Bounded work: at most 20 conversions, and no width or precision of six digits or more
    // (they format megabytes of padding), stars counted as the digit the first run makes of
    // them; star arguments stay below 32768.
    if (std::count(pattern.begin(), pattern.end(), '%') > 20) return 0;
    int digits = 0;
    for (char c : pattern) {
        digits = (c >= '0' && c <= '9') || c == '*' ? digits + 1 : 0;
        if (digits > 5) return 0;
    }
    formatWhole(pattern);
    std::size_t used = std::min(size, pattern.size() + 1);
    Pool pool(data + used, size - used);
    compareWithTheCLibrary(pattern, pool);
    return 0;
}
