// The platform layer against the real operating system: real files in a temporary directory,
// real pages, the real formatter. The same suite runs on the POSIX back end and, under wine64,
// on the Windows one, so it pins down what both must agree on.
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/file_system.h"
#include "platform/format_text.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/sort_order.h"
#include "platform/streams.h"
#include "platform/system_calls.h"
#include "platform/utf8_text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

using testing_support::CurrentDirectory;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// 表 (0x95 0x5C) and ソ (0x83 0x5C) end in the byte of a backslash.
const std::string kHyou = "\x95\x5C";
const std::string kSo = "\x83\x5C";

std::set<std::string> search(const std::string& pattern, bool directories = false) {
    std::set<std::string> names;
    platform::FileSearch files(pattern.c_str());
    platform::FoundFile found;
    while (files.next(found))
        if (found.isDirectory == directories) names.insert(found.name);
    return names;
}

std::string formatted(const char* pattern, ...) {
    char buffer[256];
    va_list args;
    va_start(args, pattern);
    int n = platform::formatText(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return n < 0 ? "<error>" : std::string(buffer);
}

} // namespace

TEST(PlatformFiles, NamesWithBackslashTrailBytesAreOneComponent) {
    TempDir dir;
    // A directory named 表 holding a file named ソ.txt: if either trail byte were taken for a
    // separator, the paths would point somewhere else entirely.
    std::string sub = dir / kHyou;
    ASSERT_TRUE(platform::createDirectory(sub.c_str()));
    writeFile(sub + "\\" + kSo + ".txt", "abc");

    EXPECT_EQ(platform::fileAttributes(sub.c_str()) & platform::kDirectoryAttribute,
              platform::kDirectoryAttribute);
    std::string file = sub + "\\" + kSo + ".txt";
    uint32_t attributes = platform::fileAttributes(file.c_str());
    ASSERT_NE(attributes, platform::kInvalidAttributes);
    EXPECT_EQ(attributes & platform::kDirectoryAttribute, 0u);
    EXPECT_EQ(search(sub + "\\*"), std::set<std::string>{kSo + ".txt"});
    EXPECT_EQ(search(dir / "*", true), std::set<std::string>{kHyou});
    EXPECT_EQ(testing_support::readFile(file), "abc");
    // Messages show the path with the host's separators; the trail bytes stay.
#ifdef _WIN32
    EXPECT_EQ(platform::shownPath(kHyou + "\\" + kSo), kHyou + "\\" + kSo);
#else
    EXPECT_EQ(platform::shownPath(kHyou + "\\" + kSo), kHyou + "/" + kSo);
#endif
}

TEST(PlatformFiles, MissingPathsAndDirectoriesAsStreams) {
    TempDir dir;
    std::string missing = dir / "missing.txt";
    EXPECT_EQ(platform::fileAttributes(missing.c_str()), platform::kInvalidAttributes);
    EXPECT_NE(platform::lastError(), 0u);
    EXPECT_EQ(platform::openStream(missing.c_str(), "rb"), nullptr);
    EXPECT_FALSE(platform::canOpenExisting(missing.c_str()));
    EXPECT_EQ(platform::openStream(dir.path().c_str(), "rb"), nullptr);
    EXPECT_FALSE(platform::canOpenExisting(dir.path().c_str()));
    writeFile(dir / "present", "");
    EXPECT_TRUE(platform::canOpenExisting((dir / "present").c_str()));
    // Creating a directory that exists fails; its parent must exist.
    EXPECT_FALSE(platform::createDirectory(dir.path().c_str()));
    std::string deep = dir / "a\\b";
    EXPECT_FALSE(platform::createDirectory(deep.c_str()));
}

TEST(PlatformFiles, OnlyRegularFilesAreOpenedAsFiles) {
    TempDir dir;
    writeFile(dir / "file", "abc");
    std::FILE* file = platform::openRegularFile((dir / "file").c_str());
    ASSERT_NE(file, nullptr);
    char back[4] = {};
    EXPECT_EQ(platform::readStream(file, back, 4), 3);
    EXPECT_STREQ(back, "abc");
    platform::closeStream(file);
    EXPECT_EQ(platform::openRegularFile(dir.path().c_str()), nullptr);
    EXPECT_EQ(platform::openRegularFile((dir / "missing").c_str()), nullptr);

    // Never waited on: a FIFO without a writer would hold an ordinary open forever.
#ifdef _WIN32
    const std::vector<std::string> devices = {"NUL"};
#else
    std::string fifo = testing_support::hostPath(dir / "fifo").string();
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    const std::vector<std::string> devices = {"\\dev\\null", dir / "fifo"};
#endif
    for (const std::string& device : devices) {
        EXPECT_EQ(platform::openRegularFile(device.c_str()), nullptr) << device;
        EXPECT_EQ(platform::lastError(), platform::kNotARegularFile) << device;
#ifndef _WIN32
        EXPECT_EQ(platform::fileAttributes(device.c_str()) & platform::kDeviceAttribute,
                  platform::kDeviceAttribute)
            << device;
#endif
    }
}

