// An archive named on the command line, open for walking its directory.
//
// The file is opened from disk by its path and nothing else: a missing archive is not looked
// for inside other archives, as the game's own open would.
#pragma once

#include "vfs/pak_directory.h"
#include "vfs/pak_entry.h"
#include "vfs/virtual_file.h"

#include <cstdio>
#include <memory>
#include <string>

namespace pak {

class ArchiveFile {
  public:
    // Opens the archive at path (system text) and reads its header. Throws Failure: kNotFound
    // when nothing is there; kCorrupt when it cannot be opened, is a directory, ends inside its
    // header or has a version other than 0 to 4.
    explicit ArchiveFile(const std::string& path);
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    const std::string& path() const { return path_; }
    // The path as messages show it (platform::shownPath).
    const std::string& shownPath() const { return shown_; }
    const PakHeader& header() const { return directory_->header(); }
    uint64_t size() const { return directory_->archiveSize(); }
    VirtualFile& file() { return file_; }
    // The archive's stream, for reads at positions (platform::readStreamAt), which leave the
    // position that the walk of the directory relies on alone.
    std::FILE* stream() const { return file_.stream; }
    const PakDirectory& directory() const { return *directory_; }

    // Makes the records readable. Throws Failure (kCorrupt) when the stored directory does not
    // fit the file, cannot be inflated or does not fit in memory.
    void readDirectory();
    // The next record, or false after the last. Throws Failure (kCorrupt) at a record that is
    // cut short or whose name length cannot be right.
    bool next(PakEntry& entry, StoredEntry& stored);

  private:
    std::string path_;
    std::string shown_;
    VirtualFile file_;
    std::unique_ptr<PakDirectory> directory_;
};

} // namespace pak
