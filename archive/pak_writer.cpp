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
// the directory.
//
// Compression runs on worker threads (ordered_jobs.h): each entry up to kWholeEntryLimit is one
// job, a larger one is cut into blocks of kBlockSize (block_deflater.h). The sources are read,
// and the results written to the spill file, on the caller's thread in the order of the
// entries, so the archive's bytes never depend on the number of threads. What is read but not
// yet written is bounded (kInFlight), whatever the size of the entries.
#include "archive/pak_writer.h"

#include "archive/block_deflater.h"
#include "archive/ordered_jobs.h"
#include "archive/whole_deflater.h"
#include "platform/platform.h"
#include "vfs/pak_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace pak {

namespace {

constexpr std::size_t kChunk = 1u << 20; // plain entries and the final copy
// Input bytes given to the threads and not yet written: beyond it, the caller waits.
constexpr std::size_t kInFlight = 32u << 20;

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

struct PakWriter::Input {
    std::vector<unsigned char> bytes;
};

struct PakWriter::Packed {
    std::vector<unsigned char> bytes;
    uint32_t checksum = 1; // of the block's input (blocks only)
    bool ok = false;
};

struct PakWriter::Job {
    std::size_t record;
    bool blocks; // a block of an entry compressed in blocks, not a whole entry
    bool first, last;
    std::size_t inputSize;
};

// The workers, each with the compressors it keeps for all its jobs, and the jobs given and not
// yet written.
class PakWriter::Compression {
  public:
    explicit Compression(unsigned threads) : deflaters(threads < 1 ? 1 : threads), jobs(threads) {}

    struct Deflaters {
        WholeDeflater whole;
        BlockDeflater blocks;
    };
    // One per worker, made by the worker on its first job (only it touches its own).
    Deflaters& of(unsigned worker) {
        if (!deflaters[worker]) deflaters[worker] = std::make_unique<Deflaters>();
        return *deflaters[worker];
    }

