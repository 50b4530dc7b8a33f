// The settings reader: one value of an INI-style settings file in code page 932, such as the
// Name and Title of section 設定 in GAME.INI.
//
// Format as the reader understands it: lines end in LF, CR LF or CR, and empty lines do not
// count. A line that starts with '[' is a section header; its name runs to the first ']' (or,
// without one, to the line's last byte but one) and is compared without regard to case. Inside
// the wanted section, a line starting with an apostrophe is a comment; otherwise the key runs
// from the first character that is not a tab to the first tab or '=', with every space removed,
// and the value from the first character after that which is not a tab, space or '=' up to the
// next tab or the end of the line. The three-byte sequences \\n and \\t (two backslashes and a
// letter) become a line feed and a tab before the line is split. The first non-empty value of a
// matching key wins.
#pragma once

#include "text/byte_string.h"

class VirtualFile;

// Opens fileName through the virtual file system (loose file or archive entry, with the file
// prompt when it is missing) and assigns the value of key in section to out. Leaves out
// untouched when the file, section or key is missing or every matching value is empty. Lets
// through what open throws (ZKErrorException on Abort, or a failed decompression).
void readIniValue(const char* section, const char* key, String& out, const char* fileName);

// Looks the value up in text, starting at text's cursor, which it leaves on the last wanted
// section header read. Assigns out as readIniValue does.
void findIniValue(const char* section, const char* key, String& out, String& text);
