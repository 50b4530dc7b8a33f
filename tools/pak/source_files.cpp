// Collecting the files of an archive to be built (see source_files.h).
#include "tools/pak/source_files.h"

#include "archive/entry_path.h"
#include "archive/failure.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/file_system.h"
#include "platform/streams.h"
#include "text/system_path.h"

#include <algorithm>

namespace pak {

namespace {

// A directory (empty for the current one) as messages show it.
std::string shownDirectory(const std::string& directory) {
    return directory.empty() ? std::string(".") : platform::shownPath(directory);
}

// A directory whose entries cannot all be read: its files would be missing from the archive
// without a word, so the run stops.
Failure unreadable(const std::string& directory) {
    return Failure(kCorrupt, shownDirectory(directory) + ": cannot be read (system error " +
                                 std::to_string(platform::lastError()) + ")");
}

// Whether the attributes (of a path, through a link) are those of neither a file nor a
// directory.
bool isDevice(uint32_t attributes) {
    return attributes != platform::kInvalidAttributes &&
           (attributes & platform::kDeviceAttribute) != 0;
}

std::string notAFile(const std::string& path) {
    return platform::shownPath(path) +
           ": not a regular file or a directory (a FIFO, socket or device), so it cannot be stored";
}

// Adds the file at path under name, or tells why it cannot be added.
void add(const std::string& name, const std::string& path, uint32_t attributes, SourceTree& out) {
    if (isDevice(attributes))
        out.notFiles.push_back(notAFile(path));
    else
        out.files.push_back({name, path});
}

void walk(const std::string& base, const std::string& relative, SourceTree& out) {
    std::string directory = joinPath(base, relative);
    platform::FileSearch search(joinPath(directory, "*").c_str());
    platform::FoundFile found;
    while (search.next(found)) {
        std::string name = joinPath(relative, found.name);
        std::string path = joinPath(directory, found.name);
        if (!found.isDirectory) {
            add(name, path, platform::fileAttributes(path.c_str()), out);
            continue;
        }
        uint32_t attributes = platform::linkAttributes(path.c_str());
        if (attributes == platform::kInvalidAttributes) throw unreadable(path); // gone meanwhile
        if ((attributes & platform::kReparsePointAttribute) == 0) walk(base, name, out);
    }
    if (search.failed()) throw unreadable(directory);
    // The archive cannot hold such names; leaving the files out unsaid would lose them.
    if (search.skipped() > 0)
        throw Failure(kCorrupt, shownDirectory(directory) + ": " +
                                    std::to_string(search.skipped()) +
                                    " name(s) in it have no Shift-JIS form and cannot be stored");
}

// Whether the operand is ".", "./", ".\.", ...: the base itself.
bool namesTheBase(const std::string& operand) {
    if (operand.empty() || operand[0] != '.') return false;
    std::string component;
    for (std::size_t i = 0; i <= operand.size(); ++i) {
        if (i == operand.size() || operand[i] == '\\' || operand[i] == '/') {
            if (!component.empty() && component != ".") return false;
            component.clear();
        } else {
            component += operand[i];
        }
    }
    return true;
}

} // namespace

SourceTree collectSourceFiles(const std::string& base, const std::vector<std::string>& operands) {
    SourceTree tree;
    for (const std::string& operand : operands) {
        // The same rules as for the names an archive may hold: nothing absolute, no drive, no
        // "..", both separators.
        EntryPath parts = entryPath(operand);
        std::string relative;
        for (const std::string& component : parts.components)
            relative = joinPath(relative, component);
        bool wholeBase = namesTheBase(operand);
        if (!parts.refusal.empty() && !wholeBase)
            throw Failure(kUsage, platform::shownPath(operand) + ": not a path below " +
                                      (base.empty() ? std::string("the current directory")
                                                    : platform::shownPath(base)));
        std::string path =
            relative.empty() ? (base.empty() ? std::string(".") : base) : joinPath(base, relative);
        uint32_t attributes = platform::fileAttributes(path.c_str());
        if (attributes == platform::kInvalidAttributes)
            throw Failure(kNotFound, platform::shownPath(path) + ": no such file or directory");
        if (attributes & platform::kDirectoryAttribute)
            walk(base, relative, tree);
        else
            add(relative, path, attributes, tree);
    }
    std::vector<SourceFile>& files = tree.files;
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) {
        return storedNameBefore(a.name, b.name);
    });
    files.erase(
        std::unique(files.begin(), files.end(),
                    [](const SourceFile& a, const SourceFile& b) { return a.name == b.name; }),
        files.end());
    return tree;
}

FileHandle openSourceFile(const SourceFile& file) {
    FileHandle source(platform::openRegularFile(file.path.c_str()));
    if (source) return source;
    if (platform::lastError() == platform::kNotARegularFile)
        throw Failure(kCorrupt, notAFile(file.path));
    throw Failure(kCorrupt, platform::shownPath(file.path) + ": cannot be read (system error " +
                                std::to_string(platform::lastError()) + ")");
}

} // namespace pak
