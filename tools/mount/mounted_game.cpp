// Serving a MountIndex (see mounted_game.h).
#include "tools/mount/mounted_game.h"

#include "archive/entry_stream.h"
#include "archive/failure.h"
#include "archive/file_handle.h"
#include "archive/heap_memory.h"
#include "platform/platform.h"
#include "text/system_path.h"

#include <algorithm>
#include <utility>

namespace pak {

namespace {

// Nodes of the served tree are the index's node numbers plus one: 0 is no node there, and
// the root (index 0) is ServedTree::kRoot.
uint32_t indexOf(platform::ServedTree::Node node) {
    return node == 0 || node > UINT32_MAX ? MountIndex::kNone : static_cast<uint32_t>(node - 1);
}

platform::ServedTree::Node nodeOf(uint32_t index) {
    return index == MountIndex::kNone ? 0 : platform::ServedTree::Node{index} + 1;
}

} // namespace

struct MountedGame::OpenFile : FromPlatformHeap {
    uint32_t node = 0;
    FileHandle loose;
    std::mutex lock; // over stream
    std::unique_ptr<EntryStream> stream;
};

MountedGame::MountedGame(MountIndex& index, uint64_t cacheLimit, Tell tell)
    : index_(index), cache_(cacheLimit), seekPoints_(kSeekPointLimit), tell_(std::move(tell)) {}

MountedGame::~MountedGame() = default;

platform::ServedTree::Node MountedGame::find(Node directory, const std::string& name) const {
    uint32_t index = indexOf(directory);
    return index < index_.size() ? nodeOf(index_.find(index, name)) : 0;
}

bool MountedGame::attributes(Node node, Attributes& out) const {
    uint32_t index = indexOf(node);
    if (index >= index_.size()) return false;
    const MountIndex::Node& found = index_.node(index);
    out.isDirectory = found.kind == MountIndex::Kind::kDirectory;
    out.size = index_.fileSize(found);
    out.modified = index_.modified(found);
    return true;
}

bool MountedGame::listed(Node directory, std::size_t index, std::string& name, Node& child) const {
    uint32_t at = indexOf(directory);
    if (at >= index_.size() || index_.node(at).kind != MountIndex::Kind::kDirectory) return false;
    const std::vector<uint32_t>& children = index_.directory(index_.node(at)).children;
    if (index >= children.size()) return false;
    name = index_.node(children[index]).name;
    child = nodeOf(children[index]);
    return true;
}

std::string MountedGame::pathOf(uint32_t node) const {
    std::string path;
    for (; node != MountIndex::kRoot; node = index_.node(node).parent)
        path = joinPath(index_.node(node).name, path);
    return path;
}

platform::ServedTree::Status MountedGame::open(Node file, uint64_t& handle) {
    uint32_t index = indexOf(file);
    if (index >= index_.size() || index_.node(index).kind == MountIndex::Kind::kDirectory)
        return kNotFound;
    auto opened = std::make_unique<OpenFile>();
    opened->node = index;
    const MountIndex::Node& node = index_.node(index);
    if (node.kind == MountIndex::Kind::kLoose) {
        const std::string& path = index_.looseFile(node).path;
        // A FIFO put in the file's place since the mount was made is refused, never waited
        // on: it would hold this worker until a writer came.
        opened->loose.reset(platform::openRegularFile(path.c_str()));
        if (!opened->loose) {
            uint32_t error = platform::lastError();
            if (error == 2 || error == 3) return kNotFound;
            if (error == platform::kNotARegularFile)
                return tellOnce(index, platform::shownPath(path) +
                                           ": no longer a file but a FIFO, a socket or a device; "
                                           "not opened");
            return tellOnce(index, platform::shownPath(path) + ": cannot be opened (system error " +
                                       std::to_string(error) + ")");
        }
    }
    std::lock_guard<std::mutex> hold(filesLock_);
    handle = nextHandle_++;
    files_.emplace(handle, std::move(opened));
    return kOk;
}

void MountedGame::close(uint64_t handle) {
    std::unique_ptr<OpenFile> closing;
    {
        std::lock_guard<std::mutex> hold(filesLock_);
        auto found = files_.find(handle);
        if (found == files_.end()) return;
        closing = std::move(found->second);
        files_.erase(found);
    }
}

platform::ServedTree::Status MountedGame::read(uint64_t handle, uint64_t offset,
                                               unsigned char* buffer, std::size_t count,
                                               std::size_t& delivered) {
    delivered = 0;
    OpenFile* file;
    {
        std::lock_guard<std::mutex> hold(filesLock_);
        auto found = files_.find(handle);
        if (found == files_.end()) return kDataFailed;
        file = found->second.get(); // stays until close, which comes after the last read
    }
    const MountIndex::Node& node = index_.node(file->node);
    uint64_t size = index_.fileSize(node);
    if (offset >= size) return kOk;
    count = static_cast<std::size_t>(std::min<uint64_t>(count, size - offset));
    if (node.kind == MountIndex::Kind::kEntry)
        return readEntry(*file, offset, buffer, count, delivered);

    // A loose file is read as it is now, but never beyond the size it showed.
    std::ptrdiff_t got =
        platform::readStreamAt(file->loose.get(), static_cast<int64_t>(offset), buffer, count);
    if (got < 0)
        return tellOnce(file->node, platform::shownPath(index_.looseFile(node).path) +
                                        ": cannot be read (system error " +
                                        std::to_string(platform::lastError()) + ")");
    delivered = static_cast<std::size_t>(got);
    return kOk;
}

platform::ServedTree::Status MountedGame::readEntry(OpenFile& file, uint64_t offset,
                                                    unsigned char* buffer, std::size_t count,
                                                    std::size_t& delivered) {
    const MountIndex::Node& node = index_.node(file.node);
    ArchiveFile& archive = *index_.archive(node).file;
    try {
        uint32_t size = node.stored.dataSize();
        bool large = size > SeekPoints::kInterval;
        if (node.stored.compressed && !large && cache_.fits(size) &&
            cache_.read(file.node, archive, node.stored, offset, buffer, count, delivered))
            return kOk;
        std::lock_guard<std::mutex> hold(file.lock);
        if (!file.stream)
            file.stream = std::make_unique<EntryStream>(
                archive, node.stored, EntryStream::kRecentBytes,
                node.stored.compressed && large ? seekPoints_.pointsOf(file.node, size) : nullptr);
        // Memory that runs out sends the stream back to its start; the next read goes on from
        // there.
        delivered = file.stream->readAt(offset, buffer, count);
        return kOk;
    } catch (const pak::Failure& failure) {
        delivered = 0;
        return tellOnce(file.node, failure.message);
    }
}

void MountedGame::requestFailed(const std::string& why) noexcept {
    try {
        std::lock_guard<std::mutex> hold(reportLock_);
        tell_(why);
    } catch (...) {
        // Not even this line could be written.
    }
}

platform::ServedTree::Status MountedGame::tellOnce(uint32_t node, const std::string& problem) {
    std::lock_guard<std::mutex> hold(reportLock_);
    if (reported_.insert(node).second) {
        // A loose file's problem names its path already.
        const MountIndex::Node& found = index_.node(node);
        if (found.kind == MountIndex::Kind::kEntry)
            tell_(pathOf(node) + " in " + index_.archive(found).file->shownPath() + ": " + problem);
        else
            tell_(problem);
    }
    return kDataFailed;
}

} // namespace pak
