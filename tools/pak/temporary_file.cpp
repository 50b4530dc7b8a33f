// Temporary files renamed into place (see temporary_file.h).
#include "tools/pak/temporary_file.h"

#include "platform/platform.h"
#include "tools/pak/failure.h"
#include "tools/pak/system_path.h"

#include <random>

namespace pak {

namespace {

constexpr uint32_t kAlreadyExists = 183;

std::string systemError() {
    return "system error " + std::to_string(platform::lastError());
}

} // namespace

TemporaryFile::TemporaryFile(const std::string& directory, const std::string& purpose)
    : purpose_(purpose) {
    // A random start makes a clash with leftovers of an earlier run unlikely; exclusive
    // creation makes it harmless.
    std::random_device seed;
    uint32_t start = seed() % 1000000u;
    for (uint32_t attempt = 0; attempt < 100; ++attempt) {
        std::string candidate =
            joinPath(directory, ".pak-" + std::to_string(start + attempt) + ".tmp");
        stream_ = platform::createNewFile(candidate.c_str());
        if (stream_ != nullptr) {
            path_ = candidate;
            return;
        }
        if (platform::lastError() != kAlreadyExists) break;
    }
    throw Failure(kCorrupt, purpose_ + ": cannot create a temporary file in " +
                                (directory.empty() ? std::string(".") : directory) + " (" +
                                systemError() + ")");
}

TemporaryFile::~TemporaryFile() {
    close();
    if (!moved_ && !path_.empty()) platform::removeFile(path_.c_str());
}

void TemporaryFile::close() {
    platform::closeStream(stream_);
    stream_ = nullptr;
}

void TemporaryFile::write(const void* data, std::size_t size) {
    if (size > 0 && platform::writeStream(stream_, data, size) != size)
        throw Failure(kCorrupt, purpose_ + ": cannot be written (" + systemError() + ")");
}

void TemporaryFile::moveTo(const std::string& target, bool replace) {
    bool flushed = platform::closeStream(stream_);
    stream_ = nullptr;
    if (!flushed) throw Failure(kCorrupt, purpose_ + ": cannot be written (" + systemError() + ")");
    if (!platform::moveFile(path_.c_str(), target.c_str(), replace)) {
        if (!replace && platform::lastError() == kAlreadyExists)
            throw Failure(kUsage, target + ": exists already (--force replaces it)");
        throw Failure(kCorrupt, target + ": cannot be put in place (" + systemError() + ")");
    }
    moved_ = true;
}

} // namespace pak
