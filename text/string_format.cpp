// String: printf-style formatting appended to the text.
//
// A measuring pass first estimates the room the result needs, so that the block grows once
// before anything is written. The estimate follows the platform formatter's conventions
// ("I64" marks a 64-bit integer, "h"/"l" narrow and wide text) but cannot be exact for every
// pattern, so the formatter is always given the room actually reserved as its bound: when the
// result did not fit, the block grows to the exact size and the text is formatted again.
#include "base/cp932.h"
#include "text/byte_string.h"

#include "platform/platform.h"

#include <climits>
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

// The estimated byte count of pattern formatted with arguments (which it consumes). When the
// pattern ends inside a conversion, unfinished is set to its '%'.
long long measure(const char* pattern, va_list arguments, const char*& unfinished) {
    unfinished = nullptr;
    long long total = 0;
    const char* p = pattern;
    while (*p != '\0') {
        if (*p != '%') {
            int width = cp932::characterLength(p);
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
        long long width = 0, precision = 0;
        while (*p != '\0' && std::strchr("#*-+0 ", *p)) {
            if (*p == '#') total += 2;
            if (*p == '*') width = va_arg(arguments, int);
            ++p;
        }
        if (width == 0) width = readNumber(p);
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                precision = va_arg(arguments, int);
                ++p;
            } else {
                precision = readNumber(p);
            }
        }
        bool wide64 = false;
        char size = '\0';
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            wide64 = true;
            p += 3;
        } else if (*p == 'h' || *p == 'l') {
            size = *p++;
        } else if (*p == 'F' || *p == 'L' || *p == 'N') {
            ++p;
        }
        if (*p == '\0') { // an unfinished conversion adds nothing
            unfinished = conversion;
            break;
        }

        long long room = 0;
        bool textual = false;
        switch (*p) {
        case 'c':
        case 'C':
            va_arg(arguments, int);
            room = 2;
            textual = true;
            break;
        case 's':
        case 'S':
            if ((*p == 's' && size != 'l') || (*p == 'S' && size == 'h')) {
                const char* text = va_arg(arguments, const char*);
                room = text == nullptr ? 6 : larger(1, static_cast<long long>(std::strlen(text)));
            } else {
                const wchar_t* text = va_arg(arguments, const wchar_t*);
                room = text == nullptr ? 6 : larger(1, static_cast<long long>(std::wcslen(text)));
            }
            textual = true;
            break;
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (wide64)
                va_arg(arguments, long long);
            else
                va_arg(arguments, int);
            room = larger(32, width + precision);
            break;
        case 'p':
            va_arg(arguments, void*);
            room = larger(32, width + precision);
            break;
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            // "E", "a" and "A" are measured like "e": passing over their double as if it took
            // no argument would make the next conversion read it as a pointer.
            va_arg(arguments, double);
            room = larger(128, width + precision);
            break;
        case 'f': {
            double value = va_arg(arguments, double);
            int printed = std::snprintf(nullptr, 0, "%*.*f", static_cast<int>(width),
                                        static_cast<int>(larger(0, precision + 6)), value);
            room = printed > 0 ? printed : 0;
            break;
        }
        case 'n':
            va_arg(arguments, void*);
            break;
        default:
            break;
        }
        if (textual) {
            if (precision != 0 && room >= precision) room = precision;
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
    long long estimate = measure(pattern, measuring, unfinished);
    va_end(measuring);

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
