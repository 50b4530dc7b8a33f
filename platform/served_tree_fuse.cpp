// Serving a tree as a FUSE file system with libfuse3's low-level interface (see served_tree.h).
//
// The low-level interface speaks in node numbers, which are the tree's own, so every question
// of the kernel is one call of the tree: no paths are put together or taken apart here. The
// kernel may keep names, attributes and file data for as long as it likes (long timeouts,
// keep_cache), and negative answers too: a tree that changes says so (ServedTree::Changes), and
// the kernel is then told to forget what changed. For that, every name the kernel was given an
// answer for (found or not) is kept with the answer, and asked again when names changed; the
// kernel gives no way to learn which names it still holds.
//
// libfuse is C: an exception that reached it would end the program and leave the mount point
// dead ("Transport endpoint is not connected"). Every handler therefore runs inside Guarded,
// which turns what it throws into a failed request.
#define FUSE_USE_VERSION 312

#include "base/cp932.h"
#include "base/cp932_unicode.h"
#include "platform/backend.h"
#include "platform/memory.h"
#include "platform/posix_paths.h"
#include "platform/served_tree.h"

#include <fuse_lowlevel.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

namespace {

// How long the kernel may keep what it was told: the tree does not change while it is served.
constexpr double kKeep = 365.0 * 24 * 3600;

struct Served {
    ServedTree& tree;
    uid_t owner;
    gid_t group;
    bool writable;
    // Every name the kernel was answered for: (directory, host name) to the node given, 0 for
    // none.
    std::mutex answeredLock;
    std::map<std::pair<fuse_ino_t, std::string>, ServedTree::Node> answered;

