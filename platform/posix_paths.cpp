// Converting paths at the POSIX edge, and finding a file whatever the case of its name (see
// posix_paths.h).
#include "platform/posix_paths.h"

#include "base/cp932.h"
#include "base/cp932_unicode.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace platform::posix {

namespace {

// A name's characters under the file-name case rule; empty when it has no code page 932 form.
std::vector<unsigned> foldedName(const char* host) {
    std::string name;
    std::vector<unsigned> folded;
    if (!cp932::fromUtf8(host, std::strlen(host), name)) return folded;
    for (const char* p = name.c_str(); *p != '\0'; p = cp932::next(p))
        folded.push_back(cp932::foldFileNameCase(cp932::characterCode(p)));
    return folded;
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The entry of directory whose name equals name under the file-name case rule, the first by
// character codes when there are several; empty when there is none (or the directory cannot be
// read, which leaves the name as given for the operation to fail on).
std::string caseVariant(const std::string& directory, const std::string& name) {
    std::vector<unsigned> wanted = foldedName(name.c_str());
    std::string found;
    if (wanted.empty()) return found;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.empty() ? "." : directory.c_str()),
                                            closedir);
    if (!dir) return found;
    while (dirent* entry = readdir(dir.get())) {
        const char* candidate = entry->d_name;
        if ((found.empty() || std::strcmp(candidate, found.c_str()) < 0) &&
            foldedName(candidate) == wanted)
            found = candidate;
    }
    return found;
}

// Rewrites each component of host that names nothing as given to the entry Windows would find.
void resolveCase(std::string& host) {
    if (host.empty() || exists(host)) return;
    std::string resolved = host[0] == '/' ? "/" : "";
    std::size_t start = host.find_first_not_of('/');
    while (start != std::string::npos) {
        std::size_t end = host.find('/', start);
        std::string component = host.substr(start, end - start);
        std::string candidate = resolved + component;
        if (component != "." && component != ".." && !exists(candidate)) {
            if (errno != ENOENT) break;
            std::string variant = caseVariant(resolved, component);
            if (variant.empty()) break; // nothing further down can exist either
            candidate = resolved + variant;
        }
        resolved = candidate;
        if (end == std::string::npos) {
            host = resolved;
            return;
        }
        resolved += '/';
        start = host.find_first_not_of('/', end);
        if (start == std::string::npos) {
            host = resolved;
            return;
        }
    }
    if (start != std::string::npos) host = resolved + host.substr(start);
}

} // namespace

bool hostPath(const char* path, std::string& out) {
    std::string slashed;
    for (const char* p = path; *p != '\0'; p = cp932::next(p)) {
        if (cp932::characterLength(p) == 2)
            slashed.append(p, 2);
        else
            slashed += (*p == '\\') ? '/' : *p;
    }
    if (!cp932::toUtf8(slashed.data(), slashed.size(), out, true)) {
        setLastError(123); // ERROR_INVALID_NAME
        return false;
    }
    resolveCase(out);
    return true;
}

bool systemPath(const char* host, std::string& out) {
    if (!cp932::fromUtf8(host, std::strlen(host), out)) return false;
    for (char& c : out)
        if (c == '/') c = '\\'; // 0x2F is never a trail byte
    return true;
}

} // namespace platform::posix
