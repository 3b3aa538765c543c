#include "VCardLexer.h"

#include <algorithm>

#include "TextCodec.h"
#include "TextUtils.h"

using namespace ContactFields;

namespace {

bool IsQuotedPrintable(std::string_view Line) {
  size_t Colon = ValueColon(Line);
  std::string_view Head = Line.substr(0, Colon);
  for (size_t At = Head.find('-'); At != std::string_view::npos; At = Head.find('-', At + 1))
    if (At >= 6 && SameText(Head.substr(At - 6, 16), "QUOTED-PRINTABLE")) return true;
  return false;
}

std::string DecodeQuotedPrintable(std::string_view Value) {
  std::string Out;
  Out.reserve(Value.size());
  for (size_t I = 0; I < Value.size(); ++I) {
    int High, Low;
    if (Value[I] == '=' && I + 2 < Value.size() && (High = HexDigit(Value[I + 1])) >= 0 &&
        (Low = HexDigit(Value[I + 2])) >= 0) {
      Out += char(High * 16 + Low);
      I += 2;
    } else {
      Out += Value[I];  // a stray '=' is taken as it stands
    }
  }
  return Out;
}

bool DecodeBase64(std::string_view Value, std::string& Out) {
  uint32_t Bits = 0;
  int Count = 0;
  bool Ended = false;
  for (char C : Value) {
    int Six;
    if (C >= 'A' && C <= 'Z') Six = C - 'A';
    else if (C >= 'a' && C <= 'z') Six = C - 'a' + 26;
    else if (C >= '0' && C <= '9') Six = C - '0' + 52;
    else if (C == '+') Six = 62;
    else if (C == '/') Six = 63;
    else if (C == '=') {
      Ended = true;
      continue;
    } else if (C == ' ' || C == '\t' || C == '\r' || C == '\n') continue;
    else return false;
    if (Ended) return false;
    Bits = (Bits << 6) | uint32_t(Six);
    if (++Count == 4) {
      Out += char(Bits >> 16);
      Out += char(Bits >> 8);
      Out += char(Bits);
      Bits = 0;
      Count = 0;
    }
  }
  if (Count == 1) return false;
  if (Count == 2) Out += char(Bits >> 4);
  if (Count == 3) {
    Out += char(Bits >> 10);
    Out += char(Bits >> 2);
  }
  return true;
}

}  // namespace

std::string_view TContentLine::Param(std::string_view ParamName) const {
  for (const TVCardParam& P : Params)
    if (SameText(P.Name, ParamName)) return P.Value;
  return {};
}

bool TContentLine::HasType(std::string_view Type) const {
  for (const TVCardParam& P : Params) {
    if (P.Name.empty() && SameText(P.Value, Type)) return true;
    if (!SameText(P.Name, "TYPE")) continue;
    bool Found = false;
    ForEachItem(P.Value, [&](std::string_view Item) { Found |= SameText(Item, Type); });
    if (Found) return true;
  }
  return false;
}

void ParseContentLine(std::string_view Line, int32_t Number, TContentLine& Out) {
  if (!ParseContentLineIfAny(Line, Number, Out))
    throw EImportError(Number, "the line has no ':' between a property's name and its value");
}

bool ParseContentLineIfAny(std::string_view Line, int32_t Number, TContentLine& Out) {
  size_t Colon = ValueColon(Line);
  if (Colon == std::string_view::npos) return false;
  Out.Params.clear();
  Out.Number = Number;
  std::string_view Head = Line.substr(0, Colon);
  Out.Value = Line.substr(Colon + 1);
  size_t NameEnd = std::min(Head.find(';'), Head.size());
  std::string_view Name = Trim(Head.substr(0, NameEnd));
  Out.Group = {};
  if (size_t Dot = Name.rfind('.'); Dot != std::string_view::npos) {  // "item1."
    Out.Group = Name.substr(0, Dot);
    Name.remove_prefix(Dot + 1);
  }
  Out.Name.assign(Name);
  for (char& C : Out.Name) C = C >= 'a' && C <= 'z' ? char(C - 'a' + 'A') : C;
  size_t I = NameEnd;
  while (I < Head.size()) {
    ++I;  // past ';'
    size_t Start = I;
    bool Quoted = false;
    while (I < Head.size() && (Quoted || Head[I] != ';')) {
      if (Head[I] == '"') Quoted = !Quoted;
      ++I;
    }
    std::string_view Param = Head.substr(Start, I - Start);
    size_t Equals = Param.find('=');
    TVCardParam P;
    if (Equals == std::string_view::npos) {
      P.Value = Trim(Param);
    } else {
      P.Name = Trim(Param.substr(0, Equals));
      P.Value = Trim(Param.substr(Equals + 1));
      if (P.Value.size() >= 2 && P.Value.front() == '"' && P.Value.back() == '"')
        P.Value = P.Value.substr(1, P.Value.size() - 2);
    }
    if (P.Value.empty() && P.Name.empty()) continue;
    Out.Params.push_back(P);
  }
  return true;
}

