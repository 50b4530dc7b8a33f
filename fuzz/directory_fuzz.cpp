// The checked walk over an archive's records and the reading of every entry, as pak's verify
// and extract do them: the input is the archive.
//
// Every outcome must be a Failure with its message, or entries that deliver exactly their
// declared size; names are judged as extract judges them.
#include "fuzz/fuzz_support.h"
#include "tools/pak/archive_file.h"
#include "tools/pak/entry_path.h"
#include "tools/pak/entry_reader.h"
#include "tools/pak/failure.h"

#include <cstddef>
#include <cstdint>
#include <string>

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
        while (archive.next(entry, stored)) {
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
        }
    } catch (const pak::Failure& failure) {
        if (failure.message.empty()) fuzzing::finding("a failure without a message");
    }
    return 0;
}
