// Letters and case beyond ASCII, and the UTF-8 steps they are read with.
#include <gtest/gtest.h>

#include "IniFile.h"
#include "Letters.h"
#include "TextCodec.h"

TEST(Letters, WordLettersTitleCaseAndFolding) {
  struct {
    char32_t Code;
    bool Letter;
    char32_t Title, Fold;
  } Cases[] = {
      // clang-format off
      {U'a', true, U'A', U'a'},          {U'Z', true, U'Z', U'z'},
      {U'1', false, U'1', U'1'},         {U'_', false, U'_', U'_'},
      {0x00E7, true, 0x00C7, 0x00E7},    {0x00C7, true, 0x00C7, 0x00E7},  // ç Ç
      {0x0308, true, 0x0308, 0x0308},    // a combining mark continues its word
      {0x00AA, true, 0x00AA, 0x00AA},    {0x00D7, false, 0x00D7, 0x00D7},  // ª ×
      {0x00A0, false, 0x00A0, 0x00A0},   {0x2019, false, 0x2019, 0x2019},
      {0x20AC, false, 0x20AC, 0x20AC},   {0x0660, false, 0x0660, 0x0660},  // € Arabic-Indic zero
      {0x65E5, true, 0x65E5, 0x65E5},    {0x1F600, false, 0x1F600, 0x1F600},
      {0x10FFFF, false, 0x10FFFF, 0x10FFFF},
      // Runs two apart: only every other code point maps.
      {0x0100, true, 0x0100, 0x0101},    {0x0101, true, 0x0100, 0x0101},
      {0x0102, true, 0x0102, 0x0103},    {0x0103, true, 0x0102, 0x0103},
      {0x01C4, true, 0x01C4, 0x01C6},    {0x01C5, true, 0x01C5, 0x01C6},    {0x01C6, true, 0x01C5, 0x01C6},
      {0x00DF, true, 0x00DF, 0x00DF},    {0x1E9E, true, 0x1E9E, 0x00DF},    // ß ẞ
      {0x0130, true, 0x0130, 0x0130},    {0x0131, true, 0x0049, 0x0131},    // İ ı
      {0x03A3, true, 0x03A3, 0x03C3},    {0x03C2, true, 0x03A3, 0x03C3},    // Σ ς
      {0x212A, true, 0x212A, U'k'},      {0x017F, true, U'S', U's'},        // Kelvin sign, long s
      {0x10D0, true, 0x10D0, 0x10D0},    {0x1C90, true, 0x1C90, 0x10D0},    // Georgian
      {0xAB70, true, 0x13A0, 0x13A0},    {0x13A0, true, 0x13A0, 0x13A0},    // Cherokee folds up
      {0x1E922, true, 0x1E900, 0x1E922}, {0x10400, true, 0x10400, 0x10428},
  };
  // clang-format on
  for (const auto& Case : Cases) {
    EXPECT_EQ(IsWordLetter(Case.Code), Case.Letter) << std::hex << uint32_t(Case.Code);
    EXPECT_EQ(uint32_t(TitleCase(Case.Code)), uint32_t(Case.Title)) << std::hex << uint32_t(Case.Code);
    EXPECT_EQ(uint32_t(FoldCase(Case.Code)), uint32_t(Case.Fold)) << std::hex << uint32_t(Case.Code);
  }
  const std::pair<const char*, const char*> Texts[] = {
      {"AbC \xC3\x84\xFF", "abc \xC3\xA4\xFF"},
      {"GRO\xE1\xBA\x9E"
       "E",
       "gro\xC3\x9F"
       "e"},  // one byte shorter
      {"\xCE\x9F\xCE\xA3 \xCF\x82", "\xCE\xBF\xCF\x83 \xCF\x83"},
      {"\xC4\xB0i", "\xC4\xB0i"},
  };
  for (const auto& [In, Out] : Texts) EXPECT_EQ(FoldCase(In), Out) << In;
}

TEST(Letters, TurkishAndAzeriRaiseAndFoldTheirOwnIs) {
  struct {
    const char* Locale;
    const char* Typed;
    const char* Tidy;
  } const Cases[] = {
      {"tr_TR", "ilker", "\xC4\xB0lker"},                            // "İlker"
      {"az_AZ", "\xC4\xB1\xC5\x9F\xC4\xB1k", "I\xC5\x9F\xC4\xB1k"},  // "ışık" to "Işık"
      {"tr_TR.UTF-8", "ali-ihsan", "Ali-\xC4\xB0hsan"},
      {"de_DE", "ilker", "Ilker"},
      {"trk_XX", "ilker", "Ilker"},  // another language whose code starts so
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(CapitaliseWords(Case.Typed, IsTurkicLocale(Case.Locale)), Case.Tidy) << Case.Locale;
  // The four i's are one letter for a search under these rules only.
  EXPECT_EQ(FoldCase("\xC4\xB0I\xC4\xB1i", true), "iiii");
  EXPECT_EQ(FoldCase("\xC4\xB0I\xC4\xB1i", false), "\xC4\xB0i\xC4\xB1i");
}

TEST(TextCodec, Utf8StepsForwardAndBack) {
  struct {
    const char* Text;
    size_t At;
    bool Before;
    uint32_t Code;
    int Size;
    bool Valid;
  } Cases[] = {
      {"a", 0, false, 'a', 1, true},
      {"\xC3\xA9", 0, false, 0xE9, 2, true},
      {"\xE2\x82\xAC", 0, false, 0x20AC, 3, true},
      {"\xF0\x9D\x84\x9E", 0, false, 0x1D11E, 4, true},
      {"x\xC3", 1, false, 0xC3, 1, false},             // cut short
      {"\xC0\x80", 0, false, 0xC0, 1, false},          // overlong
      {"\xED\xA0\x80", 0, false, 0xED, 1, false},      // a surrogate
      {"\xF4\x90\x80\x80", 0, false, 0xF4, 1, false},  // past U+10FFFF
      {"\x80", 0, false, 0x80, 1, false},
      {"a\xC3\xA9", 3, true, 0xE9, 2, true},
      {"\xE2\x82\xAC", 3, true, 0x20AC, 3, true},
      {"\xF0\x9D\x84\x9E", 4, true, 0x1D11E, 4, true},
      {"ab", 1, true, 'a', 1, true},
      {"a\xA9", 2, true, 0xA9, 1, false},
      {"\xC3\xA9\xA9", 3, true, 0xA9, 1, false},  // a continuation too many
  };
  for (const auto& Case : Cases) {
    const TUtf8Char Char = Case.Before ? DecodeUtf8Before(Case.Text, Case.At) : DecodeUtf8(Case.Text, Case.At);
    EXPECT_EQ(uint32_t(Char.Code), Case.Code) << Case.Text;
    EXPECT_EQ(Char.Size, Case.Size) << Case.Text;
    EXPECT_EQ(Char.Valid, Case.Valid) << Case.Text;
  }
  std::string Out;
  for (char32_t Code : {U'a', char32_t(0xE9), char32_t(0x20AC), char32_t(0x1D11E)}) AppendUtf8(Out, Code);
  EXPECT_EQ(Out, "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E");
  EXPECT_EQ(AsciiPrefix("plain text, then \xC3\xA9"), 17u);
}
