#include "base/cp932_unicode.h"

#include "base/cp932.h"
#include "base/cp932_tables.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace cp932 {

namespace {

unsigned codeOfSlot(int slot) {
    if (slot < 256) return static_cast<unsigned>(slot);
    int row = (slot - 256) / 192;
    auto trail = static_cast<unsigned>(slot - 256) % 192;
    return leadByteAt(row) * 256 + 0x40 + trail;
}

// Unit to code, for the whole Basic Multilingual Plane, made once from the decoding table.
const std::vector<uint16_t>& encodingTable() {
    static const std::vector<uint16_t> table = [] {
        std::vector<uint16_t> codes(0x10000, tables::kNone);
        for (int slot = 0; slot < tables::kSlotCount; ++slot) {
            uint16_t unit = tables::kUnicode[slot];
            unsigned code = codeOfSlot(slot);
            if (unit == tables::kNone ||
                std::binary_search(tables::kDecodeOnly,
                                   tables::kDecodeOnly + tables::kDecodeOnlyCount, code))
                continue;
            codes[unit] = static_cast<uint16_t>(code);
        }
        for (const auto& pair : tables::kLooseOnly)
            codes[pair[1]] = pair[0];
        return codes;
    }();
    return table;
}

void appendUtf8(std::string& out, unsigned unit) {
    if (unit < 0x80) {
        out += static_cast<char>(unit);
    } else if (unit < 0x800) {
        out += static_cast<char>(0xC0 | unit >> 6);
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | unit >> 12);
        out += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

// The next code point of well-formed UTF-8 at text[i], advancing i; kNoCharacter when the
// bytes there are not well-formed.
unsigned nextCodePoint(const unsigned char* text, std::size_t length, std::size_t& i) {
    unsigned lead = text[i++];
    if (lead < 0x80) return lead;
    int extra = lead >= 0xC2 && lead <= 0xDF   ? 1
                : lead >= 0xE0 && lead <= 0xEF ? 2
                : lead >= 0xF0 && lead <= 0xF4 ? 3
                                               : 0;
    if (extra == 0 || length - i < static_cast<std::size_t>(extra)) return kNoCharacter;
    unsigned point = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        unsigned next = text[i++];
        if ((next & 0xC0) != 0x80) return kNoCharacter;
        point = point << 6 | (next & 0x3F);
    }
    bool overlong = (extra == 2 && point < 0x800) || (extra == 3 && point < 0x10000);
    bool surrogate = point >= 0xD800 && point <= 0xDFFF;
    if (overlong || surrogate || point > 0x10FFFF) return kNoCharacter;
    return point;
}

} // namespace

unsigned unicodeOf(unsigned code) {
    int slot = tables::slotOf(code);
    if (slot < 0 || tables::kUnicode[slot] == tables::kNone) return kNoCharacter;
    return tables::kUnicode[slot];
}

unsigned fileNameUnicodeOf(unsigned code) {
    unsigned unit = unicodeOf(code);
    if (unit != kNoCharacter || code >= 0x100) return unit;
    for (const auto& pair : tables::kLooseOnly)
        if (pair[0] == code) return pair[1];
    return kNoCharacter;
}

unsigned codeOf(unsigned unit) {
    if (unit < 0x80) return unit;
    if (unit > 0xFFFF) return kNoCharacter;
    uint16_t code = encodingTable()[unit];
    return code == tables::kNone ? kNoCharacter : code;
}

bool toUtf8(const char* text, std::size_t length, std::string& out, bool fileName) {
    out.clear();
    out.reserve(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        // A run of ASCII, most of almost any text, passes whole.
        std::size_t run = i;
        while (run < length && bytes[run] < 0x80)
            ++run;
        if (run > i) {
            out.append(text + i, run - i);
            i = run;
            continue;
        }
        unsigned code = bytes[i++];
        if (isLeadByte(static_cast<unsigned char>(code))) {
            if (i == length) return false;
            code = code * 256 + bytes[i++];
        }
        unsigned unit = fileName ? fileNameUnicodeOf(code) : unicodeOf(code);
        if (unit == kNoCharacter) return false;
        appendUtf8(out, unit);
    }
    return true;
}

bool fromUtf8(const char* text, std::size_t length, std::string& out) {
    out.clear();
    out.reserve(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            out += static_cast<char>(bytes[i++]);
            continue;
        }
        unsigned code = codeOf(nextCodePoint(bytes, length, i));
        if (code == kNoCharacter) return false;
        if (code > 0xFF) out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
    }
    return true;
}

} // namespace cp932
