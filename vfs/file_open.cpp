// VirtualFile::open and findInArchives: the search order, written here once. A name is looked up
// as a loose file first, then in the archives of the current directory, then in those of each
// SearchPathList directory, the archives of one directory in PakList's order
// (archive_lookup.cpp); when all of that fails the user is asked to abort, retry or ignore. A
// name with '*' is first resolved against the disk.
#include "vfs/file_open.h"

#include "base/cp932.h"
#include "platform/file_search.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/streams.h"
#include "text/error_exceptions.h"
#include "vfs/archive_lookup.h"
#include "vfs/messages.h"
#include "vfs/pak_format.h"
#include "vfs/virtual_file.h"

#include <cstring>

std::vector<String> SearchPathList;
int suppressFilePrompt = 0;

namespace {

bool exists(const char* path) {
    return platform::fileAttributes(path) != platform::kInvalidAttributes;
}

// The last backslash of path (stepping over double-byte characters), or null.
const char* lastBackslash(const char* path) {
    return cp932::findLastChar(path, '\\');
}

} // namespace

int VirtualFile::open(const char* name, int flags) {
    return openFile(name, flags, true);
}

int VirtualFile::openFile(const char* wanted, int flags, bool archives) {
    close();
    if (wanted == nullptr) return 0;
    int access = flags & 3;
    const char* mode = access == 1 ? "w+b" : access == 2 ? "a+b" : "rb";
    bool writeIntent = access == 1 || access == 2;
    bool searchPathList = (flags & 8) == 0;

    for (;;) {
        // Every attempt starts again from the name as given, so a Retry after a wildcard
        // scans the directory afresh.
        path.assign(wanted);
        attemptOpen(wanted, mode, writeIntent, searchPathList, archives);
        if (stream != nullptr) break;
        if (suppressFilePrompt && !writeIntent) break;

        String prompt;
        prompt.appendFormat(messages::kFilePrompt, wanted);
        int answer = prompt.showMessage(nullptr, messages::kFilePromptCaption,
                                        platform::kMbAbortRetryIgnore);
        if (answer == platform::kIdRetry) continue;
        if (answer == platform::kIdAbort) {
            String message;
            message.appendFormat(messages::kFileAborted, wanted);
            close();
            throw ZKErrorException(message.data);
        }
        break; // Ignore, or no box could be shown at all
    }
    position = 0;
    return stream != nullptr ? 1 : 0;
}

void VirtualFile::attemptOpen(const char* wanted, const char* mode, bool writeIntent,
                              bool searchPathList, bool archives) {
    if (cp932::findChar(wanted, '*') != nullptr) {
        platform::FileSearch matches(wanted);
        platform::FoundFile found;
        while (matches.next(found)) {
            if (found.isDirectory) continue;
            // The match lives in the pattern's directory; a pattern without one names the
            // current directory.
            const char* separator = lastBackslash(wanted);
            String resolved;
            if (separator != nullptr) {
                resolved.append(wanted, static_cast<int>(separator - wanted));
                resolved.append("\\");
            }
            resolved.append(found.name);
            path.assign(resolved);
            name.assign(resolved);
            openDiskStream(path.data, mode);
            inArchive = 0;
            baseOffset = 0;
            return;
        }
        if (archives) searchArchives(wanted, searchPathList);
        return;
    }
    if (exists(wanted) || writeIntent) {
        if (const char* separator = lastBackslash(wanted)) {
            String directory(wanted, static_cast<int>(separator - wanted));
            if (directory.data != nullptr && !exists(directory.data))
                createDirectories(directory.data);
        }
        name.assign(wanted);
        openDiskStream(wanted, mode);
        inArchive = 0;
        baseOffset = 0;
        return;
    }
    if (archives) searchArchives(wanted, searchPathList);
}

void VirtualFile::searchArchives(const char* wanted, bool searchPathList) {
    // A current directory that does not fit leaves the text empty, which names no directory.
    String current(512);
    if (current.data != nullptr) platform::currentDirectory(current.data, 512);
    if (findInArchives(current.data, wanted)) return;
    if (!searchPathList) return;
    for (std::size_t i = 0; i < SearchPathList.size(); ++i)
        if (findInArchives(SearchPathList[i].data, wanted)) return;
}

int VirtualFile::findInArchives(const char* directory, const char* wantedName) {
    if (directory == nullptr || wantedName == nullptr) return 0;
    String wanted(wantedName);
    normaliseWantedName(wanted);

    // One trailing backslash is dropped: dir\ is searched as dir.
    String folder(directory);
    folder.cursorToEnd();
    folder.prevChar();
    if (folder.currentChar() == '\\') folder.erase(0, -1);
    if (!pathExists(folder.data)) return 0;

    if (PakList.empty()) {
        buildPakList(folder.data);
        if (PakList.empty()) return 0;
    }
    for (std::size_t i = 0; i < PakList.size(); ++i) {
        const char* archive = PakList[i].data;
        // An archive that has vanished since the list was made is passed over.
        if (platform::fileAttributes(archive) == platform::kInvalidAttributes) continue;
        // The archive itself is opened from disk only: a further archive lookup for its path
        // would find the same list again.
        openFile(archive, 0, false);
        // One that cannot be opened (and whose prompt the user ignored) is passed over too.
        if (stream != nullptr && scanArchive(wanted.data != nullptr ? wanted.data : "")) return 1;
        close();
    }
    return 0;
}

int pathExists(const char* path) {
    if (path == nullptr) return 0;
    const char* second = cp932::next(path);
    bool drive = path[0] != '\\' && path[0] != '\0' && cp932::characterCode(second) == ':';
    if (!drive) return exists(path) ? 1 : 0;

    // The volume is asked by its root, C:\, also for a bare drive (C:, as the lookup passes the
    // root directory once it has dropped the trailing backslash): the system answers only for
    // the root itself.
    String root(path, static_cast<int>(cp932::next(second) - path));
    root.append("\\");
    if (root.data == nullptr || !platform::volumeAnswers(root.data)) return 0;
    if (exists(path)) return 1;
    return platform::canOpenExisting(path) ? 1 : 0;
}

void createDirectories(const char* path) {
    if (path == nullptr) return;
    String prefix;
    // A root-relative path keeps its leading backslash, and a network path (\\server\share)
    // its server and share, which cannot be created.
    const char* p = path;
    int fixedComponents = 0;
    if (p[0] == '\\' && p[1] == '\\') {
        prefix.append("\\\\");
        p += 2;
        fixedComponents = 2;
    } else if (p[0] == '\\') {
        prefix.append("\\");
        ++p;
    }
    if (p != path && prefix.data == nullptr) return;
    String walker(p);
    String component;
    walker.cursorToStart();
    while (walker.nextToken(component, "\\", false) != nullptr) {
        // Without storage for a piece of the path the rest cannot be made (a prefix that lost
        // its start would name another directory); the open that follows reports what is
        // missing.
        if (component.data == nullptr) return;
        prefix.append(component.data);
        if (prefix.data == nullptr) return;
        bool root = fixedComponents > 0 || cp932::characterCode(cp932::next(component.data)) == ':';
        if (fixedComponents > 0) --fixedComponents;
        if (!root) platform::createDirectory(prefix.data);
        prefix.append("\\");
        if (prefix.data == nullptr) return;
    }
}
