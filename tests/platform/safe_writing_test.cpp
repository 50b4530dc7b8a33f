// The platform functions for writing files safely, against the real file system, on both back
// ends: exclusive creation, renaming with and without replacing, links seen and not followed.
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/file_system.h"
#include "platform/sort_order.h"
#include "platform/streams.h"
#include "platform/utf8_text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

using testing_support::CurrentDirectory;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

constexpr uint32_t kAlreadyExists = 183;
const std::string kHyou = "\x95\x5C"; // 表, trail byte 0x5C
const std::string kSo = "\x83\x5C";   // ソ, trail byte 0x5C

bool exists(const std::string& path) {
    return platform::fileAttributes(path.c_str()) != platform::kInvalidAttributes;
}

// A symbolic link named link in dir pointing to target (relative, with '/'); false when this
// system or its permissions cannot make one.
bool makeLink(const TempDir& dir, const std::string& target, const std::string& link,
              bool directory) {
    char utf8[1024];
    if (platform::cp932ToUtf8(dir.path().c_str(), utf8, sizeof utf8) < 0) return false;
    std::string host = utf8;
    for (char& c : host)
        if (c == '\\') c = '/';
    std::filesystem::path where = std::filesystem::u8path(host + "/" + link);
    std::error_code error;
    if (directory)
        std::filesystem::create_directory_symlink(target, where, error);
    else
        std::filesystem::create_symlink(target, where, error);
    return !error;
}

} // namespace

TEST(SafeWriting, NewFilesAreCreatedExclusivelyForReadingAndWriting) {
    TempDir dir;
    std::string path = dir / (kHyou + kSo + ".tmp");
    std::FILE* stream = platform::createNewFile(path.c_str());
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fwrite("abc\n", 1, 4, stream), 4u);
    ASSERT_EQ(std::fseek(stream, 0, SEEK_SET), 0);
    char back[8] = {};
    EXPECT_EQ(std::fread(back, 1, sizeof back, stream), 4u); // binary: the line feed stays one
    EXPECT_STREQ(back, "abc\n");
    std::fclose(stream);

    EXPECT_EQ(platform::createNewFile(path.c_str()), nullptr);
    EXPECT_EQ(platform::lastError(), kAlreadyExists);
    EXPECT_EQ(readFile(path), "abc\n");
    EXPECT_EQ(platform::createNewFile((dir / "missing\\x").c_str()), nullptr);
}

TEST(SafeWriting, MovingReplacesOnlyWhenAsked) {
    TempDir dir;
    std::string from = dir / "from", to = dir / (kSo + ".txt");
    writeFile(from, "new");
    writeFile(to, "old");
    EXPECT_FALSE(platform::moveFile(from.c_str(), to.c_str(), false));
    EXPECT_EQ(platform::lastError(), kAlreadyExists);
    EXPECT_EQ(readFile(from), "new");
    EXPECT_EQ(readFile(to), "old");

    ASSERT_TRUE(platform::moveFile(from.c_str(), to.c_str(), true));
    EXPECT_FALSE(exists(from));
    EXPECT_EQ(readFile(to), "new");

    std::string fresh = dir / "fresh";
    ASSERT_TRUE(platform::moveFile(to.c_str(), fresh.c_str(), false));
    EXPECT_EQ(readFile(fresh), "new");

    // A directory is never replaced, in either mode.
    testing_support::makeDirectory(dir / "sub");
    EXPECT_FALSE(platform::moveFile(fresh.c_str(), (dir / "sub").c_str(), true));
    EXPECT_FALSE(platform::moveFile(fresh.c_str(), (dir / "sub").c_str(), false));
    EXPECT_EQ(readFile(fresh), "new");
}

TEST(SafeWriting, RemovingFiles) {
    TempDir dir;
    writeFile(dir / "gone", "x");
    EXPECT_TRUE(platform::removeFile((dir / "gone").c_str()));
    EXPECT_FALSE(exists(dir / "gone"));
    EXPECT_FALSE(platform::removeFile((dir / "gone").c_str()));
}

TEST(SafeWriting, SameFileThroughDifferentSpellings) {
    TempDir dir;
    writeFile(dir / "a.pak", "a");
    writeFile(dir / "b.pak", "a");
    CurrentDirectory here(dir);
    EXPECT_TRUE(platform::sameFile("a.pak", (dir / "a.pak").c_str()));
    EXPECT_TRUE(platform::sameFile(".\\a.pak", (dir / "a.pak").c_str()));
    EXPECT_FALSE(platform::sameFile("a.pak", "b.pak")); // equal contents are not enough
    EXPECT_FALSE(platform::sameFile("a.pak", "missing.pak"));
    EXPECT_TRUE(platform::sameFile(dir.path().c_str(), "."));
}