TContentLineReader::TContentLineReader(std::string_view Text)
    : Owned(std::make_unique<TInput>(Text)), In(Owned.get()) {}

TContentLineReader::TContentLineReader(TInput& Input) : In(&Input) {}

TContentLineReader::~TContentLineReader() = default;

bool TContentLineReader::FrontLine(size_t& Length, size_t& Consumed) {
  size_t Want = size_t(1) << 12, Searched = 0;
  for (;;) {
    std::string_view View = In->Peek(Want);
    if (View.empty()) return false;
    size_t Limit = std::min(View.size(), MaxReadLength + 1);
    size_t End = View.substr(0, Limit).find('\n', Searched);
    if (End != std::string_view::npos) {
      Length = End;
      Consumed = End + 1;
      break;
    }
    if (Limit > MaxReadLength) {
      Length = Consumed = std::string_view::npos;
      return true;
    }
    if (View.size() < Want) {  // the last line, without a line end
      Length = Consumed = View.size();
      break;
    }
    Searched = Limit;
    Want = std::min(std::max(Want * 2, Limit + 1), MaxReadLength + 1);
  }
  // CR LF ends a line, and so does the CR CR LF of a text converted twice.
  const std::string_view Front = In->Peek(Consumed);
  while (Length > 0 && Front[Length - 1] == '\r') --Length;
  return true;
}

bool TContentLineReader::NextIsFolded(size_t Offset) {
  std::string_view View = In->Peek(Offset + 1);
  return View.size() > Offset && (View[Offset] == ' ' || View[Offset] == '\t');
}

void TContentLineReader::PassOverLine() {
  for (;;) {
    std::string_view View = In->Peek(size_t(1) << 16);
    if (View.empty()) return;
    size_t End = View.find('\n');
    In->Skip(End == std::string_view::npos ? View.size() : End + 1);
    if (End != std::string_view::npos) return;
  }
}

void TContentLineReader::TooLong(std::string Head, int32_t Number, bool InLine) {
  std::string_view Name = Head;
  Name = Trim(Name.substr(0, std::min(Name.find_first_of(";:"), size_t(64))));
  if (size_t Dot = Name.rfind('.'); Dot != std::string_view::npos) Name.remove_prefix(Dot + 1);
  std::string Upper(Name);
  for (char& C : Upper) C = C >= 'a' && C <= 'z' ? char(C - 'a' + 'A') : C;
  if (!MayPassOver || !MayPassOver(Upper))
    throw EImportError(Number,
                       "the value of " + Upper + " is longer than " + MaxReadText + ", more than Tobrinel reads");
  if (InLine) PassOverLine();
  while (NextIsFolded(0)) {
    ++Physical;
    PassOverLine();
  }
  Joined = std::move(Head);
  Cut = true;
}

bool TContentLineReader::NextRaw(std::string_view& Line, int32_t& Number) {
  constexpr size_t HeadSize = 4096;  // what is kept of a line passed over: its name and parameters
  In->Skip(Pending);
  Pending = 0;
  Cut = false;
  size_t Length, Consumed;
  auto Text = [&] { return In->Peek(Consumed).substr(0, Length); };
  for (;;) {  // blank lines are passed over
    if (!FrontLine(Length, Consumed)) return false;
    Number = ++Physical;
    if (Length == std::string_view::npos) {
      TooLong(std::string(In->Peek(HeadSize).substr(0, HeadSize)), Number, true);
      Line = Joined;
      return true;
    }
    if (!Trim(Text()).empty()) break;
    In->Skip(Consumed);
  }
  bool Qp = Text().back() == '=' && IsQuotedPrintable(Text());
  if (!Qp && !NextIsFolded(Consumed)) {
    Line = Text();
    Pending = Consumed;
    return true;
  }
  Joined.assign(Text());
  In->Skip(Consumed);
  // Further physical lines: false once the line was too long and passed over.
  auto Append = [&](size_t Drop) {
    if (!FrontLine(Length, Consumed)) return false;
    ++Physical;
    if (Length != std::string_view::npos) {
      Joined.append(Text().substr(std::min(Drop, Length)));
      In->Skip(Consumed);
    }
    if (Length == std::string_view::npos || Joined.size() > MaxReadLength) {
      TooLong(Joined.substr(0, HeadSize), Number, Length == std::string_view::npos);
      return false;
    }
    return true;
  };
  bool Whole = true;
  while (Whole && Qp && !Joined.empty() && Joined.back() == '=' && !In->AtEnd()) {
    Joined.pop_back();
    Whole = Append(0);
  }
  while (Whole && NextIsFolded(0)) Whole = Append(KeepFoldingSpace ? 0 : 1);
  Line = Joined;
  return true;
}

bool TContentLineReader::Next(TContentLine& Line) {
  std::string_view Raw;
  int32_t Number;
  if (!NextRaw(Raw, Number)) return false;
  ParseContentLine(Raw, Number, Line);
  return true;
}

