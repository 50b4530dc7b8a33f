// Finding a directory's entry whatever the case of its name, without reading the directory
// again for every name looked up in it. Internal to the POSIX back end (posix_paths.cpp,
// directory_posix.cpp).
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace platform::posix {

// The folded names of one directory at a time, with a watch on it (inotify) through which
// every later change reaches them, whoever makes it; so a run of names looked up or created in
// one directory (an archive being extracted) reads it once instead of once per name. Asked
// about another directory, it forgets the first. Without a watch (none can be had, or the path
// it is given leads elsewhere) the directory is read for every answer. A change that the file
// system does not report (one made from another machine to a network file system) reaches the
// names only once they have been asked about another directory meanwhile.
//
// The watches of every DirectoryNames share one inotify instance for the whole process (the
// system allows only 128 per user by default), and one lock, which every call takes: any
// thread may ask.
class DirectoryNames {
  public:
    DirectoryNames() = default;
    ~DirectoryNames();
    DirectoryNames(const DirectoryNames&) = delete;
    DirectoryNames& operator=(const DirectoryNames&) = delete;

    // The entry of the directory held open as the descriptor directory whose name is the same
    // as name (a host name) under the file-name case rule, the first by character codes when
    // there are several; empty when there is none or the directory cannot be read. The names
    // are read through the descriptor itself, never through a path, so they are those of the
    // directory held, whatever has been renamed or swapped since it was opened. reachedBy is a
    // host path that led to it (empty when none is known); it is used only to watch the
    // directory, and only once it is seen to lead to the very directory held.
    std::string find(int directory, const std::string& reachedBy, const std::string& name);

    // For the watch that all instances share (posix_directory_names.cpp): a change reported in
    // the directory watched, or a change that cannot be followed.
    void added(const char* name);
    void removed(const char* name);
    void forget();

  private:
    void insert(const char* name);
    void read(int directory, const std::string& reachedBy, dev_t device, ino_t inode);

    int watch_ = -1;
    bool kept_ = false; // the names are watched and stay good between calls
    bool read_ = false; // the names of the last read are there
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::unordered_map<std::string, std::vector<std::string>> names_;
};

// The same for the directory at a host path (empty for the current directory), with the names
// of the directory last asked about this way kept for the whole process.
std::string caseVariant(const std::string& directory, const std::string& name);

} // namespace platform::posix
