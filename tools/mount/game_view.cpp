// Numbering the nodes of a view (see game_view.h).
#include "tools/mount/game_view.h"

#include <unordered_set>
#include <utility>

namespace pak {

uint64_t NodeNumbers::numberOf(const std::string& key) {
    auto [at, added] = numbers_.emplace(key, next_);
    if (added) ++next_;
    return at->second;
}

void NodeNumbers::keepOnly(const std::vector<std::string>& kept) {
    std::unordered_set<std::string> wanted(kept.begin(), kept.end());
    wanted.insert(std::string()); // the root
    for (auto at = numbers_.begin(); at != numbers_.end();)
        at = wanted.count(at->first) > 0 ? std::next(at) : numbers_.erase(at);
}

void NodeNumbers::carry(const std::string& from, const std::string& to) {
    auto found = numbers_.find(from);
    if (found != numbers_.end()) numbers_[to] = found->second;
}

std::string GameView::keyOf(const MountIndex& index, uint32_t node) {
    if (node == MountIndex::kRoot) return std::string();
    const MountIndex::Node& found = index.node(node);
    switch (found.kind) {
    case MountIndex::Kind::kDirectory:
        return "d" + found.gamePath;
    case MountIndex::Kind::kLoose:
        return "f" + found.gamePath;
    default:
        return "e" + std::to_string(index.archive(found).serial) + ":" + found.gamePath;
    }
}

GameView::GameView(MountIndex made, NodeNumbers& numbering) : index(std::move(made)) {
    std::vector<std::string> keys;
    keys.reserve(index.size());
    numbers.reserve(index.size());
    for (uint32_t node = 0; node < index.size(); ++node) {
        keys.push_back(keyOf(index, node));
        numbers.push_back(numbering.numberOf(keys.back()));
        nodes.emplace(numbers.back(), node);
    }
    numbering.keepOnly(keys);
}

uint32_t GameView::nodeOf(uint64_t number) const {
    auto found = nodes.find(number);
    return found == nodes.end() ? MountIndex::kNone : found->second;
}

} // namespace pak
