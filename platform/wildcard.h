// Wildcard matching of file names as the Windows file search does it, for back ends that have
// to enumerate directories themselves. Internal to platform/.
#pragma once

namespace platform {

// Whether the code page 932 file name matches pattern: '*' matches any run of characters
// (none included), '?' exactly one character (a double-byte character counts as one),
// ASCII letters and full-width Latin letters match without regard to case.
bool wildcardMatch(const char* pattern, const char* name);

} // namespace platform
