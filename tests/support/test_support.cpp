#include "tests/support/test_support.h"

#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/streams.h"
#include "platform/system_calls.h"
#include "platform/utf8_text.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

std::atomic<unsigned> tempCounter{0};

// Host paths and system paths through UTF-8, which std::filesystem understands everywhere.
std::string toSystemPath(const fs::path& host) {
    std::string utf8 = host.u8string();
    std::vector<char> text(utf8.size() * 2 + 1);
    if (platform::utf8ToCp932(utf8.c_str(), text.data(), text.size()) < 0)
        throw std::runtime_error("path has no code page 932 form: " + utf8);
    std::string result = text.data();
    for (char& c : result)
        if (c == '/') c = '\\';
    return result;
}

fs::path toHostPath(const std::string& system) {
    std::vector<char> utf8(system.size() * 3 + 1);
    if (platform::cp932ToUtf8(system.c_str(), utf8.data(), utf8.size()) < 0)
        throw std::runtime_error("not code page 932: " + system);
    std::string text = utf8.data();
    for (char& c : text)
        if (c == '\\') c = '/';
    return fs::u8path(text);
}

struct RecorderState {
    std::vector<ShownMessage> shown;
    std::vector<int> answers;
    std::vector<std::pair<std::size_t, void (*)()>> actions;
};
std::unique_ptr<RecorderState> recorder;

int recordMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
    std::size_t index = recorder->shown.size();
    recorder->shown.push_back({owner, text ? text : "", caption ? caption : "", style});
    for (auto& [at, action] : recorder->actions)
        if (at == index) action();
    return index < recorder->answers.size() ? recorder->answers[index] : platform::kIdIgnore;
}

} // namespace

TempDir::TempDir() {
    fs::path base = fs::temp_directory_path();
    for (;;) {
        hostPath_ = base / ("zk-test-" + std::to_string(std::random_device{}() % 1000000) + "-" +
                            std::to_string(tempCounter++));
        if (fs::create_directory(hostPath_)) break;
    }
    hostPath_ = fs::canonical(hostPath_);
    systemPath_ = toSystemPath(hostPath_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(hostPath_, ignored);
}

CurrentDirectory::CurrentDirectory(const TempDir& dir) : previous_(fs::current_path()) {
    fs::current_path(toHostPath(dir.path()));
}

CurrentDirectory::~CurrentDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

fs::path hostPath(const std::string& systemPath) {
    return toHostPath(systemPath);
}

std::vector<std::string> filesBelow(const std::string& dir) {
    fs::path root = toHostPath(dir);
    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        if (entry.is_symlink() || !entry.is_directory())
            files.push_back(toSystemPath(fs::relative(entry.path(), root)));
    std::sort(files.begin(), files.end());
    return files;
}

void makeDirectory(const std::string& path) {
    std::string prefix;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (!prefix.empty() && prefix.back() != ':' &&
                platform::fileAttributes(prefix.c_str()) == platform::kInvalidAttributes)
                platform::createDirectory(prefix.c_str());
        }
        if (i < path.size()) {
            auto b = static_cast<unsigned char>(path[i]);
            prefix += path[i];
            if (((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) && i + 1 < path.size())
                prefix += path[++i];
        }
    }
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::size_t cut = std::string::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        auto b = static_cast<unsigned char>(path[i]);
        if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))
            ++i;
        else if (path[i] == '\\')
            cut = i;
    }
    if (cut != std::string::npos && cut > 0) makeDirectory(path.substr(0, cut));
    std::FILE* f = platform::openStream(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

std::string readFile(const std::string& path) {
    std::FILE* f = platform::openStream(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot read " + path);
    std::string bytes;
    char chunk[4096];
    while (std::size_t n = std::fread(chunk, 1, sizeof chunk, f))
        bytes.append(chunk, n);
    std::fclose(f);
    return bytes;
}

void removeFile(const std::string& path) {
    std::error_code ignored;
    fs::remove(toHostPath(path), ignored);
}

MessageBoxRecorder::MessageBoxRecorder(std::vector<int> answers) {
    recorder = std::make_unique<RecorderState>();
    recorder->answers = std::move(answers);
    platform::setMessageBoxHandler(recordMessageBox);
}

MessageBoxRecorder::~MessageBoxRecorder() {
    platform::setMessageBoxHandler(nullptr);
    recorder.reset();
}

const std::vector<ShownMessage>& MessageBoxRecorder::shown() const {
    return recorder->shown;
}

void MessageBoxRecorder::onShow(std::size_t index, void (*action)()) {
    recorder->actions.emplace_back(index, action);
}

} // namespace testing_support
