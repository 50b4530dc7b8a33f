// Writing files below one directory and nowhere else, whatever the names ask for.
//
// The names have passed entryPath already (no absolute names, drives or ".."); what is left is
// the file system itself: a symbolic link (on Windows any reparse point, junctions included)
// below the root could lead a path outside it, and another process that can write below the
// root could put one where a directory was a moment ago. So the tree is walked with directories
// held open (platform/directory.h), one name at a time: a directory is entered only through the
// handle of its parent and never through a link, and a file is made and renamed inside the
// handle of its own directory. A link where a directory or the file itself should be is refused.
// The root itself is the user's choice and may be a link.
#pragma once

#include "platform/directory.h"

#include <string>
#include <vector>

namespace pak {

class OutputTree {
  public:
    // root: a directory (system text; empty for the current directory). It is created when it
    // is missing; throws Failure (kCorrupt) when that fails or it is not a directory.
    explicit OutputTree(const std::string& root);

    // Where a file goes: the directory that holds it, open until the next prepare, its name
    // there, and its whole path for messages.
    struct FileDestination {
        const platform::Directory& directory;
        std::string name;
        std::string path;
    };

    // The destination of the file that components names below the root, once the directories along
    // it are open: the missing ones are created one at a time. Throws Failure (kCorrupt, the
    // reason after the entry's name) when a component is a symbolic link, a directory is
    // needed where a file is, the file's place is taken by a directory or a link, or a
    // directory cannot be created or opened.
    FileDestination prepare(const std::vector<std::string>& components);

  private:
    // A directory on the way to the last file, held open.
    struct OpenDirectory {
        std::string name;
        platform::Directory directory;
    };

    std::string root_;
    platform::Directory rootDirectory_;
    // The directories below the root on the way to the last file, outermost first. Each stays
    // open while the ones inside it are used, and the next file reuses those it shares.
    std::vector<OpenDirectory> openOnTheWay_;
};

} // namespace pak
