// FileSearch on POSIX: the directory is read whole at the first step, the names that match are
// sorted as NTFS lists them (cp932::compareFileNames), and then handed out one by one. Windows
// on NTFS returns them in that order, so the first match of a pattern is the same file there
// and here, whatever order the host's directory happens to keep.
#include "base/cp932.h"
#include "platform/backend.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/posix_paths.h"
#include "platform/wildcard.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace platform {

struct FileSearch::State {
    struct Match {
        std::string name; // system name
        bool isDirectory;
    };
    std::string given;     // the system path of the directory, as the pattern gave it
    std::string directory; // host path of the directory, with a trailing '/' unless empty
    std::string pattern;   // code page 932 name pattern
    bool read = false;     // the directory has been read
    std::vector<Match> matches;
    std::size_t next = 0;
    unsigned skipped = 0; // names without a code page 932 form, or too long
};

FileSearch::FileSearch(const char* pattern) : state_(std::make_unique<State>()) {
    // Split at the last separator, stepping over double-byte characters.
    const char* lastSeparator = cp932::findLastChar(pattern, '\\');
    std::string directory = lastSeparator ? std::string(pattern, lastSeparator) : std::string();
    state_->pattern = lastSeparator ? lastSeparator + 1 : pattern;
    if (lastSeparator && directory.empty()) directory = "\\"; // pattern in the root
    state_->given = std::move(directory);
}

FileSearch::~FileSearch() = default;

namespace backend {

namespace {

// Reads the directory and keeps the matches in order; false (with the last error) when it
// cannot be read.
bool readMatches(FileSearch::State& state) {
    std::string host;
    if (!state.given.empty() && !posix::findPath(state.given.c_str(), host)) return false;
    state.directory = host.empty() || host.back() == '/' ? host : host + "/";
    std::unique_ptr<DIR, int (*)(DIR*)> dir(
        opendir(state.directory.empty() ? "." : state.directory.c_str()), closedir);
    if (!dir) {
        // The directory is a path to Windows, so one that is not there is a path not found.
        if (errno == ENOENT) errno = ENOTDIR;
        setErrorFromErrno();
        return false;
    }
    for (;;) {
        errno = 0;
        dirent* entry = readdir(dir.get());
        if (entry == nullptr) {
            if (errno == 0) break;
            setErrorFromErrno();
            return false;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        std::string name;
        if (!posix::systemPath(entry->d_name, name) || name.size() >= sizeof FoundFile::name) {
            ++state.skipped;
            continue;
        }
        if (!wildcardMatch(state.pattern.c_str(), name.c_str())) continue;
        struct stat st {};
        std::string full = state.directory + entry->d_name;
        bool isDirectory = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        state.matches.push_back({std::move(name), isDirectory});
    }
    std::sort(state.matches.begin(), state.matches.end(), [](const auto& a, const auto& b) {
        return cp932::compareFileNames(a.name.c_str(), b.name.c_str()) < 0;
    });
    return true;
}

} // namespace

SearchStep searchNext(FileSearch::State& state, FoundFile& out) {
    if (!state.read) {
        if (!readMatches(state)) return kSearchFailed;
        state.read = true;
    }
    if (state.next == state.matches.size()) {
        setLastError(18); // ERROR_NO_MORE_FILES
        return kSearchEnded;
    }
    const auto& match = state.matches[state.next++];
    std::memcpy(out.name, match.name.c_str(), match.name.size() + 1);
    out.isDirectory = match.isDirectory;
    return kSearchFound;
}

} // namespace backend

unsigned FileSearch::skipped() const {
    return state_->skipped;
}

} // namespace platform
