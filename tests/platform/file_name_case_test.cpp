// File names match whatever their case, as on Windows: the same suite runs on the POSIX back end
// and on Windows (under Wine), so the POSIX rule is held against Windows' own here.
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/file_system.h"
#include "platform/streams.h"
#include "platform/utf8_text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

std::vector<std::string> listed(const std::string& pattern) {
    std::vector<std::string> names;
    platform::FileSearch search(pattern.c_str());
    platform::FoundFile found;
    while (search.next(found))
        names.push_back(found.name);
    return names;
}

bool exists(const std::string& path) {
    return platform::fileAttributes(path.c_str()) != platform::kInvalidAttributes;
}

} // namespace

TEST(FileNameCase, FilesAndDirectoriesAreFoundWhateverTheirCase) {
    TempDir dir;
    writeFile(dir / "Sub\\GAME.INI", "ini");
    writeFile(dir / "Sub\\\x83\x9F.txt", "alpha");           // Α.txt
    writeFile(dir / "Sub\\\x84\x40\x87\x54.txt", "cyr-rom"); // АⅠ.txt
    const char* names[][2] = {
        {"sub\\game.ini", "ini"},
        {"SUB\\Game.Ini", "ini"},
        {"sub\\\x83\xBF.TXT", "alpha"},           // α.TXT
        {"sub\\\x84\x70\xFA\x40.txt", "cyr-rom"}, // аⅰ.txt
        {"sub\\\x84\x70\xEE\xEF.txt", "cyr-rom"}, // аⅰ, the small numeral's other code
    };
    for (const auto& [name, content] : names) {
        EXPECT_TRUE(exists(dir / name)) << name;
        EXPECT_EQ(readFile(dir / name), content) << name;
    }
    // Width and kana type are differences, not case.
    EXPECT_FALSE(exists(dir / "sub\\\x82\x66\x82\x60\x82\x6C\x82\x64.INI")); // ＧＡＭＥ.INI
    EXPECT_EQ(listed(dir / "SUB\\\x83\xBF*"), std::vector<std::string>{"\x83\x9F.txt"});
}

TEST(FileNameCase, WritingANameMeetsTheFileThatHasItInAnotherCase) {
    TempDir dir;
    writeFile(dir / "GAME.INI", "old");
    EXPECT_EQ(platform::createNewFile((dir / "game.ini").c_str()), nullptr);
    EXPECT_EQ(platform::lastError(), 183u);
    ASSERT_TRUE(platform::createDirectory((dir / "Save").c_str()));
    EXPECT_FALSE(platform::createDirectory((dir / "SAVE").c_str()));

    writeFile(dir / "Game.Ini", "new"); // replaces GAME.INI's contents
    writeFile(dir / "other", "moved");
    EXPECT_FALSE(platform::moveFile((dir / "other").c_str(), (dir / "game.ini").c_str(), false));
    EXPECT_EQ(platform::lastError(), 183u);
    EXPECT_EQ(readFile(dir / "GAME.INI"), "new");
    ASSERT_TRUE(platform::moveFile((dir / "OTHER").c_str(), (dir / "game.ini").c_str(), true));
    EXPECT_EQ(readFile(dir / "GAME.INI"), "moved");
    EXPECT_EQ(listed(dir / "*").size(), 2u); // the file and Save, nothing beside them

    ASSERT_TRUE(platform::removeFile((dir / "gAmE.iNi").c_str()));
    EXPECT_EQ(listed(dir / "*"), std::vector<std::string>{"Save"});
}

#ifndef _WIN32
namespace {

// The directory as the host names it, for changes made past the platform layer.
std::string hostPath(const TempDir& dir) {
    char utf8[1024];
    if (platform::cp932ToUtf8(dir.path().c_str(), utf8, sizeof utf8) < 0) return "";
    std::string host = utf8;
    for (char& c : host)
        if (c == '\\') c = '/';
    return host;
}

} // namespace

// Only a POSIX file system can hold names that differ in case only; Windows cannot, so here the
// rule is ours: the name as given, otherwise the first by character codes.
TEST(FileNameCase, AmongNamesThatDifferInCaseOnlyTheExactOneOrTheFirstByCode) {
    TempDir dir;
    std::string host = hostPath(dir);
    for (const char* name : {"game.ini", "Game.ini", "GAME.INI"})
        std::ofstream(host + "/" + name) << name;
    EXPECT_EQ(readFile(dir / "game.ini"), "game.ini");
    EXPECT_EQ(readFile(dir / "Game.ini"), "Game.ini");
    EXPECT_EQ(readFile(dir / "gAME.INI"), "GAME.INI");
    EXPECT_EQ(listed(dir / "*"), (std::vector<std::string>{"GAME.INI", "Game.ini", "game.ini"}));
}

// The back end keeps the names of the directory it last looked in; changes made by others must
// reach them.
TEST(FileNameCase, KeptNamesFollowChangesMadeByOthers) {
    TempDir dir;
    std::string host = hostPath(dir);
    EXPECT_FALSE(exists(dir / "game.ini")); // the directory's names are read and kept
    std::ofstream(host + "/GAME.INI") << "x";
    EXPECT_TRUE(exists(dir / "game.ini"));
    std::filesystem::rename(host + "/GAME.INI", host + "/Other.ini");
    EXPECT_FALSE(exists(dir / "game.ini"));
    EXPECT_TRUE(exists(dir / "OTHER.INI"));
    std::filesystem::remove(host + "/Other.ini");
    EXPECT_FALSE(exists(dir / "other.ini"));
}

// Each held directory keeps its own names; the watches are shared by the whole process, one
// inotify instance for all threads, and one directory's watch outlives any other holder of it.
TEST(FileNameCase, HeldDirectoriesKeepTheirNamesWithOneWatchForTheProcess) {
    TempDir dir;
    std::string host = hostPath(dir);
    auto inotifyInstances = [] {
        int instances = 0;
        for (const auto& descriptor : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ignored;
            if (std::filesystem::read_symlink(descriptor.path(), ignored) == "anon_inode:inotify")
                ++instances;
        }
        return instances;
    };
    // Counted while every thread still holds its directory.
    std::atomic<int> looked{0};
    std::atomic<bool> counted{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::string name = "Sub" + std::to_string(t);
            std::filesystem::create_directory(host + "/" + name);
            std::ofstream(host + "/" + name + "/Data.TXT") << "x";
            platform::Directory held = platform::Directory::open((dir / name).c_str());
            EXPECT_NE(held.attributesOf("data.txt"), platform::kInvalidAttributes) << name;
            ++looked;
            while (!counted)
                std::this_thread::yield();
        });
    while (looked < 4)
        std::this_thread::yield();
    EXPECT_LE(inotifyInstances(), 1);
    counted = true;
    for (std::thread& thread : threads)
        thread.join();

    platform::Directory first = platform::Directory::open(dir.path().c_str());
    auto second =
        std::make_unique<platform::Directory>(platform::Directory::open(dir.path().c_str()));
    EXPECT_NE(first.attributesOf("sub0"), platform::kInvalidAttributes);
    EXPECT_NE(second->attributesOf("SUB1"), platform::kInvalidAttributes);
    second.reset();
    std::ofstream(host + "/Later.ini") << "x";
    EXPECT_NE(first.attributesOf("LATER.INI"), platform::kInvalidAttributes);
}
#endif
