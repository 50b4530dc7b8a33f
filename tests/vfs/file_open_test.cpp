// open: flags, wildcards, directory creation, path tests and the Abort/Retry/Ignore prompt.
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/message_box.h"
#include "platform/system_calls.h"
#include "tests/support/vfs_support.h"
#include "text/error_exceptions.h"
#include "vfs/file_open.h"
#include "vfs/virtual_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

// ファイル GAME.INI が開けません。 / ファイル GAME.INI が開けませんでした。 / ファイルエラー
const std::string kPromptGameIni = "\x83t\x83@\x83\x43\x83\x8B GAME.INI \x82\xAA\x8AJ\x82\xAF"
                                   "\x82\xDC\x82\xB9\x82\xF1\x81\x42";
const std::string kAbortGameIni = "\x83t\x83@\x83\x43\x83\x8B GAME.INI \x82\xAA\x8AJ\x82\xAF"
                                  "\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81\x42";
const std::string kCaption = "\x83t\x83@\x83\x43\x83\x8B\x83G\x83\x89\x81[";

std::string contents(VirtualFile& file) {
    std::string out(file.size(), '\0');
    out.resize(file.read(&out[0], static_cast<uint32_t>(out.size())));
    return out;
}

} // namespace

class FileOpen : public ::testing::Test {
  protected:
    void SetUp() override { resetFileSystemState(); }
    TempDir dir;
};

TEST_F(FileOpen, LooseFileComesBeforeArchives) {
    copyScenario("versions/v3", dir);
    writeFile(dir / "GAME.INI", "loose");
    CurrentDirectory here(dir);
    VirtualFile file;
    ASSERT_EQ(file.open("GAME.INI", 0), 1);
    EXPECT_EQ(file.inArchive, 0);
    EXPECT_STREQ(file.path.data, "GAME.INI");
    EXPECT_EQ(contents(file), "loose");
    EXPECT_EQ(file.open(nullptr, 0), 0);
}

TEST_F(FileOpen, WriteIntentCreatesDirectoriesAndNeverSearchesArchives) {
    copyScenario("versions/v3", dir);
    CurrentDirectory here(dir);
    {
        VirtualFile file;
        ASSERT_EQ(file.open("save\\sub\\a.dat", 1), 1);
        EXPECT_EQ(file.size(), 0u);
    }
    EXPECT_EQ(readFile("save\\sub\\a.dat"), "");
    {
        VirtualFile file; // a name held by the archive is created on disk all the same
        ASSERT_EQ(file.open("next.txt", 2), 1);
        EXPECT_EQ(file.inArchive, 0);
    }
    EXPECT_EQ(readFile("next.txt"), "");
}

TEST_F(FileOpen, WildcardsResolveToTheFirstFileAndSkipDirectories) {
    makeDirectory(dir / "data\\x.txt");
    writeFile(dir / "data\\y.txt", "why");
    CurrentDirectory here(dir);
    VirtualFile file;
    ASSERT_EQ(file.open("data\\*.txt", 0), 1);
    EXPECT_STREQ(file.path.data, "data\\y.txt");
    EXPECT_STREQ(file.name.data, "data\\y.txt");
    EXPECT_EQ(contents(file), "why");
    // Without a directory part the pattern is taken in the current directory.
    writeFile(dir / "only.cfg", "cfg");
    ASSERT_EQ(file.open("*.CFG", 0), 1);
    EXPECT_STREQ(file.path.data, "only.cfg");
}

TEST_F(FileOpen, PromptTextsAndAnswers) {
    CurrentDirectory here(dir);
    {
        MessageBoxRecorder boxes({platform::kIdIgnore});
        VirtualFile file;
        EXPECT_EQ(file.open("GAME.INI", 0), 0);
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, kPromptGameIni);
        EXPECT_EQ(boxes.shown()[0].caption, kCaption);
        EXPECT_EQ(boxes.shown()[0].style, 0x40002u);
        EXPECT_EQ(boxes.shown()[0].owner, nullptr);
    }
    {
        MessageBoxRecorder boxes({platform::kIdAbort});
        VirtualFile file;
        platform::setLastError(0);
        try {
            file.open("GAME.INI", 0);
            ADD_FAILURE() << "Abort did not throw";
        } catch (const ZKErrorException& e) {
            EXPECT_EQ(std::string(e.message.data), kAbortGameIni);
        }
        EXPECT_EQ(file.stream, nullptr);
    }
    {
        // Retry after the file has been put in place: the second attempt finds it.
        static TempDir* target = nullptr;
        target = &dir;
        MessageBoxRecorder boxes({platform::kIdRetry, platform::kIdIgnore});
        boxes.onShow(0, [] { writeFile(*target / "GAME.INI", "now here"); });
        VirtualFile file;
        ASSERT_EQ(file.open("GAME.INI", 0), 1);
        EXPECT_EQ(contents(file), "now here");
        EXPECT_EQ(boxes.shown().size(), 1u);
    }
}

