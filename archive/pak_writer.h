// PakWriter: builds a pak archive of any of the five versions from entries added one by one.
// The layout it writes is described at the top of pak_writer.cpp.
#pragma once

#include "archive/failure.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pak {

class ParallelDeflater;
struct DeflatedPiece;

struct WriterSettings {
    uint32_t version = 3;    // 0 to 4
    bool compress = true;    // store entries as zlib streams (never in version 0)
    std::string archiveName; // system text, at most 255 bytes; versions 2 to 4 only
    unsigned threads = 1;    // threads that compress; the archive's bytes do not depend on it
};

class PakWriter {
  public:
    // spill: an empty file open for reading and writing, where the data area is gathered
    // until finish (the directory, which comes first in the archive, needs every entry's
    // stored size). It stays the caller's, who knows where temporary files may go and removes
    // them. outName: the archive being made, for messages.
    PakWriter(const WriterSettings& settings, std::FILE* spill, std::string outName);
    ~PakWriter();
    PakWriter(const PakWriter&) = delete;
    PakWriter& operator=(const PakWriter&) = delete;

    // Adds an entry named name (system text) holding the bytes of source, read to its end
    // before this returns (the source may be closed then); its compression may still be under
    // way on other threads. Throws Failure (kCorrupt) naming sourceName when the source cannot
    // be read, or naming the source of an earlier entry whose data cannot be compressed or
    // written to the spill file (naming the archive too), or that would make the archive outgrow
    // the 2 GiB its readers can address. Failures come in the order of the entries, whatever
    // the number of threads.
    void add(const std::string& name, std::FILE* source, const std::string& sourceName);

    // Writes the whole archive to out: header, directory, data area. Throws Failure (kCorrupt)
    // naming the archive when it cannot be written or would outgrow 2 GiB.
    void finish(std::FILE* out);

    // The greatest archive size written: the game reads archives through the C runtime's
    // 32-bit signed file offsets.
    static constexpr uint64_t kMaximumArchiveSize = 0x7FFFFFFF;

  private:
    struct Record {
        std::string name;
        uint32_t offset = 0; // within the data area
        uint32_t size = 0;   // bytes of the entry's data
        uint32_t stored = 0; // bytes in the data area: the packed size, or size
        std::string source;  // where it came from, for messages
    };

    void addPlain(Record& record, std::FILE* source);
    void addCompressed(std::size_t record, std::FILE* source);
    // Reads up to count bytes; throws Failure naming the record's source when the source fails.
    std::size_t readSource(std::FILE* source, unsigned char* buffer, std::size_t count,
                           const Record& record);
    // Puts the next piece of a compressed entry's stream into the data area.
    void place(const DeflatedPiece& piece);
    void appendData(Record& record, const unsigned char* data, std::size_t size);

    std::string directoryRecords(uint32_t dataStart) const;
    void copySpill(std::FILE* out);

    WriterSettings settings_;
    std::FILE* spill_;
    std::string outName_;
    std::vector<Record> records_;
    uint64_t dataSize_ = 0;                      // bytes written to the spill file
    std::unique_ptr<ParallelDeflater> deflater_; // when the entries are compressed
};

} // namespace pak
