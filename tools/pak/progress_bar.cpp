// The progress bar (see progress_bar.h). Redraws are limited to about ten a second, so that an
// archive of many small entries is not slowed down by its own bar.
#include "tools/pak/progress_bar.h"

#include <cstdio>

namespace pak {

namespace {

constexpr int kWidth = 30;

std::string mebibytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

} // namespace

ProgressBar::ProgressBar(std::FILE* terminal, uint64_t totalEntries, uint64_t totalBytes)
    : terminal_(terminal), totalEntries_(totalEntries), totalBytes_(totalBytes) {
    if (terminal_ != nullptr) draw();
}

ProgressBar::~ProgressBar() {
    if (terminal_ == nullptr) return;
    draw();
    std::fputc('\n', terminal_);
    std::fflush(terminal_);
}

std::string ProgressBar::line(uint64_t entries, uint64_t totalEntries, uint64_t bytes,
                              uint64_t totalBytes) {
    // Bytes tell the progress better than entries, unless there are none.
    double done = totalBytes > 0 ? static_cast<double>(bytes) / static_cast<double>(totalBytes)
                  : totalEntries > 0
                      ? static_cast<double>(entries) / static_cast<double>(totalEntries)
                      : 1.0;
    if (done > 1.0) done = 1.0;
    int filled = static_cast<int>(done * kWidth);
    std::string text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] ";
    char counts[128];
    std::snprintf(counts, sizeof counts, "%3d%%  %llu/%llu entries  %s/%s MiB",
                  static_cast<int>(done * 100), static_cast<unsigned long long>(entries),
                  static_cast<unsigned long long>(totalEntries), mebibytes(bytes).c_str(),
                  mebibytes(totalBytes).c_str());
    return text + counts;
}

void ProgressBar::advance(uint64_t bytes) {
    ++entries_;
    bytes_ += bytes;
    if (terminal_ == nullptr) return;
    auto now = std::chrono::steady_clock::now();
    if (shown_ == 0 || now - lastDraw_ >= std::chrono::milliseconds(100)) draw();
}

void ProgressBar::clear() {
    if (terminal_ == nullptr || shown_ == 0) return;
    std::fprintf(terminal_, "\r%s\r", std::string(shown_, ' ').c_str());
    std::fflush(terminal_);
    shown_ = 0;
}

void ProgressBar::draw() {
    std::string text = line(entries_, totalEntries_, bytes_, totalBytes_);
    std::string padding = text.size() < shown_ ? std::string(shown_ - text.size(), ' ') : "";
    std::fprintf(terminal_, "\r%s%s", text.c_str(), padding.c_str());
    std::fflush(terminal_);
    shown_ = text.size();
    lastDraw_ = std::chrono::steady_clock::now();
}

} // namespace pak
