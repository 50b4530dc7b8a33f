// Serving a tree as a FUSE file system with libfuse3's low-level interface (see served_tree.h).
//
// The low-level interface speaks in node numbers, which are the tree's own, so every question
// of the kernel is one call of the tree: no paths are put together or taken apart here. The
// tree never changes while it is served, so the kernel may keep names, attributes and file
// data for as long as it likes (long timeouts, keep_cache), and negative answers too; it then
// answers a walk and a second read from its own caches without asking. A tree that came to
// change would have to tell the kernel what it must drop (fuse_lowlevel_notify_inval_entry and
// _inode) before anyone could see the change.
//
// libfuse is C: an exception that reached it would end the program and leave the mount point
// dead ("Transport endpoint is not connected"). Every handler therefore runs inside Guarded,
// which turns what it throws into a failed request.
#define FUSE_USE_VERSION 312

#include "base/cp932_unicode.h"
#include "platform/backend.h"
#include "platform/posix_paths.h"
#include "platform/served_tree.h"

#include <fuse_lowlevel.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// How long the kernel may keep what it was told: the tree does not change while it is served.
constexpr double kKeep = 365.0 * 24 * 3600;

struct Served {
    ServedTree& tree;
    uid_t owner;
    gid_t group;
};

Served& servedOf(fuse_req_t request) {
    return *static_cast<Served*>(fuse_req_userdata(request));
}

