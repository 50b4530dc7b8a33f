// A sequence of String operations (cursor moves, searches, editing, appending) read from the
// input, with the String's invariants checked after each: no block means all members zero; with
// a block, length is the text's length within the capacity and the cursor lies in the text.
#include "fuzz/fuzz_support.h"
#include "text/byte_string.h"
#include "text/error_exceptions.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// The input read byte by byte; short reads give zeros.
class Script {
  public:
    Script(const uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
    bool done() const { return p_ >= end_; }
    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    int small() { return static_cast<int8_t>(byte()); }
    // A text of up to 15 bytes (stopping at a NUL in the input).
    std::string text() {
        std::string out;
        for (int n = byte() % 16; n > 0 && p_ < end_; --n)
            out += static_cast<char>(*p_++);
        return out.c_str();
    }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
};

void check(const String& s) {
    if (s.data == nullptr) {
        if (s.length != 0 || s.capacity != 0 || s.cursor != nullptr)
            fuzzing::finding("a String without a block whose members are not all zero");
        return;
    }
    auto measured = static_cast<int>(std::strlen(s.data));
    if (s.capacity % 64 != 0 || measured > s.capacity)
        fuzzing::finding("a text beyond its capacity");
    if (s.length != measured) fuzzing::finding("a cached length that is not the text's");
    if (s.cursor != nullptr && (s.cursor < s.data || s.cursor > s.data + measured))
        fuzzing::finding("a cursor outside the text");
}

// A place in the text chosen by the script (null stands for the start or the end).
const char* place(String& s, Script& script) {
    int offset = script.byte();
    if (s.data == nullptr || offset == 255) return nullptr;
    int length = static_cast<int>(std::strlen(s.data));
    return s.data + offset % (length + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzzing::checkAllocations(fuzzing::kLargestRequest);
    Script script(data, size);
    String s, other;
    for (int step = 0; step < 64 && !script.done(); ++step) {
        try {
            switch (script.byte() % 20) {
            case 0:
                s.append(script.text().c_str());
                break;
            case 1: {
                // A count from -1 (up to the NUL) to the text's length: the caller's side of the
                // contract is that count bytes are there.
                std::string text = script.text();
                s.append(text.c_str(), script.byte() % (static_cast<int>(text.size()) + 2) - 1);
                break;
            }
            case 2:
                s.assign(script.text().c_str());
                break;
            case 3:
                script.byte() % 2 ? s.cursorToEnd() : s.cursorToStart();
                break;
            case 4:
                s.moveCursor(script.small(), script.byte() % 3);
                break;
            case 5:
                script.byte() % 2 ? s.nextChar() : s.prevChar();
                break;
            case 6: {
                int ch = script.byte();
                if (ch >= 0x81) ch = ch * 256 + script.byte();
                script.byte() % 2 ? s.findChar(ch) : s.findLastChar(ch);
                break;
            }
            case 7: {
                std::string set = script.text();
                script.byte() % 2 ? s.findAnyOf(set.c_str()) : s.skipChars(set.c_str());
                break;
            }
            case 8:
                s.compareNoCase(script.text().c_str());
                break;
            case 9: {
                const char* from = place(s, script);
                const char* to = place(s, script);
                s.copyRange(other, from, to);
                check(other);
                break;
            }
            case 10: {
                int count = script.small();
                s.erase(count, script.small());
                break;
            }
            case 11: {
                std::string pattern = script.text();
                s.replaceAll(pattern.c_str(), script.text().c_str());
                break;
            }
            case 12:
                s.removeChars(script.text().c_str());
                break;
            case 13: {
                std::string delimiters = script.text();
                s.nextToken(other, delimiters.c_str(), script.byte() % 2 != 0);
                check(other);
                break;
            }
            case 14:
                s.reserve(script.byte() * 4);
                break;
            case 15:
                s.clear();
                break;
            case 16:
                s.currentChar();
                s.isEmpty();
                break;
            case 17: {
                String copy(s);
                check(copy);
                s = std::move(copy);
                break;
            }
            case 18: // doubles the text, up to 64 KiB
                other.assign(s);
                if (s.length < (64 << 10)) s.append(other.data);
                break;
            case 19:
                s.appendFormat("%s|%d", script.text().c_str(), script.small());
                break;
            }
        } catch (const ZKException&) {
            // replaceAll without storage: the text is unchanged
        }
        check(s);
    }
    return 0;
}