std::string_view DecodeVCardValue(const TContentLine& Line, std::string& Scratch) {
  // One pass over the parameters: most lines have none or a TYPE.
  bool Qp = false, B64 = false;
  std::string_view Charset;
  auto Encoding = [&](std::string_view Name) {
    Qp |= SameText(Name, "QUOTED-PRINTABLE");
    B64 |= SameText(Name, "BASE64");
  };
  for (const TVCardParam& P : Line.Params) {
    if (P.Name.empty()) {
      Encoding(P.Value);
    } else if (SameText(P.Name, "ENCODING")) {
      Encoding(P.Value);
      B64 |= SameText(P.Value, "B");
    } else if (SameText(P.Name, "CHARSET")) {
      if (Charset.empty()) Charset = P.Value;
    } else if (SameText(P.Name, "TYPE")) {
      ForEachItem(P.Value, Encoding);
    }
  }
  bool Utf8 = Charset.empty() || SameText(Charset, "UTF-8") || SameText(Charset, "UTF8");
  if (!Qp && !B64 && Utf8 && IsValidUtf8(Line.Value)) return Line.Value;
  std::string Bytes;
  if (Qp) {
    Bytes = DecodeQuotedPrintable(Line.Value);
  } else if (B64) {
    if (!DecodeBase64(Line.Value, Bytes))
      throw EImportError(Line.Number, "the value of " + Line.Name + " is not valid base64");
  } else {
    Bytes.assign(Line.Value);
  }
  if (Utf8) return Scratch = AsUtf8(std::move(Bytes));
  for (const char* Single : {"ISO-8859-1", "ISO8859-1", "LATIN1", "WINDOWS-1252", "CP1252", "US-ASCII", "ASCII"})
    if (SameText(Charset, Single)) return Scratch = FromCp1252(Bytes);
  throw EImportError(Line.Number, "the character set \"" + std::string(Charset) + "\" is not supported");
}

std::string UnescapeVCardText(std::string_view Value) {
  std::string Out;
  AssignUnescapedVCardText(Out, Value);
  return Out;
}

void AssignUnescapedVCardText(std::string& Out, std::string_view Value) {
  if (const std::string_view Text = UnescapeVCardText(Value, Out); Text.data() != Out.data()) Out.assign(Text);
}

std::string_view UnescapeVCardText(std::string_view Value, std::string& Out) {
  size_t Escape = Value.find('\\');
  if (Escape == std::string_view::npos) return Value;
  Out.clear();
  Out.reserve(Value.size());
  size_t Run = 0;  // the text since the last escape, copied whole
  for (; Escape != std::string_view::npos; Escape = Value.find('\\', Run)) {
    Out.append(Value, Run, Escape - Run);
    if (Escape + 1 == Value.size()) {  // a backslash at the end stands for itself
      Run = Escape;
      break;
    }
    const char E = Value[Escape + 1];
    if (E == 'n' || E == 'N') Out += '\n';
    else if (E == '\\' || E == ',' || E == ';' || E == ':') Out += E;
    else Out.append(Value, Escape, 2);
    Run = Escape + 2;
  }
  Out.append(Value, Run);
  return Out;
}

std::vector<std::string_view> VCardComponents(std::string_view Value, size_t AtLeast) {
  std::vector<std::string_view> Parts;
  Parts.reserve(AtLeast);
  VCardComponents(Value, AtLeast, Parts);
  return Parts;
}

void VCardComponents(std::string_view Value, size_t AtLeast, std::vector<std::string_view>& Parts) {
  Parts.clear();
  ForEachPart(Value, ';', [&](std::string_view Part) { Parts.push_back(Part); });
  if (Parts.size() < AtLeast) Parts.resize(AtLeast);
}

size_t ValueColon(std::string_view Line) {
  bool Quoted = false;
  for (size_t I = 0; I < Line.size(); ++I) {
    if (Line[I] == '"') Quoted = !Quoted;
    else if (Line[I] == ':' && !Quoted) return I;
  }
  return std::string_view::npos;
}

TCardStructure::EStep TCardStructure::Step(const TContentLine& Line) {
  const std::string_view Name = Line.Name;  // a view compares its size first
  bool Begin = IsText(Name, "BEGIN"), End = IsText(Name, "END");
  bool OfCard = (Begin || End) && SameText(Trim(Line.Value), "VCARD");
  if (Blocks.empty()) {
    if (End && OfCard) throw EImportError(Line.Number, "END:VCARD without a BEGIN:VCARD before it");
    if (!Begin || !OfCard) throw EImportError(Line.Number, "a card must begin with BEGIN:VCARD");
  }
  if (!Blocks.empty() && Blocks.back() > 0) {
    if (Begin) ++Blocks.back();
    if (End) --Blocks.back();
    return InBlock;
  }
  if (Begin && OfCard) {
    Blocks.push_back(0);
    return BeginCard;
  }
  if (Begin) {
    ++Blocks.back();
    return InBlock;
  }
  if (End) {
    if (!OfCard) throw EImportError(Line.Number, "END:" + std::string(Trim(Line.Value)) + " inside a card");
    Blocks.pop_back();
    return EndCard;
  }
  return Property;
}
