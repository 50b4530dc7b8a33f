// The Windows command line, apart from the rest of the Windows back end: splitting it takes
// shell32, and only the programs that read their arguments this way should import that DLL.
#include "platform/console.h"

#include <windows.h>

#include <shellapi.h>

namespace platform {

bool commandLineArguments(int /*argc*/, char** /*argv*/, std::vector<std::string>& out) {
    out.clear();
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return false;
    bool converted = true;
    for (int i = 1; i < count && converted; ++i) {
        // WC_NO_BEST_FIT_CHARS and the default-character check together refuse every character
        // that code page 932 lacks, instead of putting a look-alike or '?' in its place.
        BOOL usedDefault = FALSE;
        int length = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide[i], -1, nullptr, 0,
                                         nullptr, &usedDefault);
        if (length <= 0 || usedDefault) {
            converted = false;
            break;
        }
        std::string text(static_cast<std::size_t>(length), '\0');
        WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide[i], -1, text.data(), length, nullptr,
                            &usedDefault);
        text.resize(static_cast<std::size_t>(length - 1));
        out.push_back(std::move(text));
    }
    LocalFree(wide);
    return converted;
}

} // namespace platform
