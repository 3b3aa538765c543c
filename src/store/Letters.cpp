#include "Letters.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "TextCodec.h"

namespace {

struct TRange {
  char32_t First, Last;
};
struct TRun {
  char32_t First;
  uint16_t Count;
  uint8_t Step;
  int32_t Delta;
};

#include "LetterTables.inc"

char32_t MapByRuns(const TRun* Begin, const TRun* End, char32_t Code) {
  const TRun* Run = std::upper_bound(Begin, End, Code, [](char32_t C, const TRun& R) { return C < R.First; });
  if (Run == Begin) return Code;
  --Run;
  const char32_t Offset = Code - Run->First;
  if (Offset % Run->Step != 0 || Offset / Run->Step >= Run->Count) return Code;
  return static_cast<char32_t>(static_cast<int32_t>(Code) + Run->Delta);
}

}  // namespace

bool IsWordLetter(char32_t Code) {
  if (Code < 0x80) return (Code >= 'A' && Code <= 'Z') || (Code >= 'a' && Code <= 'z');
  const TRange* Range = std::upper_bound(std::begin(WordRanges), std::end(WordRanges), Code,
                                         [](char32_t C, const TRange& R) { return C < R.First; });
  return Range != std::begin(WordRanges) && Code <= std::prev(Range)->Last;
}

char32_t TitleCase(char32_t Code) { return MapByRuns(std::begin(TitleRuns), std::end(TitleRuns), Code); }

char32_t FoldCase(char32_t Code) {
  if (Code < 0x80) return Code >= 'A' && Code <= 'Z' ? Code + 32 : Code;
  return MapByRuns(std::begin(FoldRuns), std::end(FoldRuns), Code);
}

std::string FoldCase(std::string_view Text) {
  // Nearly every name and key is plain ASCII: lowered a byte at a time.
  std::string Out;
  Out.reserve(Text.size());
  const size_t Ascii = AsciiPrefix(Text);
  for (size_t At = 0; At < Ascii; ++At) Out += static_cast<char>(FoldCase(static_cast<unsigned char>(Text[At])));
  for (size_t At = Ascii; At < Text.size();) {
    const TUtf8Char Char = DecodeUtf8(Text, At);
    if (Char.Valid) AppendUtf8(Out, FoldCase(Char.Code));
    else Out += Text[At];
    At += Char.Size;
  }
  return Out;
}

char32_t TitleCase(char32_t Code, bool Turkic) {
  if (Turkic && Code == 'i') return 0x130;
  return TitleCase(Code);
}

char32_t FoldCase(char32_t Code, bool Turkic) {
  if (Turkic && (Code == 0x130 || Code == 0x131)) return 'i';
  return FoldCase(Code);
}

std::string FoldCase(std::string_view Text, bool Turkic) {
  if (!Turkic) return FoldCase(Text);
  std::string Out;
  Out.reserve(Text.size());
  for (size_t At = 0; At < Text.size();) {
    const TUtf8Char Char = DecodeUtf8(Text, At);
    if (Char.Valid) AppendUtf8(Out, FoldCase(Char.Code, true));
    else Out += Text[At];
    At += Char.Size;
  }
  return Out;
}

bool IsTurkicLocale(std::string_view Locale) {
  const std::string_view Language = Locale.substr(0, Locale.find_first_of("_-.@"));
  return Language == "tr" || Language == "az";
}