    std::vector<std::unique_ptr<Deflaters>> deflaters; // outlives the workers below
    OrderedJobs<Packed> jobs;
    std::deque<Job> given; // alongside jobs' results, in the same order
    std::size_t inFlight = 0;
};

PakWriter::PakWriter(const WriterSettings& settings, std::FILE* spill, std::string outName)
    : settings_(settings), spill_(spill), outName_(platform::shownPath(outName)) {
    if (settings_.version == 0) settings_.compress = false;
    if (settings_.compress) compression_ = std::make_unique<Compression>(settings_.threads);
}

PakWriter::~PakWriter() = default;

void PakWriter::add(const std::string& name, std::FILE* source, const std::string& sourceName) {
    Record record;
    record.name = name;
    record.source = platform::shownPath(sourceName);
    records_.push_back(std::move(record));
    if (settings_.compress)
        addCompressed(records_.size() - 1, source);
    else
        addPlain(records_.back(), source);
}

std::size_t PakWriter::readSource(std::FILE* source, unsigned char* buffer, std::size_t count,
                                  const Record& record) {
    std::ptrdiff_t read = platform::readStream(source, buffer, count);
    if (read < 0)
        failAfterEarlierEntries(
            Failure(kCorrupt, record.source + ": cannot be read" + systemError()));
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

std::shared_ptr<PakWriter::Input> PakWriter::copyOfStaging(std::size_t size) const {
    auto input = std::make_shared<Input>();
    input->bytes.assign(staging_.begin(), staging_.begin() + static_cast<std::ptrdiff_t>(size));
    return input;
}

void PakWriter::addCompressed(std::size_t record, std::FILE* source) {
    // Sources are read into one buffer that is kept, and copied from there into inputs of
    // their exact size: no input is made as large as the largest entry could be.
    if (staging_.size() < kWholeEntryLimit) staging_.resize(kWholeEntryLimit);
    std::size_t got = readSource(source, staging_.data(), kWholeEntryLimit, records_[record]);
    std::shared_ptr<Input> head = copyOfStaging(got);
    std::shared_ptr<Input> next;
    if (got == kWholeEntryLimit) {
        std::size_t more = readSource(source, staging_.data(), kBlockSize, records_[record]);
        if (more > 0) next = copyOfStaging(more);
    }
    if (!next) { // the entry fits whole
        records_[record].size = static_cast<uint32_t>(got);
        giveWhole(record, std::move(head));
        return;
    }

    // Blocks: those of the head first, then the rest as it is read, each given once the read
    // after it tells whether it is the last.
    uint64_t size = got + next->bytes.size();
    for (std::size_t offset = 0; offset < got; offset += kBlockSize)
        giveBlock(record, head, offset, kBlockSize, head, offset == 0, false);
    std::shared_ptr<Input> before = std::move(head);
    std::shared_ptr<Input> current = std::move(next);
    for (;;) {
        std::size_t read = readSource(source, staging_.data(), kBlockSize, records_[record]);
        size += read;
        // An entry's size is a 32-bit number.
        if (size > UINT32_MAX) failAfterEarlierEntries(tooLarge(records_[record].source));
        giveBlock(record, current, 0, current->bytes.size(), before, false, read == 0);
        if (read == 0) break;
        before = std::move(current);
        current = copyOfStaging(read);
    }
    records_[record].size = static_cast<uint32_t>(size);
}

void PakWriter::giveWhole(std::size_t record, std::shared_ptr<Input> input) {
    std::size_t size = input->bytes.size();
    give({record, false, true, true, size}, size);
    Compression& compression = *compression_;
    compression.jobs.give([&compression, input = std::move(input)](unsigned worker) {
        Packed packed;
        packed.ok = compression.of(worker).whole.compress(input->bytes.data(), input->bytes.size(),
                                                          packed.bytes);
        return packed;
    });
}

void PakWriter::giveBlock(std::size_t record, std::shared_ptr<Input> input, std::size_t offset,
                          std::size_t size, std::shared_ptr<Input> before, bool first, bool last) {
    give({record, true, first, last, size}, size);
    // The dictionary: the bytes of the entry right before the block, in its own input or at
    // the end of the one before.
    std::size_t dictionarySize = 0, dictionaryEnd = 0;
    if (!first) {
        dictionaryEnd = offset > 0 ? offset : before->bytes.size();
        if (offset > 0) before = input;
        dictionarySize = std::min(dictionaryEnd, BlockDeflater::kDictionarySize);
    }
    Compression& compression = *compression_;
    compression.jobs.give([&compression, input = std::move(input), before = std::move(before),
                           offset, size, dictionaryEnd, dictionarySize, last](unsigned worker) {
        Packed packed;
        const unsigned char* data = input->bytes.data() + offset;
        const unsigned char* dictionary =
            dictionarySize > 0 ? before->bytes.data() + dictionaryEnd - dictionarySize : nullptr;
        packed.ok = compression.of(worker).blocks.compress(dictionary, dictionarySize, data, size,
                                                           last, packed.bytes);
        packed.checksum = BlockDeflater::checksum(1, data, size);
        return packed;
    });
}

void PakWriter::give(const Job& job, std::size_t inputSize) {
    Compression& compression = *compression_;
    // Room first: the caller waits for the oldest jobs while too much is under way.
    while (!compression.given.empty() &&
           (compression.given.size() >= 2 * static_cast<std::size_t>(compression.jobs.threads()) ||
            compression.inFlight + inputSize > kInFlight))
        writeOldest();
    compression.given.push_back(job);
    compression.inFlight += inputSize;
}

void PakWriter::writeOldest() {
    Compression& compression = *compression_;
    Job job = compression.given.front();
    compression.given.pop_front();
    compression.inFlight -= job.inputSize;
    Packed packed = compression.jobs.take();
    Record& record = records_[job.record];
    if (!packed.ok) throw Failure(kCorrupt, record.source + ": cannot be compressed");
    if (job.first) {
        record.offset = static_cast<uint32_t>(dataSize_);
        if (job.blocks) appendData(record, BlockDeflater::kStreamHeader, 2);
    }
    appendData(record, packed.bytes.data(), packed.bytes.size());
    if (!job.blocks) return;
    record.checksum = job.first
                          ? packed.checksum
                          : BlockDeflater::combine(record.checksum, packed.checksum, job.inputSize);
    if (job.last) { // the stream ends with the checksum, most significant byte first
        const unsigned char trailer[4] = {static_cast<unsigned char>(record.checksum >> 24),
                                          static_cast<unsigned char>(record.checksum >> 16),
                                          static_cast<unsigned char>(record.checksum >> 8),
                                          static_cast<unsigned char>(record.checksum)};
        appendData(record, trailer, sizeof trailer);
    }
}

void PakWriter::failAfterEarlierEntries(const Failure& failure) {
    if (compression_)
        while (!compression_->given.empty())
            writeOldest();
    throw failure;
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
    if (compression_)
        while (!compression_->given.empty())
            writeOldest();
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
