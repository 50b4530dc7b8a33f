// Reading one entry's data (see entry_reader.h). The checks come from PakDirectory, the same
// ones the game's lookup makes; what this adds is the verdict on data that the lookup would
// accept silently (a plain entry that runs past the end, a stream that ends early).
#include "tools/pak/entry_reader.h"

#include "platform/platform.h"
#include "text/error_exceptions.h"
#include "tools/pak/failure.h"

#include <string>
#include <vector>

namespace pak {

namespace {

constexpr uint32_t kChunk = 64 * 1024;

std::string number(uint64_t n) {
    return std::to_string(n);
}

// Inflated data passed on to the sink window by window: each time the window is full it is
// delivered and handed out again.
class SinkWindow : public InflateOutput {
  public:
    explicit SinkWindow(const EntryReader::Sink& sink) : sink_(sink), window_(kChunk) {}
    unsigned char* more(uint32_t produced, uint32_t left, uint32_t& room) override {
        deliver(produced);
        room = left < kChunk ? left : kChunk;
        return window_.data();
    }
    // Delivers what the window holds beyond what was delivered before.
    void deliver(uint32_t produced) {
        if (produced > delivered_) sink_(window_.data(), produced - delivered_);
        delivered_ = produced;
    }

  private:
    const EntryReader::Sink& sink_;
    std::vector<unsigned char> window_;
    uint32_t delivered_ = 0;
};

} // namespace

void EntryReader::read(const StoredEntry& stored, const Sink& sink) {
    const PakDirectory& directory = archive_.directory();
    if (!directory.dataInside(stored))
        throw Failure(kCorrupt, "its stored data (" + number(stored.storedSize()) +
                                    " bytes at offset " + number(stored.dataStart) +
                                    ") runs past the end of the archive (" +
                                    number(archive_.size()) + " bytes)");
    VirtualFile& file = archive_.file();
    if (file.seek(stored.dataStart, 0) != 0)
        throw Failure(kCorrupt, "the archive cannot be read at offset " + number(stored.dataStart));

    if (!stored.compressed) {
        unsigned char chunk[kChunk];
        uint32_t left = stored.size;
        while (left > 0) {
            uint32_t want = left < kChunk ? left : kChunk;
            uint32_t got = file.read(chunk, want);
            if (got == 0)
                throw Failure(kCorrupt, "the archive cannot be read at offset " +
                                            number(stored.dataStart + (stored.size - left)));
            sink(chunk, got);
            left -= got;
        }
        return;
    }

    uint32_t unpacked = stored.unpackedSize;
    if (!PakDirectory::inflatable(stored))
        throw Failure(kCorrupt, "it declares " + number(unpacked) + " bytes, more than its " +
                                    number(stored.packedSize) + " packed bytes can inflate to");
    SinkWindow window(sink);
    uint32_t produced;
    try {
        produced = file.readCompressed(stored.packedSize, window, unpacked);
    } catch (const ZKErrorException&) {
        throw Failure(kCorrupt, "its " + number(stored.packedSize) +
                                    " packed bytes do not inflate into its declared " +
                                    number(unpacked) + " bytes");
    }
    if (produced != unpacked)
        throw Failure(kCorrupt, "it inflates to " + number(produced) + " bytes, not its declared " +
                                    number(unpacked));
    window.deliver(produced);
}

} // namespace pak
