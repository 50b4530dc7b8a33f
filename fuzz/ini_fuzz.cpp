// The settings reader: the input is the settings file, read whole through a VirtualFile and
// searched for a few sections and keys.
#include "fuzz/fuzz_support.h"
#include "settings/ini_reader.h"
#include "vfs/virtual_file.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

void checkText(const String& text) {
    if (text.data == nullptr) {
        if (text.length != 0 || text.capacity != 0) fuzzing::finding("an empty String with size");
        return;
    }
    if (text.length != static_cast<int>(std::strlen(text.data)) || text.length > text.capacity)
        fuzzing::finding("a String whose length is not its text's");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzzing::checkAllocations(fuzzing::archiveBound(size));
    if (size > UINT32_MAX) return 0;
    VirtualFile file;
    file.openBuffer(const_cast<uint8_t*>(data), static_cast<uint32_t>(size));
    String text;
    text.loadText(file);
    checkText(text);
    // [設定] Name and Title as the launcher asks, and names the input is likely to hold.
    const char* queries[][2] = {
        {"\x90\xDD\x92\xE8", "Name"}, {"\x90\xDD\x92\xE8", "Title"}, {"a", "b"}, {"", ""}};
    for (const auto& query : queries) {
        String value;
        findIniValue(query[0], query[1], value, text);
        checkText(value);
        checkText(text);
    }
    return 0;
}
