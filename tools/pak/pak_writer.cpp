// PakWriter: what it writes, byte for byte. All numbers are unsigned 32-bit little-endian
// unless said otherwise; the reader's side of the format is vfs/pak_format.h.
//
//   Header
//     version 0     version, entryCount                                            8 bytes
//     version 1     version, entryCount, directorySize, packedDirectorySize       16 bytes
//     version 2     the same, value (32-bit, written 0), archiveName[256]        276 bytes
//     versions 3-4  the same, value (IEEE double, written 0.0), archiveName[256]  280 bytes
//                   archiveName: the --name text, NUL-padded (always terminated)
//
//   Directory, one record per entry in the order added: a signed 32-bit name length, the name's
//   bytes (no terminator), then the numbers
//     version 0     data offset (absolute), 0, size
//     versions 1-3  data offset, unpacked size, size, compression flag, packed size
//     version 4     0, data offset, size, 0, compression flag, packed size
//   A plain entry has flag 0 and its size as unpacked and packed size; a compressed one has
//   flag 1, its size as unpacked size and size, and the bytes of its zlib stream as packed
//   size. Version 0 stores every entry plain and its records directly after the header; the
//   other versions store the records as one zlib stream (directorySize bytes inflated,
//   packedDirectorySize bytes stored) after the header, and their data offsets count from the
//   data area, which begins right after that stream.
//
//   Data area: each entry's bytes (plain) or zlib stream (compressed), in the order added,
//   back to back.
//
// The data area is gathered in a spill file while entries are added and copied behind the
// directory at the end, so that nothing is held in memory but one entry's chunk and the
// directory.
#include "tools/pak/pak_writer.h"

#include "platform/platform.h"
#include "tools/pak/failure.h"
#include "vfs/pak_format.h"

#include <zlib.h>

#include <cstring>
#include <utility>

