#include "TextUtils.h"

#include "Letters.h"
#include "TextCodec.h"

std::string PadWithZeros(const std::string& Text, int Width) {
  if (Width <= 0 || Text.size() >= static_cast<size_t>(Width)) return Text;
  return std::string(static_cast<size_t>(Width) - Text.size(), '0') + Text;
}

std::string TrimLeadingSpaces(const std::string& Text) {
  size_t First = Text.find_first_not_of(' ');
  return First == std::string::npos ? std::string() : Text.substr(First);
}

std::string TrimTrailingChar(const std::string& Text, char Character) {
  size_t End = Text.size();
  while (End > 0 && Text[End - 1] == Character) --End;
  return Text.substr(0, End);
}

std::string TrimTrailingSpaces(const std::string& Text) { return TrimTrailingChar(Text, ' '); }

std::string TrimSpaces(const std::string& Text) { return TrimLeadingSpaces(TrimTrailingSpaces(Text)); }

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

// Letters beyond ASCII are letters too: they continue a word, and one that
// starts a word is raised by its Unicode title case.
std::string CapitaliseWords(const std::string& Text, bool Turkic) {
  std::string Out;
  Out.reserve(Text.size());
  bool WordStart = true;
  for (size_t At = 0; At < Text.size();) {
    const TUtf8Char Char = DecodeUtf8(Text, At);
    char32_t Code = Char.Code;
    if (!Char.Valid) {
      WordStart = true;
    } else if (IsWordLetter(Code)) {
      // "No letter is ever lowered": only a lower-case letter has a title case.
      if (WordStart) Code = TitleCase(Code, Turkic);
      WordStart = false;
    } else {
      WordStart = true;
    }
    if (Code == Char.Code) Out.append(Text, At, Char.Size);
    else AppendUtf8(Out, Code);
    At += Char.Size;
  }
  return Out;
}
