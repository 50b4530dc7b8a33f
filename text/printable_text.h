// The printable form of system text (code page 932): what can be shown to a person whatever
// bytes the text holds. Names come from archives and directories that may hold anything, and
// they are printed on terminals and shown as file names, so a byte that is not a character, or
// a control character, must never pass as it is.
#pragma once

#include <string>

// The text with every character that has no Unicode form (a broken double-byte character, an
// unassigned code) and, unless keepControls, every control character written as \xNN, so that
// it can always be converted and never drives a terminal.
std::string printableText(const std::string& text, bool keepControls = false);
