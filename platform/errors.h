// The platform layer: the one door between the portable core and the operating system, one
// header per concern (errors.h, file_system.h, streams.h, file_search.h, sort_order.h,
// console.h, memory.h, format_text.h, utf8_text.h, message_box.h, directory.h,
// removal_on_interrupt.h, served_tree.h).
//
// Two back ends implement it and CMake picks one: platform_win32.cpp and its kin call the ANSI
// Windows functions, platform_posix.cpp and its kin map every call onto Linux. Nothing outside
// platform/ includes windows.h or a POSIX header. Every operation that reaches the system goes
// through the table of system calls (system_calls.h), which only the back ends and the tests
// see.
//
// Conventions that hold for every function of the layer unless it says otherwise:
//  - Text and paths are code page 932 (Shift-JIS) bytes, NUL-terminated, with the backslash as
//    the only path separator. The POSIX back end converts them to UTF-8 paths with '/' at this
//    boundary, with Microsoft's table (base/cp932_unicode.h), and converts what it hands back
//    the other way; a name that cannot be converted counts as not found.
//  - File names are found whatever their case, as on Windows (by cp932::foldFileNameCase):
//    every function that takes a path finds each component of it on POSIX the way Windows
//    would. A name that exists as given is taken as it is; otherwise the entry whose name is
//    the same without regard to case, the first by character codes when there are several
//    (GAME.INI before Game.ini before game.ini); a name that matches nothing is created as
//    given. So creating, renaming to or opening for writing a name that exists in another case
//    meets that file, as on Windows.
//  - Nothing here throws. Failures are return values, and the functions that touch the file
//    system leave the thread's last error (see lastError) set the way Windows would.
//  - Pointers passed in are borrowed for the call only.
#pragma once

#include <cstdint>

namespace platform {

// The calling thread's last system error code, in Windows terms (2 = file not found,
// 3 = path not found, 5 = access denied, ...); 0 when nothing has failed yet.
uint32_t lastError();

// Sets the calling thread's last system error code.
void setLastError(uint32_t code);

} // namespace platform