TEST(SafeWriting, ChangingTheCurrentDirectory) {
    TempDir dir;
    std::string sub = dir / kHyou;
    testing_support::makeDirectory(sub);
    CurrentDirectory restore(dir); // puts the old directory back afterwards
    ASSERT_TRUE(platform::changeDirectory(sub.c_str()));
    char current[1024];
    ASSERT_GT(platform::currentDirectory(current, sizeof current), 0u);
    EXPECT_EQ(platform::compareNoCase(current, sub.c_str()), 0);
    EXPECT_FALSE(platform::changeDirectory((dir / "missing").c_str()));
}

TEST(SafeWriting, AttributesOfFilesAndDirectoriesWithoutLinks) {
    TempDir dir;
    writeFile(dir / "f", "x");
    uint32_t file = platform::linkAttributes((dir / "f").c_str());
    ASSERT_NE(file, platform::kInvalidAttributes);
    EXPECT_EQ(file & (platform::kDirectoryAttribute | platform::kReparsePointAttribute), 0u);
    uint32_t directory = platform::linkAttributes(dir.path().c_str());
    EXPECT_EQ(directory & platform::kDirectoryAttribute, platform::kDirectoryAttribute);
    EXPECT_EQ(directory & platform::kReparsePointAttribute, 0u);
    EXPECT_EQ(platform::linkAttributes((dir / "missing").c_str()), platform::kInvalidAttributes);
}

TEST(SafeWriting, LinksAreSeenAndNeverFollowed) {
    TempDir dir;
    testing_support::makeDirectory(dir / "outside");
    writeFile(dir / "outside\\target", "keep");
    if (!makeLink(dir, "outside", "dirlink", true) ||
        !makeLink(dir, "outside/target", "filelink", false) ||
        !makeLink(dir, "outside/nothing", "dangling", false))
        GTEST_SKIP() << "symbolic links cannot be made here";

    for (const char* link : {"dirlink", "filelink", "dangling"}) {
        uint32_t attributes = platform::linkAttributes((dir / link).c_str());
        ASSERT_NE(attributes, platform::kInvalidAttributes) << link;
        EXPECT_NE(attributes & platform::kReparsePointAttribute, 0u) << link;
    }
    // Creating a file where a link is fails, and nothing appears where the link points.
    EXPECT_EQ(platform::createNewFile((dir / "dangling").c_str()), nullptr);
    EXPECT_FALSE(exists(dir / "outside\\nothing"));
    EXPECT_EQ(platform::createNewFile((dir / "filelink").c_str()), nullptr);
    EXPECT_EQ(readFile(dir / "outside\\target"), "keep");

    // Moving onto a link replaces the link itself.
    writeFile(dir / "new", "new");
    ASSERT_TRUE(platform::moveFile((dir / "new").c_str(), (dir / "filelink").c_str(), true));
    EXPECT_EQ(readFile(dir / "outside\\target"), "keep");
    EXPECT_EQ(readFile(dir / "filelink"), "new");
    EXPECT_EQ(platform::linkAttributes((dir / "filelink").c_str()) &
                  platform::kReparsePointAttribute,
              0u);
}