namespace pak {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

void putNumber(std::string& out, uint32_t n) {
    char bytes[4] = {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                     static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
    out.append(bytes, 4);
}

// One deflate stream, ended when it goes out of scope.
class Deflater {
  public:
    Deflater() {
        if (deflateInit(&stream_, Z_DEFAULT_COMPRESSION) != Z_OK)
            throw Failure(kCorrupt, "zlib cannot be started");
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    z_stream* operator->() { return &stream_; }
    z_stream* get() { return &stream_; }

  private:
    z_stream stream_{};
};

std::string systemError() {
    return " (system error " + std::to_string(platform::lastError()) + ")";
}

void writeOut(std::FILE* out, const void* data, std::size_t size, const std::string& outName) {
    if (size > 0 && platform::writeStream(out, data, size) != size)
        throw Failure(kCorrupt, outName + ": cannot be written" + systemError());
}

} // namespace

PakWriter::PakWriter(const WriterSettings& settings, std::FILE* spill, std::string outName)
    : settings_(settings), spill_(spill), outName_(std::move(outName)) {
    if (settings_.version == 0) settings_.compress = false;
}

void PakWriter::add(const std::string& name, std::FILE* source, const std::string& sourceName) {
    Record record;
    record.name = name;
    record.offset = static_cast<uint32_t>(dataSize_);
    auto tooLarge = [&]() {
        return Failure(kCorrupt, sourceName + ": the archive would outgrow the 2 GiB its " +
                                     "readers can address");
    };
    auto unreadable = [&]() {
        return Failure(kCorrupt, sourceName + ": cannot be read" + systemError());
    };
    auto spillFailed = [&]() {
        return Failure(kCorrupt, sourceName + ": cannot be added: the temporary data file of " +
                                     outName_ + " cannot be written" + systemError());
    };

    std::vector<unsigned char> input(kChunk);
    uint64_t size = 0, stored = 0;
    if (!settings_.compress) {
        for (;;) {
            std::ptrdiff_t read = platform::readStream(source, input.data(), kChunk);
            if (read < 0) throw unreadable();
            if (read == 0) break;
            auto got = static_cast<std::size_t>(read);
            size += got;
            if (dataSize_ + size > kMaximumArchiveSize) throw tooLarge();
            if (platform::writeStream(spill_, input.data(), got) != got) throw spillFailed();
        }
        stored = size;
    } else {
        std::vector<unsigned char> output(kChunk);
        Deflater deflater;
        int flush = Z_NO_FLUSH;
        while (flush != Z_FINISH) {
            std::ptrdiff_t read = platform::readStream(source, input.data(), kChunk);
            if (read < 0) throw unreadable();
            auto got = static_cast<std::size_t>(read);
            size += got;
            if (size > UINT32_MAX) throw tooLarge(); // an entry's size is a 32-bit number
            if (got < kChunk) flush = Z_FINISH;      // the source has ended
            deflater->next_in = input.data();
            deflater->avail_in = static_cast<uInt>(got);
            do {
                deflater->next_out = output.data();
                deflater->avail_out = static_cast<uInt>(kChunk);
                if (deflate(deflater.get(), flush) == Z_STREAM_ERROR)
                    throw Failure(kCorrupt, sourceName + ": cannot be compressed");
                std::size_t produced = kChunk - deflater->avail_out;
                stored += produced;
                if (dataSize_ + stored > kMaximumArchiveSize) throw tooLarge();
                if (platform::writeStream(spill_, output.data(), produced) != produced)
                    throw spillFailed();
            } while (deflater->avail_out == 0);
        }
    }
    record.size = static_cast<uint32_t>(size);
    record.stored = static_cast<uint32_t>(stored);
    dataSize_ += stored;
    records_.push_back(std::move(record));
}

std::string PakWriter::directoryRecords(uint32_t dataStart) const {
    std::string records;
    uint32_t flag = settings_.compress ? 1 : 0;
    for (const Record& r : records_) {
        putNumber(records, static_cast<uint32_t>(r.name.size()));
        records += r.name;
        switch (settings_.version) {
        case 0:
            putNumber(records, dataStart + r.offset);
            putNumber(records, 0);
            putNumber(records, r.size);
            break;
        case 1:
        case 2:
        case 3:
            putNumber(records, r.offset);
            putNumber(records, r.size);
            putNumber(records, r.size);
            putNumber(records, flag);
            putNumber(records, r.stored);
            break;
        default:
            putNumber(records, 0);
            putNumber(records, r.offset);
            putNumber(records, r.size);
            putNumber(records, 0);
            putNumber(records, flag);
            putNumber(records, r.stored);
            break;
        }
    }
    return records;
}

void PakWriter::finish(std::FILE* out) {
    const std::string& outName = outName_;
    const uint32_t version = settings_.version;
    std::string header;
    putNumber(header, version);
    putNumber(header, static_cast<uint32_t>(records_.size()));

    std::string directory;
    if (version == 0) {
        uint64_t recordBytes = 0;
        for (const Record& r : records_)
            recordBytes += 4 + r.name.size() + 12;
        if (8 + recordBytes + dataSize_ > kMaximumArchiveSize)
            throw Failure(kCorrupt, outName + ": the archive would outgrow 2 GiB");
        directory = directoryRecords(static_cast<uint32_t>(8 + recordBytes));
    } else {
        std::string records = directoryRecords(0);
        uLongf packedSize = compressBound(static_cast<uLong>(records.size()));
        directory.resize(packedSize);
        if (compress(reinterpret_cast<Bytef*>(&directory[0]), &packedSize,
                     reinterpret_cast<const Bytef*>(records.data()),
                     static_cast<uLong>(records.size())) != Z_OK)
            throw Failure(kCorrupt, outName + ": the directory cannot be compressed");
        directory.resize(packedSize);
        if (headerSize(version) + directory.size() + dataSize_ > kMaximumArchiveSize)
            throw Failure(kCorrupt, outName + ": the archive would outgrow 2 GiB");
        putNumber(header, static_cast<uint32_t>(records.size()));
        putNumber(header, static_cast<uint32_t>(directory.size()));
        if (version == 2) putNumber(header, 0);   // value
        if (version >= 3) header.append(8, '\0'); // value: the double 0.0
        if (version >= 2) {
            char name[256] = {};
            std::memcpy(name, settings_.archiveName.data(),
                        settings_.archiveName.size() < 255 ? settings_.archiveName.size() : 255);
            header.append(name, sizeof name);
        }
    }
    writeOut(out, header.data(), header.size(), outName);
    writeOut(out, directory.data(), directory.size(), outName);
    copySpill(out);
}

void PakWriter::copySpill(std::FILE* out) {
    const std::string& outName = outName_;
    if (std::fflush(spill_) != 0 || !platform::seekStream(spill_, 0, 0))
        throw Failure(kCorrupt, outName + ": the temporary data file cannot be read back");
    std::vector<unsigned char> chunk(kChunk);
    uint64_t left = dataSize_;
    while (left > 0) {
        std::size_t want = left < kChunk ? static_cast<std::size_t>(left) : kChunk;
        std::ptrdiff_t got = platform::readStream(spill_, chunk.data(), want);
        if (got <= 0)
            throw Failure(kCorrupt, outName + ": the temporary data file cannot be read back");
        writeOut(out, chunk.data(), static_cast<std::size_t>(got), outName);
        left -= static_cast<uint64_t>(got);
    }
}

} // namespace pak
