// A file system for the tests that must catch a program in the middle of reading a file: it
// serves the files named on its command line, read-only, at a mount point (through the
// platform's own served_tree.h) and holds every read that begins at an offset from FROM up to
// TO until a line, or the end, comes on its standard input. When it first holds a read it
// writes "held" on its standard output: the program under test is then inside that read, and
// stays there. (A range rather than everything past FROM, because programs read the end of a
// file early, to learn its size, and the kernel reads ahead of them.) Once let go, every read
// takes 50 ms: a program interrupted while it was held must end before it can finish its work,
// and under Wine the interruption reaches a Windows program only as the held read returns, on
// a thread Wine then starts for it.
//
// Usage: held_file MOUNTPOINT FROM TO FILE...   (names of ASCII only)
// Exit codes: 0 once unmounted (SIGTERM, SIGINT or fusermount3 -u), 2 usage, 77 where this
// build or this machine cannot serve a tree (the reason on standard error).
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/served_tree.h"
#include "platform/streams.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class HeldFiles : public platform::ServedTree {
  public:
    struct File {
        std::string name;
        std::FILE* stream;
        uint64_t size;
    };

    HeldFiles(std::vector<File> files, uint64_t holdFrom, uint64_t holdTo)
        : files_(std::move(files)), holdFrom_(holdFrom), holdTo_(holdTo) {}

    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        releasedChanged_.notify_all();
    }

    Node find(Node directory, const std::string& name) const override {
        if (directory != kRoot) return 0;
        for (std::size_t i = 0; i < files_.size(); ++i)
            if (files_[i].name == name) return kRoot + 1 + i;
        return 0;
    }
    bool attributes(Node node, Attributes& out) const override {
        out = Attributes();
        if (node == kRoot) {
            out.isDirectory = true;
            return true;
        }
        if (node < kRoot + 1 || node > kRoot + files_.size()) return false;
        out.size = files_[node - kRoot - 1].size;
        return true;
    }
    bool listed(Node directory, std::size_t index, std::string& name, Node& child) const override {
        if (directory != kRoot || index >= files_.size()) return false;
        name = files_[index].name;
        child = kRoot + 1 + index;
        return true;
    }
    Status open(Node file, uint64_t& handle) override {
        handle = file;
        return file > kRoot && file <= kRoot + files_.size() ? kOk : kNotFound;
    }
    Status read(uint64_t handle, uint64_t offset, unsigned char* buffer, std::size_t count,
                std::size_t& delivered) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (offset >= holdFrom_ && offset < holdTo_ && !released_) {
            if (!told_) {
                told_ = true;
                std::fputs("held\n", stdout);
                std::fflush(stdout);
            }
            releasedChanged_.wait(lock, [this] { return released_; });
        }
        bool slow = released_;
        lock.unlock();
        if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ptrdiff_t got = platform::readStreamAt(files_[handle - kRoot - 1].stream,
                                                    static_cast<int64_t>(offset), buffer, count);
        if (got < 0) return kDataFailed;
        delivered = static_cast<std::size_t>(got);
        return kOk;
    }
    void close(uint64_t) override {}
    void requestFailed(const std::string& why) noexcept override {
        std::fprintf(stderr, "held_file: %s\n", why.c_str());
    }

  private:
    std::vector<File> files_;
    uint64_t holdFrom_, holdTo_;
    std::mutex mutex_;
    std::condition_variable releasedChanged_;
    bool released_ = false;
    bool told_ = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: held_file MOUNTPOINT FROM TO FILE...\n", stderr);
        return 2;
    }
    std::string mountPoint;
    std::vector<HeldFiles::File> files;
    bool usable = platform::hostToSystemPath(argv[1], mountPoint);
    for (int i = 4; usable && i < argc; ++i) {
        std::string path;
        platform::FileStatus status;
        usable =
            platform::hostToSystemPath(argv[i], path) && platform::fileStatus(path.c_str(), status);
        std::FILE* stream = usable ? platform::openStream(path.c_str(), "rb") : nullptr;
        usable = stream != nullptr;
        if (usable) files.push_back({path.substr(path.rfind('\\') + 1), stream, status.size});
    }
    if (!usable) {
        std::fputs("held_file: a FILE cannot be read\n", stderr);
        return 2;
    }
    HeldFiles tree(std::move(files), std::strtoull(argv[2], nullptr, 10),
                   std::strtoull(argv[3], nullptr, 10));
    std::thread([&tree] {
        std::string line;
        std::getline(std::cin, line);
        tree.release();
    }).detach();

    platform::ServeOptions options;
    options.foreground = true;
    options.source = "held_file";
    std::string problem;
    platform::ServeResult result = platform::serveTree(tree, mountPoint.c_str(), options, problem);
    tree.release(); // lets any read still held go before the end
    if (result != platform::ServeResult::kUnmounted) std::fprintf(stderr, "%s\n", problem.c_str());
    std::fflush(stdout);
    // At once: the thread that reads standard input may still be waiting in it, and the system
    // closes the files.
    std::_Exit(result == platform::ServeResult::kUnmounted ? 0 : 77);
}
