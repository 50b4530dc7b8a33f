// Windows' word sort of code page 932 text in the Japanese locale: the order of CompareString,
// and so of lstrcmpiA (without regard to case) and lstrcmpA (with it), which is the order in
// which the game takes its archives. Built from weights that Windows reports
// (cp932_tables.h); the Windows build checks it against the real lstrcmpiA.
//
// Word sort is not the order of the codes. Characters are compared first by their primary
// weight alone: letters without case, width (Ａ with A) or kana type (ア with あ and ｱ); kana by
// reading, with a prolonged sound mark or repeat mark weighing as the vowel or kana before it;
// Greek, Cyrillic and Roman numerals by letter; digits before letters, symbols before digits,
// with + < = > after the other punctuation. The hyphen and the apostrophe weigh nothing there
// and count only when everything else is equal (so data-1.pak sorts after data.pak and after
// data1.pak). Then come the diacritics (the voiced marks of kana), case, the kana distinctions
// (small, katakana, half-width) and last those hyphens and apostrophes.
#pragma once

namespace cp932 {

// Negative when a sorts before b, 0 when the word sort finds them equal, positive otherwise.
// With ignoreCase, letters that differ in case only are equal (lstrcmpiA); without it they are
// not (lstrcmpA). Codes without a character weigh as the default character (U+30FB), as
// Windows decodes them.
int compareWordSort(const char* a, const char* b, bool ignoreCase);

} // namespace cp932
