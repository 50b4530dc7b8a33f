// Making the tree that pak mount shows (see mount_index.h).
#include "tools/mount/mount_index.h"

#include "archive/entry_path.h"
#include "archive/failure.h"
#include "base/cp932.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/file_system.h"
#include "platform/served_tree.h"
#include "text/printable_text.h"
#include "text/system_path.h"
#include "tools/mount/copy_up.h"
#include "vfs/archive_lookup.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace pak {

namespace {

// The characters of text under a case rule (cp932::foldCase or cp932::foldFileNameCase), as a
// key: two names are the same under the rule when their keys are equal.
std::string foldedKey(const std::string& text, unsigned (*fold)(unsigned)) {
    std::string key;
    key.reserve(text.size());
    for (const char* p = text.c_str(); *p != '\0'; p = cp932::next(p)) {
        unsigned code = fold(cp932::characterCode(p));
        if (code > 0xFF) key += static_cast<char>(code >> 8);
        key += static_cast<char>(code & 0xFF);
    }
    return key;
}

unsigned archiveRule(unsigned code) {
    return cp932::foldCase(code);
}

// Why the system cannot show a component (printable system text) as a name; empty when it can.
std::string whyNotShowable(const std::string& component) {
    switch (platform::servedNameFit(component)) {
    case platform::NameFit::kFits:
        return {};
    case platform::NameFit::kTooLong:
        return "a component of its name is longer than the " +
               std::to_string(platform::kLongestServedName) +
               " bytes a file name can have on this system";
    default:
        return "a component of its name cannot be a file name on this system";
    }
}

// The key of the maps below for a name inside one directory.
std::string childKey(uint32_t directory, const std::string& name) {
    return std::string(reinterpret_cast<const char*>(&directory), sizeof directory) + name;
}

} // namespace

LoadedArchive::LoadedArchive(const std::string& path, uint64_t serial)
    : file(std::make_shared<ArchiveFile>(path)), serial(serial) {
    file->readDirectory();
    platform::FileStatus status;
    if (platform::fileStatus(path.c_str(), status)) modified = status.modified;
    PakEntry entry;
    StoredEntry stored;
    try {
        while (file->next(entry, stored))
            records.push_back({entry.name.data != nullptr ? entry.name.data : "", stored});
    } catch (const Failure& failure) {
        broken = failure.message;
    }
}

// Puts the tree together: nodes are added loose files first, then archive by archive, and the
// maps that find a directory's child while the tree grows are dropped at the end.
class MountIndex::Builder {
  public:
    explicit Builder(MountIndex& index, int64_t rootModified) : index_(index) {
        index_.nodes_.push_back(Node{});
        index_.directories_.push_back(Directory{rootModified, {}});
    }

    void addLooseTree(const std::string& base, const std::string& relative, uint32_t directory) {
        std::string path = joinPath(base, relative);
        platform::FileSearch search(joinPath(path, "*").c_str());
        platform::FoundFile found;
        while (search.next(found)) {
            if (isCopyUpTemporary(found.name)) continue; // a copy not yet in place
            std::string name = joinPath(relative, found.name);
            std::string full = joinPath(path, found.name);
            platform::FileStatus status;
            if (!platform::fileStatus(full.c_str(), status)) continue; // gone meanwhile
            std::string shown = printableText(found.name);
            std::string unfit = whyNotShowable(shown);
            if (!unfit.empty()) {
                note(platform::shownPath(full) + ": not shown: " + unfit);
                continue;
            }
            if (found.isDirectory) {
                // A directory link is not entered: one that leads to a parent would never end.
                uint32_t attributes = platform::linkAttributes(full.c_str());
                if (attributes & platform::kReparsePointAttribute) continue;
                uint32_t child = add(directory, shown, Kind::kDirectory, true, status.modified);
                index_.nodes_[child].gamePath = name;
                addLooseTree(base, name, child);
                continue;
            }
            // Entries of its name stay hidden all the same: the game finds it first.
            looseFileKeys_.insert(foldedKey(name, cp932::foldFileNameCase));
            if (status.isSpecial) {
                // Never opened: a FIFO would hold whoever opens it until a writer comes.
                note(platform::shownPath(full) +
                     ": not shown: a FIFO, a socket or a device, not a file");
                continue;
            }
            index_.looseFiles_.push_back({full, status.size, status.modified});
            index_.nodes_[add(directory, shown, Kind::kLoose, true, 0)].gamePath = name;
        }
        if (search.failed())
            note(platform::shownPath(path) + ": cannot be read (system error " +
                 std::to_string(platform::lastError()) + "); what is in it is not shown");
        if (search.skipped() > 0)
            note(platform::shownPath(path) + ": " + std::to_string(search.skipped()) +
                 " name(s) in it have no Shift-JIS form; the game cannot open them and they are "
                 "not shown");
    }

