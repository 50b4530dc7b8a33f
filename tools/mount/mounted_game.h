// The tree of a MountIndex served at a mount point: names and attributes from the index, file
// data read on demand. Loose files are read from disk; plain entries in place from their
// archive; small compressed entries (at most one seek interval) through the EntryCache, and the
// larger ones, or small ones the cache has no room for at the moment, through an EntryStream of
// the open file (EntryStream::readAt: what it delivered last is kept, so that requests that come
// a little out of order are served from there; a reader that goes back further, or far ahead,
// starts from the entry's nearest seek point, kept in the SeekPointStore). The system's page
// cache keeps what was read (the files are opened with keep_cache), so a large entry is never
// kept whole here.
//
// Data that cannot be read (a corrupt entry, a failing disk) fails the read that meets it, and
// is told once per file; everything else stays readable. What a read needs in memory (the open
// file, its stream and the bytes it keeps) comes from the platform's heap (heap_memory.h); when
// that runs out, the read throws std::bad_alloc and the open file stays as sound as it was.
#pragma once

#include "platform/served_tree.h"
#include "tools/mount/entry_cache.h"
#include "tools/mount/mount_index.h"
#include "tools/mount/seek_point_store.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace pak {

class MountedGame : public platform::ServedTree {
  public:
    // Tells the user one line of system text: what is wrong with a file, or why a request
    // failed. Called by one thread at a time.
    using Tell = std::function<void(const std::string& line)>;

    // The most bytes the seek points of all entries take: enough for them to lie 1 MiB apart
    // in an entry of 1 GiB, and with the default cache the process stays within 64 MiB.
    static constexpr uint64_t kSeekPointLimit = 33u << 20;

    // cacheLimit: the most bytes of inflated (small) entries kept in memory.
    MountedGame(MountIndex& index, uint64_t cacheLimit, Tell tell);
    ~MountedGame() override;

    Node find(Node directory, const std::string& name) const override;
    bool attributes(Node node, Attributes& out) const override;
    bool listed(Node directory, std::size_t index, std::string& name, Node& child) const override;
    Status open(Node file, uint64_t& handle) override;
    Status read(uint64_t handle, uint64_t offset, unsigned char* buffer, std::size_t count,
                std::size_t& delivered) override;
    void close(uint64_t handle) override;
    void requestFailed(const std::string& why) noexcept override;

    // The name of node (an index of the MountIndex) with its directories, as the game names
    // it (backslashes).
    std::string pathOf(uint32_t node) const;

  private:
    struct OpenFile;

    Status readEntry(OpenFile& file, uint64_t offset, unsigned char* buffer, std::size_t count,
                     std::size_t& delivered);
    // Tells what is wrong with the file, once per file.
    Status tellOnce(uint32_t node, const std::string& problem);

    MountIndex& index_;
    EntryCache cache_;
    SeekPointStore seekPoints_;
    Tell tell_;
    std::mutex filesLock_;
    uint64_t nextHandle_ = 1;
    std::unordered_map<uint64_t, std::unique_ptr<OpenFile>> files_;
    std::mutex reportLock_;
    std::unordered_set<uint32_t> reported_;
};

} // namespace pak
