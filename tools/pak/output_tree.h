// Writing files below one directory and nowhere else, whatever the names ask for.
//
// The names have passed entryPath already (no absolute names, drives or ".."); what is left is
// the file system itself: a symbolic link (on Windows any reparse point, junctions included)
// that already exists below the root could lead a path outside it. So every directory below the
// root is examined without following links before anything goes into it, and a link where a
// directory or the file itself should be is refused rather than followed or replaced. The
// root itself is the user's choice and may be a link.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace pak {

class OutputTree {
  public:
    // root: a directory (system text; empty for the current directory). It is created when it
    // is missing; throws Failure (kCorrupt) when that fails or it is not a directory.
    explicit OutputTree(const std::string& root);

    // The path of the file that components names below the root, once the directories along it
    // exist: the missing ones are created one at a time. Throws Failure (kCorrupt, the reason
    // after the entry's name) when a component is a symbolic link, a directory is needed where
    // a file is, the file's place is taken by a directory or a link, or a directory cannot be
    // created.
    std::string prepare(const std::vector<std::string>& components);

  private:
    std::string root_;
    std::set<std::string> directories_; // below the root, examined or created already
};

} // namespace pak
