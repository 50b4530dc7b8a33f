// Code page 932 and Unicode: Microsoft's table, the one MultiByteToWideChar and
// WideCharToMultiByte use for code page 932 (without best fit), generated from what Windows
// reports (cp932_tables.h). Every character of code page 932 is one UTF-16 unit.
//
// Where two codes name one character (the NEC and IBM duplicates, such as 0x8790 and 0x81E0
// for U+2252), both decode to it and the one WideCharToMultiByte chooses is written. Characters
// the table lacks are refused, never replaced by a look-alike: U+00A5 (yen) does not become
// 0x5C, the backslash.
#pragma once

#include <cstddef>
#include <string>

namespace cp932 {

// No character (the result of unicodeOf and codeOf when there is none).
constexpr unsigned kNoCharacter = 0xFFFFFFFFu;

// The UTF-16 unit of the character with this code, as text is decoded (MultiByteToWideChar
// with MB_ERR_INVALID_CHARS), or kNoCharacter. A lead byte on its own has none.
unsigned unicodeOf(unsigned code);

// The same for file names, which Windows decodes more leniently: the single bytes 0xA0 and
// 0xFD-0xFF, which text refuses, are the private-use units U+F8F0-U+F8F3 there.
unsigned fileNameUnicodeOf(unsigned code);

// The code WideCharToMultiByte writes for a UTF-16 unit, or kNoCharacter.
unsigned codeOf(unsigned unit);

// Converts length bytes of code page 932 text to UTF-8 (fileName: decoded as file names are).
// False, with out meaning nothing, when a code has no character, a lead byte ends the text or
// is followed by a byte that is no trail byte.
bool toUtf8(const char* text, std::size_t length, std::string& out, bool fileName = false);

// Converts length bytes of UTF-8 to code page 932. False when the UTF-8 is ill-formed (overlong
// forms and surrogates included) or a character has no code.
bool fromUtf8(const char* text, std::size_t length, std::string& out);

} // namespace cp932
