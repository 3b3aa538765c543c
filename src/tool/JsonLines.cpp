// Entries as JSON objects, one a line, for the book tool.
#include "JsonLines.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "ByteWords.h"
#include "TextCodec.h"

namespace {

// ---- Writing, straight into a buffer that is never cleared first: a dump
// writes forty megabytes for a large book.

// Bytes a JSON string cannot hold as they are.
struct TEscapeTable {
  bool Needs[256] = {};
  constexpr TEscapeTable() {
    for (int C = 0; C < 0x20; ++C) Needs[C] = true;
    Needs['"'] = Needs['\\'] = true;
  }
};
constexpr TEscapeTable Escape;

// True when one of the eight bytes of Word is a control character, '"' or
// '\\'.
bool NeedsEscape(uint64_t Word) {
  using namespace ByteWords;
  return HasBelow(Word, 0x20) | Has(Word, '"') | Has(Word, '\\');
}

char* PutEscapedSlowly(char* At, const char* P, size_t N) {
  for (; N > 0; ++P, --N) {
    unsigned char C = static_cast<unsigned char>(*P);
    if (!Escape.Needs[C]) {
      *At++ = char(C);
      continue;
    }
    *At++ = '\\';
    switch (C) {
      case '"':
        *At++ = '"';
        break;
      case '\\':
        *At++ = '\\';
        break;
      case '\n':
        *At++ = 'n';
        break;
      case '\r':
        *At++ = 'r';
        break;
      case '\t':
        *At++ = 't';
        break;
      default:
        std::memcpy(At, "u00", 3);
        At[3] = "0123456789abcdef"[C >> 4];
        At[4] = "0123456789abcdef"[C & 15];
        At += 5;
    }
  }
  return At;
}

// Writes Text escaped, without quotes, eight bytes a step where none needs an
// escape. At has room for six bytes per byte and eight more.
char* PutEscaped(char* At, const char* P, size_t N) {
  if (N < 8) {
    // Padded with spaces, which need no escape.
    const uint64_t Word = ByteWords::LoadShort(P, N);
    if (NeedsEscape(Word)) return PutEscapedSlowly(At, P, N);
    std::memcpy(At, &Word, 8);
    return At + N;
  }
  const char* End = P + N;
  while (End - P >= 8) {
    const uint64_t Word = ByteWords::Load(P);
    if (NeedsEscape(Word)) {
      At = PutEscapedSlowly(At, P, 8);
    } else {
      std::memcpy(At, &Word, 8);
      At += 8;
    }
    P += 8;
  }
  size_t Left = size_t(End - P);
  if (Left == 0) return At;
  // The last eight bytes, overlapping some already written the same way.
  const uint64_t Word = ByteWords::Load(End - 8);
  if (NeedsEscape(Word)) return PutEscapedSlowly(At, P, Left);
  std::memcpy(At - (8 - Left), &Word, 8);
  return At + Left;
}

}  // namespace

void TJsonLines::Grow(size_t Bytes) {
  size_t Wanted = std::max(Length + Bytes, Capacity * 2);
  std::unique_ptr<char[]> Grown(new char[Wanted]);
  if (Length > 0) std::memcpy(Grown.get(), Buffer.get(), Length);
  Buffer = std::move(Grown);
  Capacity = Wanted;
}

void TJsonLines::PutString(std::string_view Text) {
  char* At = Room(10 + 6 * Text.size());
  *At++ = '"';
  At = PutEscaped(At, Text.data(), Text.size());
  *At++ = '"';
  Length = size_t(At - Buffer.get());
}

void TJsonLines::Add(const TEntryView& Item) {
  auto Text = [&](std::string_view Key, std::string_view Value) {
    PutRaw(Key);
    PutString(Value);
  };
  auto Lines = [&](std::string_view Key, const TLinesView& List) {
    PutRaw(Key);
    bool First = true;
    List.ForEach([&](std::string_view Line) {
      if (!First) PutRaw(",");
      First = false;
      PutString(Line);
    });
    PutRaw("]");
  };
  Text("{\"Surname\":", Item.Surname);
  Text(",\"FirstName\":", Item.FirstName);
  Text(",\"HomeTelephone\":", Item.HomeTelephone);
  Text(",\"BusTelephone\":", Item.BusTelephone);
  Text(",\"BusExtn\":", Item.BusExtn);
  Text(",\"BusFacsimile\":", Item.BusFacsimile);
  Text(",\"BusMobile\":", Item.BusMobile);
  Lines(",\"HomeAddress\":[", Item.HomeAddress);
  Lines(",\"BusAddress\":[", Item.BusAddress);
  Lines(",\"Notes\":[", Item.Notes);
  PutRaw(",\"TabPage\":");
  PutRaw(std::to_string(Item.TabPage));
  PutRaw("}\n");
}

std::string EntryToJson(const TAddressItem& Item) {
  TJsonLines Line;
  Line.Add(Item);
  return std::string(Line.Text().substr(0, Line.Text().size() - 1));
}

namespace {

// ---- Reading: just the JSON an entry needs (an object of strings, arrays of
// strings and one small integer).

class TJsonReader {
public:
  TJsonReader(const std::string& AText, int32_t* ACut) : Text(AText), Cut(ACut) {}

