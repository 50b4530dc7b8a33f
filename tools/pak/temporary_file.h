// A file written under a temporary name and renamed into place only once it is complete, so
// that a failure never leaves a half-written file where the finished one belongs. The file is
// made in a directory held open (platform/directory.h) and renamed within it, so that the
// directory cannot be swapped for another, or for a link, between the two. Until then an
// interruption of the program (Ctrl-C, SIGTERM, SIGHUP) removes it before the program ends
// (platform/removal_on_interrupt.h).
#pragma once

#include "platform/directory.h"
#include "platform/removal_on_interrupt.h"

#include <cstddef>
#include <cstdio>
#include <string>

namespace pak {

class TemporaryFile {
  public:
    // Opens directory (a system path; empty for the current directory), where the temporary
    // files for purpose are to be made. Throws Failure (kCorrupt) as the constructor does when
    // it cannot be opened.
    static platform::Directory directoryFor(const std::string& directory,
                                            const std::string& purpose);

    // Creates a new file in directory, which must stay open while this object lives, with a
    // name of the form .pak-N.tmp that nothing has yet. purpose is the path of the file being
    // made, for messages. Throws Failure (kCorrupt) naming purpose when no file can be created.
    TemporaryFile(const platform::Directory& directory, const std::string& purpose);
    // Removes the file unless it was moved into place.
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    std::FILE* stream() { return stream_; }

    // Writes size bytes; throws Failure (kCorrupt) naming purpose when they cannot be written.
    void write(const void* data, std::size_t size);
    // Closes the file, then gives it the name name in its directory: replacing what is there
    // with replace (a link is replaced itself, never followed), failing when something is there
    // without it (Failure kUsage). Throws Failure (kCorrupt) when the data cannot be flushed or
    // the file cannot be renamed; the temporary file is then removed.
    void moveTo(const std::string& name, bool replace);

  private:
    const platform::Directory& directory_;
    std::string name_; // within directory_
    std::string purpose_;
    std::FILE* stream_ = nullptr;
    bool moved_ = false;
    platform::RemovalOnInterrupt removal_; // disarmed after the file is renamed or removed
};

} // namespace pak
