// ParallelDeflater (see parallel_deflater.h). The entries are read, and the pieces handed back,
// on the caller's thread; only the compression runs on the workers (ordered_jobs.h), each job
// carrying back with its piece all that handing it back needs.
#include "archive/parallel_deflater.h"

#include "archive/block_deflater.h"
#include "archive/ordered_jobs.h"
#include "archive/whole_deflater.h"

#include <algorithm>
#include <utility>

namespace pak {

struct ParallelDeflater::Input {
    std::vector<unsigned char> bytes;
};

struct ParallelDeflater::Compressed {
    DeflatedPiece piece;
    std::size_t inputSize = 0; // bytes of the entry in the piece
    bool inBlocks = false;     // a block of an entry compressed in blocks
    uint32_t checksum = 1;     // Adler-32 of the block's bytes (blocks only)
};

// The worker threads, each with the compressors it keeps for all its jobs.
struct ParallelDeflater::Workers {
    explicit Workers(unsigned threads) : deflaters(threads < 1 ? 1 : threads), jobs(threads) {}

    struct Deflaters {
        WholeDeflater whole;
        BlockDeflater blocks;
    };
    // The worker's own, made by the worker on its first job (only it touches them).
    Deflaters& of(unsigned worker) {
        if (!deflaters[worker]) deflaters[worker] = std::make_unique<Deflaters>();
        return *deflaters[worker];
    }

    std::vector<std::unique_ptr<Deflaters>> deflaters; // outlives the jobs below
    OrderedJobs<Compressed> jobs;
};

ParallelDeflater::ParallelDeflater(unsigned threads, Receive receive)
    : receive_(std::move(receive)), workers_(std::make_unique<Workers>(threads)) {}

ParallelDeflater::~ParallelDeflater() = default;

std::size_t ParallelDeflater::readOrHandBack(const Read& read, std::size_t count) {
    try {
        return read(staging_.data(), count);
    } catch (...) {
        // The pieces before come first, and so do their failures.
        handBackAll();
        throw;
    }
}

std::shared_ptr<ParallelDeflater::Input> ParallelDeflater::copyOfStaging(std::size_t size) const {
    auto input = std::make_shared<Input>();
    input->bytes.assign(staging_.begin(), staging_.begin() + static_cast<std::ptrdiff_t>(size));
    return input;
}

uint64_t ParallelDeflater::add(std::size_t entry, const Read& read) {
    // Entries are read into one buffer that is kept, and copied from there into inputs of their
    // exact size: no input is made as large as the largest entry could be.
    if (staging_.size() < kWholeEntryLimit) staging_.resize(kWholeEntryLimit);
    std::size_t got = readOrHandBack(read, kWholeEntryLimit);
    std::shared_ptr<Input> head = copyOfStaging(got);
    std::shared_ptr<Input> next;
    if (got == kWholeEntryLimit) {
        std::size_t more = readOrHandBack(read, kBlockSize);
        if (more > 0) next = copyOfStaging(more);
    }
    if (!next) { // the entry fits whole
        submitWhole(entry, std::move(head));
        return got;
    }

    // Blocks: those of the head first, then the rest as it is read, each given once the read
    // after it tells whether it is the last.
    uint64_t size = got + next->bytes.size();
    for (std::size_t offset = 0; offset < got; offset += kBlockSize)
        submitBlock(entry, head, offset, kBlockSize, head, offset == 0, false);
    std::shared_ptr<Input> before = std::move(head);
    std::shared_ptr<Input> current = std::move(next);
    for (;;) {
        std::size_t length = readOrHandBack(read, kBlockSize);
        size += length;
        submitBlock(entry, current, 0, current->bytes.size(), before, false, length == 0);
        if (length == 0) break;
        before = std::move(current);
        current = copyOfStaging(length);
    }
    return size;
}

void ParallelDeflater::submitWhole(std::size_t entry, std::shared_ptr<Input> input) {
    makeRoomFor(input->bytes.size());
    Workers& workers = *workers_;
    workers.jobs.submit([&workers, entry, input = std::move(input)](unsigned worker) {
        Compressed done;
        done.piece.entry = entry;
        done.piece.first = done.piece.last = true;
        done.inputSize = input->bytes.size();
        done.piece.compressed = workers.of(worker).whole.compress(
            input->bytes.data(), input->bytes.size(), done.piece.bytes);
        if (!done.piece.compressed) done.piece.bytes.clear();
        return done;
    });
}

void ParallelDeflater::submitBlock(std::size_t entry, std::shared_ptr<Input> input,
                                   std::size_t offset, std::size_t size,
                                   std::shared_ptr<Input> before, bool first, bool last) {
    makeRoomFor(size);
    // The dictionary: the bytes of the entry right before the block, in its own input or at
    // the end of the one before.
    std::size_t dictionarySize = 0, dictionaryEnd = 0;
    if (!first) {
        dictionaryEnd = offset > 0 ? offset : before->bytes.size();
        if (offset > 0) before = input;
        dictionarySize = std::min(dictionaryEnd, BlockDeflater::kDictionarySize);
    }
    Workers& workers = *workers_;
    workers.jobs.submit([&workers, entry, input = std::move(input), before = std::move(before),
                         offset, size, dictionaryEnd, dictionarySize, first,
                         last](unsigned worker) {
        Compressed done;
        done.piece.entry = entry;
        done.piece.first = first;
        done.piece.last = last;
        done.inputSize = size;
        done.inBlocks = true;
        const unsigned char* data = input->bytes.data() + offset;
        const unsigned char* dictionary =
            dictionarySize > 0 ? before->bytes.data() + dictionaryEnd - dictionarySize : nullptr;
        if (first)
            done.piece.bytes.assign(BlockDeflater::kStreamHeader,
                                    BlockDeflater::kStreamHeader +
                                        sizeof BlockDeflater::kStreamHeader);
        done.piece.compressed = workers.of(worker).blocks.compress(dictionary, dictionarySize, data,
                                                                   size, last, done.piece.bytes);
        if (!done.piece.compressed) done.piece.bytes.clear();
        done.checksum = BlockDeflater::checksum(1, data, size);
        return done;
    });
}

void ParallelDeflater::makeRoomFor(std::size_t inputSize) {
    OrderedJobs<Compressed>& jobs = workers_->jobs;
    // The caller waits for the oldest jobs while too much is under way.
    while (jobs.pending() > 0 && (jobs.pending() >= 2 * static_cast<std::size_t>(jobs.threads()) ||
                                  inFlight_ + inputSize > kInFlight))
        handBackOldest();
    inFlight_ += inputSize;
}

void ParallelDeflater::handBackOldest() {
    Compressed done = workers_->jobs.nextResult();
    inFlight_ -= done.inputSize;
    DeflatedPiece& piece = done.piece;
    if (done.inBlocks && piece.compressed) {
        checksum_ = piece.first ? done.checksum
                                : BlockDeflater::combine(checksum_, done.checksum, done.inputSize);
        if (piece.last) { // the stream ends with the checksum, most significant byte first
            const unsigned char trailer[4] = {static_cast<unsigned char>(checksum_ >> 24),
                                              static_cast<unsigned char>(checksum_ >> 16),
                                              static_cast<unsigned char>(checksum_ >> 8),
                                              static_cast<unsigned char>(checksum_)};
            piece.bytes.insert(piece.bytes.end(), trailer, trailer + sizeof trailer);
        }
    }
    receive_(piece);
}

void ParallelDeflater::handBackAll() {
    while (workers_->jobs.pending() > 0)
        handBackOldest();
}

} // namespace pak
