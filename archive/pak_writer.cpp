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
// directory at the end, so that nothing is held in memory but the entries being compressed and
// the directory. The spill file is the layout's need, not the compression's (stored entries
// need it as much), so the writer uses it; the caller makes it, next to the archive's own
// temporary file, so that both go when the run fails or is interrupted.
//
// Compressed entries go through a ParallelDeflater (parallel_deflater.h), which reads them and
// hands back their streams piece by piece in the order of the entries; the writer only places
// each piece in the data area, so the archive's bytes never depend on the number of threads.
#include "archive/pak_writer.h"

#include "archive/parallel_deflater.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/streams.h"
#include "vfs/pak_format.h"

#include <zlib.h>

#include <cstring>
#include <utility>

namespace pak {

namespace {

constexpr std::size_t kChunk = 1u << 20; // plain entries and the final copy

void putNumber(std::string& out, uint32_t n) {
    char bytes[4] = {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                     static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
    out.append(bytes, 4);
}

std::string systemError() {
    return " (system error " + std::to_string(platform::lastError()) + ")";
}

void writeOut(std::FILE* out, const void* data, std::size_t size, const std::string& outName) {
    if (size > 0 && platform::writeStream(out, data, size) != size)
        throw Failure(kCorrupt, outName + ": cannot be written" + systemError());
}

Failure tooLarge(const std::string& source) {
    return Failure(kCorrupt,
                   source + ": the archive would outgrow the 2 GiB its readers can " + "address");
}

} // namespace

PakWriter::PakWriter(const WriterSettings& settings, std::FILE* spill, std::string outName)
    : settings_(settings), spill_(spill), outName_(platform::shownPath(outName)) {
    if (settings_.version == 0) settings_.compress = false;
    if (settings_.compress)
        deflater_ = std::make_unique<ParallelDeflater>(
            settings_.threads, [this](const DeflatedPiece& piece) { place(piece); });
}

PakWriter::~PakWriter() = default;

void PakWriter::add(const std::string& name, std::FILE* source, const std::string& sourceName) {
    Record record;
    record.name = name;
    record.source = platform::shownPath(sourceName);
    records_.push_back(std::move(record));
    if (deflater_)
        addCompressed(records_.size() - 1, source);
    else
        addPlain(records_.back(), source);
}

std::size_t PakWriter::readSource(std::FILE* source, unsigned char* buffer, std::size_t count,
                                  const Record& record) {
    std::ptrdiff_t read = platform::readStream(source, buffer, count);
    if (read < 0) throw Failure(kCorrupt, record.source + ": cannot be read" + systemError());
    return static_cast<std::size_t>(read);
}

void PakWriter::appendData(Record& record, const unsigned char* data, std::size_t size) {
    if (dataSize_ + size > kMaximumArchiveSize) throw tooLarge(record.source);
    if (size > 0 && platform::writeStream(spill_, data, size) != size)
        throw Failure(kCorrupt, record.source + ": cannot be added: the temporary data file of " +
                                    outName_ + " cannot be written" + systemError());
    dataSize_ += size;
    record.stored += static_cast<uint32_t>(size);
}

void PakWriter::addPlain(Record& record, std::FILE* source) {
    record.offset = static_cast<uint32_t>(dataSize_);
    std::vector<unsigned char> chunk(kChunk);
    for (;;) {
        std::size_t got = readSource(source, chunk.data(), kChunk, record);
        if (got == 0) break;
        appendData(record, chunk.data(), got);
        record.size = record.stored;
    }
}

void PakWriter::addCompressed(std::size_t record, std::FILE* source) {
    uint64_t read = 0;
    uint64_t size = deflater_->add(record, [&](unsigned char* buffer, std::size_t count) {
        std::size_t got = readSource(source, buffer, count, records_[record]);
        read += got;
        // An entry's size is a 32-bit number.
        if (read > UINT32_MAX) throw tooLarge(records_[record].source);
        return got;
    });
    records_[record].size = static_cast<uint32_t>(size);
}

void PakWriter::place(const DeflatedPiece& piece) {
    Record& record = records_[piece.entry];
    if (!piece.compressed) throw Failure(kCorrupt, record.source + ": cannot be compressed");
    if (piece.first) record.offset = static_cast<uint32_t>(dataSize_);
    appendData(record, piece.bytes.data(), piece.bytes.size());
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
    if (deflater_) deflater_->handBackAll();
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
