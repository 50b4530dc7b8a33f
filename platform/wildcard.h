// Wildcard matching of file names as the Windows file search does it, for back ends that have
// to enumerate directories themselves. Internal to platform/.
#pragma once

namespace platform {

// Whether the code page 932 file name matches pattern: '*' matches any run of characters
// (none included), '?' exactly one character (a double-byte character counts as one), and
// characters compare under the file-name case rule (cp932::foldFileNameCase). As on Windows, a
// pattern that ends in ".*" also matches names without that dot ("title.*" matches "title",
// "*.*" matches every name).
bool wildcardMatch(const char* pattern, const char* name);

} // namespace platform
