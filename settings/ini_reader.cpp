// The settings reader: readIniValue opens the file, loadText reads it whole with line ends made
// line feeds, findIniValue walks the text with the String cursor.
//
// The scan has a few habits that settings files in the field rely on, kept on purpose: after a
// header of another section it jumps straight to the next '[' anywhere further on (resuming one
// character before it); if the wanted header was not met by the end of the text it wraps once to
// the start; escapes are replaced before a line is split, so an escaped tab ends a key or value.
#include "settings/ini_reader.h"

#include "vfs/virtual_file.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

void String::loadText(VirtualFile& file) {
    clear();
    uint64_t whole = file.size();
    if (whole > static_cast<uint64_t>(INT_MAX - 64)) return; // no block could hold it
    auto n = static_cast<uint32_t>(whole);
    // The text ends at its first NUL. It is read in pieces into a block that grows with what
    // arrives, and reading stops at that NUL: a file whose size counts a long run of zeros (an
    // entry that inflated to fewer bytes than it declared) never has room taken for them.
    constexpr uint32_t kPiece = 64 * 1024;
    uint32_t got = 0;
    reserve(static_cast<int>(std::min(n, kPiece)));
    while (data != nullptr && got < n) {
        if (got == static_cast<uint32_t>(capacity)) {
            data[got] = '\0'; // growth copies the text up to here
            reserve(static_cast<int>(std::min<uint64_t>(n, uint64_t{got} * 2)));
            if (data == nullptr) return;
        }
        uint32_t delivered =
            file.read(data + got, std::min(n, static_cast<uint32_t>(capacity)) - got);
        if (delivered == 0) break; // a short read ends the text after what was read
        bool ended = std::memchr(data + got, '\0', delivered) != nullptr;
        got += delivered;
        if (ended) break;
    }
    if (data == nullptr) return;
    data[got] = '\0';
    cursor = data;
    length = byteLength();
    replaceAll("\r\n", "\n");
    replaceAll("\r", "\n");
}

void readIniValue(const char* section, const char* key, String& out, const char* fileName) {
    String text;
    {
        VirtualFile file;
        if (file.open(fileName, 0)) text.loadText(file);
    }
    findIniValue(section, key, out, text);
}

void findIniValue(const char* section, const char* key, String& out, String& text) {
    bool inSection = false;
    bool wrapped = false;
    long long sectionStart = -1;
    String line, name, token;

    for (;;) {
        if (text.nextToken(line, "\r\n", false) == nullptr) {
            if (wrapped) break;
            text.cursorToStart();
            wrapped = true;
            continue;
        }

        if (line.currentChar() == '[') {
            // The name runs to the first ']'; without one, to the line's last byte but one.
            line.cursorToStart();
            const char* end = line.findChar(']');
            if (end == nullptr) {
                line.cursorToEnd();
                end = line.moveCursor(-1, 1);
            }
            line.copyRange(name, line.data + 1, end);
            if (name.compareNoCase(section) == 0) {
                sectionStart = (text.cursor - text.data) - line.byteLength();
                inSection = true;
                wrapped = true;
                continue;
            }
            if (text.findChar('[') == nullptr) break;
            text.prevChar();
            continue;
        }
        if (!inSection || line.currentChar() == '\'') continue;

        line.replaceAll("\\\\n", "\n");
        line.replaceAll("\\\\t", "\t");
        line.cursorToStart();

        char* keyStart = line.skipChars("\t");
        if (keyStart == nullptr) continue;
        char* separator = line.findAnyOf("\t=");
        if (separator == nullptr) continue;
        line.copyRange(token, keyStart, separator);
        if (token.isEmpty()) continue;
        token.removeChars(" ");
        if (token.compareNoCase(key) != 0) continue;

        char* valueStart = line.skipChars("\t =");
        token.clear();
        if (valueStart != nullptr) {
            const char* valueEnd = line.findAnyOf("\t");
            if (valueEnd == nullptr) {
                line.cursorToEnd();
                valueEnd = line.cursor;
            }
            line.copyRange(token, valueStart, valueEnd);
        }
        if (token.isEmpty()) continue;
        out.assign(token);
        break;
    }
    if (sectionStart >= 0) text.moveCursor(static_cast<int>(sectionStart), 0);
}
