// The program's command line and its console: host text in, system text out (see errors.h for
// the conventions).
//
// The host's text encoding is the one of command lines, terminals and text files on this
// system: UTF-8 on POSIX; on Windows the ANSI code page, code page 932 here, so that host text
// and system text are the same bytes there and only the console itself is written in UTF-16.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// Fills out with the program's arguments after its own name, in the host's encoding: on POSIX
// the bytes of argv unchanged; on Windows the wide command line (argc and argv are not used)
// converted to code page 932. False when an argument holds a character that code page 932 does
// not have (Windows only); out then holds the arguments before it.
bool commandLineArguments(int argc, char** argv, std::vector<std::string>& out);

// Converts host text (an argument) to system text. POSIX: UTF-8 to code page 932; Windows: the
// bytes unchanged. False (out then means nothing) when the text is not valid in the host's encoding
// or holds a character that code page 932 does not have.
bool hostToSystemText(const char* text, std::string& out);

// Converts a host path (an argument naming a file or directory) to a system path: the text as
// hostToSystemText converts it, with every separator of the host written as the backslash
// ('/' on POSIX; on Windows, which takes both, '/' as well). False as for hostToSystemText.
bool hostToSystemPath(const char* path, std::string& out);

// A system path as people on this host write paths, for messages: on POSIX every backslash
// that separates components becomes '/' (a trail byte 0x5C stays what it is); on Windows the
// path unchanged. Still system text, for writeText.
std::string shownPath(const std::string& path);

// Writes length bytes of system text to stream (standard output or standard error) for a person
// to read: POSIX converts it to UTF-8; Windows writes it to a console through the console's
// UTF-16 interface and to anything else (a file, a pipe) as it is. False when the text is not
// valid code page 932 (nothing is written then) or writing fails.
bool writeText(std::FILE* stream, const char* text, std::size_t length);

// Whether stream is an interactive terminal (on Windows: a console; the NUL device is none).
// For standard output and standard error this is decided once, by setUpStandardOutput or at
// the first question.
bool isTerminal(std::FILE* stream);

// For a program that writes much to standard output: decides once whether standard output and
// standard error are terminals, and gives standard output a buffer of 64 KiB when it is not
// one, so that it is written in large blocks whatever it goes to (Windows leaves a character
// device such as NUL unbuffered, a write per character). Call before anything is written.
void setUpStandardOutput();

// Puts stream into binary mode, so that bytes written pass unchanged (Windows translates line
// feeds in text mode; POSIX has nothing to do). False on failure.
bool setBinaryMode(std::FILE* stream);

} // namespace platform
