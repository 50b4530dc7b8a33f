// A file written under a temporary name and renamed into place only once it is complete, so
// that a failure never leaves a half-written file where the finished one belongs.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace pak {

class TemporaryFile {
  public:
    // Creates a new file in directory (system text; empty for the current directory) with a
    // name of the form .pak-N.tmp that nothing has yet. Throws Failure (kCorrupt) naming
    // purpose when no file can be created there.
    TemporaryFile(const std::string& directory, const std::string& purpose);
    // Removes the file unless it was moved into place.
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const { return path_; }
    std::FILE* stream() { return stream_; }

    // Writes size bytes; throws Failure (kCorrupt) naming purpose when they cannot be written.
    void write(const void* data, std::size_t size);
    // Closes the file, then gives it the name target: replacing what is there with replace,
    // failing when something is there without it. Throws Failure (kCorrupt) when the data
    // cannot be flushed or the file cannot be renamed; the temporary file is then removed.
    void moveTo(const std::string& target, bool replace);

  private:
    void close();

    std::string path_;
    std::string purpose_;
    std::FILE* stream_ = nullptr;
    bool moved_ = false;
};

} // namespace pak