    void answer(fuse_ino_t directory, const char* name, ServedTree::Node node) {
        std::lock_guard<std::mutex> hold(answeredLock);
        answered[{directory, name}] = node;
    }
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
    mode_t access = served.writable ? (attributes.isDirectory ? 0755 : 0644)
                                    : (attributes.isDirectory ? 0555 : 0444);
    out.st_mode = (attributes.isDirectory ? S_IFDIR : S_IFREG) | access;
    out.st_nlink = attributes.isDirectory ? 2 : 1;
    out.st_uid = served.owner;
    out.st_gid = served.group;
    out.st_size = static_cast<off_t>(attributes.size);
    out.st_blocks = static_cast<blkcnt_t>((attributes.size + 511) / 512);
    out.st_blksize = 128 * 1024;
    out.st_atime = out.st_mtime = out.st_ctime = static_cast<time_t>(attributes.modified);
}

int errorOf(ServedTree::Status failure) {
    switch (failure) {
    case ServedTree::kOk:
        return 0;
    case ServedTree::kNotFound:
        return ENOENT;
    case ServedTree::kReadOnly:
        return EROFS;
    case ServedTree::kNotPermitted:
        return EPERM;
    case ServedTree::kExists:
        return EEXIST;
    case ServedTree::kIsDirectory:
        return EISDIR;
    case ServedTree::kNotDirectory:
        return ENOTDIR;
    case ServedTree::kDiskFull:
        return ENOSPC;
    case ServedTree::kBadName:
        return EINVAL;
    case ServedTree::kNotEmpty:
        return ENOTEMPTY;
    default:
        return EIO;
    }
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
    served.answer(parent, name, entry.ino);
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
    bool writing = (file->flags & O_ACCMODE) != O_RDONLY;
    if (writing && !served.writable) {
        fuse_reply_err(request, EROFS);
        return;
    }
    uint64_t handle = 0;
    ServedTree::Status failure =
        writing ? served.tree.openForWriting(node, (file->flags & O_TRUNC) != 0, handle)
                : served.tree.open(node, handle);
    if (failure != ServedTree::kOk) {
        fuse_reply_err(request, errorOf(failure));
        return;
    }
    file->fh = handle;
    // What the kernel keeps of a file is dropped when the tree says it changed.
    file->keep_cache = 1;
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

// ---- the changes of a writable mount ----

// Decodes one UTF-8 character of text at at (moved past it); its code, or 0xFFFD for a byte
// that begins none.
unsigned nextCode(const std::string& text, std::size_t& at) {
    auto byte = static_cast<unsigned char>(text[at++]);
    int more = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    if (byte >= 0x80 && more == 0) return 0xFFFD;
    unsigned code = more == 0 ? byte : byte & (0x3Fu >> more);
    for (; more > 0 && at < text.size(); --more)
        code = (code << 6) | (static_cast<unsigned char>(text[at++]) & 0x3Fu);
    return code;
}

// Whether system text holds a backslash of its own (not the trail byte of a character).
bool holdsBackslash(const std::string& text) {
    for (const char* p = text.c_str(); *p != '\0'; p = cp932::next(p))
        if (*p == '\\') return true;
    return false;
}

// The system name for a host name given to be created, or, when there is none, false with the
// request refused (EINVAL) and told: its characters without a code page 932 form are written
// as U+XXXX.
bool nameToCreate(fuse_req_t request, const char* name, std::string& out) {
    std::size_t length = std::strlen(name);
    if (cp932::fromUtf8(name, length, out) && !holdsBackslash(out)) return true;
    std::string host(name, length), shown;
    for (std::size_t at = 0; at < host.size();) {
        std::size_t start = at;
        unsigned code = nextCode(host, at);
        std::string one;
        if (code != '\\' && cp932::fromUtf8(host.data() + start, at - start, one)) {
            shown += one;
        } else {
            char escape[16];
            std::snprintf(escape, sizeof escape, "U+%04X", code);
            shown += escape;
        }
    }
    servedOf(request).tree.requestFailed(
        shown + ": not created: the name has no Shift-JIS form (or holds a backslash), so the "
                "game could never open it (EINVAL)");
    fuse_reply_err(request, EINVAL);
    return false;
}

// Answers a request that made node with its entry, or with the error.
bool entryOf(fuse_req_t request, fuse_ino_t parent, const char* name, ServedTree::Node node,
             fuse_entry_param& entry) {
    Served& served = servedOf(request);
    ServedTree::Attributes attributes;
    if (!served.tree.attributes(node, attributes)) return false;
    entry = fuse_entry_param{};
    entry.ino = node;
    entry.generation = 1;
    entry.entry_timeout = kKeep;
    entry.attr_timeout = kKeep;
    describe(served, node, attributes, entry.attr);
    served.answer(parent, name, node);
    return true;
}

void create(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t /*mode*/,
            fuse_file_info* file) {
    Served& served = servedOf(request);
    std::string systemName;
    if (!nameToCreate(request, name, systemName)) return;
    ServedTree::Node node = 0;
    uint64_t handle = 0;
    ServedTree::Status status = served.tree.create(parent, systemName, node, handle);
    if (status != ServedTree::kOk) {
        fuse_reply_err(request, errorOf(status));
        return;
    }
    fuse_entry_param entry;
    if (!entryOf(request, parent, name, node, entry)) {
        served.tree.close(handle);
        fuse_reply_err(request, ENOENT);
        return;
    }
    file->fh = handle;
    file->keep_cache = 1;
    if (fuse_reply_create(request, &entry, file) != 0) served.tree.close(handle);
}

void mkdir(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t /*mode*/) {
    Served& served = servedOf(request);
    std::string systemName;
    if (!nameToCreate(request, name, systemName)) return;
    ServedTree::Node node = 0;
    ServedTree::Status status = served.tree.makeDirectory(parent, systemName, node);
    fuse_entry_param entry;
    if (status == ServedTree::kOk && !entryOf(request, parent, name, node, entry))
        status = ServedTree::kNotFound;
    if (status != ServedTree::kOk)
        fuse_reply_err(request, errorOf(status));
    else
        fuse_reply_entry(request, &entry);
}

void write(fuse_req_t request, fuse_ino_t /*node*/, const char* data, size_t size, off_t offset,
           fuse_file_info* file) {
    ServedTree::Status status =
        servedOf(request).tree.write(file->fh, static_cast<uint64_t>(offset),
                                     reinterpret_cast<const unsigned char*>(data), size);
    if (status != ServedTree::kOk)
        fuse_reply_err(request, errorOf(status));
    else
        fuse_reply_write(request, size);
}

// Only the size is taken; the times, modes and owners shown are the files' own. (A writable
// mount's handler: a read-only one has none, and the kernel refuses changes itself.)
void setattr(fuse_req_t request, fuse_ino_t node, struct stat* wanted, int changes,
             fuse_file_info* /*file*/) {
    Served& served = servedOf(request);
    if ((changes & FUSE_SET_ATTR_SIZE) != 0) {
        ServedTree::Status status =
            served.tree.resize(node, static_cast<uint64_t>(wanted->st_size));
        if (status != ServedTree::kOk) {
            fuse_reply_err(request, errorOf(status));
            return;
        }
    }
    getattr(request, node, nullptr);
}

void fsync(fuse_req_t request, fuse_ino_t /*node*/, int /*dataOnly*/, fuse_file_info* file) {
    fuse_reply_err(request, errorOf(servedOf(request).tree.sync(file->fh)));
}

void unlink(fuse_req_t request, fuse_ino_t parent, const char* name) {
    std::string systemName;
    if (!cp932::fromUtf8(name, std::strlen(name), systemName)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    fuse_reply_err(request, errorOf(servedOf(request).tree.remove(parent, systemName)));
}

void rmdir(fuse_req_t request, fuse_ino_t parent, const char* name) {
    std::string systemName;
    if (!cp932::fromUtf8(name, std::strlen(name), systemName)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    fuse_reply_err(request, errorOf(servedOf(request).tree.removeDirectory(parent, systemName)));
}

void rename(fuse_req_t request, fuse_ino_t parent, const char* name, fuse_ino_t newParent,
            const char* newName, unsigned int flags) {
    std::string systemName, newSystemName;
    if (!cp932::fromUtf8(name, std::strlen(name), systemName)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    if ((flags & RENAME_EXCHANGE) != 0) {
        fuse_reply_err(request, EINVAL);
        return;
    }
    if (!nameToCreate(request, newName, newSystemName)) return;
    fuse_reply_err(
        request, errorOf(servedOf(request).tree.rename(parent, systemName, newParent, newSystemName,
                                                       (flags & RENAME_NOREPLACE) == 0)));
}

// What the tree tells of its changes, passed on to the kernel.
class KernelChanges : public ServedTree::Changes {
  public:
    KernelChanges(Served& served, fuse_session* session) : served_(served), session_(session) {}

    void namesChanged() override {
        std::vector<std::pair<std::pair<fuse_ino_t, std::string>, ServedTree::Node>> names;
        {
            std::lock_guard<std::mutex> hold(served_.answeredLock);
            names.assign(served_.answered.begin(), served_.answered.end());
        }
        // The kernel is told without the lock held: it may be waiting on a request that needs
        // it before it takes the notice.
        for (auto& [key, node] : names) {
            std::string systemName;
            ServedTree::Node now = 0;
            if (cp932::fromUtf8(key.second.data(), key.second.size(), systemName))
                now = served_.tree.find(key.first, systemName);
            ServedTree::Attributes attributes;
            if (now != 0 && !served_.tree.attributes(now, attributes)) now = 0;
            if (now == node) continue;
            {
                std::lock_guard<std::mutex> hold(served_.answeredLock);
                auto kept = served_.answered.find(key);
                if (kept != served_.answered.end() && kept->second == node)
                    served_.answered.erase(kept);
            }
            fuse_lowlevel_notify_inval_entry(session_, key.first, key.second.c_str(),
                                             key.second.size());
        }
    }

    void nodeChanged(ServedTree::Node node) override {
        // Offset 0 and length 0: the attributes and every page.
        fuse_lowlevel_notify_inval_inode(session_, node, 0, 0);
    }

  private:
    Served& served_;
    fuse_session* session_;
};

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

    std::string mountOptions = std::string(options.writable ? "rw" : "ro") +
                               ",default_permissions,subtype=pak,fsname=" +
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
    if (options.writable) {
        operations.create = Guarded<create>::call;
        operations.mkdir = Guarded<mkdir>::call;
        operations.write = Guarded<write>::call;
        operations.setattr = Guarded<setattr>::call;
        operations.fsync = Guarded<fsync>::call;
        operations.unlink = Guarded<unlink>::call;
        operations.rmdir = Guarded<rmdir>::call;
        operations.rename = Guarded<rename>::call;
    }
    Served served{tree, getuid(), getgid(), options.writable, {}, {}};

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

    KernelChanges changes(served, session.get());
    tree.serving(&changes);
    std::unique_ptr<fuse_loop_config, LoopConfigCloser> config(fuse_loop_cfg_create());
    int status = config ? fuse_session_loop_mt(session.get(), config.get()) : -ENOMEM;
    tree.serving(nullptr);
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
