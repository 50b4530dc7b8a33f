// The game's lookup from archive bytes: the input is the one archive (data.pak) of the current
// directory; each wanted name is opened as the game opens it and its data read whole.
//
// Every outcome must be a miss, the decompression error or a hit whose data has the size the
// file reports; an entry read in place is never larger than the archive.
#include "fuzz/fuzz_support.h"
#include "text/error_exceptions.h"
#include "vfs/archive_lookup.h"
#include "vfs/file_open.h"
#include "vfs/virtual_file.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzzing::checkAllocations(fuzzing::archiveBound(size));
    fuzzing::writeScratchFile("data.pak", data, size);
    fuzzing::InScratchDirectory here;
    // Each input starts as a fresh process would.
    PakList.clear();
    ArchiveKey.clear();
    SearchPathList.clear();
    suppressFilePrompt = 1;

    // The first record whatever its name, a settings file, any extension, a double-byte name.
    for (const char* wanted : {"", "GAME.INI", "title.*", "\x95\x5C"}) {
        VirtualFile file;
        try {
            if (!file.open(wanted, 0)) continue;
        } catch (const ZKErrorException&) {
            continue;
        } catch (uint32_t) { // exhausted memory, thrown bare
            continue;
        }
        uint64_t reported = file.size();
        if (!file.inMemory && reported > size) fuzzing::finding("an entry larger than its archive");
        if (file.heldSize() > reported || file.declaredSize() < file.heldSize())
            fuzzing::finding("an entry holds more than its size or than it declares");
        unsigned char chunk[4096];
        uint64_t total = 0;
        while (uint32_t got = file.read(chunk, sizeof chunk))
            total += got;
        if (total > reported) fuzzing::finding("an entry delivers more than its size");
        if (file.inMemory && total != reported)
            fuzzing::finding("an inflated entry delivers less than its size");
    }
    return 0;
}
