// String storage: construction, growth, appending and assigning.
#include "text/byte_string.h"

#include "platform/memory.h"
#include "platform/message_box.h"

#include <climits>
#include <cstring>
#include <utility>

void* defaultOwnerWindow = nullptr;

namespace {

// Offset of p from base when it lies within [base, base + limit], else -1.
int offsetWithin(const char* base, const char* p, int limit) {
    if (base == nullptr || p == nullptr || p < base || p > base + limit)
        return p == nullptr && base == nullptr ? 0 : -1;
    return static_cast<int>(p - base);
}

} // namespace

String::String(int reserveSize) {
    if (reserveSize == -1) return;
    reserve(reserveSize);
    if (data == nullptr) return;
    data[0] = '\0';
    cursor = data;
}

String::String(const char* text, int count) {
    append(text, count);
}

String::String(const String& other) {
    append(other.data, -1);
}

String::String(String&& other) noexcept
    : data(other.data), capacity(other.capacity), length(other.length), cursor(other.cursor) {
    other.data = other.cursor = nullptr;
    other.capacity = other.length = 0;
}

String& String::operator=(String&& other) noexcept {
    if (this != &other) {
        std::swap(data, other.data);
        std::swap(capacity, other.capacity);
        std::swap(length, other.length);
        std::swap(cursor, other.cursor);
        other.clear();
    }
    return *this;
}

String::~String() {
    platform::heapFree(data);
}

void String::clear() {
    platform::heapFree(data);
    data = cursor = nullptr;
    capacity = length = 0;
}

void String::reserve(int needed) {
    if (needed > INT_MAX - 64) { // no block can be that large
        clear();
        return;
    }
    int32_t newCapacity = (needed & ~63) + 64;
    if (newCapacity <= capacity) return;

    // A cursor inside the text keeps its offset; one outside it (or a null cursor on a String
    // that has a block) cannot be carried over.
    int cursorOffset = offsetWithin(data, cursor, length);

    auto* block = static_cast<char*>(platform::heapAllocate(static_cast<size_t>(newCapacity) + 1));
    if (block == nullptr) {
        clear();
        return;
    }
    block[0] = '\0';
    if (data != nullptr) {
        std::strcpy(block, data);
        platform::heapFree(data);
    }
    capacity = newCapacity;
    data = block;
    cursor = cursorOffset >= 0 ? data + cursorOffset : nullptr;
}

void String::append(const char* text, int count) {
    if (text == nullptr) {
        if (count >= 0) {
            reserve(length + count);
            if (data != nullptr) data[0] = '\0';
            length = 0;
        }
        cursor = data;
        return;
    }
    if (count == 0 || count < -1) return;
    if (count == -1) {
        size_t measured = std::strlen(text);
        if (measured > INT_MAX) {
            clear();
            return;
        }
        count = static_cast<int>(measured);
    }
    length = byteLength();
    int cursorOffset = offsetWithin(data, cursor, length);
    if (cursorOffset < 0) cursorOffset = 0;
    if (count > INT_MAX - 64 - length) { // the result could never be stored
        clear();
        return;
    }
    reserve(length + count);
    if (data == nullptr) return; // no storage: the String stays empty
    std::memcpy(data + length, text, static_cast<size_t>(count));
    data[length + count] = '\0';
    length += count;
    cursor = data + cursorOffset;
}

void String::assign(const char* text, int count) {
    if (text == data && (data != nullptr || count == -1)) return;
    clear();
    append(text, count);
}

String& String::assign(const char* text) {
    if (text != data) {
        clear();
        append(text, -1);
    }
    return *this;
}

String& String::assign(const String& other) {
    if (other.data != data) {
        clear();
        append(other.data, -1);
    }
    return *this;
}

int String::byteLength() const {
    return data == nullptr ? 0 : static_cast<int>(std::strlen(data));
}

int String::showMessage(void* owner, const char* caption, uint32_t type) const {
    return platform::messageBox(owner != nullptr ? owner : defaultOwnerWindow, data, caption,
                                type | platform::kMbTopmost);
}

bool String::takeText(const String& built) {
    String fresh;
    if (built.data != nullptr) {
        fresh.append(built.data, -1);
        if (fresh.data == nullptr) return false; // out of storage: keep the old text
    }
    *this = std::move(fresh);
    return true;
}
