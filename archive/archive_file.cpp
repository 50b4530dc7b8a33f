// Opening an archive named on the command line (see archive_file.h).
#include "archive/archive_file.h"

#include "archive/failure.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/streams.h"
#include "text/error_exceptions.h"

#include <string>

namespace pak {

ArchiveFile::ArchiveFile(const std::string& path) : path_(path), shown_(platform::shownPath(path)) {
    uint32_t attributes = platform::fileAttributes(path.c_str());
    if (attributes == platform::kInvalidAttributes)
        throw Failure(kNotFound, shown_ + ": no such file");
    if (attributes & platform::kDirectoryAttribute)
        throw Failure(kCorrupt, shown_ + ": is a directory, not an archive");
    // A FIFO, a socket or a device is refused, never waited on.
    std::FILE* stream = platform::openRegularFile(path.c_str());
    if (stream == nullptr && platform::lastError() == platform::kNotARegularFile)
        throw Failure(kCorrupt, shown_ + ": not a file but a FIFO, a socket or a device");
    if (stream == nullptr)
        throw Failure(kCorrupt, shown_ + ": cannot be opened (system error " +
                                    std::to_string(platform::lastError()) + ")");
    // Disk mode, as the lookup has an archive before it scans it.
    file_.stream = stream;
    file_.path.assign(path.c_str());
    file_.name.assign(path.c_str());
    file_.position = 0;

    directory_ = std::make_unique<PakDirectory>(file_);
    const PakHeader& header = directory_->header();
    if (!directory_->headerComplete())
        throw Failure(kCorrupt, shown_ + ": not a pak archive: the file (" +
                                    std::to_string(size()) + " bytes) ends inside the header");
    if (header.version > 4)
        throw Failure(kCorrupt, shown_ + ": not a pak archive: unknown version " +
                                    std::to_string(header.version));
}

void ArchiveFile::readDirectory() {
    const PakHeader& header = directory_->header();
    bool ready = false;
    try {
        ready = directory_->readDirectory();
    } catch (const ZKErrorException&) {
        throw Failure(kCorrupt, shown_ + ": the directory (" +
                                    std::to_string(header.packedDirectorySize) +
                                    " bytes packed) does not inflate to its declared " +
                                    std::to_string(header.directorySize) + " bytes");
    } catch (uint32_t) {
        throw Failure(kCorrupt, shown_ + ": not enough memory for the directory (" +
                                    std::to_string(header.directorySize) + " bytes)");
    }
    if (!ready)
        throw Failure(kCorrupt, shown_ + ": the directory's sizes (" +
                                    std::to_string(header.packedDirectorySize) + " bytes packed, " +
                                    std::to_string(header.directorySize) +
                                    " inflated) do not fit the file (" + std::to_string(size()) +
                                    " bytes)");
}

bool ArchiveFile::next(PakEntry& entry, StoredEntry& stored) {
    if (directory_->next(entry, stored)) return true;
    if (directory_->broken())
        throw Failure(kCorrupt, shown_ + ": record " +
                                    std::to_string(directory_->recordsRead() + 1) + " of " +
                                    std::to_string(directory_->header().entryCount) +
                                    " is cut short or its name length cannot be right");
    return false;
}

} // namespace pak
