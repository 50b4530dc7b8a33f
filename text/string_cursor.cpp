// String: cursor moves, searches from the cursor, comparison and editing.
//
// Searches step by code page 932 characters (cp932.h), so a trail byte is never matched on its
// own. Cursor moves by offset and copyRange/erase work on bytes, as their callers expect.
// The editing operations build the new text in a temporary String and then take it over in a
// fresh block; if storage runs out on the way, the old text stays as it was.
#include "base/cp932.h"
#include "text/byte_string.h"
#include "text/error_exceptions.h"

#include <cstring>
#include <functional>

namespace {

// Whether p lies within [begin, end], compared as addresses (p may belong to another block).
bool within(const char* p, const char* begin, const char* end) {
    std::less_equal<const char*> le;
    return le(begin, p) && le(p, end);
}

} // namespace

char* String::moveCursorTo(const char* hit) {
    if (hit == nullptr) return nullptr; // a miss leaves the cursor where it was
    cursor = data + (hit - data);
    return cursor;
}

void String::cursorToEnd() {
    cursor = data != nullptr ? data + byteLength() : nullptr;
}

char* String::moveCursor(int offset, int origin) {
    long long target;
    if (origin == 0)
        target = offset;
    else if (origin == 1 && (cursor != nullptr || data == nullptr))
        target = static_cast<long long>(cursor - data) + offset;
    else
        return cursor;
    if (target >= 0 && target <= length) cursor = data + target;
    return cursor;
}

char* String::nextChar() {
    if (cursor != nullptr) cursor = cp932::next(cursor);
    return cursor;
}

char* String::prevChar() {
    if (cursor != nullptr) cursor = cp932::previous(data, cursor);
    return cursor;
}

int String::currentChar() const {
    if (cursor == nullptr) return 0;
    auto lead = static_cast<unsigned char>(cursor[0]);
    if (!cp932::isLeadByte(lead)) return lead;
    auto trail = static_cast<unsigned char>(cursor[1]);
    return cp932::isTrailByte(trail) ? lead * 256 + trail : 0;
}

char* String::findChar(int ch) {
    return cursor == nullptr ? nullptr
                             : moveCursorTo(cp932::findChar(cursor, static_cast<unsigned>(ch)));
}

char* String::findLastChar(int ch) {
    return cursor == nullptr ? nullptr
                             : moveCursorTo(cp932::findLastChar(cursor, static_cast<unsigned>(ch)));
}

char* String::findAnyOf(const char* set) {
    if (cursor == nullptr || set == nullptr) return nullptr;
    return moveCursorTo(cp932::findFirstOf(cursor, set));
}

char* String::skipChars(const char* set) {
    if (cursor == nullptr || set == nullptr) return nullptr;
    return moveCursorTo(cp932::findFirstNotOf(cursor, set));
}

int String::compareNoCase(const char* other) const {
    if (cursor == nullptr) return other == nullptr ? 0 : -1;
    if (other == nullptr) return 1;
    return cp932::compareNoCase(cursor, other);
}

void String::copyRange(String& out, const char* from, const char* to) const {
    const char* end = data != nullptr ? data + byteLength() : nullptr;
    if (from == nullptr) from = data;
    if (to == nullptr) to = end;
    if (std::less<const char*>()(to, from)) std::swap(from, to);
    if (!within(from, data, end) || !within(to, data, end)) return;
    out.clear();
    if (to != from) out.append(from, static_cast<int>(to - from));
}

char* String::erase(int count, int where) {
    int textLength = byteLength();
    if (count > textLength) {
        clear();
        return nullptr;
    }
    if (count < 0) return cursor; // removes nothing
    if (where != -1 && where >= 0 && where <= length) cursor = data + where;

    // P, the place of the cut; a null cursor cuts at the start.
    int at = cursor != nullptr ? static_cast<int>(cursor - data) : 0;
    if (at < 0 || at > textLength) at = textLength;

    String built(capacity);
    if (at > 0) built.append(data, at);
    if (count != 0 && at + count <= textLength) built.append(data + at + count, -1);
    int expected = (count != 0 && at + count <= textLength) ? textLength - count : at;
    if (built.byteLength() != expected || !takeText(built)) return cursor; // out of storage
    cursor = (data != nullptr && at <= length) ? data + at : data;
    return cursor;
}

void String::replaceAll(const char* pattern, const char* replacement) {
    if (data == nullptr || pattern == nullptr || pattern[0] == '\0') {
        cursor = data;
        return;
    }
    if (replacement == nullptr) replacement = "";
    size_t patternLength = std::strlen(pattern);
    size_t replacementLength = std::strlen(replacement);
    try {
        String built(capacity);
        size_t expected = 0;
        const char* copyFrom = data;
        const char* searchFrom = data;
        cursor = data;
        bool replaced = false;
        while (const char* hit = cp932::findSubstring(searchFrom, pattern)) {
            replaced = true;
            cursor = data + (hit - data);
            if (hit > copyFrom) built.append(copyFrom, static_cast<int>(hit - copyFrom));
            built.append(replacement, -1);
            expected += static_cast<size_t>(hit - copyFrom) + replacementLength;
            copyFrom = searchFrom = hit + patternLength;
        }
        if (!replaced) {
            cursor = data;
            return;
        }
        built.append(copyFrom, -1);
        expected += std::strlen(copyFrom);
        if (static_cast<size_t>(built.byteLength()) != expected || !takeText(built))
            throw ZKException(0xFFFFFFFFu);
    } catch (...) {
        // Whatever went wrong, the text is unchanged and the caller sees one exception type.
        throw ZKException(0xFFFFFFFFu);
    }
    cursor = data;
}

void String::removeChars(const char* set) {
    if (set == nullptr) return;
    String built;
    size_t expected = 0;
    const char* copyFrom = data;
    bool tailKept = true;
    while (cursor != nullptr) {
        const char* hit = cp932::findFirstOf(cursor, set);
        if (hit == nullptr) break;
        cursor = data + (hit - data);
        if (hit > copyFrom) {
            built.append(copyFrom, static_cast<int>(hit - copyFrom));
            expected += static_cast<size_t>(hit - copyFrom);
        }
        const char* after = cp932::findFirstNotOf(hit, set);
        if (after == nullptr) { // the characters of set run to the end
            tailKept = false;
            break;
        }
        cursor = data + (after - data);
        copyFrom = after;
    }
    if (tailKept && copyFrom != nullptr) {
        built.append(copyFrom, -1);
        expected += std::strlen(copyFrom);
    }
    if (static_cast<size_t>(built.byteLength()) != expected || !takeText(built)) return;
    cursor = data;
}

char* String::nextToken(String& out, const char* delimiters, bool keepDelimiter) {
    if (cursor == nullptr || delimiters == nullptr) return nullptr;
    const char* start = cp932::findFirstNotOf(cursor, delimiters);
    if (start == nullptr) return nullptr;
    cursor = data + (start - data);
    if (const char* delimiter = cp932::findFirstOf(start, delimiters))
        cursor = data + (delimiter - data);
    else
        cursor = data + (start - data) + std::strlen(start);
    if (keepDelimiter) cursor = cp932::next(cursor);

    int n = static_cast<int>(cursor - start);
    out.assign(nullptr, n + 1);
    if (out.data != nullptr) {
        size_t copied = cp932::boundedCopy(out.data, start, static_cast<size_t>(n));
        out.data[copied] = '\0';
        out.length = static_cast<int>(copied);
        out.cursor = out.data;
    }
    return data + (start - data);
}