TEST(PlatformFiles, PositionalReadsLeaveTheStreamAloneAndStatusTellsSizeAndTime) {
    TempDir dir;
    std::string path = dir / (kHyou + ".bin");
    std::string bytes = testing_support::randomBytes(100000, 3);
    writeFile(path, bytes);
    std::FILE* stream = platform::openStream(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    char first[10];
    ASSERT_EQ(platform::readStream(stream, first, sizeof first), 10);
    std::vector<char> read(70000);
    // In the middle, past the end (short), and wholly beyond it (nothing).
    EXPECT_EQ(platform::readStreamAt(stream, 50000, read.data(), 20000), 20000);
    EXPECT_EQ(std::string(read.data(), 20000), bytes.substr(50000, 20000));
    EXPECT_EQ(platform::readStreamAt(stream, 40000, read.data(), read.size()), 60000);
    EXPECT_EQ(std::string(read.data(), 60000), bytes.substr(40000));
    EXPECT_EQ(platform::readStreamAt(stream, 200000, read.data(), 10), 0);
    // Several threads at once, each at offsets of its own.
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&, t] {
            std::vector<char> mine(3000);
            for (int i = 0; i < 200; ++i) {
                std::size_t at = static_cast<std::size_t>(t * 7919 + i * 4099) % 97000;
                if (platform::readStreamAt(stream, static_cast<int64_t>(at), mine.data(),
                                           mine.size()) != 3000 ||
                    std::memcmp(mine.data(), bytes.data() + at, mine.size()) != 0)
                    ++wrong;
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
    // The stream goes on where it was.
    char next[10];
    ASSERT_EQ(platform::readStream(stream, next, sizeof next), 10);
    EXPECT_EQ(std::string(next, 10), bytes.substr(10, 10));
    std::vector<char> rest(30000); // beyond what the stream had buffered
    ASSERT_EQ(platform::readStream(stream, rest.data(), rest.size()), 30000);
    EXPECT_EQ(std::string(rest.data(), rest.size()), bytes.substr(20, 30000));
    platform::closeStream(stream);

    // Positional writes from several threads, each its own stretches, leave the stream's place.
    stream = platform::openStream(path.c_str(), "r+b");
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(platform::seekStream(stream, 10, 0));
    bytes = testing_support::randomBytes(100000, 4);
    std::vector<std::thread> writers;
    for (std::size_t t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (std::size_t at = t * 1000; at < bytes.size(); at += 4000)
                if (!platform::writeStreamAt(stream, static_cast<int64_t>(at), bytes.data() + at,
                                             1000))
                    ++wrong;
        });
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(platform::streamPosition(stream), 10);
    platform::closeStream(stream);
    EXPECT_EQ(testing_support::readFile(path), bytes);

    platform::FileStatus status;
    ASSERT_TRUE(platform::fileStatus(path.c_str(), status));
    EXPECT_FALSE(status.isDirectory);
    EXPECT_EQ(status.size, 100000u);
    EXPECT_GT(status.modified, 1600000000); // written just now, in seconds since 1970
    ASSERT_TRUE(platform::fileStatus(dir.path().c_str(), status));
    EXPECT_TRUE(status.isDirectory);
    EXPECT_FALSE(platform::fileStatus((dir / "missing").c_str(), status));
}

// Offsets and sizes past 2 GiB and 4 GiB, where a 32-bit long or size_t would wrap: a sparse
// file with a mark just past each, written, measured and read back through the back end.
TEST(PlatformFiles, OffsetsPastTwoAndFourGiBDoNotWrap) {
    TempDir dir;
    std::string path = dir / "large.bin";
    const int64_t marks[] = {(int64_t{1} << 31) + 5, (int64_t{1} << 32) + 7};
    std::FILE* out = platform::openStream(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    for (int64_t at : marks) {
        ASSERT_TRUE(platform::seekStream(out, at, 0));
        EXPECT_EQ(platform::streamPosition(out), at);
        ASSERT_EQ(platform::writeStream(out, "mark", 4), 4u);
    }
    ASSERT_TRUE(platform::closeStream(out));

    platform::FileStatus status;
    ASSERT_TRUE(platform::fileStatus(path.c_str(), status));
    EXPECT_EQ(status.size, static_cast<uint64_t>(marks[1]) + 4);
    std::FILE* in = platform::openRegularFile(path.c_str());
    ASSERT_NE(in, nullptr);
    for (int64_t at : marks) {
        char seen[6];
        EXPECT_EQ(platform::readStreamAt(in, at - 2, seen, sizeof seen), 6);
        EXPECT_EQ(std::string(seen, sizeof seen), std::string("\0\0mark", 6));
        ASSERT_TRUE(platform::seekStream(in, at, 0));
        EXPECT_EQ(platform::readStream(in, seen, 4), 4);
        EXPECT_EQ(std::string(seen, 4), "mark");
        EXPECT_EQ(platform::streamPosition(in), at + 4);
    }
    ASSERT_TRUE(platform::seekStream(in, -4, 2));
    EXPECT_EQ(platform::streamPosition(in), marks[1]);
    char beyond[4];
    EXPECT_EQ(platform::readStreamAt(in, int64_t{5} << 30, beyond, sizeof beyond), 0);
    platform::closeStream(in);
}

TEST(PlatformFiles, WildcardSearchIgnoresCaseAndReportsDirectories) {
    TempDir dir;
    writeFile(dir / "data.pak", "");
    writeFile(dir / "PATCH.PAK", "");
    writeFile(dir / "notes.txt", "");
    writeFile(dir / "data.pak.bak", "");
    testing_support::makeDirectory(dir / "x.pak");
    EXPECT_EQ(search(dir / "*.pak"), (std::set<std::string>{"data.pak", "PATCH.PAK"}));
    EXPECT_EQ(search(dir / "*.pak", true), std::set<std::string>{"x.pak"});
    EXPECT_EQ(search(dir / "DATA.?AK"), std::set<std::string>{"data.pak"});
    EXPECT_TRUE(search(dir / "nothing*").empty());
    EXPECT_TRUE(search(dir / "no-such-dir\\*").empty());
    // Matching nothing is an empty result; a directory that is not there is a failure.
    platform::FoundFile found;
    platform::FileSearch none((dir / "nothing*").c_str());
    EXPECT_FALSE(none.next(found));
    EXPECT_FALSE(none.failed());
    platform::FileSearch missing((dir / "no-such-dir\\*").c_str());
    EXPECT_FALSE(missing.next(found));
    EXPECT_TRUE(missing.failed());
    EXPECT_EQ(platform::lastError(), 3u); // ERROR_PATH_NOT_FOUND
}

TEST(PlatformFiles, FaultsInjectedThroughTheTableReachTheCallers) {
    TempDir dir;
    writeFile(dir / "a.txt", "abc");
    writeFile(dir / "b.txt", "");
    testing_support::SystemCallsGuard guard;
    // A bad sector under every read, and a directory that breaks off after its first entry.
    static platform::SystemCalls real;
    real = guard.original();
    platform::systemCalls().readStream = [](std::FILE*, void*, std::size_t) -> std::ptrdiff_t {
        platform::setLastError(23); // ERROR_CRC
        return -1;
    };
    platform::systemCalls().searchNext = [](platform::FileSearch::State& state,
                                            platform::FoundFile& out) {
        static int calls = 0;
        if (++calls == 1) return real.searchNext(state, out);
        platform::setLastError(1117); // ERROR_IO_DEVICE
        return platform::kSearchFailed;
    };

    std::FILE* stream = platform::openStream((dir / "a.txt").c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    char buffer[4];
    EXPECT_EQ(platform::readStream(stream, buffer, sizeof buffer), -1);
    EXPECT_EQ(platform::lastError(), 23u);
    EXPECT_TRUE(platform::closeStream(stream));

    platform::FileSearch search((dir / "*.txt").c_str());
    platform::FoundFile found;
    EXPECT_TRUE(search.next(found));
    EXPECT_FALSE(search.next(found));
    EXPECT_TRUE(search.failed());
    EXPECT_EQ(platform::lastError(), 1117u);

    // What once went past the table: the current directory and the attributes of a file.
    platform::systemCalls().currentDirectory = [](char*, uint32_t) -> uint32_t {
        platform::setLastError(5); // ERROR_ACCESS_DENIED
        return 0;
    };
    platform::systemCalls().fileAttributes = [](const char*) {
        platform::setLastError(5);
        return platform::kInvalidAttributes;
    };
    char here[260];
    EXPECT_EQ(platform::currentDirectory(here, sizeof here), 0u);
    EXPECT_EQ(platform::fileAttributes((dir / "a.txt").c_str()), platform::kInvalidAttributes);
    EXPECT_EQ(platform::lastError(), 5u);
}

TEST(PlatformFiles, RelativePatternsAndTheCurrentDirectory) {
    TempDir dir;
    writeFile(dir / "one.ini", "");
    CurrentDirectory here(dir);
    char buffer[512];
    uint32_t n = platform::currentDirectory(buffer, sizeof buffer);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, sizeof buffer);
    EXPECT_EQ(platform::compareNoCase(buffer, dir.path().c_str()), 0);
    EXPECT_EQ(search("*.INI"), std::set<std::string>{"one.ini"});
    // Too small a buffer: the needed room comes back and the buffer is not touched.
    char tiny[4] = "xyz";
    EXPECT_GT(platform::currentDirectory(tiny, sizeof tiny), sizeof tiny);
    EXPECT_STREQ(tiny, "xyz");
}

TEST(PlatformOrder, FileNamesSortWithoutCaseLikeWindows) {
    std::vector<std::string> names = {"patch.pak", "Data2.pak", "data1.PAK", "DATA.pak", "a_b.pak"};
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return platform::compareNoCase(a.c_str(), b.c_str()) < 0;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"a_b.pak", "DATA.pak", "data1.PAK", "Data2.pak",
                                               "patch.pak"}));
    EXPECT_EQ(platform::compareNoCase("GAME.INI", "game.ini"), 0);
}

