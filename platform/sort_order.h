// The orders in which the system sorts names (see errors.h for the conventions).
#pragma once

namespace platform {

// Orders two texts the way the system sorts names without regard to case: negative when a sorts
// first, 0 when they are equal, positive otherwise. Windows uses lstrcmpiA; POSIX its word
// sort in the Japanese locale, rebuilt from Windows' own weights (base/word_sort.h): kana by
// reading, full-width forms with their ASCII forms, hyphens and apostrophes counting last.
int compareNoCase(const char* a, const char* b);

// The order in which the archives of a directory are taken: compareNoCase; for names it finds
// equal (they differ in case only), the same comparison with regard to case (lstrcmpA); then
// their bytes. A total order, so that a sort by it is the same on every run and every system.
int sortOrder(const char* a, const char* b);

} // namespace platform
