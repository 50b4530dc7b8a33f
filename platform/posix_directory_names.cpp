// The folded names of a directory, kept up to date by inotify (see posix_directory_names.h).
#include "platform/posix_directory_names.h"

#include "base/cp932.h"
#include "base/cp932_unicode.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::posix {

namespace {

// A host name's characters under the file-name case rule, as a key; empty when the name has no
// code page 932 form (and so can never be asked for).
std::string foldedKey(const char* name, std::size_t length) {
    std::string text, key;
    if (!cp932::fromUtf8(name, length, text)) return key;
    for (const char* p = text.c_str(); *p != '\0'; p = cp932::next(p)) {
        unsigned code = cp932::foldFileNameCase(cp932::characterCode(p));
        if (code > 0xFF) key += static_cast<char>(code >> 8);
        key += static_cast<char>(code & 0xFF);
    }
    return key;
}

// The process's one inotify instance and the names that each of its watches serves. Two
// DirectoryNames on one directory get the same watch from the system, which is removed only
// when the last of them lets it go. Everything here, and every DirectoryNames, is used under
// the lock.
class Watches {
  public:
    std::mutex lock;

    // The watch on the directory at path for names, or -1 when none can be had.
    int add(const std::string& path, DirectoryNames* names) {
        if (notify_ == kNotOpened) notify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (notify_ < 0) return -1;
        int watch = inotify_add_watch(notify_, path.c_str(),
                                      IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                          IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        if (watch >= 0) served_[watch].push_back(names);
        return watch;
    }

    void remove(int watch, DirectoryNames* names) {
        auto found = served_.find(watch);
        if (found == served_.end()) return;
        std::vector<DirectoryNames*>& all = found->second;
        for (auto it = all.begin(); it != all.end(); ++it)
            if (*it == names) {
                all.erase(it);
                break;
            }
        if (!all.empty()) return;
        served_.erase(found);
        inotify_rm_watch(notify_, watch);
    }

    // Brings every watched directory's names up to date with the changes reported since; a
    // change that cannot be followed (the queue overflowed, the directory went) makes the names
    // concerned be read again at their next use.
    void applyChanges() {
        if (notify_ < 0) return;
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            ssize_t length = ::read(notify_, buffer, sizeof buffer);
            if (length <= 0) return; // EAGAIN: nothing more
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    forgetAll();
                    continue;
                }
                auto found = served_.find(event->wd);
                if (found == served_.end()) continue;
                // Copied: forgetting a watch takes its names off the list.
                std::vector<DirectoryNames*> names = found->second;
                for (DirectoryNames* one : names) {
                    if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))
                        one->forget();
                    else if (event->len > 0 && (event->mask & (IN_CREATE | IN_MOVED_TO)))
                        one->added(event->name);
                    else if (event->len > 0 && (event->mask & (IN_DELETE | IN_MOVED_FROM)))
                        one->removed(event->name);
                }
            }
        }
    }

  private:
    void forgetAll() {
        std::vector<DirectoryNames*> all;
        for (auto& [watch, names] : served_)
            all.insert(all.end(), names.begin(), names.end());
        for (DirectoryNames* names : all)
            names->forget();
    }

    static constexpr int kNotOpened = -2;
    int notify_ = kNotOpened; // made at the first watch; closed only with the process
    std::unordered_map<int, std::vector<DirectoryNames*>> served_;
};

Watches& watches() {
    static Watches* all = new Watches; // never destroyed: names may be let go at exit
    return *all;
}

} // namespace

DirectoryNames::~DirectoryNames() {
    std::lock_guard<std::mutex> held(watches().lock);
    forget();
}

void DirectoryNames::added(const char* name) {
    if (kept_) insert(name);
}

void DirectoryNames::insert(const char* name) {
    std::string key = foldedKey(name, std::strlen(name));
    if (key.empty()) return;
    std::vector<std::string>& same = names_[key];
    for (const std::string& existing : same)
        if (existing == name) return;
    same.emplace_back(name);
}

void DirectoryNames::removed(const char* name) {
    if (!kept_) return;
    auto found = names_.find(foldedKey(name, std::strlen(name)));
    if (found == names_.end()) return;
    std::vector<std::string>& same = found->second;
    for (auto it = same.begin(); it != same.end(); ++it)
        if (*it == name) {
            same.erase(it);
            break;
        }
    if (same.empty()) names_.erase(found);
}

void DirectoryNames::forget() {
    if (watch_ >= 0) watches().remove(watch_, this);
    watch_ = -1;
    kept_ = false;
    names_.clear();
}

std::string DirectoryNames::find(int directory, const std::string& reachedBy,
                                 const std::string& name) {
    std::string key = foldedKey(name.data(), name.size());
    if (key.empty()) return std::string();
    struct stat st {};
    if (fstat(directory, &st) != 0) return std::string();
    std::lock_guard<std::mutex> held(watches().lock);
    watches().applyChanges();
    if (!kept_ || st.st_dev != device_ || st.st_ino != inode_)
        read(directory, reachedBy, st.st_dev, st.st_ino);
    if (!kept_ && !read_) return std::string();
    auto found = names_.find(key);
    std::string first;
    if (found != names_.end())
        for (const std::string& candidate : found->second)
            if (first.empty() || candidate < first) first = candidate;
    if (!kept_) names_.clear(); // read without a watch: good for this answer only
    return first;
}

// Reads the directory held as directory, after putting the watch on it, so that no change
// between the two is lost (one seen twice does no harm).
void DirectoryNames::read(int directory, const std::string& reachedBy, dev_t device, ino_t inode) {
    forget();
    read_ = false;
    if (!reachedBy.empty()) {
        watch_ = watches().add(reachedBy, this);
        // A watch stays with the directory it was put on, so the path only has to lead to the
        // directory held now. Were it swapped to another and back around the watch, only the
        // choice among names that differ in case could suffer: every operation still goes
        // through the descriptor.
        struct stat there {};
        if (watch_ >= 0 && (stat(reachedBy.c_str(), &there) != 0 || there.st_dev != device ||
                            there.st_ino != inode))
            forget();
    }
    // A descriptor of its own for the listing: one duplicated would share its reading position
    // with the descriptor held, which other threads may list at the same time. "." inside a
    // directory is always that directory, never a link.
    int own = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(own >= 0 ? fdopendir(own) : nullptr, closedir);
    if (!dir) {
        if (own >= 0) close(own);
        forget();
        return;
    }
    for (;;) {
        errno = 0;
        dirent* entry = readdir(dir.get());
        if (entry == nullptr) break;
        insert(entry->d_name);
    }
    if (errno != 0) { // names missing: no answer rather than a wrong one
        forget();
        return;
    }
    read_ = true;
    kept_ = watch_ >= 0;
    device_ = device;
    inode_ = inode;
}

std::string caseVariant(const std::string& directory, const std::string& name) {
    // The directory last looked up by path, for the whole process.
    static DirectoryNames* lastByPath = new DirectoryNames; // never destroyed, as the watches
    const char* path = directory.empty() ? "." : directory.c_str();
    int held = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (held < 0) return std::string();
    std::string found = lastByPath->find(held, path, name);
    close(held);
    return found;
}

} // namespace platform::posix
