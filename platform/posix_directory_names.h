// Finding a directory's entry whatever the case of its name, without reading the directory
// again for every name looked up in it. Internal to the POSIX back end (posix_paths.cpp,
// directory_posix.cpp).
#pragma once

#include <string>

namespace platform::posix {

// The entry of the directory held open as the descriptor directory whose name is the same as
// name (a host name) under the file-name case rule, the first by character codes when there
// are several; empty when there is none or the directory cannot be read. The names are read
// through the descriptor itself, never through a path, so they are those of the directory
// held, whatever has been renamed or swapped since it was opened. reachedBy is a host path that
// led to it (empty when none is known); it is used only to watch the directory, and only once
// it is seen to lead to the very directory held.
//
// The names of the directory last asked about are kept, folded, together with a watch on it
// (inotify) through which every later change reaches them, whoever makes it; so a run of names
// looked up or created in one directory (an archive being extracted) reads it once instead of
// once per name. Without a watch (none can be had, or reachedBy leads elsewhere) the directory
// is read every time. A change that the file system does not report (one made from another
// machine to a network file system) reaches the names only when this thread has looked in
// another directory meanwhile.
std::string caseVariantAt(int directory, const std::string& reachedBy, const std::string& name);

// The same for the directory at a host path (empty for the current directory).
std::string caseVariant(const std::string& directory, const std::string& name);

} // namespace platform::posix
