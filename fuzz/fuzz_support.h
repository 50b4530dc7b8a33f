// What every fuzz target shares: allocation checks that see every request for memory the
// platform layer passes on, and a scratch directory for targets that must reach their input
// through the file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace fuzzing {

// From now on, a request for memory through the platform layer (heap blocks, pages, room for
// pages) above largest bytes is a finding: the run aborts with a message. libFuzzer's own malloc
// limit does not see page memory.
void checkAllocations(std::size_t largest);

// The most an archive of inputSize bytes can call for: 256 MiB, or less when deflate's ratio
// (1032 to 1) allows less, but never less than 1 MiB.
std::size_t archiveBound(std::size_t inputSize);

// The most any input may call for.
constexpr std::size_t kLargestRequest = 256u << 20;

// A fresh scratch directory, made once per process and removed when it ends; on a memory file
// system where there is one, so that writing each input costs little. Writes bytes as the file
// name in it (replacing what was there).
void writeScratchFile(const char* name, const uint8_t* data, std::size_t size);

// Makes the scratch directory the current directory for its lifetime (libFuzzer reads and
// writes its corpus by relative paths, so the process must not stay there).
class InScratchDirectory {
  public:
    InScratchDirectory();
    ~InScratchDirectory();
    InScratchDirectory(const InScratchDirectory&) = delete;
    InScratchDirectory& operator=(const InScratchDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

// Aborts with a message: an invariant of the code under test does not hold.
[[noreturn]] void finding(const char* what);

} // namespace fuzzing
