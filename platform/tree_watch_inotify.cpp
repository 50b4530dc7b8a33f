// Watching a tree with inotify (see tree_watch.h). inotify watches one directory at a time, so
// every directory below the watched one is given a watch of its own, and a directory that
// appears is given one (and its own subdirectories, which may have been made before the watch
// was in place) as soon as its creation is read.
#include "platform/backend.h"
#include "platform/posix_paths.h"
#include "platform/tree_watch.h"

#include <cerrno>
#include <dirent.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <unordered_map>

namespace platform {

namespace {

constexpr uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kContentEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;

struct Watch {
    int descriptor = -1;
    std::string root;                           // host path of the watched directory
    std::unordered_map<int, std::string> where; // watch to host path relative to root
    ~Watch() {
        if (descriptor >= 0) close(descriptor);
    }

    // Watches the directory at relative (host path, "" for the root) and those below it.
    bool add(const std::string& relative) {
        std::string path = relative.empty() ? root : root + "/" + relative;
        int watch = inotify_add_watch(descriptor, path.c_str(),
                                      kNameEvents | kContentEvents | kSelfEvents | IN_ONLYDIR |
                                          IN_DONT_FOLLOW);
        if (watch < 0) {
            // Gone again already, or a link: nothing to watch there.
            if (errno == ENOENT || errno == ENOTDIR) return true;
            backend::setErrorFromErrno();
            return false;
        }
        where[watch] = relative;
        DIR* directory = opendir(path.c_str());
        if (directory == nullptr) return true; // gone meanwhile; its removal is told
        bool fine = true;
        while (dirent* entry = readdir(directory)) {
            std::string name = entry->d_name;
            if (name == "." || name == ".." || entry->d_type != DT_DIR) continue;
            fine = fine && add(relative.empty() ? name : relative + "/" + name);
        }
        closedir(directory);
        return fine;
    }
};

Watch& watchOf(intptr_t handle) {
    return *reinterpret_cast<Watch*>(handle);
}

} // namespace

namespace backend {

intptr_t openTreeWatch(const char* path) {
    std::string host;
    if (!posix::findPath(path, host)) return TreeWatch::kNoHandle;
    auto watch = std::make_unique<Watch>();
    watch->root = host.empty() ? "." : host;
    watch->descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch->descriptor < 0 || !watch->add("")) {
        setErrorFromErrno();
        return TreeWatch::kNoHandle;
    }
    return reinterpret_cast<intptr_t>(watch.release());
}

bool readTreeChanges(intptr_t handle, int milliseconds, std::vector<TreeChange>& changes) {
    Watch& watch = watchOf(handle);
    pollfd waiting{watch.descriptor, POLLIN, 0};
    int ready = poll(&waiting, 1, milliseconds);
    if (ready < 0 && errno != EINTR) {
        setErrorFromErrno();
        return false;
    }
    if (ready <= 0) return true;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        ssize_t got = read(watch.descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return true;
        if (got <= 0) {
            setErrorFromErrno();
            return false;
        }
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                changes.push_back({});
                continue;
            }
            auto found = watch.where.find(event->wd);
            if (found == watch.where.end()) continue;
            if (event->mask & IN_IGNORED) {
                watch.where.erase(found);
                continue;
            }
            std::string relative = found->second;
            if (event->len > 0 && event->name[0] != '\0')
                relative = relative.empty() ? event->name : relative + "/" + event->name;
            if ((event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO)) &&
                !watch.add(relative))
                return false;
            TreeChange change;
            if (event->mask & kSelfEvents) {
                if (!found->second.empty()) continue; // told by its parent as a name change
                changes.push_back({});                // the watched directory itself went
                continue;
            }
            if (!posix::systemPath(relative.c_str(), change.path)) continue; // no view holds it
            change.contentOnly = (event->mask & kNameEvents) == 0;
            changes.push_back(std::move(change));
        }
    }
}

void closeTreeWatch(intptr_t handle) {
    delete reinterpret_cast<Watch*>(handle);
}

} // namespace backend

} // namespace platform
