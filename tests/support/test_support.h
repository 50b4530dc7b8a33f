// Helpers shared by the test suites: temporary directories, files written and read through the
// system's own paths (code page 932, backslashes), and a recorder that stands in for the
// message box.
#pragma once

#include "platform/system_calls.h"

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh, empty directory below the system's temporary directory, removed with everything in
// it when the object goes. Its name is ASCII, so it has the same bytes on every platform.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory as the system writes paths: code page 932 with backslashes.
    const std::string& path() const { return systemPath_; }
    // path() + "\" + name.
    std::string operator/(const std::string& name) const { return systemPath_ + "\\" + name; }

  private:
    std::filesystem::path hostPath_;
    std::string systemPath_;
};

// Makes dir the current directory for the object's lifetime.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const TempDir& dir);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

// The host's own path (for std::filesystem) of a system path.
std::filesystem::path hostPath(const std::string& systemPath);

// The files (and links) below the directory dir (a system path), as system paths relative to
// it, sorted; directories are walked, not listed.
std::vector<std::string> filesBelow(const std::string& dir);

// Writes bytes to, and reads bytes from, a file named by a system path (relative paths are
// taken against the current directory). writeFile creates the missing directories.
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
void makeDirectory(const std::string& path);
void removeFile(const std::string& path);

// n bytes that zlib cannot shrink, the same for the same seed.
std::string randomBytes(std::size_t n, unsigned seed);

// One message box that a test answered.
struct ShownMessage {
    void* owner;
    std::string text;
    std::string caption;
    unsigned style;
};

// Stands in for the message box while it exists: records every box and answers each with the
// next scripted button (Ignore once the script runs out, so no test can loop forever).
class MessageBoxRecorder {
  public:
    explicit MessageBoxRecorder(std::vector<int> answers = {});
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<ShownMessage>& shown() const;
    // Runs before the answer to the box with this index is returned (for example to put a
    // missing file in place before a Retry).
    void onShow(std::size_t index, void (*action)());
};

// Keeps the platform's table of system calls as it was when the object was made, and puts it
// back when the object goes: a test changes entries of platform::systemCalls() to inject faults
// and cannot leave them behind. original() gives the entries as they were, for wrappers that
// fail some calls and pass the others on.
class SystemCallsGuard {
  public:
    SystemCallsGuard() : saved_(platform::systemCalls()) {}
    ~SystemCallsGuard() { platform::systemCalls() = saved_; }
    SystemCallsGuard(const SystemCallsGuard&) = delete;
    SystemCallsGuard& operator=(const SystemCallsGuard&) = delete;

    const platform::SystemCalls& original() const { return saved_; }

  private:
    platform::SystemCalls saved_;
};

} // namespace testing_support
