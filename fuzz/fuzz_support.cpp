// Allocation checks and the scratch directory of the fuzz targets (see fuzz_support.h).
#include "fuzz/fuzz_support.h"

#include "platform/system_calls.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace fuzzing {

namespace {

platform::SystemCalls systemTable;
std::size_t largestAllowed = 0;

void check(std::size_t n, const char* what) {
    if (n <= largestAllowed) return;
    std::fprintf(stderr, "finding: %s of %zu bytes, more than the %zu this input can call for\n",
                 what, n, largestAllowed);
    std::abort();
}

void* heapAllocate(std::size_t n) {
    check(n, "heap block");
    return systemTable.heapAllocate(n);
}
void* allocatePages(uint32_t n) {
    check(n, "page memory");
    return systemTable.allocatePages(n);
}
void* reservePages(uint32_t n) {
    check(n, "room for page memory");
    return systemTable.reservePages(n);
}
bool commitPages(void* pages, uint32_t n) {
    check(n, "committed page memory");
    return systemTable.commitPages(pages, n);
}

} // namespace

void checkAllocations(std::size_t largest) {
    static bool installed = false;
    if (!installed) {
        systemTable = platform::systemCalls();
        platform::SystemCalls& table = platform::systemCalls();
        table.heapAllocate = heapAllocate;
        table.allocatePages = allocatePages;
        table.reservePages = reservePages;
        table.commitPages = commitPages;
        installed = true;
    }
    largestAllowed = largest;
}

std::size_t archiveBound(std::size_t inputSize) {
    constexpr std::size_t kFloor = 1u << 20;
    std::size_t byRatio = inputSize < kLargestRequest / 1032 ? inputSize * 1032 : kLargestRequest;
    return byRatio < kFloor ? kFloor : byRatio;
}

namespace {

const std::filesystem::path& scratchDirectory() {
    static const struct Scratch {
        std::filesystem::path path;
        Scratch() {
            std::error_code error;
            std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                             ? std::filesystem::path("/dev/shm")
                                             : std::filesystem::temp_directory_path();
            for (int attempt = 0;; ++attempt) {
                path = base /
                       ("zk-fuzz-" + std::to_string(std::rand()) + "-" + std::to_string(attempt));
                if (std::filesystem::create_directory(path, error)) break;
                if (attempt > 100) finding("no scratch directory can be made");
            }
        }
        // A run that stops at a finding leaves it behind.
        ~Scratch() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } scratch;
    return scratch.path;
}

} // namespace

void writeScratchFile(const char* name, const uint8_t* data, std::size_t size) {
    std::ofstream file(scratchDirectory() / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file) finding("the scratch file cannot be written");
}

InScratchDirectory::InScratchDirectory() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(scratchDirectory());
}

InScratchDirectory::~InScratchDirectory() {
    std::filesystem::current_path(previous_);
}

void finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

} // namespace fuzzing
