// String: printf-style formatting appended to the text.
//
// A measuring pass first estimates the room the result needs, so that the block grows once
// before anything is written. The pass takes every argument with the type its conversion and
// length modifier give it, so that it walks the arguments exactly as the formatter will; a
// pattern it cannot walk that way is refused and appends nothing. The estimate cannot be exact
// for every pattern, so the formatter is always given the room actually reserved as its bound: when
// the result did not fit, the block grows to the exact size and the text is formatted again.
#include "base/cp932.h"
#include "text/byte_string.h"

#include "platform/format_text.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

// Reads a run of decimal digits at p (stopping short of overflow) and moves p past it.
int readNumber(const char*& p) {
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value < INT_MAX) value = value * 10 + (*p - '0');
        ++p;
    }
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

long long larger(long long a, long long b) {
    return a > b ? a : b;
}

// The length modifiers that the platforms' formatters know, each by the argument type it gives
// an integer conversion: glibc's hh h l ll q L j z Z t, Microsoft's I I32 I64 w (and the
// common ones). platform::formatText spells each the way its own formatter reads it.
enum class Modifier {
    None,
    Char,
    Short,
    Long,
    LongLong,
    LongDouble,
    IntMax,
    Size,
    PtrDiff,
    Int32,
    Wide
};

Modifier readModifier(const char*& p) {
    switch (*p) {
    case 'h':
        return p[1] == 'h' ? (p += 2, Modifier::Char) : (++p, Modifier::Short);
    case 'l':
        return p[1] == 'l' ? (p += 2, Modifier::LongLong) : (++p, Modifier::Long);
    case 'q':
        return ++p, Modifier::LongLong;
    case 'L':
        return ++p, Modifier::LongDouble;
    case 'j':
        return ++p, Modifier::IntMax;
    case 'z':
    case 'Z':
        return ++p, Modifier::Size;
    case 't':
        return ++p, Modifier::PtrDiff;
    case 'w':
        return ++p, Modifier::Wide;
    case 'I':
        if (p[1] == '6' && p[2] == '4') return p += 3, Modifier::LongLong;
        if (p[1] == '3' && p[2] == '2') return p += 3, Modifier::Int32;
        return ++p, Modifier::Size; // pointer-sized
    default:
        return Modifier::None;
    }
}

// Takes an integer conversion's argument with the type its modifier gives it; false for a
// modifier that integers do not take (L is long long to glibc but nothing to Microsoft's).
bool takeInteger(Modifier modifier, va_list* arguments) {
    switch (modifier) {
    case Modifier::None:
    case Modifier::Char:
    case Modifier::Short:
    case Modifier::Int32:
        va_arg(*arguments, int);
        return true;
    case Modifier::Long:
        va_arg(*arguments, long);
        return true;
    case Modifier::LongLong:
        va_arg(*arguments, long long);
        return true;
    case Modifier::IntMax:
        va_arg(*arguments, std::intmax_t);
        return true;
    case Modifier::Size:
        va_arg(*arguments, std::size_t);
        return true;
    case Modifier::PtrDiff:
        va_arg(*arguments, std::ptrdiff_t);
        return true;
    default:
        return false;
    }
}

// A floating conversion's argument: a double, or a long double with L.
bool takeFloating(Modifier modifier, va_list* arguments, long double& value) {
    if (modifier == Modifier::LongDouble) {
        value = va_arg(*arguments, long double);
        return true;
    }
    if (modifier != Modifier::None && modifier != Modifier::Long) return false;
    value = va_arg(*arguments, double);
    return true;
}

