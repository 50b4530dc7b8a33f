// Reading the data of one archive entry at a time, as the game's open would deliver it: plain
// entries straight from the archive in chunks, compressed ones inflated through a window of
// bounded size, so that memory never follows what an entry merely declares.
#pragma once

#include "tools/pak/archive_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace pak {

class EntryReader {
  public:
    // Receives the data in order, in pieces.
    using Sink = std::function<void(const unsigned char* data, std::size_t size)>;

    explicit EntryReader(ArchiveFile& archive) : archive_(archive) {}

    // Delivers the whole data of the entry to sink: exactly stored.dataSize() bytes. Throws
    // Failure (kCorrupt) with a message that says what is wrong, after the entry's name, when
    // the stored bytes do not lie inside the archive, a compressed entry declares more than its
    // packed bytes can inflate to or does not inflate to exactly its declared size, or the
    // archive cannot be read. A compressed entry that fails may have delivered part of its data
    // to sink already.
    void read(const StoredEntry& stored, const Sink& sink);

  private:
    ArchiveFile& archive_;
};

} // namespace pak
