#include "tests/support/vfs_support.h"

#include "fixture_dir.h"
#include "platform/file_search.h"
#include "vfs/archive_lookup.h"
#include "vfs/file_open.h"

#include <stdexcept>

namespace testing_support {

void resetFileSystemState() {
    PakList.clear();
    ArchiveKey.clear();
    SearchPathList.clear();
    suppressFilePrompt = 0;
}

std::string fixturePath(const std::string& scenario) {
    std::string path = std::string(ZK_FIXTURE_DIR) + "\\" + scenario;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

void copyScenario(const std::string& scenario, const TempDir& dir) {
    std::string source = fixturePath(scenario);
    platform::FileSearch files((source + "\\*").c_str());
    platform::FoundFile found;
    int copied = 0;
    while (files.next(found)) {
        if (found.isDirectory) continue;
        writeFile(dir / found.name, readFile(source + "\\" + found.name));
        ++copied;
    }
    if (copied == 0) throw std::runtime_error("no fixture files in " + source);
}

} // namespace testing_support
