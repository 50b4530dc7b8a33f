// Finding a directory's entry whatever the case of its name, without reading the directory
// again for every name looked up in it. Internal to the POSIX back end (posix_paths.cpp).
#pragma once

#include <string>

namespace platform::posix {

// The entry of directory (a host path; empty for the current directory) whose name is the
// same as name (a host name) under the file-name case rule, the first by character codes when
// there are several; empty when there is none or the directory cannot be read.
//
// The names of the directory last asked about are kept, folded, together with a watch on it
// (inotify) through which every later change reaches them, whoever makes it; so a run of names
// looked up or created in one directory (an archive being extracted) reads it once instead of
// once per name. Without a watch (none can be had) the directory is read every time. A change
// that the file system does not report (one made from another machine to a network file
// system) reaches the names only when this thread has looked in another directory meanwhile.
std::string caseVariant(const std::string& directory, const std::string& name);

} // namespace platform::posix
