// JSON string literals for names in system text.
#pragma once

#include <string>

namespace pak {

// The JSON string literal, quotes included, of a system-text name. The literal is pure ASCII,
// so it reads the same whatever encoding the output is taken in: every character beyond ASCII
// and every control character is a \uXXXX escape (a surrogate pair beyond U+FFFF).
//   raw false: the name's characters, converted to Unicode; a byte without a Unicode form shows
//              as the text \xNN (printableText, text/printable_text.h).
//   raw true:  each byte as the code point of the same value (0x95 becomes \u0095), so that
//              the literal gives back the name's exact bytes.
std::string jsonString(const std::string& text, bool raw);

} // namespace pak
