// One program, built for Linux and for Windows, that answers the differential test's questions
// through the system's own code, so that the two builds can be held against each other line by
// line (differential_test.py). It reads its questions from the file named on the command line,
// one per line, fields separated by tabs, texts in code page 932, paths relative to the current
// directory; it writes one block of answers per question to standard output, as bytes.
//
//   order DIR        the archives of DIR in the order the lookup takes them (buildPakList)
//   open DIR NAME    what the game's open(NAME, 0) finds in DIR: the file or the archive entry
//                    and its data, or nothing
//   search PATTERN   what a FileSearch returns, in its order ('/' after directories)
//   names FILE       the lines of FILE sorted by sortOrder (the archives' order), then every
//                    neighbouring pair and a spread of other pairs compared again by the word
//                    sort of base/, which must agree with compareNoCase and sortOrder (on
//                    Windows: lstrcmpiA and lstrcmpA themselves)
//   text             cp932ToUtf8 of every code, utf8ToCp932 of every UTF-16 unit: the edge
//                    through which every name and text passes
#include "base/word_sort.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/file_search.h"
#include "platform/file_system.h"
#include "platform/sort_order.h"
#include "platform/utf8_text.h"
#include "text/error_exceptions.h"
#include "vfs/archive_lookup.h"
#include "vfs/file_open.h"
#include "vfs/virtual_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string lastComponent(const char* path) {
    std::string text = path;
    std::size_t cut = text.rfind('\\'); // the names here have no 0x5C trail bytes
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

std::string hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

void order(std::string& out, const std::string& directory) {
    PakList.clear();
    buildPakList(directory.c_str());
    for (const String& archive : PakList)
        out += "  " + lastComponent(archive.data) + "\n";
    PakList.clear();
}

void open(std::string& out, const std::string& directory, const std::string& name) {
    char home[1024];
    if (platform::currentDirectory(home, sizeof home) == 0 ||
        !platform::changeDirectory(directory.c_str())) {
        out += "  no directory\n";
        return;
    }
    PakList.clear();
    VirtualFile file;
    try {
        if (file.open(name.c_str(), 0)) {
            std::string data(file.size(), '\0');
            data.resize(file.read(data.data(), static_cast<uint32_t>(data.size())));
            if (file.inArchive)
                out += "  entry " + std::string(file.name.data) + " in " +
                       lastComponent(file.path.data);
            else
                out += "  file " + std::string(file.name.data);
            out += " data " + hex(data) + "\n";
        } else {
            out += "  nothing\n";
        }
    } catch (const ZKErrorException& error) {
        out += "  error " + std::string(error.message.data ? error.message.data : "") + "\n";
    }
    file.close();
    PakList.clear();
    platform::changeDirectory(home);
}

void search(std::string& out, const std::string& pattern) {
    platform::FileSearch search(pattern.c_str());
    platform::FoundFile found;
    while (search.next(found))
        out += "  " + std::string(found.name) + (found.isDirectory ? "/" : "") + "\n";
    if (search.failed()) out += "  failed " + std::to_string(platform::lastError()) + "\n";
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

void names(std::string& out, const std::string& path) {
    std::vector<std::string> list = lines(path);
    std::sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
        return platform::sortOrder(a.c_str(), b.c_str()) < 0;
    });
    for (const std::string& name : list)
        out += "  " + hex(name) + "\n";
    // The word sort of base/ against the system's comparisons: on Windows the real ones.
    auto portableOrder = [](const std::string& a, const std::string& b) {
        int order = cp932::compareWordSort(a.c_str(), b.c_str(), true);
        if (order == 0) order = cp932::compareWordSort(a.c_str(), b.c_str(), false);
        if (order == 0) order = a.compare(b);
        return sign(order);
    };
    std::size_t pairs = 0, disagreements = 0;
    auto check = [&](const std::string& a, const std::string& b) {
        ++pairs;
        int noCase = sign(platform::compareNoCase(a.c_str(), b.c_str()));
        int total = sign(platform::sortOrder(a.c_str(), b.c_str()));
        if (noCase == sign(cp932::compareWordSort(a.c_str(), b.c_str(), true)) &&
            total == portableOrder(a, b))
            return;
        if (++disagreements <= 20)
            out += "  disagree " + hex(a) + " " + hex(b) + " system " + std::to_string(noCase) +
                   " " + std::to_string(total) + "\n";
    };
    for (std::size_t i = 0; i + 1 < list.size(); ++i)
        check(list[i], list[i + 1]);
    for (std::size_t i = 0; i < list.size(); ++i)
        for (std::size_t j = i + 2; j < list.size(); j += 1 + (i * 7 + j) % 23)
            check(list[i], list[j]);
    out += "  pairs " + std::to_string(pairs) + " disagreements " + std::to_string(disagreements) +
           "\n";
}

void text(std::string& out) {
    char buffer[16];
    for (unsigned code = 1; code < 0x10000; ++code) {
        unsigned lead = code >> 8, trail = code & 0xFF;
        if (code > 0xFF &&
            (trail < 0x40 || !((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC))))
            continue;
        char bytes[3] = {static_cast<char>(code > 0xFF ? lead : code),
                         static_cast<char>(code > 0xFF ? trail : 0), 0};
        int length = platform::cp932ToUtf8(bytes, buffer, sizeof buffer);
        out += "  decode " + hex(std::string(bytes)) + " " +
               (length < 0 ? std::string("-") : hex(std::string(buffer, length))) + "\n";
    }
    for (unsigned unit = 1; unit < 0x10000; ++unit) {
        if (unit >= 0xD800 && unit < 0xE000) continue;
        char utf8[4] = {};
        if (unit < 0x80) {
            utf8[0] = static_cast<char>(unit);
        } else if (unit < 0x800) {
            utf8[0] = static_cast<char>(0xC0 | unit >> 6);
            utf8[1] = static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            utf8[0] = static_cast<char>(0xE0 | unit >> 12);
            utf8[1] = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
            utf8[2] = static_cast<char>(0x80 | (unit & 0x3F));
        }
        int length = platform::utf8ToCp932(utf8, buffer, sizeof buffer);
        out += "  encode " + hex(utf8) + " " +
               (length < 0 ? std::string("-") : hex(std::string(buffer, length))) + "\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: differential_probe QUESTIONS\n", stderr);
        return 2;
    }
    suppressFilePrompt = 1;
    platform::setBinaryMode(stdout);
    std::string out;
    for (const std::string& line : lines(argv[1])) {
        std::vector<std::string> f = split(line);
        out += line + "\n";
        if (f[0] == "order" && f.size() == 2)
            order(out, f[1]);
        else if (f[0] == "open" && f.size() == 3)
            open(out, f[1], f[2]);
        else if (f[0] == "search" && f.size() == 2)
            search(out, f[1]);
        else if (f[0] == "names" && f.size() == 2)
            names(out, f[1]);
        else if (f[0] == "text")
            text(out);
        else
            out += "  unknown question\n";
    }
    return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0
               ? 0
               : 1;
}
