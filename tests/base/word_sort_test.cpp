// Windows' word sort at the points where it is not the order of the codes. The Windows build
// checks thousands of generated names against the real lstrcmpiA (tests/differential/).
#include "base/word_sort.h"

#include <gtest/gtest.h>

#include <vector>

TEST(WordSort, OrdersNamesAsWindows) {
    // In each chain every name sorts before the next, without regard to case and with it.
    std::vector<std::vector<const char*>> chains = {
        {"data.pak", "data1.pak", "data-1.pak"}, // the hyphen counts only when all else is equal
        {"data_.pak", "datas.pak", "data's.pak"},
        {"data_.pak", "data~.pak", "data+.pak", "data<.pak", "data=.pak", "data>.pak", "data0.pak",
         "dataa.pak"},                      // + < = > after the rest
        {"\x82\x60.pak" /* Ａ */, "B.pak"}, // width is no difference
        {"\x82\x50.pak" /* １ */, "2.pak"},
        {"\x83\x41.pak" /* ア */, "\x82\xA2.pak" /* い */},             // kana by reading
        {"\x83\x4A\x81\x5B" /* カー */, "\x83\x4A\x83\x43" /* カイ */}, // ー weighs as ア
    };
    for (const auto& chain : chains)
        for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
            EXPECT_LT(cp932::compareWordSort(chain[i], chain[i + 1], true), 0) << chain[i];
            EXPECT_GT(cp932::compareWordSort(chain[i + 1], chain[i], false), 0) << chain[i];
        }
}

TEST(WordSort, CaseIsTheOnlyDifferenceThatIgnoringCaseRemoves) {
    struct Case {
        const char *a, *b;
        int noCase, withCase;
    } cases[] = {
        {"GAME.INI", "game.ini", 0, 1},
        {"\x83\x9F", "\x83\xBF", 0, 1},                 // Α α
        {"\x84\x46", "\x84\x76", 0, 1},                 // Ё ё
        {"\x87\x54", "\xFA\x40", 0, 1},                 // Ⅰ ⅰ
        {"\x87\x54", "\xFA\x4A", 0, 0},                 // Ⅰ twice: one character
        {"\x83\x41", "\x82\xA0", -1, -1},               // ア あ: kana type counts
        {"\xB1", "\x83\x41", -1, -1},                   // ｱ ア: width counts
        {"\x82\xA9\x81\x54", "\x82\xA9\x82\xA9", 1, 1}, // かゝ after かか
        {"", "-", -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cp932::compareWordSort(c.a, c.b, true), c.noCase) << c.a << " " << c.b;
        EXPECT_EQ(cp932::compareWordSort(c.a, c.b, false), c.withCase) << c.a << " " << c.b;
    }
}