  void ReadEntry(TAddressItem& Item) {
    Expect('{');
    SkipBlanks();
    if (Peek() == '}') {
      ++Pos;
      return End();
    }
    for (;;) {
      std::string Key = ReadString();
      Expect(':');
      ReadField(Item, Key);
      SkipBlanks();
      if (Peek() == ',') {
        ++Pos;
        continue;
      }
      Expect('}');
      return End();
    }
  }

private:
  void ReadField(TAddressItem& Item, const std::string& Key) {
    if (Key == "Surname") Put(Item.Surname);
    else if (Key == "FirstName") Put(Item.FirstName);
    else if (Key == "HomeTelephone") Put(Item.HomeTelephone);
    else if (Key == "BusTelephone") Put(Item.BusTelephone);
    else if (Key == "BusExtn") Put(Item.BusExtn);
    else if (Key == "BusFacsimile") Put(Item.BusFacsimile);
    else if (Key == "BusMobile") Put(Item.BusMobile);
    else if (Key == "HomeAddress") Item.HomeAddress.Assign(ReadStrings());
    else if (Key == "BusAddress") Item.BusAddress.Assign(ReadStrings());
    else if (Key == "Notes") Item.Notes.Assign(ReadStrings());
    else if (Key == "TabPage") {
      SkipBlanks();
      size_t Start = Pos;
      while (Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9') ++Pos;
      std::string Digits = Text.substr(Start, Pos - Start);
      // A book may hold any page byte (the window keeps an unknown page as it
      // is), so whatever dump writes, create takes back.
      if (Digits.empty() || Digits.size() > 3 || std::stoi(Digits) > 255) Fail("TabPage must be 0 to 255");
      Item.TabPage = uint8_t(std::stoi(Digits));
    } else {
      Fail("unknown key \"" + Key + "\"");
    }
  }

  // A value longer than its field keeps its start, and is counted.
  template <size_t Capacity>
  void Put(TFixedText<Capacity>& Field) {
    const std::string Value = ReadString();
    Field = Value;
    if (Cut && Field.size() < Value.size()) ++*Cut;
  }

  std::vector<std::string> ReadStrings() {
    std::vector<std::string> Result;
    Expect('[');
    SkipBlanks();
    if (Peek() == ']') {
      ++Pos;
      return Result;
    }
    for (;;) {
      Result.push_back(ReadString());
      SkipBlanks();
      if (Peek() == ',') {
        ++Pos;
        continue;
      }
      Expect(']');
      return Result;
    }
  }

  std::string ReadString() {
    Expect('"');
    std::string Out;
    for (;;) {
      if (Pos >= Text.size()) Fail("unterminated string");
      char C = Text[Pos++];
      if (C == '"') break;
      if (static_cast<unsigned char>(C) < 0x20) Fail("control character in a string");
      if (C != '\\') {
        Out += C;
        continue;
      }
      if (Pos >= Text.size()) Fail("unterminated string");
      char E = Text[Pos++];
      switch (E) {
        case '"':
          Out += '"';
          break;
        case '\\':
          Out += '\\';
          break;
        case '/':
          Out += '/';
          break;
        case 'b':
          Out += '\b';
          break;
        case 'f':
          Out += '\f';
          break;
        case 'n':
          Out += '\n';
          break;
        case 'r':
          Out += '\r';
          break;
        case 't':
          Out += '\t';
          break;
        case 'u':
          AppendEscape(Out);
          break;
        default:
          Fail("bad escape in a string");
      }
    }
    if (!IsValidUtf8(Out)) Fail("text is not valid UTF-8");
    return Out;
  }

  unsigned ReadHex4() {
    if (Pos + 4 > Text.size()) Fail("bad \\u escape");
    unsigned Value = 0;
    for (int I = 0; I < 4; ++I) {
      char C = Text[Pos++];
      Value <<= 4;
      if (C >= '0' && C <= '9') Value |= unsigned(C - '0');
      else if (C >= 'a' && C <= 'f') Value |= unsigned(C - 'a' + 10);
      else if (C >= 'A' && C <= 'F') Value |= unsigned(C - 'A' + 10);
      else Fail("bad \\u escape");
    }
    return Value;
  }

  void AppendEscape(std::string& Out) {
    unsigned Code = ReadHex4();
    if (Code >= 0xD800 && Code <= 0xDBFF) {
      if (Text.compare(Pos, 2, "\\u") != 0) Fail("lone surrogate");
      Pos += 2;
      unsigned Low = ReadHex4();
      if (Low < 0xDC00 || Low > 0xDFFF) Fail("lone surrogate");
      Code = 0x10000 + ((Code - 0xD800) << 10) + (Low - 0xDC00);
    } else if (Code >= 0xDC00 && Code <= 0xDFFF) {
      Fail("lone surrogate");
    }
    AppendUtf8(Out, Code);
  }

  void SkipBlanks() {
    while (Pos < Text.size() && (Text[Pos] == ' ' || Text[Pos] == '\t' || Text[Pos] == '\r' || Text[Pos] == '\n'))
      ++Pos;
  }
  char Peek() const { return Pos < Text.size() ? Text[Pos] : '\0'; }
  void Expect(char C) {
    SkipBlanks();
    if (Peek() != C) Fail(std::string("expected '") + C + "'");
    ++Pos;
  }
  void End() {
    SkipBlanks();
    if (Pos != Text.size()) Fail("text after the entry");
  }
  [[noreturn]] void Fail(const std::string& Why) {
    throw std::runtime_error(Why + " at column " + std::to_string(Pos + 1));
  }

  const std::string& Text;
  int32_t* Cut;
  size_t Pos = 0;
};

}  // namespace

void ReadJsonEntry(const std::string& Line, TAddressItem& Item, int32_t* Cut) {
  TJsonReader(Line, Cut).ReadEntry(Item);
}
