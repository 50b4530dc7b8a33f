// The checked walk over an archive's records and the reading of every entry, as pak's verify
// and extract do them: the input is the archive.
//
// Every outcome must be a Failure with its message, or entries that deliver exactly their
// declared size; names are judged as extract judges them. The entries are then read again the
// way extract reads them, on two threads ahead of the caller, which must come to the same
// verdict for each.
#include "archive/archive_file.h"
#include "archive/entry_path.h"
#include "archive/entry_reader.h"
#include "archive/failure.h"
#include "fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// What readEach delivers for each entry: its size, or UINT64_MAX when it failed.
class Tally : public pak::EntryReader::Receiver {
  public:
    explicit Tally(std::size_t count) : delivered(count, 0) {}
    bool begin(std::size_t index) override {
        current_ = index;
        return true;
    }
    void receive(const unsigned char*, std::size_t size) override { delivered[current_] += size; }
    void end(std::size_t index, const pak::Failure* failure) override {
        if (failure != nullptr) delivered[index] = UINT64_MAX;
    }
    std::vector<uint64_t> delivered;

  private:
    std::size_t current_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzzing::checkAllocations(fuzzing::archiveBound(size));
    fuzzing::writeScratchFile("data.pak", data, size);
    fuzzing::InScratchDirectory here;
    try {
        pak::ArchiveFile archive("data.pak");
        archive.readDirectory();
        pak::EntryReader reader(archive);
        PakEntry entry;
        StoredEntry stored;
        std::vector<StoredEntry> entries;
        std::vector<uint64_t> verdicts;
        // A directory that breaks off leaves the entries before the break to be read, as
        // extract reads them.
        for (;;) {
            try {
                if (!archive.next(entry, stored)) break;
            } catch (const pak::Failure& failure) {
                if (failure.message.empty()) fuzzing::finding("a failure without a message");
                break;
            }
            entries.push_back(stored);
            verdicts.push_back(UINT64_MAX);
            pak::EntryPath path = pak::entryPath(entry.name.data != nullptr ? entry.name.data : "");
            for (const std::string& component : path.components)
                if (component.empty() || component == "." || component == "..")
                    fuzzing::finding("an entry name that reaches outside its directory");
            uint64_t delivered = 0;
            try {
                reader.read(stored, [&](const unsigned char*, std::size_t n) {
                    delivered += n;
                    if (delivered > stored.dataSize())
                        fuzzing::finding("an entry delivers more than its declared size");
                });
            } catch (const pak::Failure& failure) {
                if (failure.message.empty()) fuzzing::finding("a failure without a message");
                continue;
            }
            if (delivered != stored.dataSize())
                fuzzing::finding("an entry read without failure delivers less than its size");
            verdicts.back() = delivered;
        }
        // The threads' hand-over is the same for every entry: a few thousand show it, and an
        // archive of a million empty records would take the rest of the time.
        constexpr std::size_t kThreadedEntries = 4096;
        if (entries.size() > kThreadedEntries) {
            entries.resize(kThreadedEntries);
            verdicts.resize(kThreadedEntries);
        }
        Tally tally(entries.size());
        reader.readEach(entries, tally, 2);
        if (tally.delivered != verdicts)
            fuzzing::finding(
                "reading ahead on threads comes to another verdict than reading alone");
    } catch (const pak::Failure& failure) {
        if (failure.message.empty()) fuzzing::finding("a failure without a message");
    }
    return 0;
}
