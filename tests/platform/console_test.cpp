// The console side of the platform layer: text for a person, terminals and binary streams.
// What holds on both back ends: text written out and read back in as an argument would be is
// the same system text again, whatever the host's encoding is.
#include "platform/console.h"
#include "platform/streams.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using testing_support::readFile;
using testing_support::TempDir;

namespace {

// The bytes writeText puts into a file for text.
std::string writtenText(const TempDir& dir, const std::string& text, bool* accepted = nullptr) {
    std::string path = dir / "out.txt";
    std::FILE* stream = platform::openStream(path.c_str(), "wb");
    EXPECT_NE(stream, nullptr);
    bool ok = platform::writeText(stream, text.data(), text.size());
    std::fclose(stream);
    if (accepted != nullptr) *accepted = ok;
    return readFile(path);
}

} // namespace

TEST(ConsoleText, TextWrittenOutComesBackAsTheSameSystemText) {
    TempDir dir;
    // 設定 (settings), ソ with its trail byte 0x5C, a half-width katakana and ASCII.
    const std::string text = "\x90\xdd\x92\xe8\\\x83\x5C\xB1 ok";
    bool accepted = false;
    std::string host = writtenText(dir, text, &accepted);
    ASSERT_TRUE(accepted);
    std::string back;
    ASSERT_TRUE(platform::hostToSystemText(host.c_str(), back));
    EXPECT_EQ(back, text);
    EXPECT_EQ(writtenText(dir, "plain ASCII\n"), "plain ASCII\n");
}

TEST(ConsoleText, FilesAreNoTerminalsAndBinaryModeKeepsLineFeeds) {
    TempDir dir;
    std::string path = dir / "lines";
    std::FILE* stream = platform::openStream(path.c_str(), "w"); // text mode
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(platform::isTerminal(stream));
    EXPECT_TRUE(platform::setBinaryMode(stream));
    std::fputs("a\nb\n", stream);
    std::fclose(stream);
    EXPECT_EQ(readFile(path), "a\nb\n");
}
