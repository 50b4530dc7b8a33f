// Opening files by name: the process-wide search settings and the path helpers of open.
#pragma once

#include "text/byte_string.h"

#include <vector>

// Directories whose archives are searched, first to last, after those of the current
// directory. Empty unless the program adds to it.
extern std::vector<String> SearchPathList;

// When set, an open without write intent that finds nothing fails without asking the user.
extern int suppressFilePrompt;

// 1 when path names an existing file or directory on a volume that answers, else 0. A path
// that starts with a drive (C:...) is only examined when the drive, asked by its root (C:\),
// answers, so a missing medium or network drive is never touched.
int pathExists(const char* path);

// Creates every directory along path that does not exist yet, outermost first. Failures are
// ignored; the open that follows reports what is still missing.
void createDirectories(const char* path);
