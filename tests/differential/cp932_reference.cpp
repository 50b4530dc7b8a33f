// What Windows itself says about code page 932, for scripts/cp932_tables.py: the conversions of
// MultiByteToWideChar and WideCharToMultiByte and the sort keys of LCMapString, one line per
// fact. The tables in base/ are generated from this output and checked against it again by the
// differential test; run under Wine it is Wine's implementation that speaks.
//
// Output lines (hexadecimal numbers, '-' for none):
//   decode CODE STRICT LOOSE   every byte alone, and every lead byte with trail 0x40-0xFF:
//                              the UTF-16 unit with MB_ERR_INVALID_CHARS, and without it
//   encode UNIT CODE           every UTF-16 unit that converts with WC_NO_BEST_FIT_CHARS and no
//                              default character
//   key UNIT K KI KA KH KM     sort keys (LCMAP_SORTKEY, the user's locale) of the unit alone,
//                              alone without case (NORM_IGNORECASE), after the katakana KA,
//                              after the half-width KA, and before the prolonged sound mark;
//                              for every unit that some code decodes to
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

void printKey(const wchar_t* text, int length, DWORD flags) {
    unsigned char key[512];
    int size = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | flags, text, length,
                            reinterpret_cast<wchar_t*>(key), sizeof key);
    std::putchar(' ');
    if (size <= 0) std::putchar('-');
    for (int i = 0; i < size; ++i)
        std::printf("%02x", key[i]);
}

// The single UTF-16 unit that bytes decode to, or -1.
long decode(const char* bytes, int length, DWORD flags) {
    wchar_t wide[4];
    int units = MultiByteToWideChar(932, flags, bytes, length, wide, 4);
    return units == 1 ? static_cast<long>(wide[0]) : -1;
}

void printUnit(long unit) {
    if (unit < 0)
        std::printf(" -");
    else
        std::printf(" %04lx", unit);
}

} // namespace

int main() {
    std::set<long> units;
    for (int lead = 0; lead < 256; ++lead) {
        bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
        for (int trail = -1; trail < (isLead ? 0x100 : 0); trail = trail < 0 ? 0x40 : trail + 1) {
            char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            int length = trail < 0 ? 1 : 2;
            long strict = decode(bytes, length, MB_ERR_INVALID_CHARS);
            long loose = decode(bytes, length, 0);
            std::printf("decode %x", trail < 0 ? lead : lead * 256 + trail);
            printUnit(strict);
            printUnit(loose);
            std::putchar('\n');
            if (loose >= 0) units.insert(loose);
        }
    }
    for (long unit = 0; unit < 0x10000; ++unit) {
        if (unit >= 0xD800 && unit < 0xE000) continue;
        wchar_t wide[1] = {static_cast<wchar_t>(unit)};
        char bytes[4];
        BOOL usedDefault = FALSE;
        int length = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, 1, bytes, sizeof bytes,
                                         nullptr, &usedDefault);
        if (length <= 0 || usedDefault) continue;
        unsigned code = static_cast<unsigned char>(bytes[0]);
        if (length == 2) code = code * 256 + static_cast<unsigned char>(bytes[1]);
        std::printf("encode %04lx %x\n", unit, code);
    }
    for (long unit : units) {
        wchar_t alone[1] = {static_cast<wchar_t>(unit)};
        wchar_t afterKa[2] = {0x30AB, static_cast<wchar_t>(unit)};
        wchar_t afterHalfKa[2] = {0xFF76, static_cast<wchar_t>(unit)};
        wchar_t beforeMark[2] = {static_cast<wchar_t>(unit), 0x30FC};
        std::printf("key %04lx", unit);
        printKey(alone, 1, 0);
        printKey(alone, 1, NORM_IGNORECASE);
        printKey(afterKa, 2, 0);
        printKey(afterHalfKa, 2, 0);
        printKey(beforeMark, 2, 0);
        std::putchar('\n');
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
