// Converting arguments and output at the edge of the tool (see console_text.h).
#include "tools/pak/console_text.h"

#include "base/cp932.h"
#include "platform/platform.h"
#include "tools/pak/failure.h"

namespace pak {

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

using Conversion = bool (*)(const char* text, std::string& out);

// hint: what to say about --raw, which applies to names and texts but not to paths.
std::string converted(Conversion convert, const std::string& argument, const char* what,
                      const char* hint) {
    std::string out;
    if (argument.find('\0') != std::string::npos || !convert(argument.c_str(), out))
        throw Failure(kUsage, std::string("the ") + what +
                                  " argument has characters that Shift-JIS does not have" + hint);
    return out;
}

} // namespace

std::string Console::path(const std::string& argument, const char* what) const {
    return converted(platform::hostToSystemPath, argument, what, "");
}

std::string Console::text(const std::string& argument, const char* what) const {
    return raw_ ? argument
                : converted(platform::hostToSystemText, argument, what,
                            " (--raw takes it as Shift-JIS bytes)");
}

std::string Console::printable(const std::string& text, bool keepControls) {
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

namespace {
constexpr std::size_t kBlock = 64 * 1024;
} // namespace

void Console::gather(const std::string& text) const {
    gathered_ += text;
    if (gathered_.size() >= kBlock) flush();
}

void Console::flush() const {
    if (gathered_.empty()) return;
    // Printable text always converts, so a failure here is the output's own.
    if (!platform::writeText(stdout, gathered_.data(), gathered_.size())) outputFailed_ = true;
    gathered_.clear();
}

void Console::print(const std::string& text, bool keepControls) const {
    if (!raw_) {
        gather(printable(text, keepControls));
        return;
    }
    flush();
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) outputFailed_ = true;
}

void Console::printAscii(const std::string& text) const {
    gather(text); // ASCII is printable system text as it is
}

void Console::error(const std::string& message) const {
    flush();
    std::fflush(stdout); // what came before the problem is seen before it
    std::string line = "pak: " + printable(message) + "\n";
    if (!platform::writeText(stderr, line.data(), line.size()))
        std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

bool Console::outputFailed() const {
    flush();
    return outputFailed_ || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
}

} // namespace pak
