// Code page 932 text and UTF-8, converted the way the system converts them (see errors.h for
// the conventions).
#pragma once

#include <cstddef>

namespace platform {

// Converts code page 932 text to UTF-8 and back. The result is written to out (room bytes,
// NUL-terminated); returns the length written without the NUL, or -1 when the text is not valid
// in the source encoding, cannot be represented in the target one, or does not fit.
int cp932ToUtf8(const char* text, char* out, std::size_t room);
int utf8ToCp932(const char* text, char* out, std::size_t room);

} // namespace platform
