// The checked walk over an archive's records and the reading of every entry through its
// stream, as pak's verify and extract and the mount read them: the input is the archive.
//
// Every outcome must be a Failure with its message, or entries that deliver exactly their
// declared size; names are judged as extract judges them. Each entry is read whole; then, as
// the mount's requests come, at offsets out of order with few recent bytes kept (so that the
// stream serves reads from them, inflates past gaps and starts again), which must give the
// bytes of the whole read, and must not fail where it did not. Then the entries are read as
// extract reads them, on the caller's thread and on two threads ahead of it, which must come
// to the same verdict for each.
#include "archive/archive_file.h"
#include "archive/entry_path.h"
#include "archive/entry_scheduler.h"
#include "archive/entry_stream.h"
#include "archive/failure.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kFailed = UINT64_MAX;

// What readEntriesInOrder delivers for each entry: its size, or kFailed.
class DeliveredSizes : public pak::EntryReceiver {
  public:
    explicit DeliveredSizes(std::size_t count) : delivered(count, 0) {}
    bool begin(std::size_t index) override {
        current_ = index;
        return true;
    }
    void receive(const unsigned char*, std::size_t size) override { delivered[current_] += size; }
    void end(std::size_t index, const pak::Failure* failure) override {
        if (failure != nullptr) delivered[index] = kFailed;
    }
    std::vector<uint64_t> delivered;

  private:
    std::size_t current_ = 0;
};

void checkMessage(const pak::Failure& failure) {
    if (failure.message.empty()) fuzzing::finding("a failure without a message");
}

// Numbers for the reads out of order, the same for the same input.
class Choices {
  public:
    Choices(const uint8_t* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            state_ = (state_ ^ data[i]) * 0x100000001B3u;
    }
    uint64_t below(uint64_t bound) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return bound == 0 ? 0 : state_ % bound;
    }

  private:
    uint64_t state_ = 0xCBF29CE484222325u;
};

// The entry's data read whole; false when the stream failed (whole then holds what came before
// the piece that failed).
bool readWhole(const pak::ArchiveFile& archive, const StoredEntry& stored,
               std::vector<unsigned char>& whole) {
    try {
        pak::EntryStream stream(archive, stored);
        unsigned char piece[4096];
        for (;;) {
            std::size_t got = stream.read(piece, sizeof piece);
            if (got == 0) break;
            whole.insert(whole.end(), piece, piece + got);
            if (whole.size() > stored.dataSize())
                fuzzing::finding("an entry delivers more than its declared size");
        }
    } catch (const pak::Failure& failure) {
        checkMessage(failure);
        return false;
    }
    if (whole.size() != stored.dataSize())
        fuzzing::finding("an entry read without failure delivers less than its size");
    return true;
}

// Reads out of order: near where the last read ended, behind it, anywhere, after a skip; with
// or without seek points, which a second stream then reads from.
void readOutOfOrder(const pak::ArchiveFile& archive, const StoredEntry& stored,
                    const std::vector<unsigned char>& whole, bool sound, Choices& choose) {
    static const uint32_t kRecent[] = {1, 7, 100, 4096};
    static const uint32_t kInterval[] = {0, 64, 300, 5000};
    uint32_t size = stored.dataSize();
    try {
        uint32_t recent = kRecent[choose.below(4)];
        uint32_t interval = kInterval[choose.below(4)];
        std::shared_ptr<pak::SeekPoints> points;
        if (interval > 0) points.reset(new pak::SeekPoints(interval));
        auto stream = std::make_unique<pak::EntryStream>(archive, stored, recent, points);
        std::vector<unsigned char> out;
        uint64_t last = 0;
        for (int round = 0; round < 12; ++round) {
            if (round == 6)
                stream = std::make_unique<pak::EntryStream>(archive, stored, recent, points);
            uint64_t offset = last;
            std::size_t got;
            out.assign(static_cast<std::size_t>(choose.below(5000)) + 1, 0);
            try {
                switch (choose.below(4)) {
                case 0:
                    offset = choose.below(uint64_t{size} + 1);
                    break;
                case 1: { // a little behind or ahead of the last read
                    uint64_t step = choose.below(200);
                    offset = last + step > 100 ? last + step - 100 : 0;
                    break;
                }
                case 2:
                    stream->skip(static_cast<uint32_t>(choose.below(300)));
                    offset = stream->position();
                    break;
                default:
                    break;
                }
                got = stream->readAt(offset, out.data(), out.size());
            } catch (const pak::Failure& failure) {
                checkMessage(failure);
                if (sound) fuzzing::finding("an entry read whole fails when read out of order");
                stream->rewind();
                continue;
            }
            uint64_t expected = offset < size ? std::min<uint64_t>(out.size(), size - offset) : 0;
            if (got != expected) fuzzing::finding("a read out of order delivers a wrong count");
            // Where the whole read got the bytes too, they must be the same.
            uint64_t known =
                whole.size() > offset ? std::min<uint64_t>(got, whole.size() - offset) : 0;
            if (known > 0 && std::memcmp(out.data(), whole.data() + offset, known) != 0)
                fuzzing::finding("a read out of order delivers other bytes than the whole read");
            last = offset + got;
        }
    } catch (const pak::Failure& failure) {
        checkMessage(failure);
        if (sound) fuzzing::finding("an entry read whole fails when read out of order");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzzing::checkAllocations(fuzzing::archiveBound(size));
    fuzzing::writeScratchFile("data.pak", data, size);
    fuzzing::InScratchDirectory here;
    Choices choose(data, size);
    try {
        pak::ArchiveFile archive("data.pak");
        archive.readDirectory();
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
                checkMessage(failure);
                break;
            }
            entries.push_back(stored);
            pak::EntryPath path = pak::entryPath(entry.name.data != nullptr ? entry.name.data : "");
            for (const std::string& component : path.components)
                if (component.empty() || component == "." || component == "..")
                    fuzzing::finding("an entry name that reaches outside its directory");
            std::vector<unsigned char> whole;
            bool sound = readWhole(archive, stored, whole);
            verdicts.push_back(sound ? whole.size() : kFailed);
            // Every entry reads the same way: a few dozen show it, and an archive of a million
            // empty records would take the rest of the time.
            if (entries.size() <= 64) readOutOfOrder(archive, stored, whole, sound, choose);
        }
        constexpr std::size_t kScheduledEntries = 4096;
        if (entries.size() > kScheduledEntries) {
            entries.resize(kScheduledEntries);
            verdicts.resize(kScheduledEntries);
        }
        for (unsigned threads : {1u, 2u}) {
            DeliveredSizes delivered(entries.size());
            pak::readEntriesInOrder(archive, entries, delivered, threads);
            if (delivered.delivered != verdicts)
                fuzzing::finding("reading in order comes to another verdict than reading alone");
        }
    } catch (const pak::Failure& failure) {
        checkMessage(failure);
    }
    return 0;
}
