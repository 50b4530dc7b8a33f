// Helpers for the tests that use the virtual file system.
#pragma once

#include "tests/support/test_support.h"

#include <string>

namespace testing_support {

// Empties the process-wide state of the file system (PakList, ArchiveKey, SearchPathList,
// suppressFilePrompt), so that every test starts as a fresh process would.
void resetFileSystemState();

// Copies the files of a fixture scenario (written by tests/vfs/make_fixtures.py, for example
// "versions/v3") into dir.
void copyScenario(const std::string& scenario, const TempDir& dir);

// The system path of a fixture scenario's folder.
std::string fixturePath(const std::string& scenario);

} // namespace testing_support
