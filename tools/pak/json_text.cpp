// JSON string literals (see json_text.h).
#include "tools/pak/json_text.h"

#include "platform/utf8_text.h"
#include "text/printable_text.h"

#include <cstdint>

namespace pak {

namespace {

void appendUnit(std::string& out, unsigned unit) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(unit >> shift) & 0xF];
}

void appendCodePoint(std::string& out, uint32_t code) {
    switch (code) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    default:
        break;
    }
    if (code >= 0x20 && code < 0x7F) {
        out += static_cast<char>(code);
    } else if (code < 0x10000) {
        appendUnit(out, code);
    } else {
        code -= 0x10000;
        appendUnit(out, 0xD800 + (code >> 10));
        appendUnit(out, 0xDC00 + (code & 0x3FF));
    }
}

// Decodes well-formed UTF-8 (as the converter produces it) into code points.
void appendUtf8(std::string& out, const std::string& utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        auto lead = static_cast<unsigned char>(utf8[i]);
        int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        appendCodePoint(out, code);
        i += static_cast<std::size_t>(extra) + 1;
    }
}

} // namespace

std::string jsonString(const std::string& text, bool raw) {
    std::string out = "\"";
    if (raw) {
        for (char c : text)
            appendCodePoint(out, static_cast<unsigned char>(c));
    } else {
        std::string shown = printableText(text, true);
        std::string utf8(shown.size() * 3 + 1, '\0');
        int length = platform::cp932ToUtf8(shown.c_str(), &utf8[0], utf8.size());
        utf8.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        appendUtf8(out, utf8);
    }
    out += '"';
    return out;
}

} // namespace pak
