// The view of a game served at a mount point: names and attributes from the current GameView,
// file data read on demand. Loose files are read from disk; plain entries in place from their
// archive; small compressed entries (at most one seek interval) through the EntryCache, and the
// larger ones, or small ones the cache has no room for at the moment, through an EntryStream of
// the open file (EntryStream::readAt: what it delivered last is kept, so that requests that come
// a little out of order are served from there; a reader that goes back further, or far ahead,
// starts from the entry's nearest seek point, kept in the SeekPointStore). The system's page
// cache keeps what was read (the files are opened with keep_cache), so a large entry is never
// kept whole here.
//
// A view of a game directory follows it (GameWatch): a change there makes a new view, for which
// only the archives that changed are read again, and the system is told which names and nodes
// changed (ServedTree::Changes). Loose files whose bytes changed keep their node and the system
// drops what it kept of them; an entry is a new node whenever its archive changed, and an open
// file keeps reading the view it was opened in: the entry of the archive as it was then (the
// archive stays open), never a mix of two versions. A view of one archive alone does not
// change.
//
// Writable, the view saves changes as the game's own loose files (see tools/pak/README.md,
// Mounting): the first write to an entry copies it up (copy_up.h) to a loose file of its name,
// which the game then reads before any entry; files are created, written, cut, renamed and
// removed on disk, directories made and removed; removing or renaming a file that is only an entry,
// which the game could never do, is refused. Nothing is ever written into an archive. Each change
// is followed by a new view at once, so that the next request sees it.
//
// Data that cannot be read (a corrupt entry, a failing disk) fails the read that meets it, and
// is told once per file; everything else stays readable. What a read needs in memory (the open
// file, its stream and the bytes it keeps) comes from the platform's heap (heap_memory.h); when
// that runs out, the read throws std::bad_alloc and the open file stays as sound as it was.
#pragma once

#include "platform/served_tree.h"
#include "platform/tree_watch.h"
#include "tools/mount/entry_cache.h"
#include "tools/mount/game_view.h"
#include "tools/mount/game_watch.h"
#include "tools/mount/seek_point_store.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pak {

class MountedGame : public platform::ServedTree {
  public:
    // Tells the user one line of system text: what is wrong with a file, or why a request
    // failed. Called by one thread at a time.
    using Tell = std::function<void(const std::string& line)>;

    // The most bytes the seek points of all entries take: enough for them to lie 1 MiB apart
    // in an entry of 1 GiB, and with the default cache the process stays within 64 MiB.
    static constexpr uint64_t kSeekPointLimit = 33u << 20;

    // index: the first view. gameDirectory: the directory it shows (an absolute system path),
    // followed while served; empty for a view of one archive alone, which neither follows nor
    // takes writes. cacheLimit: the most bytes of inflated (small) entries kept in memory.
    MountedGame(MountIndex index, const std::string& gameDirectory, bool writable,
                uint64_t cacheLimit, Tell tell);
    ~MountedGame() override;

    Node find(Node directory, const std::string& name) const override;
    bool attributes(Node node, Attributes& out) const override;
    bool listed(Node directory, std::size_t index, std::string& name, Node& child) const override;
    Status open(Node file, uint64_t& handle) override;
    Status read(uint64_t handle, uint64_t offset, unsigned char* buffer, std::size_t count,
                std::size_t& delivered) override;
    void close(uint64_t handle) override;
    void requestFailed(const std::string& why) noexcept override;
    void serving(Changes* changes) override;

    Status openForWriting(Node file, bool truncate, uint64_t& handle) override;
    Status create(Node directory, const std::string& name, Node& created,
                  uint64_t& handle) override;
    Status makeDirectory(Node directory, const std::string& name, Node& created) override;
    Status write(uint64_t handle, uint64_t offset, const unsigned char* data,
                 std::size_t count) override;
    Status resize(Node file, uint64_t size) override;
    Status sync(uint64_t handle) override;
    Status remove(Node directory, const std::string& name) override;
    Status removeDirectory(Node directory, const std::string& name) override;
    Status rename(Node directory, const std::string& name, Node newDirectory,
                  const std::string& newName, bool replace) override;

    // Takes in what changed in the game directory: makes a new view when names or archives
    // changed, and tells the system what changed since it was last told. What GameWatch calls.
    void takeChanges(const std::vector<platform::TreeChange>& changes);

  private:
    struct OpenFile;
    using View = std::shared_ptr<const GameView>;

    View current() const;
    // Makes a new view, loading again the archives named in stale (paths relative to the game
    // directory), or all of them with everything, and keeps what changed to be told. Called
    // with changeLock_ held.
    void refresh(const std::set<std::string>& stale, bool everything);
    // The file name inside the directory node (the directory made on disk, with its parents,
    // where it is only in archives), or the status that says why there is none.
    Status placeOnDisk(const View& view, uint32_t directory, const std::string& name,
                       std::string& path);
    // The same for a name new in the directory node number (changeLock_ held): kExists when the
    // view shows one already.
    Status placeNew(Node directory, const std::string& name, std::string& path);
    // Copies the entry node of view up to a loose file, whose node keeps the entry's number.
    // Called with changeLock_ held.
    Status copyUpEntry(const View& view, uint32_t node);
    // The loose file that number shows, found for a change (changeLock_ held): an entry is copied
    // up first. view and node tell where it now is.
    Status looseToChange(Node number, View& view, uint32_t& node);
    // Opens the loose file at path for writing as the node number, and registers it.
    Status openLoose(const View& view, uint32_t node, const std::string& path, bool truncate,
                     uint64_t& handle);
    uint64_t keep(std::unique_ptr<OpenFile> file);
    OpenFile* openFile(uint64_t handle);
    // The status for a failed change of path, told.
    Status changeFailed(const std::string& path, const std::string& what);

    Status readEntry(OpenFile& file, uint64_t offset, unsigned char* buffer, std::size_t count,
                     std::size_t& delivered);
    // Tells what is wrong with the file, once per file.
    Status tellOnce(const OpenFile& file, const std::string& problem);
    void tell(const std::string& line);

    std::string gameDirectory_;
    bool writable_;
    EntryCache cache_;
    SeekPointStore seekPoints_;
    Tell tell_;

    mutable std::mutex viewLock_; // over view_
    View view_;
    std::mutex changeLock_; // over the changes: one at a time, with the views they make
    NodeNumbers numbers_;
    uint64_t nextSerial_ = 1;

    std::mutex toTellLock_; // over what the system is still to be told
    std::unordered_set<uint64_t> changedNodes_;
    bool namesChanged_ = false;
    std::unordered_set<uint64_t> toldNodes_; // what the last batch told, to be told again
    bool namesToldLast_ = false;

    mutable std::mutex filesLock_;
    uint64_t nextHandle_ = 1;
    std::unordered_map<uint64_t, std::unique_ptr<OpenFile>> files_;
    std::mutex reportLock_;
    std::unordered_set<uint64_t> reported_;

    Changes* changes_ = nullptr;
    std::unique_ptr<GameWatch> watch_;
};

} // namespace pak
