// Looking names up the way the game does (see game_directory.h).
#include "tools/pak/game_directory.h"

#include "archive/failure.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "text/error_exceptions.h"
#include "tools/pak/console_text.h"
#include "vfs/file_open.h"
#include "vfs/virtual_file.h"

namespace pak {

std::string enterGameDirectory(const Console& console, const ParsedArguments& arguments) {
    suppressFilePrompt = 1;
    const std::string* directory = arguments.value("dir");
    if (directory == nullptr) return "the current directory";
    std::string path = console.path(*directory, "DIR");
    if (path.empty() || !platform::changeDirectory(path.c_str()))
        throw Failure(kNotFound, platform::shownPath(path) + ": no such directory");
    return path;
}

void openInGameDirectory(VirtualFile& file, const std::string& name, const std::string& place) {
    try {
        if (file.open(name.c_str(), 0)) return;
    } catch (const ZKErrorException& error) {
        // The lookup leaves the archive's path behind when it fails, and the entry's name when
        // it got as far as an entry (before that, name holds the archive's path).
        std::string archive = file.path.isEmpty() ? std::string() : std::string(file.path.data);
        std::string entry = file.name.isEmpty() ? std::string() : std::string(file.name.data);
        std::string reason = error.message.data != nullptr ? error.message.data : "";
        if (!archive.empty() && !entry.empty() && entry != archive)
            throw Failure(kCorrupt, entry + " in " + platform::shownPath(archive) +
                                        ": the entry cannot be inflated (" + reason + ")");
        if (!archive.empty())
            throw Failure(kCorrupt, name + ": the directory of " + platform::shownPath(archive) +
                                        " cannot be inflated (" + reason + ")");
        throw Failure(kCorrupt, name + ": " + reason);
    }
    throw Failure(kNotFound, name + ": not found: no such file, and no entry of that name in " +
                                 "the archives of " + platform::shownPath(place));
}

void requireWholeData(const std::string& name, uint64_t delivered, uint64_t declared) {
    if (delivered < declared)
        throw Failure(kCorrupt, name + ": the data ends after " + std::to_string(delivered) +
                                    " of its " + std::to_string(declared) + " declared bytes");
}

} // namespace pak
