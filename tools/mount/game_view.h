// One state of the view that pak mount shows, with the numbers the system knows its nodes by.
//
// The system keeps what it was told of a node (its name, attributes, data) under its number,
// so numbers must outlive the index they were given for: a node that stays what it was keeps
// its number from one view to the next, and one that became something else is given a new
// number, never one given before. What a number stands for is its key (keyOf): a directory
// and a loose file by their path, an entry by its path and the load of its archive, so an
// entry of an archive that changed, or one that took the place of a loose file, is a new node,
// whose readers never meet the bytes the kernel kept of the old one. A loose file keeps its
// number while it is written to, and one made by copying up an entry keeps the entry's
// (NodeNumbers::carry): the writer of that file holds the entry's node.
#pragma once

#include "tools/mount/mount_index.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace pak {

class NodeNumbers {
  public:
    // The number of key, a new one when it has none.
    uint64_t numberOf(const std::string& key);
    // The number of key, or 0 when it has none.
    uint64_t known(const std::string& key) const {
        auto found = numbers_.find(key);
        return found == numbers_.end() ? 0 : found->second;
    }
    // Forgets the keys that are not in kept.
    void keepOnly(const std::vector<std::string>& kept);
    // From now on key to stands for the number of key from (when it has one).
    void carry(const std::string& from, const std::string& to);

  private:
    std::unordered_map<std::string, uint64_t> numbers_{{std::string(), 1}}; // the root is 1
    uint64_t next_ = 2;
};

struct GameView {
    // Numbers the nodes of index, keeping the numbers of the nodes that numbers knows.
    GameView(MountIndex index, NodeNumbers& numbers);

    // What a node's number stands for.
    static std::string keyOf(const MountIndex& index, uint32_t node);
    // The index's node of number, or MountIndex::kNone.
    uint32_t nodeOf(uint64_t number) const;

    MountIndex index;
    std::vector<uint64_t> numbers; // by node of the index
    std::unordered_map<uint64_t, uint32_t> nodes;
};

} // namespace pak
