// Copying an archive's entry to a loose file of the game directory, the game's own way of
// overriding an entry, for a writable mount: the first write to a file shown from an archive
// goes to such a copy.
//
// The copy is written to a temporary file beside its target, made to reach the disk, and
// renamed into place, so that the game directory holds either no file of that name or the
// whole copy, whatever happens in the middle. A copy that fails is removed again. The
// temporary file's name (copyUpTemporary) is one the view never shows.
#pragma once

#include "archive/archive_file.h"

#include <cstdint>
#include <string>

namespace pak {

// Whether name (one component, system text) is that of a copy not yet in place.
bool isCopyUpTemporary(const std::string& name);

// Writes the data of the entry stored as stored in archive to a new file at target (a system
// path whose directory exists). Returns 0, or the system error (platform::lastError's terms)
// with what went wrong in problem (system text, naming target); nothing is left at target nor
// beside it then. A file that appears at target meanwhile is left alone (error 183).
uint32_t copyUp(const ArchiveFile& archive, const StoredEntry& stored, const std::string& target,
                std::string& problem);

} // namespace pak