// The estimated byte count of pattern formatted with arguments (which it consumes), or -1 when
// the pattern holds a conversion the pass cannot walk: an unknown conversion or modifier, or a
// pair the platforms read differently. When the pattern ends inside a conversion, unfinished
// is set to its '%'.
long long measure(const char* pattern, va_list* arguments, const char*& unfinished) {
    unfinished = nullptr;
    long long total = 0;
    const char* p = pattern;
    while (*p != '\0') {
        if (*p != '%') {
            // The formatters read the pattern byte by byte, so a '%' starts a conversion also
            // right after a lead byte (where it is never a trail byte: only broken text has it).
            int width = p[1] == '%' ? 1 : cp932::characterLength(p);
            total += width;
            p += width;
            continue;
        }
        const char* conversion = p++;
        if (*p == '%') {
            total += 1;
            ++p;
            continue;
        }
        // A '*' takes its number from the arguments, as C reads it: a negative width is the
        // '-' flag and its magnitude, a negative precision is no precision at all.
        long long width = 0, precision = -1;
        while (*p != '\0' && std::strchr("#*-+0 ", *p)) {
            if (*p == '#') total += 2;
            if (*p == '*') {
                width = va_arg(*arguments, int);
                if (width < 0) width = -width;
            }
            ++p;
        }
        if (width == 0) width = readNumber(p);
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                precision = va_arg(*arguments, int);
                if (precision < 0) precision = -1;
                ++p;
            } else {
                precision = readNumber(p);
            }
        }
        long long digits = precision < 0 ? 0 : precision; // what a precision adds at most
        Modifier modifier = readModifier(p);
        if (*p == '\0') { // an unfinished conversion adds nothing
            unfinished = conversion;
            break;
        }

        long long room = 0;
        bool textual = false;
        bool narrow = modifier == Modifier::None || modifier == Modifier::Short;
        bool wide = modifier == Modifier::Long || modifier == Modifier::Wide;
        switch (*p) {
        case 'c':
        case 'C':
            if (!narrow && !wide) return -1;
            va_arg(*arguments, int); // a char or a wint_t, both passed as int
            room = 2;
            textual = true;
            break;
        case 's':
        case 'S':
            // "hS" is narrow to Microsoft and wide to glibc: refused.
            if (*p == 'S' && modifier == Modifier::Short) return -1;
            if (*p == 's' && narrow) {
                const char* text = va_arg(*arguments, const char*);
                room = text == nullptr ? 6 : larger(1, static_cast<long long>(std::strlen(text)));
            } else if (narrow || wide) {
                const wchar_t* text = va_arg(*arguments, const wchar_t*);
                room = text == nullptr ? 6 : larger(1, static_cast<long long>(std::wcslen(text)));
            } else {
                return -1;
            }
            textual = true;
            break;
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (!takeInteger(modifier, arguments)) return -1;
            room = larger(32, width + digits);
            break;
        case 'p':
            if (modifier != Modifier::None) return -1;
            va_arg(*arguments, void*);
            room = larger(32, width + digits);
            break;
        case 'n':
            if (modifier == Modifier::LongDouble || modifier == Modifier::Wide) return -1;
            va_arg(*arguments, void*);
            break;
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            long double value;
            if (!takeFloating(modifier, arguments, value)) return -1;
            room = larger(128, width + digits);
            break;
        }
        case 'f':
        case 'F': {
            long double value;
            if (!takeFloating(modifier, arguments, value)) return -1;
            int printed = std::snprintf(nullptr, 0, "%*.*Lf", static_cast<int>(width),
                                        static_cast<int>(digits + 6), value);
            room = printed > 0 ? printed : 0;
            break;
        }
        default:
            return -1;
        }
        if (textual) {
            if ((*p == 's' || *p == 'S') && precision >= 0 && room > precision) room = precision;
            room = larger(room, width);
        }
        total += room;
        ++p;
    }
    return total;
}

} // namespace

void String::appendFormat(const char* pattern, ...) {
    va_list arguments;
    va_start(arguments, pattern);
    appendFormatV(pattern, arguments);
    va_end(arguments);
}

void String::format(const char* pattern, ...) {
    clear();
    va_list arguments;
    va_start(arguments, pattern);
    appendFormatV(pattern, arguments);
    va_end(arguments);
}

void String::appendFormatV(const char* pattern, va_list arguments) {
    if (pattern == nullptr) return;
    va_list measuring;
    va_copy(measuring, arguments);
    const char* unfinished = nullptr;
    long long estimate = measure(pattern, &measuring, unfinished);
    va_end(measuring);
    if (estimate < 0) { // a pattern the pass cannot walk is never given to the formatter
        reserve(length);
        if (data != nullptr) data[length] = '\0';
        return;
    }

    // Formatters disagree about a pattern that ends inside a conversion (some print what
    // precedes it, some fail); the text before it is what every one of them agrees on.
    std::string complete;
    if (unfinished != nullptr) {
        complete.assign(pattern, unfinished);
        pattern = complete.c_str();
    }

    if (estimate > INT_MAX - 64 - static_cast<long long>(length)) {
        clear(); // no block could hold it
        return;
    }
    reserve(length + static_cast<int>(estimate));
    for (int attempt = 0; attempt < 2 && data != nullptr; ++attempt) {
        size_t room = static_cast<size_t>(capacity - length) + 1;
        va_list writing;
        va_copy(writing, arguments);
        int written = platform::formatText(data + length, room, pattern, writing);
        va_end(writing);
        if (written < 0) { // the pattern cannot be formatted: append nothing
            data[length] = '\0';
            return;
        }
        if (static_cast<size_t>(written) < room) break;
        data[length] = '\0'; // drop the cut-short result, grow to the exact size, try again
        if (written > INT_MAX - 64 - length) {
            clear();
            return;
        }
        reserve(length + written);
    }
    length = byteLength();
}