TEST_F(FileOpen, AnAnswerThatIsNoButtonEndsTheOpenLikeIgnore) {
    CurrentDirectory here(dir);
    MessageBoxRecorder boxes({0, 0, 0});
    VirtualFile file;
    EXPECT_EQ(file.open("GAME.INI", 0), 0);
    EXPECT_EQ(boxes.shown().size(), 1u);
}

TEST_F(FileOpen, SuppressedPromptOnlyForReading) {
    CurrentDirectory here(dir);
    suppressFilePrompt = 1;
    MessageBoxRecorder boxes;
    VirtualFile file;
    EXPECT_EQ(file.open("GAME.INI", 0), 0);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(FileOpen, SearchPathListAndItsSwitch) {
    TempDir other;
    copyScenario("order/prefix", other);
    SearchPathList.emplace_back(other.path().c_str());
    CurrentDirectory here(dir);
    suppressFilePrompt = 1;
    VirtualFile file;
    EXPECT_EQ(file.open("GAME.INI", 8), 0); // bit 3: the search path list is skipped
    ASSERT_EQ(file.open("GAME.INI", 0), 1);
    EXPECT_EQ(contents(file), "backup");
    // From now on that list is the archive list, for the current directory too.
    SearchPathList.clear();
    ASSERT_EQ(file.open("GAME.INI", 8), 1);
}

TEST_F(FileOpen, PathExistsAndDirectoryCreation) {
    EXPECT_EQ(pathExists(dir.path().c_str()), 1);
    EXPECT_EQ(pathExists((dir / "nothing").c_str()), 0);
    EXPECT_EQ(pathExists(""), 0);
    EXPECT_EQ(pathExists(nullptr), 0);

    std::string deep = dir / "a\\\x95\x5C\\c"; // 表's trail byte is not a separator
    createDirectories(deep.c_str());
    EXPECT_EQ(pathExists(deep.c_str()), 1);
    platform::FileSearch made((dir / "a\\*").c_str());
    platform::FoundFile found;
    ASSERT_TRUE(made.next(found));
    EXPECT_STREQ(found.name, "\x95\x5C"); // one directory named 表, not two components
    EXPECT_FALSE(made.next(found));
    createDirectories((dir / "a\\\\x\\").c_str()); // doubled and trailing backslashes
    EXPECT_EQ(pathExists((dir / "a\\x").c_str()), 1);
}

// A drive is asked by its root, with the backslash the system needs: from D:\ the lookup passes
// the directory as D: once it has dropped the trailing backslash.
TEST_F(FileOpen, DrivesAreAskedByTheirRoot) {
    SystemCallsGuard guard;
    static std::vector<std::string> asked;
    asked.clear();
    platform::systemCalls().volumeAnswers = [](const char* root) {
        asked.push_back(root);
        return false;
    };
    for (const char* path : {"D:", "D:\\", "D:\\data\\x.pak", "\x82\x60:\\"})
        EXPECT_EQ(pathExists(path), 0);
    EXPECT_EQ(asked, (std::vector<std::string>{"D:\\", "D:\\", "D:\\", "\x82\x60:\\"}));
}

TEST_F(FileOpen, DirectoryCreationUnderFailingStorageStopsCleanly) {
    std::string deep = dir / "s\\t\\u";
    for (int allowed = 0; pathExists(deep.c_str()) == 0; ++allowed) {
        ASSERT_LT(allowed, 100);
        platform::failHeapAllocationsAfter(allowed);
        createDirectories(deep.c_str()); // may stop early, never step through a missing piece
        platform::failHeapAllocationsAfter(-1);
    }
}
