// Showing a tree of read-only files in the host's own file system, at a mount point, for as
// long as the program serves it.
//
// The program describes the tree (a ServedTree: numbered nodes, names, sizes, the bytes of each
// file) and serveTree does the rest: mounting, answering the system's questions from several
// threads at once, detaching, unmounting. On Linux this is a FUSE file system (libfuse3); the
// Windows build, and a Linux build made without libfuse3, cannot serve trees at all and say so
// (treeServing).
//
// Names cross this interface as system text (code page 932), one component each, and are shown
// in the host's encoding (UTF-8 on Linux); a name given to find arrives converted back. A name
// may hold a backslash, which is then a character of the name, not a separator. A tree gives
// only names the host can show (servedNameFit); one that gives another finds it passed over
// when its directory is listed. A name asked for that has no code page 932 form is not found;
// one given to be created (or renamed to) is refused with EINVAL, and told through
// requestFailed, since no program that looks names up in code page 932 could ever open it.
//
// A tree is read-only unless the mount is made writable (ServeOptions::writable): then files
// can be opened for writing, created, written, cut, renamed and removed, and directories made
// and removed,
// each through the tree's function of that name; a tree answers kReadOnly to what it does not
// take. Attributes other than the size (times, modes, owners) are not changed through the mount.
//
// A tree may change while it is served, when it tells the system through the Changes it is
// given (see serving): the system keeps names, attributes and data for long and asks again only
// for what it is told changed.
//
// A function of the tree that throws fails only the request it serves: std::bad_alloc with
// ENOMEM, anything else with EIO, each told through requestFailed; the tree goes on being
// served.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class ServedTree {
  public:
    using Node = uint64_t;
    static constexpr Node kRoot = 1; // the directory shown at the mount point; 0 is no node

    struct Attributes {
        bool isDirectory = false;
        uint64_t size = 0;    // bytes of a file
        int64_t modified = 0; // seconds since 1970-01-01 00:00 UTC
    };

    // How a request went.
    enum Status : int {
        kOk = 0,
        kNotFound = 1,     // it is gone (a loose file removed since the tree was made): ENOENT
        kDataFailed = 2,   // its data cannot be read or written: corrupt, the disk failed: EIO
        kReadOnly = 3,     // the tree takes no changes: EROFS
        kNotPermitted = 4, // the tree refuses this change (and has told why): EPERM
        kExists = 5,       // the name is taken: EEXIST
        kIsDirectory = 6,  // a directory where a file is needed: EISDIR
        kNotDirectory = 7, // a file where a directory is needed: ENOTDIR
        kDiskFull = 8,     // no room left on the disk: ENOSPC
        kBadName = 9,      // the tree cannot hold the name (and has told why): EINVAL
        kNotEmpty = 10,    // a directory that holds something: ENOTEMPTY
    };

    // What a tree that changes tells the system, from a thread of its own: never from inside
    // one of its functions that the system called, which the system may be waiting on.
    class Changes {
      public:
        virtual ~Changes() = default;
        // The nodes that names lead to may have changed: the system asks find again for every
        // name it keeps (those it found nothing for too) and forgets those that lead elsewhere.
        virtual void namesChanged() = 0;
        // The attributes or data of node changed, or it is gone: the system forgets what it
        // keeps of them.
        virtual void nodeChanged(Node node) = 0;
    };

    virtual ~ServedTree() = default;

    // Every function below may be called from several threads at once. Once a node was given,
    // its number never stands for another file: a changed file that readers must not see
    // mixed with its former bytes is given a new number.

    // The node named name inside the directory node, or 0 when there is none.
    virtual Node find(Node directory, const std::string& name) const = 0;
    // The attributes of node; false when there is no such node.
    virtual bool attributes(Node node, Attributes& out) const = 0;
    // The index-th name of the directory node (from 0, in the order the tree chooses, each name
    // once) and its node; false after the last.
    virtual bool listed(Node directory, std::size_t index, std::string& name,
                        Node& child) const = 0;

    // Opens the file node for reading and sets handle to a non-zero number of the tree's
    // choosing, or returns why it cannot.
    virtual Status open(Node file, uint64_t& handle) = 0;
    // Reads up to count bytes of the open file from offset into buffer and sets delivered to how
    // many came (fewer than count only at the end of the file). Several reads of one handle may
    // run at once.
    virtual Status read(uint64_t handle, uint64_t offset, unsigned char* buffer, std::size_t count,
                        std::size_t& delivered) = 0;
    // The handle is not used again.
    virtual void close(uint64_t handle) = 0;

    // Tells the user, in one line of system text, why a request failed that the tree threw
    // from (see above), or why a name was refused. Must not throw.
    virtual void requestFailed(const std::string& why) noexcept = 0;

    // Called once the tree is served, with what it tells its changes to (valid until the next
    // call), and with null before serving ends. Called in the process that serves the tree
    // (after the program detached), so that threads the tree starts here keep running.
    virtual void serving(Changes* /*changes*/) {}

    // The changes of a writable mount. Opens the file node for writing (and reading), cut to
    // nothing first with truncate; sets handle as open does.
    virtual Status openForWriting(Node /*file*/, bool /*truncate*/, uint64_t& /*handle*/) {
        return kReadOnly;
    }
    // Creates the empty file name in directory and opens it as openForWriting does; sets
    // created to its node. kExists when the name is taken.
    virtual Status create(Node /*directory*/, const std::string& /*name*/, Node& /*created*/,
                          uint64_t& /*handle*/) {
        return kReadOnly;
    }
    // Makes the directory name in directory; sets created to its node.
    virtual Status makeDirectory(Node /*directory*/, const std::string& /*name*/,
                                 Node& /*created*/) {
        return kReadOnly;
    }
    // Writes count bytes of data at offset into the file open for writing as handle.
    virtual Status write(uint64_t /*handle*/, uint64_t /*offset*/, const unsigned char* /*data*/,
                         std::size_t /*count*/) {
        return kReadOnly;
    }
    // Makes the file node size bytes long.
    virtual Status resize(Node /*file*/, uint64_t /*size*/) { return kReadOnly; }
    // Makes what was written through handle reach the disk.
    virtual Status sync(uint64_t /*handle*/) { return kReadOnly; }
    // Removes the file name from directory.
    virtual Status remove(Node /*directory*/, const std::string& /*name*/) { return kReadOnly; }
    // Removes the empty directory name from directory; kNotEmpty when it holds anything.
    virtual Status removeDirectory(Node /*directory*/, const std::string& /*name*/) {
        return kReadOnly;
    }
    // Renames the file name in directory to newName in newDirectory; with replace, a file of
    // that name is replaced, otherwise it makes the call fail with kExists.
    virtual Status rename(Node /*directory*/, const std::string& /*name*/, Node /*newDirectory*/,
                          const std::string& /*newName*/, bool /*replace*/) {
        return kReadOnly;
    }
};

