#include "TextCodec.h"

#include <cstdint>
#include <cstring>

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five unassigned ones keep their C1 code.
const char16_t Cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

size_t AsciiPrefix(std::string_view Text) {
  const auto* Start = reinterpret_cast<const unsigned char*>(Text.data());
  const auto* P = Start;
  const auto* End = P + Text.size();
  // Nearly all text is plain ASCII: skip it eight bytes at a time.
  while (End - P >= 8) {
    uint64_t Word;
    std::memcpy(&Word, P, 8);
    if (Word & 0x8080808080808080ull) break;
    P += 8;
  }
  while (P < End && *P < 0x80) ++P;
  return static_cast<size_t>(P - Start);
}

TUtf8Char DecodeUtf8(std::string_view Text, size_t At) {
  const auto* P = reinterpret_cast<const unsigned char*>(Text.data()) + At;
  const size_t Left = Text.size() - At;
  const unsigned char C = *P;
  if (C < 0x80) return {C, 1, true};
  int Extra;
  char32_t Min;
  char32_t Code;
  if ((C & 0xE0) == 0xC0) {
    Extra = 1, Min = 0x80, Code = C & 0x1F;
  } else if ((C & 0xF0) == 0xE0) {
    Extra = 2, Min = 0x800, Code = C & 0x0F;
  } else if ((C & 0xF8) == 0xF0) {
    Extra = 3, Min = 0x10000, Code = C & 0x07;
  } else {
    return {C, 1, false};
  }
  if (Left <= static_cast<size_t>(Extra)) return {C, 1, false};
  for (int I = 1; I <= Extra; ++I) {
    if ((P[I] & 0xC0) != 0x80) return {C, 1, false};
    Code = (Code << 6) | (P[I] & 0x3F);
  }
  if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return {C, 1, false};
  return {Code, static_cast<uint8_t>(Extra + 1), true};
}

TUtf8Char DecodeUtf8Before(std::string_view Text, size_t At) {
  // A sequence is at most four bytes: look back for its first.
  for (size_t Back = 1; Back <= 4 && Back <= At; ++Back) {
    const auto Byte = static_cast<unsigned char>(Text[At - Back]);
    if ((Byte & 0xC0) == 0x80) continue;
    const TUtf8Char Char = DecodeUtf8(Text, At - Back);
    if (Char.Valid && Char.Size == Back) return Char;
    break;
  }
  return {static_cast<unsigned char>(Text[At - 1]), 1, false};
}

void AppendUtf8(std::string& Out, char32_t Code) {
  if (Code < 0x80) {
    Out += char(Code);
  } else if (Code < 0x800) {
    Out += char(0xC0 | (Code >> 6));
    Out += char(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += char(0xE0 | (Code >> 12));
    Out += char(0x80 | ((Code >> 6) & 0x3F));
    Out += char(0x80 | (Code & 0x3F));
  } else {
    Out += char(0xF0 | (Code >> 18));
    Out += char(0x80 | ((Code >> 12) & 0x3F));
    Out += char(0x80 | ((Code >> 6) & 0x3F));
    Out += char(0x80 | (Code & 0x3F));
  }
}

bool IsValidUtf8Text(std::string_view Bytes) {
  for (size_t At = AsciiPrefix(Bytes); At < Bytes.size();) {
    const TUtf8Char Char = DecodeUtf8(Bytes, At);
    if (!Char.Valid) return false;
    At += Char.Size;
    // Names with an accent are ASCII again right after it.
    while (At < Bytes.size() && static_cast<unsigned char>(Bytes[At]) < 0x80) ++At;
  }
  return true;
}

std::string ToUtf8(std::string_view Bytes) {
  if (IsValidUtf8(Bytes)) return std::string(Bytes);
  std::string Out;
  Out.reserve(Bytes.size() + Bytes.size() / 2);
  for (unsigned char C : Bytes) {
    if (C < 0x80) Out += char(C);
    else if (C < 0xA0) AppendUtf8(Out, Cp1252High[C - 0x80]);
    else AppendUtf8(Out, C);
  }
  return Out;
}

size_t CharCount(std::string_view Text) {
  size_t Count = 0;
  for (unsigned char C : Text)
    if ((C & 0xC0) != 0x80) ++Count;
  return Count;
}

std::string CutToChars(std::string_view Text, size_t Capacity) {
  if (Text.size() <= Capacity) return std::string(Text);
  size_t Chars = 0;
  for (size_t I = 0; I < Text.size(); ++I) {
    if ((static_cast<unsigned char>(Text[I]) & 0xC0) != 0x80) {
      if (Chars == Capacity) return std::string(Text.substr(0, I));
      ++Chars;
    }
  }
  return std::string(Text);
}
