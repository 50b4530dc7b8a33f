// String storage: the growth rule, the cursor across growth, appending and assigning, and what
// happens when no storage can be had.
#include "text/byte_string.h"

#include "platform/message_box.h"
#include "platform/system_calls.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Makes the next heap allocations fail while it lives.
struct HeapFailure {
    explicit HeapFailure(int succeedFirst = 0) { platform::failHeapAllocationsAfter(succeedFirst); }
    ~HeapFailure() { platform::failHeapAllocationsAfter(-1); }
};

void expectNoBlock(const String& s) {
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.capacity, 0);
    EXPECT_EQ(s.length, 0);
    EXPECT_EQ(s.cursor, nullptr);
}

} // namespace

TEST(StringGrowth, CapacityIsTheNextMultipleOf64AboveTheNeed) {
    String s;
    s.reserve(0);
    EXPECT_EQ(s.capacity, 64);
    EXPECT_EQ(s.cursor, s.data);
    EXPECT_EQ(s.data[0], '\0');
    s.reserve(63);
    EXPECT_EQ(s.capacity, 64);
    s.reserve(64); // asking for exactly the capacity still grows
    EXPECT_EQ(s.capacity, 128);
    s.reserve(10); // never shrinks
    EXPECT_EQ(s.capacity, 128);
    String reserved(512);
    EXPECT_EQ(reserved.capacity, 576);
    EXPECT_EQ(reserved.cursor, reserved.data);
    expectNoBlock(String(-1));
}

TEST(StringGrowth, CursorKeepsItsOffsetWhenTheBlockMoves) {
    String s("abcdef");
    EXPECT_EQ(s.cursor, s.data);
    s.moveCursor(2, 0);
    std::string hundred(100, 'x');
    s.append(hundred.c_str(), 100);
    EXPECT_EQ(s.capacity, 128);
    EXPECT_EQ(s.cursor, s.data + 2);
    EXPECT_EQ(s.length, 106);

    // A null cursor on a String with a block stays null through growth.
    s.cursor = nullptr;
    s.reserve(500);
    EXPECT_EQ(s.cursor, nullptr);
    EXPECT_EQ(std::string(s.data, 6), "abcdef");
}

TEST(StringAppend, CountsNullTextsAndStaleLengths) {
    String s("abc");
    char* block = s.data;
    s.append("xyz", 0);
    EXPECT_STREQ(s.data, "abc");
    EXPECT_EQ(s.data, block);
    s.cursor = s.data + 2;
    s.append(nullptr, -1); // only moves the cursor home
    EXPECT_STREQ(s.data, "abc");
    EXPECT_EQ(s.cursor, s.data);
    s.append("de", 1);
    EXPECT_STREQ(s.data, "abcd");
    EXPECT_EQ(s.length, 4);

    // Text written through data by a system call: length is stale until the next append.
    String buffer(512);
    std::memcpy(buffer.data, "abc", 4);
    EXPECT_EQ(buffer.byteLength(), 3);
    EXPECT_EQ(buffer.length, 0);
    buffer += "def";
    EXPECT_STREQ(buffer.data, "abcdef");
    EXPECT_EQ(buffer.length, 6);
}

TEST(StringAssign, SelfAssignmentNullAndReservation) {
    String s("abc");
    char* block = s.data;
    s.assign(s.data);
    s.assign(s.data, 1);
    s = s;
    EXPECT_EQ(s.data, block);
    EXPECT_STREQ(s.data, "abc");

    s.assign(nullptr, 10);
    EXPECT_NE(s.data, nullptr);
    EXPECT_STREQ(s.data, "");
    EXPECT_EQ(s.capacity, 64);
    EXPECT_EQ(s.cursor, s.data);

    s.assign("abc");
    s.assign(nullptr);
    expectNoBlock(s);

    String other("copy me");
    String copy(other);
    copy.data[0] = 'C';
    EXPECT_STREQ(other.data, "copy me"); // copies never share a block
    s = other;
    EXPECT_STREQ(s.data, "copy me");
    EXPECT_NE(s.data, other.data);

    EXPECT_EQ(String().isEmpty(), 1);
    EXPECT_EQ(String(0).isEmpty(), 1);
    EXPECT_EQ(String("x").isEmpty(), 0);
    EXPECT_EQ(String().byteLength(), 0);
}

TEST(StringStorageFailure, LeavesTheStringEmptyAndWritesNothing) {
    {
        HeapFailure failing;
        String reserved(512);
        expectNoBlock(reserved);
        String built("abc");
        expectNoBlock(built);
    }
    String s("abc");
    {
        HeapFailure failing;
        std::string long_text(200, 'y');
        s.append(long_text.c_str(), -1); // needs a bigger block, which cannot be had
    }
    expectNoBlock(s);
    s.append("after", -1); // and the String is usable again
    EXPECT_STREQ(s.data, "after");
}

TEST(StringMessage, ShowsTopmostWithoutAnOwner) {
    testing_support::MessageBoxRecorder boxes({platform::kIdRetry});
    String text("\x83\x74\x83\x40\x83\x43\x83\x8B"); // ファイル
    EXPECT_EQ(text.showMessage(nullptr, "caption", platform::kMbAbortRetryIgnore),
              platform::kIdRetry);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].owner, nullptr);
    EXPECT_EQ(boxes.shown()[0].text, text.data);
    EXPECT_EQ(boxes.shown()[0].caption, "caption");
    EXPECT_EQ(boxes.shown()[0].style, 0x40002u);
}
