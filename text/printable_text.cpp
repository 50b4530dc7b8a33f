// The printable form of system text (see printable_text.h).
#include "text/printable_text.h"

#include "base/cp932.h"
#include "platform/utf8_text.h"

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// Whether one character (one or two bytes) of code page 932 has a Unicode form.
bool convertible(const char* character, int length) {
    char one[3] = {character[0], length == 2 ? character[1] : '\0', '\0'};
    char out[8];
    return platform::cp932ToUtf8(one, out, sizeof out) > 0;
}

void appendEscaped(std::string& out, unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

} // namespace

std::string printableText(const std::string& text, bool keepControls) {
    // Most texts are plain: ASCII without controls is printable as it is, and for the others one
    // conversion of the whole tells.
    bool controls = false, ascii = true;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        controls = controls || (!keepControls && isControl(byte));
        ascii = ascii && byte != 0 && byte < 0x80;
    }
    if (ascii && !controls) return text;
    if (!controls && text.find('\0') == std::string::npos) {
        std::string whole(text.size() * 3 + 1, '\0');
        if (text.empty() || platform::cp932ToUtf8(text.c_str(), &whole[0], whole.size()) >= 0)
            return text;
    }
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (byte == 0 || (!keepControls && isControl(byte)))
                appendEscaped(out, byte);
            else
                out += text[i];
            ++i;
            continue;
        }
        int length = cp932::isLeadByte(byte) && i + 1 < text.size() &&
                             cp932::isTrailByte(static_cast<unsigned char>(text[i + 1]))
                         ? 2
                         : 1;
        if (convertible(&text[i], length)) {
            out.append(text, i, static_cast<std::size_t>(length));
            i += static_cast<std::size_t>(length);
        } else {
            appendEscaped(out, byte); // the next byte gets a chance of its own
            ++i;
        }
    }
    return out;
}
