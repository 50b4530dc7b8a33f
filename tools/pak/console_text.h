// The edge between the system's text (code page 932) and the person at the terminal: arguments
// come in, names, values and messages go out.
//
// On POSIX the terminal speaks UTF-8, so arguments are converted to code page 932 and what is
// printed is converted back. On Windows the arguments arrive in code page 932 already and the
// platform layer writes the console in UTF-16. With --raw, names and values pass as bytes both
// ways, for the ones that have no form in the other encoding. Paths of files on this machine are
// always converted: the platform layer takes them in code page 932 and turns them back into
// the host's own names.
#pragma once

#include <cstdio>
#include <string>

namespace pak {

class Console {
  public:
    explicit Console(bool raw = false) : raw_(raw) {}

    bool raw() const { return raw_; }
    void setRaw(bool raw) { raw_ = raw; }

    // An argument that names a file or directory of this machine, as a system path: system text
    // whose separators are all backslashes, whichever the user typed, so that the path can be
    // taken apart (system_path.h). what says which argument it is, for the message of the
    // Failure (kUsage) thrown when it cannot be converted.
    std::string path(const std::string& argument, const char* what) const;
    // An argument that is an entry name, a section, a key or a text: converted like a path, or
    // taken as it is with --raw.
    std::string text(const std::string& argument, const char* what) const;

    // Writes system text to standard output: with --raw its bytes unchanged, otherwise in its
    // printable form (printableText) converted for the terminal. keepControls leaves control
    // characters alone (for settings values, which may hold tabs and line feeds).
    //
    // Output is gathered and written in blocks of about 64 KiB (a listing of many entries is
    // then a few large writes, not three per line), and before anything goes to standard error,
    // at flush, and at outputFailed.
    void print(const std::string& text, bool keepControls = false) const;
    // Writes ASCII to standard output as it is.
    void printAscii(const std::string& text) const;
    // Writes "pak: " and the printable form of a one-line system-text message to standard
    // error.
    void error(const std::string& message) const;
    // Writes what standard output has gathered.
    void flush() const;

    // Whether everything written to standard output got there; checked once at the end.
    bool outputFailed() const;

  private:
    // Adds converted text to what is gathered, writing it when there is enough.
    void gather(const std::string& text) const;

    bool raw_;
    mutable std::string gathered_; // printable system text not yet written
    mutable bool outputFailed_ = false;
};

} // namespace pak
