// Converting arguments and output at the edge of the tool (see console_text.h).
#include "tools/pak/console_text.h"

#include "archive/failure.h"
#include "platform/console.h"
#include "text/printable_text.h"

namespace pak {

namespace {

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
        gather(printableText(text, keepControls));
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
    std::string line = "pak: " + printableText(message) + "\n";
    if (!platform::writeText(stderr, line.data(), line.size()))
        std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

bool Console::outputFailed() const {
    flush();
    return outputFailed_ || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
}

} // namespace pak
