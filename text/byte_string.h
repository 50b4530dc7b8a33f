// String: the system's one text type. An owned, growable, NUL-terminated byte string in code
// page 932 that carries a scan position, its cursor.
//
// Storage grows in steps of 64 bytes; `capacity` counts the text bytes the block can hold, the
// block itself has one more byte for the terminator. A String without a block has all four
// members zero. `length` is the text's length as last set by a String operation (a caller that
// writes through `data` itself does not update it); `byteLength` always measures.
//
// The operations are split over three files: byte_string.cpp (storage, appending, assigning),
// string_cursor.cpp (cursor moves, searches, editing) and string_format.cpp (printf-style
// formatting). `loadText` belongs to the settings reader, `readFrom` to the archive format.
//
// When storage cannot be obtained, a String is left without a block and nothing is written.
#pragma once

#include <cstdarg>
#include <cstdint>

class VirtualFile;

// The owner window given to message boxes that are shown with owner 0. Nothing sets it, so
// such boxes have no owner.
extern void* defaultOwnerWindow;

class String {
  public:
    char* data = nullptr;   // the text and its NUL, or null when there is no block
    int32_t capacity = 0;   // text bytes the block can hold; 0 or a multiple of 64
    int32_t length = 0;     // byte length as last set by a String operation
    char* cursor = nullptr; // scan position between data and the NUL, or null

    // ---- Construction and storage -----------------------------------------------------
    String() = default;
    // A block with room for reserveSize bytes holding an empty text, cursor at its start;
    // -1 gives a String without a block.
    explicit String(int reserveSize);
    // A copy of count bytes of text (-1: up to its NUL).
    explicit String(const char* text, int count = -1);
    String(const String& other);
    String(String&& other) noexcept;
    String& operator=(const String& other) { return assign(other); }
    String& operator=(String&& other) noexcept;
    String& operator=(const char* text) { return assign(text); }
    String& operator+=(const char* text) { return append(text); }
    virtual ~String();

    // Makes the block able to hold needed text bytes: the new capacity is the smallest
    // multiple of 64 above needed, and the block only ever grows. A cursor inside the text
    // keeps its offset.
    void reserve(int needed);
    // Releases the block; all members zero.
    void clear();

    // ---- Appending and assigning ------------------------------------------------------
    // Appends count bytes of text (-1: up to its NUL). A null text with a count of 0 or more
    // empties the text and makes room for count bytes; the cursor then stands at data.
    void append(const char* text, int count);
    String& append(const char* text) {
        append(text, -1);
        return *this;
    }
    // Replaces the text (assigning a String's own data to it changes nothing).
    void assign(const char* text, int count);
    String& assign(const char* text);
    String& assign(const String& other);

    // ---- Queries ----------------------------------------------------------------------
    int isEmpty() const { return data == nullptr || data[0] == '\0'; }
    int byteLength() const;

    // Shows the text in a message box with the topmost style added; owner 0 means
    // defaultOwnerWindow. Returns the button pressed.
    int showMessage(void* owner, const char* caption, uint32_t type) const;

    // ---- Cursor (string_cursor.cpp) ---------------------------------------------------
    void cursorToStart() { cursor = data; }
    void cursorToEnd();
    // Moves to data + offset (origin 0) or cursor + offset (origin 1) when that lies within
    // the text, its end included; otherwise, and for other origins, stays.
    char* moveCursor(int offset, int origin);
    char* nextChar();
    char* prevChar();
    // The character at the cursor: its byte, lead * 256 + trail for a double-byte character,
    // 0 at the end, for a broken double-byte character and for a null cursor.
    int currentChar() const;

    // ---- Searches from the cursor: a hit moves the cursor there ----------------------
    char* findChar(int ch);
    char* findLastChar(int ch);
    char* findAnyOf(const char* set);
    char* skipChars(const char* set);
    // Compares the text from the cursor with other, without regard to case.
    int compareNoCase(const char* other) const;

    // ---- Editing ----------------------------------------------------------------------
    // Copies the bytes from..to (null: start, end) into out, which must be another String.
    void copyRange(String& out, const char* from, const char* to) const;
    // Removes count bytes at where (-1: at the cursor); count 0 cuts the text off there.
    char* erase(int count, int where);
    // Replaces every occurrence of pattern, left to right. Throws ZKException (code -1) if the
    // new text cannot be built; the text is then unchanged.
    void replaceAll(const char* pattern, const char* replacement);
    // Removes the characters of set from the cursor on.
    void removeChars(const char* set);
    // The next token between delimiters, copied into out; its start in this text, or null.
    char* nextToken(String& out, const char* delimiters, bool keepDelimiter);

    // ---- Formatting (string_format.cpp) -----------------------------------------------
    void appendFormat(const char* pattern, ...);
    void format(const char* pattern, ...);
    void appendFormatV(const char* pattern, va_list arguments);

    // ---- Reading from files -----------------------------------------------------------
    // The whole content of an open file with every line end made one line feed
    // (settings/ini_reader.cpp).
    void loadText(VirtualFile& file);
    // One length-prefixed name of an archive directory (vfs/pak_format.cpp). Returns 1 when
    // the name was read whole, 0 when its length is negative or longer than what is left of
    // the file, or the file ends early; the text then holds only the bytes actually read.
    int readFrom(VirtualFile& file);
    // The same, for a caller that knows how many bytes the file holds from its position on
    // (bytesLeft), so that the file need not be measured for every name.
    int readFrom(VirtualFile& file, uint64_t bytesLeft);

  private:
    // The searches' common end: a hit (a place in this text) becomes the cursor and is
    // returned; a miss (null) leaves the cursor alone and returns null.
    char* moveCursorTo(const char* hit);
    // Replaces the text by that of built, in a fresh block sized for it. False, with the text
    // unchanged, when no block can be had.
    bool takeText(const String& built);
};
