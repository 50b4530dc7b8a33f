// printf-style formatting that reads the same patterns on every platform (see errors.h for the
// conventions).
#pragma once

#include <cstdarg>
#include <cstddef>

namespace platform {

// Formats pattern with args into buffer (room bytes, room may be 0) the way the platform's
// printf family does, writing at most room bytes including the terminating NUL. Returns the
// length the whole result has (so a result of room or more means it was cut short), or a
// negative value when the pattern cannot be formatted. The length modifiers of glibc's and of
// Microsoft's formatters are understood on every platform: hh h l ll q L j z Z t, I I32 I64 w.
int formatText(char* buffer, std::size_t room, const char* pattern, va_list args);

} // namespace platform