// A block for one answer, from the heap of the platform layer; std::bad_alloc when there is
// none.
struct HeapBlock {
    explicit HeapBlock(std::size_t size) : data(static_cast<char*>(heapAllocate(size))) {
        if (data == nullptr) throw std::bad_alloc();
    }
    ~HeapBlock() { heapFree(data); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    char* data;
};

void describe(const Served& served, ServedTree::Node node, const ServedTree::Attributes& attributes,
              struct stat& out) {
    out = {};
    out.st_ino = node;
    out.st_mode = attributes.isDirectory ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    out.st_nlink = attributes.isDirectory ? 2 : 1;
    out.st_uid = served.owner;
    out.st_gid = served.group;
    out.st_size = static_cast<off_t>(attributes.size);
    out.st_blocks = static_cast<blkcnt_t>((attributes.size + 511) / 512);
    out.st_blksize = 128 * 1024;
    out.st_atime = out.st_mtime = out.st_ctime = static_cast<time_t>(attributes.modified);
}

int errorOf(ServedTree::Status failure) {
    return failure == ServedTree::kNotFound ? ENOENT : EIO;
}

// The host form of a name, and whether the kernel takes it as one component: a directory
// listing with one name it does not take fails whole.
NameFit hostFormOf(const std::string& name, std::string& host) {
    if (!cp932::toUtf8(name.data(), name.size(), host)) return NameFit::kNoHostForm;
    if (host.size() > kLongestServedName) return NameFit::kTooLong;
    if (host.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return NameFit::kNotOneComponent;
    return NameFit::kFits;
}

// Fails a request whose handler threw with error, telling why.
void failRequest(fuse_req_t request, int error, const char* why) noexcept {
    try {
        servedOf(request).tree.requestFailed(std::string(why) + ": the request fails with " +
                                             (error == ENOMEM ? "ENOMEM" : "EIO") +
                                             ", the mount goes on");
    } catch (...) {
        // Not even the line could be made; the answer matters more.
    }
    fuse_reply_err(request, error);
}

// handler as libfuse calls it, with nothing it throws let out: std::bad_alloc fails the request
// with ENOMEM, anything else with EIO. A handler answers its request last, so one that threw
// has not answered yet.
template <auto handler> struct Guarded;
template <typename... Arguments, void (*handler)(fuse_req_t, Arguments...)>
struct Guarded<handler> {
    static void call(fuse_req_t request, Arguments... arguments) noexcept {
        try {
            handler(request, arguments...);
        } catch (const std::bad_alloc&) {
            failRequest(request, ENOMEM, "not enough memory");
        } catch (const std::exception& error) {
            failRequest(request, EIO, error.what());
        } catch (...) {
            failRequest(request, EIO, "an unexpected failure");
        }
    }
};

void lookup(fuse_req_t request, fuse_ino_t parent, const char* name) {
    Served& served = servedOf(request);
    fuse_entry_param entry{};
    entry.entry_timeout = kKeep;
    entry.attr_timeout = kKeep;
    std::string systemName;
    ServedTree::Node node = 0;
    if (cp932::fromUtf8(name, std::strlen(name), systemName))
        node = served.tree.find(parent, systemName);
    ServedTree::Attributes attributes;
    if (node != 0 && served.tree.attributes(node, attributes)) {
        entry.ino = node;
        entry.generation = 1;
        describe(served, node, attributes, entry.attr);
    }
    // Node 0 is a negative answer, which the kernel keeps as long as a positive one.
    fuse_reply_entry(request, &entry);
}

void getattr(fuse_req_t request, fuse_ino_t node, fuse_file_info* /*file*/) {
    Served& served = servedOf(request);
    ServedTree::Attributes attributes;
    if (!served.tree.attributes(node, attributes)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    struct stat status {};
    describe(served, node, attributes, status);
    fuse_reply_attr(request, &status, kKeep);
}

// A directory's names from offset on, as many as fit in size bytes; with plus, each with its
// node and attributes too (readdirplus), so that a walk that looks at every file (ls -l, find,
// du) learns all it needs from the listing and asks nothing more for each file.
void listDirectory(fuse_req_t request, fuse_ino_t directory, size_t size, off_t offset, bool plus) {
    Served& served = servedOf(request);
    ServedTree::Attributes attributes;
    if (!served.tree.attributes(directory, attributes)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    if (!attributes.isDirectory) {
        fuse_reply_err(request, ENOTDIR);
        return;
    }
    HeapBlock block(size);
    // Offsets 0 and 1 are "." and ".."; offset i + 2 is the tree's i-th name. Each entry
    // carries the offset of the one after it.
    std::size_t used = 0;
    for (auto at = static_cast<std::size_t>(offset);; ++at) {
        std::string host;
        fuse_entry_param entry{};
        if (at < 2) {
            // The kernel takes nothing from these but their names.
            host = at == 0 ? "." : "..";
            entry.attr.st_ino = directory;
            entry.attr.st_mode = S_IFDIR;
        } else {
            std::string name;
            ServedTree::Node child = 0;
            if (!served.tree.listed(directory, at - 2, name, child)) break;
            ServedTree::Attributes found;
            // A name the host cannot show is one the tree promised not to give; pass over it.
            if (!served.tree.attributes(child, found) || hostFormOf(name, host) != NameFit::kFits)
                continue;
            describe(served, child, found, entry.attr);
            entry.ino = child;
            entry.generation = 1;
            entry.entry_timeout = kKeep;
            entry.attr_timeout = kKeep;
        }
        auto next = static_cast<off_t>(at + 1);
        // A name given with its node counts as a lookup of it; the tree's nodes never go away,
        // so the kernel's forgetting them later needs no answer.
        std::size_t needed = plus ? fuse_add_direntry_plus(request, block.data + used, size - used,
                                                           host.c_str(), &entry, next)
                                  : fuse_add_direntry(request, block.data + used, size - used,
                                                      host.c_str(), &entry.attr, next);
        if (needed > size - used) break;
        used += needed;
    }
    fuse_reply_buf(request, block.data, used);
}

// The kernel may keep a directory's listing, as it keeps its names: a second walk then asks
// nothing at all.
void opendir(fuse_req_t request, fuse_ino_t /*directory*/, fuse_file_info* file) {
    file->cache_readdir = 1;
    file->keep_cache = 1;
    fuse_reply_open(request, file);
}

void readdir(fuse_req_t request, fuse_ino_t directory, size_t size, off_t offset,
             fuse_file_info* /*file*/) {
    listDirectory(request, directory, size, offset, false);
}

void readdirplus(fuse_req_t request, fuse_ino_t directory, size_t size, off_t offset,
                 fuse_file_info* /*file*/) {
    listDirectory(request, directory, size, offset, true);
}

// The kernel would list with attributes (readdirplus) only the first part of a directory, and
// then look up each later name alone; every part with attributes makes a walk one request per
// part of a directory.
void init(void* /*userdata*/, fuse_conn_info* connection) {
    connection->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
}

void open(fuse_req_t request, fuse_ino_t node, fuse_file_info* file) {
    Served& served = servedOf(request);
    if ((file->flags & O_ACCMODE) != O_RDONLY) {
        fuse_reply_err(request, EROFS);
        return;
    }
    uint64_t handle = 0;
    ServedTree::Status failure = served.tree.open(node, handle);
    if (failure != ServedTree::kOk) {
        fuse_reply_err(request, errorOf(failure));
        return;
    }
    file->fh = handle;
    file->keep_cache = 1;                                               // the data never changes
    if (fuse_reply_open(request, file) != 0) served.tree.close(handle); // the opener is gone
}

void read(fuse_req_t request, fuse_ino_t /*node*/, size_t size, off_t offset,
          fuse_file_info* file) {
    Served& served = servedOf(request);
    HeapBlock block(size);
    std::size_t delivered = 0;
    ServedTree::Status failure =
        served.tree.read(file->fh, static_cast<uint64_t>(offset),
                         reinterpret_cast<unsigned char*>(block.data), size, delivered);
    if (failure != ServedTree::kOk)
        fuse_reply_err(request, errorOf(failure));
    else
        fuse_reply_buf(request, block.data, delivered);
}

void release(fuse_req_t request, fuse_ino_t /*node*/, fuse_file_info* file) {
    servedOf(request).tree.close(file->fh);
    fuse_reply_err(request, 0);
}

// What libfuse says while mounting, kept to be told as the one line of a failure.
std::mutex logLock;
std::string lastLogged;

void keepLogged(enum fuse_log_level /*level*/, const char* format, va_list arguments) {
    char line[512];
    std::vsnprintf(line, sizeof line, format, arguments);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    std::lock_guard<std::mutex> hold(logLock);
    lastLogged = text;
}

// A mount option's value with libfuse's separators escaped.
std::string optionValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ',' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

struct SessionCloser {
    void operator()(fuse_session* session) const { fuse_session_destroy(session); }
};
struct LoopConfigCloser {
    void operator()(fuse_loop_config* config) const { fuse_loop_cfg_destroy(config); }
};

} // namespace

TreeServing treeServing() {
    return TreeServing::kAvailable;
}

NameFit servedNameFit(const std::string& name) {
    std::string host;
    return hostFormOf(name, host);
}

ServeResult backend::serveTree(ServedTree& tree, const char* mountPoint,
                               const ServeOptions& options, std::string& problem) {
    struct stat device {};
    if (stat("/dev/fuse", &device) != 0) {
        problem = "this system cannot mount file systems of programs: /dev/fuse is missing "
                  "(is the fuse module loaded, or the device given to this container?)";
        return ServeResult::kNoDevice;
    }
    std::string hostMountPoint, hostSource;
    if (!posix::findPath(mountPoint, hostMountPoint) || hostMountPoint.empty() ||
        !posix::hostPath(options.source.c_str(), hostSource)) {
        problem = "the mount point cannot be named on this system";
        return ServeResult::kRefused;
    }

    std::string mountOptions = "ro,default_permissions,subtype=pak,fsname=" +
                               optionValue(hostSource.empty() ? "pak" : hostSource);
    const char* argv[] = {"pak", "-o", mountOptions.c_str()};
    fuse_args arguments = FUSE_ARGS_INIT(3, const_cast<char**>(argv));

    fuse_lowlevel_ops operations{};
    operations.init = init;
    operations.lookup = Guarded<lookup>::call;
    operations.getattr = Guarded<getattr>::call;
    operations.opendir = Guarded<opendir>::call;
    operations.readdir = Guarded<readdir>::call;
    operations.readdirplus = Guarded<readdirplus>::call;
    operations.open = Guarded<open>::call;
    operations.read = Guarded<read>::call;
    operations.release = Guarded<release>::call;
    Served served{tree, getuid(), getgid()};

    {
        std::lock_guard<std::mutex> hold(logLock);
        lastLogged.clear();
    }
    fuse_set_log_func(keepLogged);
    auto failed = [&problem](const char* what) {
        fuse_set_log_func(nullptr);
        std::lock_guard<std::mutex> hold(logLock);
        problem = lastLogged.empty() ? std::string(what) : what + (": " + lastLogged);
        return ServeResult::kRefused;
    };
    std::unique_ptr<fuse_session, SessionCloser> session(
        fuse_session_new(&arguments, &operations, sizeof operations, &served));
    fuse_opt_free_args(&arguments);
    if (!session) return failed("the FUSE session cannot be made");
    if (fuse_set_signal_handlers(session.get()) != 0)
        return failed("the signal handlers cannot be set");
    if (fuse_session_mount(session.get(), hostMountPoint.c_str()) != 0) {
        fuse_remove_signal_handlers(session.get());
        return failed("mounting failed (is this allowed for this user?)");
    }
    fuse_set_log_func(nullptr); // from here on libfuse speaks on standard error itself
    fuse_daemonize(options.foreground ? 1 : 0);

    std::unique_ptr<fuse_loop_config, LoopConfigCloser> config(fuse_loop_cfg_create());
    int status = config ? fuse_session_loop_mt(session.get(), config.get()) : -ENOMEM;
    fuse_session_unmount(session.get());
    fuse_remove_signal_handlers(session.get());
    // A signal ends the loop with its number; an unmount with 0 or -ENODEV.
    if (status < 0 && status != -ENODEV) {
        problem = std::string("serving ended with an error: ") + std::strerror(-status);
        return ServeResult::kRefused;
    }
    return ServeResult::kUnmounted;
}

} // namespace platform