    // Adds the archive's entries, and tells a directory that breaks off in a note.
    void addArchive(const std::shared_ptr<const LoadedArchive>& archive) {
        index_.archives_.push_back(archive);
        auto number = static_cast<uint32_t>(index_.archives_.size() - 1);
        for (const LoadedArchive::Record& record : archive->records)
            addEntry(archive->file->shownPath(), number, record.name, record.stored);
        if (!archive->broken.empty())
            note(archive->broken + "; the entries after it are not shown");
    }

    void finish() {
        for (Directory& directory : index_.directories_)
            std::sort(directory.children.begin(), directory.children.end(),
                      [this](uint32_t a, uint32_t b) {
                          return storedNameBefore(index_.nodes_[a].name, index_.nodes_[b].name);
                      });
        byName_ = {};
        byArchiveRule_ = {};
        looseFileKeys_ = {};
    }

    void note(const std::string& text) { index_.notes_.push_back(text); }

  private:
    void addEntry(const std::string& shownArchive, uint32_t archive, const std::string& name,
                  const StoredEntry& stored) {
        EntryPath path = entryPath(name);
        if (!path.refusal.empty()) {
            note(shownArchive + ": " + name + ": not shown: " + path.refusal);
            return;
        }
        std::string relative;
        for (const std::string& component : path.components) {
            std::string unfit = whyNotShowable(printableText(component));
            if (!unfit.empty()) {
                note(shownArchive + ": " + name + ": not shown: " + unfit);
                return;
            }
            relative = joinPath(relative, component);
        }
        if (looseFileKeys_.count(foldedKey(relative, cp932::foldFileNameCase)) > 0)
            return; // a loose file of that name comes first

        int64_t modified = index_.archives_[archive]->modified;
        uint32_t directory = kRoot;
        for (std::size_t i = 0; i + 1 < path.components.size(); ++i) {
            std::string shown = printableText(path.components[i]);
            uint32_t child = lookup(directory, shown);
            if (child == kNone) {
                child = add(directory, shown, Kind::kDirectory, false, modified);
                index_.nodes_[child].gamePath =
                    joinPath(index_.nodes_[directory].gamePath, path.components[i]);
            } else if (index_.nodes_[child].kind != Kind::kDirectory) {
                note(shownArchive + ": " + name + ": not shown: " + pathOf(child) +
                     " is a file, not a directory");
                return;
            }
            directory = child;
        }
        std::string shown = printableText(path.components.back());
        uint32_t existing = lookup(directory, shown);
        if (existing == kNone) {
            uint32_t added = add(directory, shown, Kind::kEntry, false, 0);
            index_.nodes_[added].index = archive;
            index_.nodes_[added].stored = stored;
            index_.nodes_[added].gamePath = relative;
        } else if (index_.nodes_[existing].kind == Kind::kDirectory) {
            note(shownArchive + ": " + name + ": not shown: " + pathOf(existing) +
                 " is a directory");
        } // otherwise an entry before it has the name: the game takes that one
    }

    // The child of directory that a new name meets: the one of exactly that name, else one of
    // the same name under the archive rule.
    uint32_t lookup(uint32_t directory, const std::string& name) const {
        auto exact = byName_.find(childKey(directory, name));
        if (exact != byName_.end()) return exact->second;
        auto same = byArchiveRule_.find(childKey(directory, foldedKey(name, archiveRule)));
        return same != byArchiveRule_.end() ? same->second : kNone;
    }

    uint32_t add(uint32_t directory, const std::string& name, Kind kind, bool onDisk,
                 int64_t modified) {
        auto number = static_cast<uint32_t>(index_.nodes_.size());
        Node node;
        node.name = name;
        node.parent = directory;
        node.kind = kind;
        node.onDisk = onDisk;
        if (kind == Kind::kDirectory) {
            node.index = static_cast<uint32_t>(index_.directories_.size());
            index_.directories_.push_back(Directory{modified, {}});
        } else if (kind == Kind::kLoose) {
            node.index = static_cast<uint32_t>(index_.looseFiles_.size() - 1);
        }
        index_.nodes_.push_back(std::move(node));
        index_.directories_[index_.nodes_[directory].index].children.push_back(number);
        byName_.emplace(childKey(directory, name), number);
        // Of loose names that differ in case only (a Linux directory can hold them), the first
        // by character codes answers for the others, as the game finds it.
        auto [same, added] =
            byArchiveRule_.emplace(childKey(directory, foldedKey(name, archiveRule)), number);
        if (!added && name < index_.nodes_[same->second].name) same->second = number;
        return number;
    }

