// Converting paths at the POSIX edge, and finding a file whatever the case of its name (see
// posix_paths.h).
#include "platform/posix_paths.h"

#include "base/cp932.h"
#include "base/cp932_unicode.h"
#include "platform/errors.h"
#include "platform/posix_directory_names.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform::posix {

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Rewrites each component of host that names nothing as given to the entry Windows would find.
void resolveCase(std::string& host) {
    if (host.empty() || exists(host)) return;
    // Usually the directory is there as given and only the last name is not.
    std::size_t end = host.find_last_not_of('/');
    std::size_t cut = end == std::string::npos ? std::string::npos : host.rfind('/', end);
    std::string parent = cut == std::string::npos ? std::string() : host.substr(0, cut + 1);
    if (parent.empty() || exists(parent)) {
        std::string leaf = host.substr(parent.size(), end + 1 - parent.size());
        if (leaf == "." || leaf == "..") return;
        std::string variant = caseVariant(parent, leaf);
        if (!variant.empty()) host.replace(parent.size(), leaf.size(), variant);
        return;
    }
    std::string resolved = host[0] == '/' ? "/" : "";
    std::size_t start = host.find_first_not_of('/');
    while (start != std::string::npos) {
        std::size_t next = host.find('/', start);
        std::string component = host.substr(start, next - start);
        std::string candidate = resolved + component;
        if (component != "." && component != ".." && !exists(candidate)) {
            if (errno != ENOENT) break;
            std::string variant = caseVariant(resolved, component);
            if (variant.empty()) break; // nothing further down can exist either
            candidate = resolved + variant;
        }
        resolved = candidate;
        start = next == std::string::npos ? next : host.find_first_not_of('/', next);
        if (next != std::string::npos) resolved += '/';
    }
    host = start == std::string::npos ? resolved : resolved + host.substr(start);
}

} // namespace

std::string withSlashes(const char* path) {
    std::string slashed;
    for (const char* p = path; *p != '\0'; p = cp932::next(p)) {
        if (cp932::characterLength(p) == 2)
            slashed.append(p, 2);
        else
            slashed += (*p == '\\') ? '/' : *p;
    }
    return slashed;
}

bool hostPath(const char* path, std::string& out) {
    std::string slashed = withSlashes(path);
    if (!cp932::toUtf8(slashed.data(), slashed.size(), out, true)) {
        setLastError(123); // ERROR_INVALID_NAME
        return false;
    }
    return true;
}

bool findPath(const char* path, std::string& out) {
    if (!hostPath(path, out)) return false;
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
