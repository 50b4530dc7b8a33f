// The tree that pak mount shows: every file of a game directory and every entry of its
// archives that the game's lookup can reach, each under its own full name; or the entries of
// one archive alone.
//
// An index is one state of the game directory: names, sizes and places are those of the moment
// it was made. A view that follows the directory makes a new index when something changes,
// and takes over the archives that did not change (LoadedArchive) without reading them again.
// The archives stay open for as long as an index holds them, so a reader of an index keeps
// reading the archive it was made from, even when a new file was put in its place since.
// Loose files are opened by their path when they are read.
//
// What is shown, and how a name is found, is written out in tools/pak/README.md (Mounting).
// Here the rules come from: loose files hide entries by the file-name rule
// (cp932::foldFileNameCase); the archives are taken in the game's order (buildPakList), and an
// entry hides a later one of the same name by the archive rule (cp932::foldCase); names are
// taken apart as extract takes them (entry_path.h), shown in their printable form
// (text/printable_text.h), and left out where the system cannot show them
// (platform::servedNameFit). FIFOs, sockets and devices are never opened.
#pragma once

#include "archive/archive_file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pak {

// An archive open with its directory read, shared by the indexes made while it did not change.
struct LoadedArchive {
    struct Record {
        std::string name; // system text, as stored
        StoredEntry stored;
    };
    // Opens the archive at path and reads its directory; throws Failure as ArchiveFile does. A
    // directory that breaks off keeps the records before it and says so in broken. serial is
    // the archive's number of its own: an archive loaded anew is given another.
    LoadedArchive(const std::string& path, uint64_t serial);

    std::shared_ptr<ArchiveFile> file;
    uint64_t serial = 0;
    int64_t modified = 0;
    std::vector<Record> records;
    std::string broken; // why the records after the last one are not there; empty when whole
};

// Gives the LoadedArchive for an archive's path: one kept from before, or one loaded now.
using ArchiveLoader = std::function<std::shared_ptr<const LoadedArchive>(const std::string& path)>;

class MountIndex {
  public:
    enum class Kind : uint8_t { kDirectory, kLoose, kEntry };

    struct Node {
        std::string name; // one component, printable system text; empty for the root
        uint32_t parent = 0;
        Kind kind = Kind::kDirectory;
        bool onDisk = false; // a loose file, or a directory that is one on disk
        uint32_t index = 0;  // into directories, looseFiles or archives, by kind
        StoredEntry stored;  // kEntry
        // Its path in the game directory (system text, backslashes; empty for the root): the
        // names it has on disk, or the components of its entry's name, not their shown form.
        std::string gamePath;
    };
    struct Directory {
        int64_t modified = 0;
        std::vector<uint32_t> children; // sorted by storedNameBefore of their names
    };
    struct LooseFile {
        std::string path; // absolute system path
        uint64_t size = 0;
        int64_t modified = 0;
    };
    using Archive = std::shared_ptr<const LoadedArchive>;

    static constexpr uint32_t kNone = UINT32_MAX;
    static constexpr uint32_t kRoot = 0;

    // The merged view of the game directory at directory, an absolute system path, with its
    // archives given by load (by default each loaded anew). Archives that cannot be read, and
    // names that cannot be shown, are told in notes, one line each; the rest is shown. Files
    // that copyUpTemporary names are not shown. Throws Failure (kNotFound) when directory
    // cannot be read.
    static MountIndex ofGameDirectory(const std::string& directory, const ArchiveLoader& load = {});
    // The entries of the archive at path alone (system text). Throws Failure as ArchiveFile
    // does when it cannot be opened or its directory cannot be read.
    static MountIndex ofArchive(const std::string& path);

    MountIndex(MountIndex&&) = default;
    MountIndex& operator=(MountIndex&&) = default;

    std::size_t size() const { return nodes_.size(); }
    const Node& node(uint32_t index) const { return nodes_[index]; }
    const Directory& directory(const Node& node) const { return directories_[node.index]; }
    const LooseFile& looseFile(const Node& node) const { return looseFiles_[node.index]; }
    const LoadedArchive& archive(const Node& node) const { return *archives_[node.index]; }
    const std::vector<Archive>& archives() const { return archives_; }
    // The bytes a file node holds, and the time it shows.
    uint64_t fileSize(const Node& node) const;
    int64_t modified(const Node& node) const;
    // The node named name (system text) in the directory node, or kNone.
    uint32_t find(uint32_t directory, const std::string& name) const;

    // What could not be shown, and why: one line each, system text.
    const std::vector<std::string>& notes() const { return notes_; }

  private:
    MountIndex() = default;
    class Builder;

    std::vector<Node> nodes_;
    std::vector<Directory> directories_;
    std::vector<LooseFile> looseFiles_;
    std::vector<Archive> archives_;
    std::vector<std::string> notes_;
};

} // namespace pak