TEST(SafeWriting, DirectoriesHeldOpenNeverFollowALinkAtAName) {
    TempDir dir;
    testing_support::makeDirectory(dir / "outside");
    testing_support::makeDirectory(dir / (kHyou + "\\sub"));
    writeFile(dir / "file", "keep");
    bool links = makeLink(dir, "outside", "dirlink", true) &&
                 makeLink(dir, "outside/nothing", "dangling", false);
    platform::Directory root = platform::Directory::open(dir.path().c_str());
    ASSERT_TRUE(root.isOpen());
    EXPECT_FALSE(platform::Directory::open((dir / "file").c_str()).isOpen());

    platform::Directory hyou = root.openChild(kHyou.c_str());
    ASSERT_TRUE(hyou.isOpen());
    EXPECT_EQ(hyou.path(), dir / kHyou);
    EXPECT_TRUE(hyou.openChild("sub").isOpen());
    struct Refusal {
        const char* name;
        uint32_t error;
    };
    for (const Refusal& r : {Refusal{"missing", 2}, Refusal{"file", 267}, Refusal{"dirlink", 267},
                             Refusal{"", 123}, Refusal{".", 123}, Refusal{"..", 123},
                             Refusal{"outside\\..", 123}, Refusal{"outside/x", 123}}) {
        if (!links && std::string(r.name) == "dirlink") continue;
        EXPECT_FALSE(root.openChild(r.name).isOpen()) << r.name;
        EXPECT_EQ(platform::lastError(), r.error) << r.name;
    }

    ASSERT_TRUE(root.createChild("made"));
    EXPECT_FALSE(root.createChild("made"));
    EXPECT_EQ(platform::lastError(), kAlreadyExists);
    EXPECT_EQ(root.attributesOf("made") & platform::kDirectoryAttribute,
              platform::kDirectoryAttribute);
    EXPECT_EQ(root.attributesOf("missing"), platform::kInvalidAttributes);

    std::FILE* stream = hyou.createFile(kSo.c_str());
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fwrite("new", 1, 3, stream), 3u);
    platform::closeStream(stream);
    EXPECT_EQ(hyou.createFile(kSo.c_str()), nullptr);
    EXPECT_EQ(platform::lastError(), kAlreadyExists);
    EXPECT_FALSE(hyou.moveFile(kSo.c_str(), "sub", true)); // a directory is never replaced
    ASSERT_TRUE(root.moveFile("file", "moved", false));
    EXPECT_EQ(readFile(dir / "moved"), "keep");
    EXPECT_TRUE(root.removeFile("moved"));
    EXPECT_FALSE(root.removeFile("moved"));

    // A held directory is where its files go, wherever it is moved (POSIX), or it cannot be
    // moved at all (Windows).
    std::error_code refused;
    std::filesystem::rename(testing_support::hostPath(dir / kHyou),
                            testing_support::hostPath(dir / "moved"), refused);
    std::FILE* held = hyou.createFile("held");
    ASSERT_NE(held, nullptr);
    platform::closeStream(held);
    std::string now = dir / (refused ? kHyou : std::string("moved"));
    EXPECT_TRUE(exists(now + "\\held"));
#ifdef _WIN32
    EXPECT_TRUE(refused);
#endif
    // Names are found whatever their case in the directory held, not at the path that led to it
    // (the file is made behind the platform's back, which would otherwise see its name made).
    ASSERT_TRUE(std::ofstream(testing_support::hostPath(now + "\\Other")).good());
    EXPECT_EQ(hyou.createFile("OTHER"), nullptr);
    EXPECT_EQ(platform::lastError(), kAlreadyExists);

    if (!links) GTEST_SKIP() << "symbolic links cannot be made here";
    EXPECT_NE(root.attributesOf("dirlink") & platform::kReparsePointAttribute, 0u);
    EXPECT_EQ(root.createFile("dangling"), nullptr);
    EXPECT_FALSE(root.createChild("dangling"));
    EXPECT_FALSE(exists(dir / "outside\\nothing"));
    writeFile(dir / "new", "new");
    ASSERT_TRUE(root.moveFile("new", "dangling", true)); // the link itself is replaced
    EXPECT_EQ(readFile(dir / "dangling"), "new");
    EXPECT_FALSE(exists(dir / "outside\\nothing"));
}

TEST(PlatformSearch, NamesWithoutASystemFormAreAccountedFor) {
    // A file whose name code page 932 cannot write: a search must either report it (Windows,
    // with '?' in its name) or count it as passed over (POSIX), never lose it silently.
    TempDir dir;
    writeFile(dir / "plain.txt", "");
    char utf8[1024];
    ASSERT_GE(platform::cp932ToUtf8(dir.path().c_str(), utf8, sizeof utf8), 0);
    std::string host = utf8;
    for (char& c : host)
        if (c == '\\') c = '/';
    std::FILE* odd =
        std::fopen(std::filesystem::u8path(host + "/\xF0\x9F\x98\x80.txt").string().c_str(), "wb");
    if (odd == nullptr) GTEST_SKIP() << "no such name can be made here";
    std::fclose(odd);

    platform::FileSearch search((dir / "*").c_str());
    platform::FoundFile found;
    unsigned reported = 0;
    while (search.next(found))
        ++reported;
    EXPECT_EQ(reported + search.skipped(), 2u);
    EXPECT_GE(reported, 1u); // plain.txt
}
