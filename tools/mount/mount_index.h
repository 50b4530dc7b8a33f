// The tree that pak mount shows: every file of a game directory and every entry of its
// archives that the game's lookup can reach, each under its own full name; or the entries of
// one archive alone.
//
// It is made once, when the mount is made, and is a snapshot: names, sizes and places are
// those of that moment. The archives stay open from then on (a new file put in the place of
// one is not seen); loose files are opened by their path when they are read.
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
#include <memory>
#include <string>
#include <vector>

namespace pak {

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
    struct Archive {
        std::unique_ptr<ArchiveFile> file;
        int64_t modified = 0;
    };

    static constexpr uint32_t kNone = UINT32_MAX;
    static constexpr uint32_t kRoot = 0;

    // The merged view of the game directory at directory, an absolute system path. Archives
    // that cannot be read, and names that cannot be shown, are told in notes, one line each;
    // the rest is shown. Throws Failure (kNotFound) when directory cannot be read.
    static MountIndex ofGameDirectory(const std::string& directory);
    // The entries of the archive at path alone (system text). Throws Failure as ArchiveFile
    // does when it cannot be opened or its directory cannot be read.
    static MountIndex ofArchive(const std::string& path);

    MountIndex(MountIndex&&) = default;
    MountIndex& operator=(MountIndex&&) = default;

    std::size_t size() const { return nodes_.size(); }
    const Node& node(uint32_t index) const { return nodes_[index]; }
    const Directory& directory(const Node& node) const { return directories_[node.index]; }
    const LooseFile& looseFile(const Node& node) const { return looseFiles_[node.index]; }
    Archive& archive(const Node& node) { return archives_[node.index]; }
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
