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
// when its directory is listed. The tree is read-only: nothing can be created, written, renamed
// or removed through the mount.
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

    // How opening or reading a file went.
    enum Status : int {
        kOk = 0,
        kNotFound = 1,   // it is gone (a loose file removed since the tree was made)
        kDataFailed = 2, // its data cannot be read: corrupt, or the disk failed
    };

    virtual ~ServedTree() = default;

    // Every function below may be called from several threads at once, and the tree must not
    // change its nodes, names or attributes while it is served: the system keeps what it was
    // told for as long as it likes.

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
    // from (see above). Must not throw.
    virtual void requestFailed(const std::string& why) noexcept = 0;
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
