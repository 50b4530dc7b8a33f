// The folded names of one directory, kept up to date by inotify (see posix_directory_names.h).
#include "platform/posix_directory_names.h"

#include "base/cp932.h"
#include "base/cp932_unicode.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

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

class DirectoryNames {
  public:
    DirectoryNames() : notify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~DirectoryNames() {
        if (notify_ >= 0) close(notify_);
    }
    DirectoryNames(const DirectoryNames&) = delete;
    DirectoryNames& operator=(const DirectoryNames&) = delete;

    std::string find(int directory, const std::string& reachedBy, const std::string& name) {
        std::string key = foldedKey(name.data(), name.size());
        if (key.empty()) return std::string();
        struct stat st {};
        if (fstat(directory, &st) != 0) return std::string();
        applyChanges();
        if (!kept_ || st.st_dev != device_ || st.st_ino != inode_) read(directory, reachedBy, st);
        if (!kept_ && !read_) return std::string();
        auto found = names_.find(key);
        std::string first;
        if (found != names_.end())
            for (const std::string& candidate : found->second)
                if (first.empty() || candidate < first) first = candidate;
        if (!kept_) names_.clear(); // read without a watch: good for this answer only
        return first;
    }

  private:
    void add(const char* name) {
        std::string key = foldedKey(name, std::strlen(name));
        if (key.empty()) return;
        std::vector<std::string>& same = names_[key];
        for (const std::string& existing : same)
            if (existing == name) return;
        same.emplace_back(name);
    }

    void remove(const char* name) {
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

    void forget() {
        if (watch_ >= 0) inotify_rm_watch(notify_, watch_);
        watch_ = -1;
        kept_ = false;
        names_.clear();
    }

    // Reads the directory held as directory (st its status), after putting the watch on it, so
    // that no change between the two is lost (one seen twice does no harm).
    void read(int directory, const std::string& reachedBy, const struct stat& st) {
        forget();
        read_ = false;
        if (notify_ >= 0 && !reachedBy.empty()) {
            watch_ = inotify_add_watch(notify_, reachedBy.c_str(),
                                       IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
            // A watch stays with the directory it was put on, so the path only has to lead to
            // the directory held now. Were it swapped to another and back around the watch,
            // only the choice among names that differ in case could suffer: every operation
            // still goes through the descriptor.
            struct stat there {};
            if (watch_ >= 0 && (stat(reachedBy.c_str(), &there) != 0 || there.st_dev != st.st_dev ||
                                there.st_ino != st.st_ino))
                forget();
        }
        // A descriptor of its own for the listing: one duplicated would share its reading
        // position with the descriptor held, which other threads may list at the same time.
        // "." inside a directory is always that directory, never a link.
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
            add(entry->d_name);
        }
        if (errno != 0) { // names missing: no answer rather than a wrong one
            forget();
            return;
        }
        read_ = true;
        kept_ = watch_ >= 0;
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }

    // Brings the names up to date with every change reported since; a change that cannot be
    // followed (the queue overflowed, the directory went) makes them be read again.
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
                    forget();
                } else if (event->wd == watch_ && kept_) {
                    if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))
                        forget();
                    else if (event->len > 0 && (event->mask & (IN_CREATE | IN_MOVED_TO)))
                        add(event->name);
                    else if (event->len > 0 && (event->mask & (IN_DELETE | IN_MOVED_FROM)))
                        remove(event->name);
                }
            }
        }
    }

    int notify_;
    int watch_ = -1;
    bool kept_ = false; // the names are watched and stay good between calls
    bool read_ = false; // the names of the last read are there
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::unordered_map<std::string, std::vector<std::string>> names_;
};

} // namespace

std::string caseVariantAt(int directory, const std::string& reachedBy, const std::string& name) {
    thread_local DirectoryNames names;
    return names.find(directory, reachedBy, name);
}

std::string caseVariant(const std::string& directory, const std::string& name) {
    const char* path = directory.empty() ? "." : directory.c_str();
    int held = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (held < 0) return std::string();
    std::string found = caseVariantAt(held, path, name);
    close(held);
    return found;
}

} // namespace platform::posix
