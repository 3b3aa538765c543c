// Entries as JSON objects, one a line, for the book tool.
#include "JsonLines.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "TextCodec.h"

namespace {

// ---- Writing

void PutJsonString(std::string& Out, const std::string& Text) {
  Out += '"';
  for (unsigned char C : Text) {
    switch (C) {
      case '"': Out += "\\\""; break;
      case '\\': Out += "\\\\"; break;
      case '\n': Out += "\\n"; break;
      case '\r': Out += "\\r"; break;
      case '\t': Out += "\\t"; break;
      default:
        if (C < 0x20) {
          char Hex[8];
          std::snprintf(Hex, sizeof Hex, "\\u%04x", C);
          Out += Hex;
        } else {
          Out += char(C);
        }
    }
  }
  Out += '"';
}

}  // namespace

std::string EntryToJson(const TAddressItem& Item) {
  std::string Out = "{";
  auto Text = [&](const char* Key, const std::string& Value) {
    PutJsonString(Out, Key);
    Out += ':';
    PutJsonString(Out, Value);
    Out += ',';
  };
  auto Lines = [&](const char* Key, const TLineList& List) {
    PutJsonString(Out, Key);
    Out += ":[";
    bool First = true;
    for (const std::string& Line : List.Lines()) {
      if (!First) Out += ',';
      First = false;
      PutJsonString(Out, Line);
    }
    Out += "],";
  };
  Text("Surname", Item.Surname);
  Text("FirstName", Item.FirstName);
  Text("HomeTelephone", Item.HomeTelephone);
  Text("BusTelephone", Item.BusTelephone);
  Text("BusExtn", Item.BusExtn);
  Text("BusFacsimile", Item.BusFacsimile);
  Text("BusMobile", Item.BusMobile);
  Lines("HomeAddress", Item.HomeAddress);
  Lines("BusAddress", Item.BusAddress);
  Lines("Notes", Item.Notes);
  Out += "\"TabPage\":" + std::to_string(Item.TabPage) + "}";
  return Out;
}

namespace {

// ---- Reading: just the JSON an entry needs (an object of strings, arrays of
// strings and one small integer).

class TJsonReader {
public:
  explicit TJsonReader(const std::string& Text) : Text(Text) {}

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
    if (Key == "Surname") Item.Surname = ReadString();
    else if (Key == "FirstName") Item.FirstName = ReadString();
    else if (Key == "HomeTelephone") Item.HomeTelephone = ReadString();
    else if (Key == "BusTelephone") Item.BusTelephone = ReadString();
    else if (Key == "BusExtn") Item.BusExtn = ReadString();
    else if (Key == "BusFacsimile") Item.BusFacsimile = ReadString();
    else if (Key == "BusMobile") Item.BusMobile = ReadString();
    else if (Key == "HomeAddress") Item.HomeAddress.Assign(ReadStrings());
    else if (Key == "BusAddress") Item.BusAddress.Assign(ReadStrings());
    else if (Key == "Notes") Item.Notes.Assign(ReadStrings());
    else if (Key == "TabPage") {
      SkipBlanks();
      size_t Start = Pos;
      while (Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9') ++Pos;
      std::string Digits = Text.substr(Start, Pos - Start);
      if (Digits.empty() || Digits.size() > 1 || Digits[0] > '2')
        Fail("TabPage must be 0, 1 or 2");
      Item.TabPage = uint8_t(Digits[0] - '0');
    } else {
      Fail("unknown key \"" + Key + "\"");
    }
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
        case '"': Out += '"'; break;
        case '\\': Out += '\\'; break;
        case '/': Out += '/'; break;
        case 'b': Out += '\b'; break;
        case 'f': Out += '\f'; break;
        case 'n': Out += '\n'; break;
        case 'r': Out += '\r'; break;
        case 't': Out += '\t'; break;
        case 'u': AppendEscape(Out); break;
        default: Fail("bad escape in a string");
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

  void SkipBlanks() {
    while (Pos < Text.size() &&
           (Text[Pos] == ' ' || Text[Pos] == '\t' || Text[Pos] == '\r' || Text[Pos] == '\n'))
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
  size_t Pos = 0;
};

}  // namespace

void ReadJsonEntry(const std::string& Line, TAddressItem& Item) { TJsonReader(Line).ReadEntry(Item); }
