// System paths, character by character (see system_path.h).
#include "text/system_path.h"

#include "base/cp932.h"
#include "platform/file_system.h"

#include <vector>

bool endsWithSeparator(const std::string& path) {
    if (path.empty()) return false;
    const char* start = path.c_str();
    const char* last = cp932::previous(start, start + path.size());
    return *last == '\\' && cp932::characterLength(last) == 1;
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (name.empty()) return directory;
    return endsWithSeparator(directory) ? directory + name : directory + "\\" + name;
}

std::string directoryOf(const std::string& path) {
    const char* separator = cp932::findLastChar(path.c_str(), '\\');
    if (separator == nullptr) // a bare name, or one relative to a drive's current directory
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
    auto length = static_cast<std::size_t>(separator - path.c_str());
    bool root = length == 0 || (length == 2 && path[1] == ':');
    return path.substr(0, root ? length + 1 : length);
}

std::string fileNameOf(const std::string& path) {
    const char* separator = cp932::findLastChar(path.c_str(), '\\');
    if (separator != nullptr) return std::string(separator + 1);
    return path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
}

std::string absolutePath(const std::string& path) {
    if ((!path.empty() && path[0] == '\\') || (path.size() >= 2 && path[1] == ':')) return path;
    std::string relative = path == "." ? std::string() : path;
    while (relative.size() >= 2 && relative[0] == '.' && relative[1] == '\\')
        relative.erase(0, 2);
    uint32_t needed = platform::currentDirectory(nullptr, 0);
    if (needed == 0) return std::string();
    std::vector<char> current(needed);
    if (platform::currentDirectory(current.data(), needed) + 1 != needed) return std::string();
    return joinPath(current.data(), relative);
}
