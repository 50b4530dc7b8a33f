// The settings reader: readIniValue opens the file, loadText reads it whole with line ends made
// line feeds, findIniValue walks the text with the String cursor.
//
// The scan has a few habits that settings files in the field rely on, kept on purpose: after a
// header of another section it jumps straight to the next '[' anywhere further on (resuming one
// character before it); if the wanted header was not met by the end of the text it wraps once to
// the start; escapes are replaced before a line is split, so an escaped tab ends a key or value.
#include "settings/ini_reader.h"

#include "vfs/virtual_file.h"

#include <climits>

void String::loadText(VirtualFile& file) {
    clear();
    uint32_t n = file.size();
    if (n > static_cast<uint32_t>(INT_MAX - 64)) return; // no block could hold it
    reserve(static_cast<int>(n));
    if (data == nullptr) return;
    uint32_t got = file.read(data, n);
    data[got] = '\0'; // a short read ends the text after what was read
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