TEST(PlatformMemory, PagesComeZeroFilledAndGoBack) {
    const uint32_t n = 3 * 4096 + 17;
    auto* pages = static_cast<unsigned char*>(platform::allocatePages(n));
    ASSERT_NE(pages, nullptr);
    EXPECT_TRUE(std::all_of(pages, pages + n, [](unsigned char b) { return b == 0; }));
    std::memset(pages, 0xAB, n);
    platform::freePages(pages, n);
    EXPECT_EQ(platform::allocatePages(0), nullptr);
}

TEST(PlatformMemory, HeapFailuresCanBeInjected) {
    platform::failHeapAllocationsAfter(1);
    void* first = platform::heapAllocate(8);
    void* second = platform::heapAllocate(8);
    platform::failHeapAllocationsAfter(-1);
    void* third = platform::heapAllocate(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    platform::heapFree(first);
    platform::heapFree(third);
    platform::heapFree(nullptr);
}

TEST(PlatformText, FormatterBoundsItsOutputAndKnowsI64) {
    EXPECT_EQ(formatted("%s\\%s", "dir", "a.pak"), "dir\\a.pak");
    EXPECT_EQ(formatted("%I64d|%d", 12345678901234LL, 7), "12345678901234|7");
    EXPECT_EQ(formatted("%08x", 0xBEEFu), "0000beef");
    char small[5];
    va_list none{};
    int needed = platform::formatText(small, sizeof small, "abcdefgh", none);
    EXPECT_EQ(needed, 8);
    EXPECT_STREQ(small, "abcd");
}

TEST(PlatformText, Cp932AndUtf8RoundTrip) {
    // "設定" and the full-width Ａ, with a 0x5C trail byte in between.
    const std::string cp932 = "\x90\xdd\x92\xe8" + kSo + "\x82\x60\\x";
    char utf8[64];
    ASSERT_GT(platform::cp932ToUtf8(cp932.c_str(), utf8, sizeof utf8), 0);
    EXPECT_STREQ(utf8, "設定ソＡ\\x");
    char back[64];
    ASSERT_EQ(platform::utf8ToCp932(utf8, back, sizeof back), static_cast<int>(cp932.size()));
    EXPECT_EQ(back, cp932);
    // Not representable, malformed, or too long for the room: -1.
    EXPECT_EQ(platform::utf8ToCp932("\xF0\x9F\x98\x80", back, sizeof back), -1);
    EXPECT_EQ(platform::cp932ToUtf8("\x81", utf8, sizeof utf8), -1);
    EXPECT_EQ(platform::cp932ToUtf8("abcdef", utf8, 3), -1);
}

namespace {
int handlerCalls = 0;
int answerRetry(void*, const char* text, const char* caption, uint32_t style) {
    ++handlerCalls;
    EXPECT_STREQ(text, "t");
    EXPECT_STREQ(caption, "c");
    EXPECT_EQ(style, 0x40002u);
    return platform::kIdRetry;
}
} // namespace

TEST(PlatformMessageBox, TestHandlerReplacesTheBox) {
    platform::MessageBoxHandler previous = platform::setMessageBoxHandler(answerRetry);
    EXPECT_EQ(platform::messageBox(nullptr, "t", "c", 0x40002u), platform::kIdRetry);
    platform::setMessageBoxHandler(previous);
    EXPECT_EQ(handlerCalls, 1);
}
