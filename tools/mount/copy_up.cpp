// Copying an entry to a loose file (see copy_up.h).
#include "tools/mount/copy_up.h"

#include "archive/entry_stream.h"
#include "archive/failure.h"
#include "archive/file_handle.h"
#include "archive/heap_memory.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/streams.h"
#include "text/system_path.h"

#include <atomic>

namespace pak {

namespace {

constexpr char kTemporaryPrefix[] = ".pak-copy-up.";
constexpr std::size_t kBlock = 1u << 20;

std::atomic<uint64_t> temporaries{0};

// The temporary file beside target, removed again unless kept.
struct Temporary {
    std::string path;
    FileHandle stream;
    bool kept = false;
    ~Temporary() {
        if (kept) return;
        stream.reset();
        if (!path.empty()) platform::removeFile(path.c_str());
    }
};

std::string systemError(uint32_t error) {
    return "system error " + std::to_string(error);
}

} // namespace

bool isCopyUpTemporary(const std::string& name) {
    return name.compare(0, sizeof kTemporaryPrefix - 1, kTemporaryPrefix) == 0;
}

uint32_t copyUp(const ArchiveFile& archive, const StoredEntry& stored, const std::string& target,
                std::string& problem) {
    auto fail = [&](const std::string& what) {
        uint32_t error = platform::lastError();
        if (error == 0) error = 31; // ERROR_GEN_FAILURE: something failed that set none
        problem = platform::shownPath(target) +
                  ": the archive's entry cannot be copied to it: " + what + " (" +
                  systemError(error) + ")";
        return error;
    };
    Temporary temporary;
    std::string directory = directoryOf(target);
    for (;;) {
        temporary.path = joinPath(directory, kTemporaryPrefix + std::to_string(++temporaries));
        temporary.stream.reset(platform::createNewFile(temporary.path.c_str()));
        if (temporary.stream) break;
        if (platform::lastError() != 183) {
            temporary.path.clear();
            return fail("no temporary file can be made beside it");
        }
    }
    HeapBytes block;
    block.allocate(kBlock);
    try {
        EntryStream stream(archive, stored);
        for (;;) {
            std::size_t got = stream.read(block.data(), kBlock);
            if (got == 0) break;
            if (platform::writeStream(temporary.stream.get(), block.data(), got) != got)
                return fail("writing failed");
        }
    } catch (const Failure& failure) {
        platform::setLastError(13); // ERROR_INVALID_DATA: the entry is corrupt
        return fail(failure.message);
    }
    if (!platform::syncStream(temporary.stream.get())) return fail("writing failed");
    if (!platform::closeStream(temporary.stream.release())) return fail("writing failed");
    if (!platform::moveFile(temporary.path.c_str(), target.c_str(), false))
        return fail("the copy cannot be put in place");
    temporary.kept = true;
    return 0;
}

} // namespace pak
