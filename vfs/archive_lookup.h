// Archive discovery and lookup: which "*.pak" files are searched, in which order, and the
// process-wide state of the search.
#pragma once

#include "text/byte_string.h"

#include <vector>

// Full paths of the archives searched by every lookup, in ascending case-insensitive order
// (data.pak before data1.pak before data2.pak before patch.pak): the first archive holding a
// name wins. Filled by the first lookup whose directory holds archives and never refreshed
// while it holds any.
extern std::vector<String> PakList;

// When not empty, only archives whose header names this archive are used. Empty unless the
// program sets it.
extern String ArchiveKey;

// Replaces PakList by the "*.pak" files of directory (not its subdirectories), sorted. When
// storage for a path cannot be had, PakList is left empty and the operating system's status
// for exhausted memory, 0xC0000017, is thrown as a bare uint32_t.
void buildPakList(const char* directory);