// Whether the host can show a name (system text, one component) in a served tree, and if not,
// why. Linux takes a name of at most kLongestServedName bytes of UTF-8, without '/' or NUL.
enum class NameFit {
    kFits,
    kNoHostForm,      // a character has no form in the host's encoding
    kTooLong,         // its host form is longer than kLongestServedName bytes
    kNotOneComponent, // its host form holds a separator or a NUL
};
constexpr std::size_t kLongestServedName = 255;
NameFit servedNameFit(const std::string& name);

// Whether this build can serve trees.
enum class TreeServing {
    kAvailable,
    kNotOnWindows, // the Windows build: the system has no such file systems for programs
    kNotBuilt,     // a Linux build made without libfuse3
};
TreeServing treeServing();

struct ServeOptions {
    bool foreground = false; // stay attached to the terminal; otherwise detach once mounted
    bool writable = false;   // take changes (see ServedTree); otherwise the mount is read-only
    std::string source;      // what the mount is of, as the system's list of mounts shows it
};

// How serving ended.
enum class ServeResult {
    kUnmounted,   // served until unmounted or interrupted, then unmounted
    kNoDevice,    // the system has no way to mount such file systems (no /dev/fuse)
    kRefused,     // mounting was refused (no permission) or failed
    kUnsupported, // this build cannot serve trees (treeServing)
};

// Shows tree at mountPoint (a system path naming an existing directory) and answers for it
// until it is unmounted (fusermount3 -u on Linux) or the program is interrupted (SIGINT,
// SIGTERM, SIGHUP), then unmounts and returns. Without options.foreground the program detaches
// once the mount is in place: the calling process then ends with exit code 0 and a process of
// its own, without terminal and in the root directory, serves the tree; standard output and
// error go nowhere. problem is set to one line that says what went wrong unless kUnmounted.
// Goes through platform::systemCalls().
ServeResult serveTree(ServedTree& tree, const char* mountPoint, const ServeOptions& options,
                      std::string& problem);

} // namespace platform
