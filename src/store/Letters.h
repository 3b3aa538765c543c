#pragma once

#include <string>
#include <string_view>

// Letters and their case beyond ASCII, from the Unicode Character Database
// (LetterTables.inc). No locale is read: a name tidies and a search matches
// the same way on every desktop.

// A letter or a combining mark: either continues a word ("Mu" U+0308 "ller").
bool IsWordLetter(char32_t Code);
// The simple title-case form of a lower-case letter ("ç" to "Ç", "ǆ" to "ǅ");
// anything else is returned unchanged.
char32_t TitleCase(char32_t Code);
// Simple case folding: the one code point that the cases of a letter share
// ("ẞ" and "ß" to "ß", "Σ", "σ" and "ς" to "σ"); "İ" has none and stays.
char32_t FoldCase(char32_t Code);
// Folds UTF-8 text for comparison without regard to case, one code point for
// one; a stray byte is kept as it is.
std::string FoldCase(std::string_view Text);

// Turkish and Azeri write i with a dot in both cases and ı without one in
// both: under their rules "i" is raised to "İ", and the four letters match
// each other when case does not count ("YILMAZ" finds "Yılmaz", "ILKER"
// still finds "ilker" typed without the letters of these languages).
char32_t TitleCase(char32_t Code, bool Turkic);
char32_t FoldCase(char32_t Code, bool Turkic);
std::string FoldCase(std::string_view Text, bool Turkic);
// For a locale name such as "tr_TR.UTF-8" or "az".
bool IsTurkicLocale(std::string_view Locale);
