// The message box, the one dialog the system shows (see errors.h for the conventions).
#pragma once

#include <cstdint>

namespace platform {

// Button identifiers and styles, as Windows defines them.
constexpr int kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5;
constexpr uint32_t kMbOk = 0x0, kMbAbortRetryIgnore = 0x2, kMbIconError = 0x10,
                   kMbTaskModal = 0x2000, kMbTopmost = 0x40000;

// Shows text under caption with the given style and returns the identifier of the button
// pressed, or 0 when no box could be shown. owner is a window handle or null.
// On POSIX the text goes to standard error; an Abort/Retry/Ignore question is asked on the
// terminal when there is one and is otherwise answered as Ignore would be.
int messageBox(void* owner, const char* text, const char* caption, uint32_t style);

} // namespace platform
