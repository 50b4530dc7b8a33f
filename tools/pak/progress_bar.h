// A one-line progress bar on a terminal: entries and bytes done out of the totals. Without a
// terminal it shows nothing at all.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pak {

class ProgressBar {
  public:
    // terminal: where to draw, or null to draw nothing.
    ProgressBar(std::FILE* terminal, uint64_t totalEntries, uint64_t totalBytes);
    // Leaves the finished bar on its line.
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // One more entry is done, with its bytes.
    void advance(uint64_t bytes);
    // Takes the bar off its line, so a message can be written there; the next advance draws it
    // again.
    void clear();

    // The line for the given counts (without the carriage return), as drawn.
    static std::string line(uint64_t entries, uint64_t totalEntries, uint64_t bytes,
                            uint64_t totalBytes);

  private:
    void draw();

    std::FILE* terminal_;
    uint64_t totalEntries_, totalBytes_;
    uint64_t entries_ = 0, bytes_ = 0;
    std::size_t shown_ = 0; // length of the line on the terminal, 0 when none
    std::chrono::steady_clock::time_point lastDraw_;
};

} // namespace pak
