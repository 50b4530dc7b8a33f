// Temporary files renamed into place (see temporary_file.h).
#include "tools/pak/temporary_file.h"

#include "archive/failure.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/streams.h"
#include "text/system_path.h"

#include <atomic>
#include <random>

namespace pak {

namespace {

constexpr uint32_t kAlreadyExists = 183;

std::string systemError() {
    return "system error " + std::to_string(platform::lastError());
}

Failure cannotCreate(const std::string& purpose) {
    std::string directory = directoryOf(purpose);
    return Failure(kCorrupt,
                   platform::shownPath(purpose) + ": cannot create a temporary file in " +
                       (directory.empty() ? std::string(".") : platform::shownPath(directory)) +
                       " (" + systemError() + ")");
}

} // namespace

platform::Directory TemporaryFile::directoryFor(const std::string& directory,
                                                const std::string& purpose) {
    platform::Directory opened =
        platform::Directory::open(directory.empty() ? "." : directory.c_str());
    if (!opened.isOpen()) throw cannotCreate(purpose);
    return opened;
}

TemporaryFile::TemporaryFile(const platform::Directory& directory, const std::string& purpose)
    : directory_(directory), purpose_(purpose) {
    // A random start, drawn once per run (asking the system for randomness costs as much as
    // making a small file), makes a clash with leftovers of an earlier run unlikely; the names
    // of one run count on from there. Exclusive creation makes a clash harmless.
    static std::atomic<uint32_t> counter{std::random_device()() % 1000000u};
    uint32_t start = counter.fetch_add(1);
    for (uint32_t attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = ".pak-" + std::to_string(start + attempt) + ".tmp";
        stream_ = directory_.createFile(candidate.c_str());
        if (stream_ != nullptr) {
            if (removal_.arm(directory_, candidate.c_str())) {
                name_ = candidate;
                return;
            }
            Failure failure = cannotCreate(purpose_);
            platform::closeStream(stream_);
            directory_.removeFile(candidate.c_str());
            throw failure;
        }
        if (platform::lastError() != kAlreadyExists) break;
    }
    throw cannotCreate(purpose_);
}

TemporaryFile::~TemporaryFile() {
    platform::closeStream(stream_);
    if (!moved_ && !name_.empty()) directory_.removeFile(name_.c_str());
}

void TemporaryFile::write(const void* data, std::size_t size) {
    if (size > 0 && platform::writeStream(stream_, data, size) != size)
        throw Failure(kCorrupt, platform::shownPath(purpose_) + ": cannot be written (" +
                                    systemError() + ")");
}

void TemporaryFile::moveTo(const std::string& name, bool replace) {
    bool flushed = platform::closeStream(stream_);
    stream_ = nullptr;
    if (!flushed)
        throw Failure(kCorrupt, platform::shownPath(purpose_) + ": cannot be written (" +
                                    systemError() + ")");
    if (!directory_.moveFile(name_.c_str(), name.c_str(), replace)) {
        if (!replace && platform::lastError() == kAlreadyExists)
            throw Failure(kUsage,
                          platform::shownPath(purpose_) + ": exists already (--force replaces it)");
        throw Failure(kCorrupt, platform::shownPath(purpose_) + ": cannot be put in place (" +
                                    systemError() + ")");
    }
    moved_ = true;
    removal_.disarm();
}

} // namespace pak