    std::string pathOf(uint32_t node) const {
        std::string path;
        for (; node != kRoot; node = index_.nodes_[node].parent)
            path = joinPath(index_.nodes_[node].name, path);
        return path;
    }

    MountIndex& index_;
    std::unordered_map<std::string, uint32_t> byName_; // (directory, name) to node
    std::unordered_map<std::string, uint32_t>
        byArchiveRule_;                             // (directory, name under archive rule)
    std::unordered_set<std::string> looseFileKeys_; // loose files' paths, file-name rule
};

MountIndex MountIndex::ofGameDirectory(const std::string& directory, const ArchiveLoader& load) {
    platform::FileStatus status;
    if (!platform::fileStatus(directory.c_str(), status) || !status.isDirectory)
        throw Failure(kNotFound, directory + ": no such directory");
    MountIndex index;
    Builder builder(index, status.modified);
    builder.addLooseTree(directory, "", kRoot);
    buildPakList(directory.c_str());
    std::vector<std::string> archives;
    for (const String& archive : PakList)
        archives.emplace_back(archive.data != nullptr ? archive.data : "");
    for (const std::string& archive : archives) {
        // A FIFO, a socket or a device is never opened; the walk above told it.
        platform::FileStatus archiveStatus;
        if (platform::fileStatus(archive.c_str(), archiveStatus) && archiveStatus.isSpecial)
            continue;
        try {
            builder.addArchive(load ? load(archive) : std::make_shared<LoadedArchive>(archive, 0));
        } catch (const Failure& failure) {
            builder.note(failure.message + "; its entries are not shown");
        }
    }
    builder.finish();
    return index;
}

MountIndex MountIndex::ofArchive(const std::string& path) {
    platform::FileStatus status;
    MountIndex index;
    Builder builder(index, platform::fileStatus(path.c_str(), status) ? status.modified : 0);
    builder.addArchive(std::make_shared<LoadedArchive>(path, 0));
    builder.finish();
    return index;
}

uint64_t MountIndex::fileSize(const Node& node) const {
    switch (node.kind) {
    case Kind::kLoose:
        return looseFiles_[node.index].size;
    case Kind::kEntry:
        return node.stored.dataSize();
    default:
        return 0;
    }
}

int64_t MountIndex::modified(const Node& node) const {
    switch (node.kind) {
    case Kind::kLoose:
        return looseFiles_[node.index].modified;
    case Kind::kEntry:
        return archives_[node.index]->modified;
    default:
        return directories_[node.index].modified;
    }
}

uint32_t MountIndex::find(uint32_t directory, const std::string& name) const {
    if (directory >= nodes_.size() || nodes_[directory].kind != Kind::kDirectory) return kNone;
    const std::vector<uint32_t>& children = directories_[nodes_[directory].index].children;
    // The children are sorted by the archive rule, ties by their bytes: names equal under the
    // rule stand together, the first by character codes first.
    auto first = std::lower_bound(
        children.begin(), children.end(), name, [this](uint32_t child, const std::string& wanted) {
            return cp932::compareNoCase(nodes_[child].name.c_str(), wanted.c_str()) < 0;
        });
    uint32_t same = kNone;
    for (auto it = first;
         it != children.end() && cp932::compareNoCase(nodes_[*it].name.c_str(), name.c_str()) == 0;
         ++it) {
        if (nodes_[*it].name == name) return *it;
        if (same == kNone) same = *it;
    }
    if (same != kNone) return same;
    // Files on disk are found by the wider file-name rule (Greek, Cyrillic, ...).
    std::string key = foldedKey(name, cp932::foldFileNameCase);
    uint32_t found = kNone;
    for (uint32_t child : children)
        if (nodes_[child].onDisk && foldedKey(nodes_[child].name, cp932::foldFileNameCase) == key &&
            (found == kNone || nodes_[child].name < nodes_[found].name))
            found = child;
    return found;
}

} // namespace pak
