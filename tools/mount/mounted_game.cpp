// Serving the view of a game (see mounted_game.h).
#include "tools/mount/mounted_game.h"

#include "archive/entry_stream.h"
#include "archive/failure.h"
#include "archive/file_handle.h"
#include "archive/heap_memory.h"
#include "base/cp932.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/streams.h"
#include "text/system_path.h"
#include "tools/mount/copy_up.h"

#include <algorithm>
#include <utility>

namespace pak {

namespace {

using Kind = MountIndex::Kind;

// Whether a path relative to the game directory names one of its archives: a file directly in
// it whose name ends in ".pak", as the game looks for them.
bool isArchiveName(const std::string& path) {
    if (cp932::findLastChar(path.c_str(), '\\') != nullptr || path.size() < 4) return false;
    std::string end = path.substr(path.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return end == ".pak";
}

// The name of node in view with its directories, as the game names it (backslashes).
std::string pathOf(const GameView& view, uint32_t node) {
    std::string path;
    for (; node != MountIndex::kRoot; node = view.index.node(node).parent)
        path = joinPath(view.index.node(node).name, path);
    return path;
}

// Whether node a of one view shows something other than node b of another.
bool differs(const GameView& before, uint32_t a, const GameView& after, uint32_t b) {
    const MountIndex::Node& was = before.index.node(a);
    const MountIndex::Node& is = after.index.node(b);
    if (was.kind != is.kind || before.index.fileSize(was) != after.index.fileSize(is) ||
        before.index.modified(was) != after.index.modified(is))
        return true;
    if (was.kind != Kind::kDirectory) return false;
    const std::vector<uint32_t>& had = before.index.directory(was).children;
    const std::vector<uint32_t>& has = after.index.directory(is).children;
    if (had.size() != has.size()) return true;
    for (std::size_t i = 0; i < had.size(); ++i)
        if (before.numbers[had[i]] != after.numbers[has[i]] ||
            before.index.node(had[i]).name != after.index.node(has[i]).name)
            return true;
    return false;
}

} // namespace

struct MountedGame::OpenFile : FromPlatformHeap {
    View view; // the view it was opened in, which it goes on reading
    uint32_t node = 0;
    uint64_t number = 0;
    FileHandle loose;     // a loose file, open for reading, or for writing too
    bool writing = false; // opened for writing
    std::mutex lock;      // over stream
    std::unique_ptr<EntryStream> stream;
};

MountedGame::MountedGame(MountIndex index, const std::string& gameDirectory, bool writable,
                         uint64_t cacheLimit, Tell tell)
    : gameDirectory_(gameDirectory), writable_(writable && !gameDirectory.empty()),
      cache_(cacheLimit), seekPoints_(kSeekPointLimit), tell_(std::move(tell)) {
    view_ = std::make_shared<const GameView>(std::move(index), numbers_);
}

MountedGame::~MountedGame() {
    watch_.reset(); // before anything it uses goes
}

MountedGame::View MountedGame::current() const {
    std::lock_guard<std::mutex> hold(viewLock_);
    return view_;
}

platform::ServedTree::Node MountedGame::find(Node directory, const std::string& name) const {
    View view = current();
    uint32_t found = view->index.find(view->nodeOf(directory), name);
    return found == MountIndex::kNone ? 0 : view->numbers[found];
}

bool MountedGame::attributes(Node number, Attributes& out) const {
    View view = current();
    uint32_t index = view->nodeOf(number);
    if (index == MountIndex::kNone) {
        // A file gone from the view that is still open shows what it was to its readers.
        std::lock_guard<std::mutex> hold(filesLock_);
        for (const auto& [handle, file] : files_)
            if (file->number == number) {
                view = file->view;
                index = file->node;
                break;
            }
        if (index == MountIndex::kNone) return false;
    }
    const MountIndex::Node& found = view->index.node(index);
    out.isDirectory = found.kind == Kind::kDirectory;
    out.size = view->index.fileSize(found);
    out.modified = view->index.modified(found);
    // A loose file shows what it is now: it may be being written.
    platform::FileStatus status;
    if (found.kind == Kind::kLoose &&
        platform::fileStatus(view->index.looseFile(found).path.c_str(), status) &&
        !status.isDirectory) {
        out.size = status.size;
        out.modified = status.modified;
    }
    return true;
}

bool MountedGame::listed(Node directory, std::size_t index, std::string& name, Node& child) const {
    View view = current();
    uint32_t at = view->nodeOf(directory);
    if (at == MountIndex::kNone || view->index.node(at).kind != Kind::kDirectory) return false;
    const std::vector<uint32_t>& children = view->index.directory(view->index.node(at)).children;
    if (index >= children.size()) return false;
    name = view->index.node(children[index]).name;
    child = view->numbers[children[index]];
    return true;
}

uint64_t MountedGame::keep(std::unique_ptr<OpenFile> file) {
    std::lock_guard<std::mutex> hold(filesLock_);
    uint64_t handle = nextHandle_++;
    files_.emplace(handle, std::move(file));
    return handle;
}

MountedGame::OpenFile* MountedGame::openFile(uint64_t handle) {
    std::lock_guard<std::mutex> hold(filesLock_);
    auto found = files_.find(handle);
    // It stays until close, which comes after the last request of the handle.
    return found == files_.end() ? nullptr : found->second.get();
}

platform::ServedTree::Status MountedGame::open(Node number, uint64_t& handle) {
    View view = current();
    uint32_t index = view->nodeOf(number);
    if (index == MountIndex::kNone || view->index.node(index).kind == Kind::kDirectory)
        return kNotFound;
    auto opened = std::make_unique<OpenFile>();
    opened->view = view;
    opened->node = index;
    opened->number = number;
    const MountIndex::Node& node = view->index.node(index);
    if (node.kind == Kind::kLoose) {
        const std::string& path = view->index.looseFile(node).path;
        // A FIFO put in the file's place since the view was made is refused, never waited
        // on: it would hold this worker until a writer came.
        opened->loose.reset(platform::openRegularFile(path.c_str()));
        if (!opened->loose) {
            uint32_t error = platform::lastError();
            if (error == 2 || error == 3) return kNotFound;
            if (error == platform::kNotARegularFile)
                return tellOnce(*opened, platform::shownPath(path) +
                                             ": no longer a file but a FIFO, a socket or a "
                                             "device; not opened");
            return tellOnce(*opened, platform::shownPath(path) +
                                         ": cannot be opened (system error " +
                                         std::to_string(error) + ")");
        }
    }
    handle = keep(std::move(opened));
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
    OpenFile* file = openFile(handle);
    if (file == nullptr) return kDataFailed;
    const MountIndex::Node& node = file->view->index.node(file->node);
    if (node.kind == Kind::kEntry) {
        uint64_t size = file->view->index.fileSize(node);
        if (offset >= size) return kOk;
        count = static_cast<std::size_t>(std::min<uint64_t>(count, size - offset));
        return readEntry(*file, offset, buffer, count, delivered);
    }
    // A loose file is read as it is now: it may be being written.
    std::ptrdiff_t got =
        platform::readStreamAt(file->loose.get(), static_cast<int64_t>(offset), buffer, count);
    if (got < 0)
        return tellOnce(*file, platform::shownPath(file->view->index.looseFile(node).path) +
                                   ": cannot be read (system error " +
                                   std::to_string(platform::lastError()) + ")");
    delivered = static_cast<std::size_t>(got);
    return kOk;
}

platform::ServedTree::Status MountedGame::readEntry(OpenFile& file, uint64_t offset,
                                                    unsigned char* buffer, std::size_t count,
                                                    std::size_t& delivered) {
    const MountIndex::Node& node = file.view->index.node(file.node);
    const ArchiveFile& archive = *file.view->index.archive(node).file;
    try {
        // An entry's number stands for those bytes alone (game_view.h), so it keys the cache and
        // the seek points.
        uint32_t size = node.stored.dataSize();
        bool large = size > SeekPoints::kInterval;
        if (node.stored.compressed && !large && cache_.fits(size) &&
            cache_.read(file.number, archive, node.stored, offset, buffer, count, delivered))
            return kOk;
        std::lock_guard<std::mutex> hold(file.lock);
        if (!file.stream)
            file.stream = std::make_unique<EntryStream>(
                archive, node.stored, EntryStream::kRecentBytes,
                node.stored.compressed && large ? seekPoints_.pointsOf(file.number, size)
                                                : nullptr);
        // Memory that runs out sends the stream back to its start; the next read goes on from
        // there.
        delivered = file.stream->readAt(offset, buffer, count);
        return kOk;
    } catch (const pak::Failure& failure) {
        delivered = 0;
        return tellOnce(file, failure.message);
    }
}

void MountedGame::requestFailed(const std::string& why) noexcept {
    try {
        tell(why);
    } catch (...) {
        // Not even this line could be written.
    }
}

void MountedGame::tell(const std::string& line) {
    std::lock_guard<std::mutex> hold(reportLock_);
    tell_(line);
}

platform::ServedTree::Status MountedGame::tellOnce(const OpenFile& file,
                                                   const std::string& problem) {
    std::lock_guard<std::mutex> hold(reportLock_);
    if (reported_.insert(file.number).second) {
        // A loose file's problem names its path already.
        const MountIndex::Node& found = file.view->index.node(file.node);
        if (found.kind == Kind::kEntry)
            tell_(pathOf(*file.view, file.node) + " in " +
                  file.view->index.archive(found).file->shownPath() + ": " + problem);
        else
            tell_(problem);
    }
    return kDataFailed;
}

// ---- following the game directory ----

void MountedGame::serving(Changes* changes) {
    if (changes == nullptr) {
        watch_.reset();
        changes_ = nullptr;
        return;
    }
    changes_ = changes;
    if (gameDirectory_.empty()) return;
    watch_ = std::make_unique<GameWatch>(
        gameDirectory_,
        [this](const std::vector<platform::TreeChange>& batch) { takeChanges(batch); });
    if (!watch_->watching())
        tell(platform::shownPath(gameDirectory_) + ": cannot be watched (system error " +
             std::to_string(platform::lastError()) +
             "); the mount goes on showing it as it was, with its own changes");
}

void MountedGame::takeChanges(const std::vector<platform::TreeChange>& batch) {
    bool rebuild = false, everything = false;
    std::set<std::string> stale;
    std::vector<std::string> changedFiles;
    for (const platform::TreeChange& change : batch) {
        if (change.path.empty()) {
            rebuild = everything = true;
        } else if (isArchiveName(change.path)) {
            stale.insert(change.path);
            rebuild = true;
        } else if (change.contentOnly) {
            changedFiles.push_back(change.path);
        } else {
            rebuild = true;
        }
    }
    {
        std::lock_guard<std::mutex> hold(changeLock_);
        if (rebuild) refresh(stale, everything);
        std::lock_guard<std::mutex> told(toTellLock_);
        for (const std::string& path : changedFiles) {
            uint64_t number = numbers_.known("f" + path);
            if (number != 0) changedNodes_.insert(number);
        }
        // An empty batch tells again what the last one told, for the requests that were under
        // way then and may have answered from what was before.
        if (batch.empty() && changedNodes_.empty() && !namesChanged_) {
            changedNodes_.swap(toldNodes_);
            namesChanged_ = namesToldLast_;
            namesToldLast_ = false;
        }
    }
    std::unordered_set<uint64_t> nodes;
    bool names = false;
    {
        std::lock_guard<std::mutex> hold(toTellLock_);
        nodes.swap(changedNodes_);
        std::swap(names, namesChanged_);
        if (!batch.empty()) {
            toldNodes_ = nodes;
            namesToldLast_ = names;
        }
    }
    // No lock is held: the system may be waiting on a request that needs one.
    if (changes_ == nullptr) return;
    for (uint64_t number : nodes)
        changes_->nodeChanged(number);
    if (names) changes_->namesChanged();
}

void MountedGame::refresh(const std::set<std::string>& stale, bool everything) {
    View before = current();
    std::unordered_map<std::string, MountIndex::Archive> unchanged;
    if (!everything)
        for (const MountIndex::Archive& archive : before->index.archives())
            if (stale.count(fileNameOf(archive->file->path())) == 0)
                unchanged.emplace(archive->file->path(), archive);
    auto load = [&](const std::string& path) -> MountIndex::Archive {
        auto found = unchanged.find(path);
        if (found != unchanged.end()) return found->second;
        return std::make_shared<const LoadedArchive>(path, nextSerial_++);
    };
    std::shared_ptr<const GameView> after;
    try {
        after = std::make_shared<const GameView>(MountIndex::ofGameDirectory(gameDirectory_, load),
                                                 numbers_);
    } catch (const Failure& failure) {
        tell(failure.message + "; the mount goes on showing what it showed");
        return;
    }
    // What cannot be shown is told when it first cannot be.
    const std::vector<std::string>& told = before->index.notes();
    for (const std::string& note : after->index.notes())
        if (std::find(told.begin(), told.end(), note) == told.end()) tell(note);

    std::vector<uint64_t> changed;
    for (uint32_t node = 0; node < before->index.size(); ++node) {
        uint32_t now = after->nodeOf(before->numbers[node]);
        if (now == MountIndex::kNone || differs(*before, node, *after, now))
            changed.push_back(before->numbers[node]);
    }
    {
        std::lock_guard<std::mutex> hold(viewLock_);
        view_ = after;
    }
    std::lock_guard<std::mutex> hold(toTellLock_);
    changedNodes_.insert(changed.begin(), changed.end());
    namesChanged_ = true;
}

// ---- the changes of a writable mount ----

platform::ServedTree::Status MountedGame::changeFailed(const std::string& path,
                                                       const std::string& what) {
    uint32_t error = platform::lastError();
    if (error == 183) return kExists;
    tell(platform::shownPath(path) + ": " + what + " (system error " + std::to_string(error) + ")");
    return error == 112 ? kDiskFull : kDataFailed;
}

platform::ServedTree::Status MountedGame::placeOnDisk(const View& view, uint32_t directory,
                                                      const std::string& name, std::string& path) {
    if (directory == MountIndex::kNone) return kNotFound;
    if (view->index.node(directory).kind != Kind::kDirectory) return kNotDirectory;
    std::vector<uint32_t> chain;
    for (uint32_t at = directory; at != MountIndex::kRoot; at = view->index.node(at).parent)
        chain.push_back(at);
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
        std::string made = joinPath(gameDirectory_, view->index.node(*at).gamePath);
        uint32_t attributes = platform::fileAttributes(made.c_str());
        if (attributes == platform::kInvalidAttributes) {
            if (!platform::createDirectory(made.c_str()) &&
                platform::fileAttributes(made.c_str()) == platform::kInvalidAttributes)
                return changeFailed(made, "the directory cannot be made");
        } else if ((attributes & platform::kDirectoryAttribute) == 0) {
            return kNotDirectory;
        }
    }
    path = joinPath(joinPath(gameDirectory_, view->index.node(directory).gamePath), name);
    return kOk;
}

platform::ServedTree::Status MountedGame::copyUpEntry(const View& view, uint32_t node) {
    const MountIndex::Node& entry = view->index.node(node);
    std::string target;
    Status placed = placeOnDisk(view, entry.parent, fileNameOf(entry.gamePath), target);
    if (placed != kOk) return placed;
    std::string problem;
    uint32_t error = copyUp(*view->index.archive(entry).file, entry.stored, target, problem);
    if (error != 0 && error != 183) { // 183: a file came there meanwhile, which the game reads
        tell(problem);
        return error == 112 ? kDiskFull : kDataFailed;
    }
    // The writer holds the entry's node: the copy goes on under its number.
    numbers_.carry(GameView::keyOf(view->index, node), "f" + entry.gamePath);
    refresh({}, false);
    return kOk;
}

platform::ServedTree::Status MountedGame::openLoose(const View& view, uint32_t node,
                                                    const std::string& path, bool truncate,
                                                    uint64_t& handle) {
    platform::FileStatus status;
    if (platform::fileStatus(path.c_str(), status) && (status.isSpecial || status.isDirectory))
        return status.isDirectory ? kIsDirectory : kNotPermitted;
    auto opened = std::make_unique<OpenFile>();
    opened->view = view;
    opened->node = node;
    opened->number = view->numbers[node];
    opened->writing = true;
    opened->loose.reset(platform::openStream(path.c_str(), "r+b"));
    if (!opened->loose) return changeFailed(path, "cannot be opened for writing");
    if (truncate && !platform::resizeStream(opened->loose.get(), 0))
        return changeFailed(path, "cannot be cut");
    handle = keep(std::move(opened));
    return kOk;
}

platform::ServedTree::Status MountedGame::looseToChange(Node number, View& view, uint32_t& node) {
    view = current();
    node = view->nodeOf(number);
    if (node == MountIndex::kNone) return kNotFound;
    if (view->index.node(node).kind == Kind::kDirectory) return kIsDirectory;
    if (view->index.node(node).kind == Kind::kEntry) {
        Status copied = copyUpEntry(view, node);
        if (copied != kOk) return copied;
        view = current();
        node = view->nodeOf(number);
        if (node == MountIndex::kNone || view->index.node(node).kind != Kind::kLoose)
            return kNotFound;
    }
    return kOk;
}

platform::ServedTree::Status MountedGame::openForWriting(Node number, bool truncate,
                                                         uint64_t& handle) {
    if (!writable_) return kReadOnly;
    std::lock_guard<std::mutex> hold(changeLock_);
    View view;
    uint32_t node = MountIndex::kNone;
    Status found = looseToChange(number, view, node);
    if (found != kOk) return found;
    return openLoose(view, node, view->index.looseFile(view->index.node(node)).path, truncate,
                     handle);
}

platform::ServedTree::Status MountedGame::placeNew(Node directory, const std::string& name,
                                                   std::string& path) {
    View view = current();
    uint32_t parent = view->nodeOf(directory);
    if (view->index.find(parent, name) != MountIndex::kNone) return kExists;
    return placeOnDisk(view, parent, name, path);
}

platform::ServedTree::Status MountedGame::create(Node directory, const std::string& name,
                                                 Node& created, uint64_t& handle) {
    if (!writable_) return kReadOnly;
    std::lock_guard<std::mutex> hold(changeLock_);
    std::string path;
    Status placed = placeNew(directory, name, path);
    if (placed != kOk) return placed;
    FileHandle made(platform::createNewFile(path.c_str()));
    if (!made) return changeFailed(path, "cannot be created");
    made.reset();
    refresh({}, false);
    View view = current();
    uint32_t node = view->index.find(view->nodeOf(directory), name);
    if (node == MountIndex::kNone || view->index.node(node).kind != Kind::kLoose) {
        platform::removeFile(path.c_str());
        refresh({}, false);
        tell(platform::shownPath(path) + ": not created: the mount could not show it");
        return kBadName;
    }
    created = view->numbers[node];
    return openLoose(view, node, path, false, handle);
}

platform::ServedTree::Status MountedGame::makeDirectory(Node directory, const std::string& name,
                                                        Node& created) {
    if (!writable_) return kReadOnly;
    std::lock_guard<std::mutex> hold(changeLock_);
    std::string path;
    Status placed = placeNew(directory, name, path);
    if (placed != kOk) return placed;
    if (!platform::createDirectory(path.c_str())) return changeFailed(path, "cannot be made");
    refresh({}, false);
    View view = current();
    uint32_t node = view->index.find(view->nodeOf(directory), name);
    if (node == MountIndex::kNone) return kNotFound;
    created = view->numbers[node];
    return kOk;
}

platform::ServedTree::Status MountedGame::write(uint64_t handle, uint64_t offset,
                                                const unsigned char* data, std::size_t count) {
    OpenFile* file = openFile(handle);
    if (file == nullptr || !file->writing) return kReadOnly;
    if (platform::writeStreamAt(file->loose.get(), static_cast<int64_t>(offset), data, count))
        return kOk;
    const MountIndex::Node& node = file->view->index.node(file->node);
    return changeFailed(file->view->index.looseFile(node).path, "cannot be written");
}

platform::ServedTree::Status MountedGame::resize(Node number, uint64_t size) {
    if (!writable_) return kReadOnly;
    std::lock_guard<std::mutex> hold(changeLock_);
    View view;
    uint32_t node = MountIndex::kNone;
    Status found = looseToChange(number, view, node);
    if (found != kOk) return found;
    const std::string& path = view->index.looseFile(view->index.node(node)).path;
    FileHandle file(platform::openStream(path.c_str(), "r+b"));
    if (!file) return changeFailed(path, "cannot be opened for writing");
    if (!platform::resizeStream(file.get(), size)) return changeFailed(path, "cannot be cut");
    return kOk;
}

platform::ServedTree::Status MountedGame::sync(uint64_t handle) {
    OpenFile* file = openFile(handle);
    if (file == nullptr) return kDataFailed;
    if (!file->writing || platform::syncStream(file->loose.get())) return kOk;
    const MountIndex::Node& node = file->view->index.node(file->node);
    return changeFailed(file->view->index.looseFile(node).path, "cannot be written to the disk");
}

platform::ServedTree::Status MountedGame::remove(Node directory, const std::string& name) {
    if (!writable_) return kReadOnly;
    std::lock_guard<std::mutex> hold(changeLock_);
    View view = current();
    uint32_t node = view->index.find(view->nodeOf(directory), name);
    if (node == MountIndex::kNone) return kNotFound;
    const MountIndex::Node& found = view->index.node(node);
    if (found.kind == Kind::kDirectory) return kIsDirectory;
    if (found.kind == Kind::kEntry) {
        tell(pathOf(*view, node) + ": not removed: it is only an entry of " +
             view->index.archive(found).file->shownPath() +
             ", which is never written, and the game has no way to hide an entry (EPERM)");
        return kNotPermitted;
    }
    const std::string& path = view->index.looseFile(found).path;
    if (!platform::removeFile(path.c_str())) return changeFailed(path, "cannot be removed");
    refresh({}, false);
    return kOk;
}

platform::ServedTree::Status MountedGame::removeDirectory(Node directory, const std::string& name) {
    if (!writable_) return kReadOnly;
    std::lock_guard<std::mutex> hold(changeLock_);
    View view = current();
    uint32_t node = view->index.find(view->nodeOf(directory), name);
    if (node == MountIndex::kNone) return kNotFound;
    const MountIndex::Node& found = view->index.node(node);
    if (found.kind != Kind::kDirectory) return kNotDirectory;
    // A directory that shows anything, entries of archives included, is not empty: removing it
    // on disk would leave it in the view.
    if (!view->index.directory(found).children.empty()) return kNotEmpty;
    std::string path = joinPath(gameDirectory_, found.gamePath);
    if (!platform::removeDirectory(path.c_str()))
        return platform::lastError() == 145 ? kNotEmpty : changeFailed(path, "cannot be removed");
    refresh({}, false);
    return kOk;
}

platform::ServedTree::Status MountedGame::rename(Node directory, const std::string& name,
                                                 Node newDirectory, const std::string& newName,
                                                 bool replace) {
    if (!writable_) return kReadOnly;
    std::lock_guard<std::mutex> hold(changeLock_);
    View view = current();
    uint32_t node = view->index.find(view->nodeOf(directory), name);
    if (node == MountIndex::kNone) return kNotFound;
    const MountIndex::Node& found = view->index.node(node);
    if (found.kind == Kind::kEntry) {
        tell(pathOf(*view, node) + ": not renamed: it is only an entry of " +
             view->index.archive(found).file->shownPath() +
             ", which is never written, and the game has no way to hide an entry (EPERM)");
        return kNotPermitted;
    }
    if (found.kind == Kind::kDirectory) {
        tell(pathOf(*view, node) + ": not renamed: directories are not renamed through the "
                                   "mount, since their archives' entries would stay (EPERM)");
        return kNotPermitted;
    }
    uint32_t parent = view->nodeOf(newDirectory);
    uint32_t existing = view->index.find(parent, newName);
    if (existing != MountIndex::kNone) {
        if (view->index.node(existing).kind == Kind::kDirectory) return kIsDirectory;
        if (!replace) return kExists;
    }
    std::string target;
    Status placed = placeOnDisk(view, parent, newName, target);
    if (placed != kOk) return placed;
    const std::string& path = view->index.looseFile(found).path;
    if (!platform::moveFile(path.c_str(), target.c_str(), replace))
        return changeFailed(path, "cannot be renamed");
    // The system moved its name over: the file goes on under its number.
    numbers_.carry(GameView::keyOf(view->index, node),
                   "f" + joinPath(view->index.node(parent).gamePath, newName));
    refresh({}, false);
    return kOk;
}

} // namespace pak
