#include "VCard.h"

#include <algorithm>

#include "TextCodec.h"

using namespace ContactFields;

// =====================================================================
// Content lines

namespace {

// Where the name and parameters end: the first ':' outside double quotes.
size_t ValueColon(std::string_view Line) {
  bool Quoted = false;
  for (size_t I = 0; I < Line.size(); ++I) {
    if (Line[I] == '"') Quoted = !Quoted;
    else if (Line[I] == ':' && !Quoted) return I;
  }
  return std::string_view::npos;
}

bool IsQuotedPrintable(std::string_view Line) {
  size_t Colon = ValueColon(Line);
  std::string_view Head = Line.substr(0, Colon);
  for (size_t At = Head.find('-'); At != std::string_view::npos; At = Head.find('-', At + 1))
    if (At >= 6 && SameText(Head.substr(At - 6, 16), "QUOTED-PRINTABLE")) return true;
  return false;
}

// Visits the parts between unescaped separators.
template <class F>
void ForEachPart(std::string_view Value, char Separator, F&& Visit) {
  size_t Start = 0;
  for (size_t I = 0; I < Value.size(); ++I) {
    if (Value[I] == '\\') {
      ++I;
    } else if (Value[I] == Separator) {
      Visit(Value.substr(Start, I - Start));
      Start = I + 1;
    }
  }
  Visit(Value.substr(Start));
}

// Visits the items of a comma-separated parameter value.
template <class F>
void ForEachItem(std::string_view Value, F&& Visit) {
  for (size_t Start = 0;;) {
    size_t Comma = Value.find(',', Start);
    Visit(Trim(Value.substr(Start, Comma == std::string_view::npos ? Comma : Comma - Start)));
    if (Comma == std::string_view::npos) return;
    Start = Comma + 1;
  }
}

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
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
  Out.Params.clear();
  Out.Number = Number;
  size_t Colon = ValueColon(Line);
  if (Colon == std::string_view::npos)
    throw EImportError(Number, "the line has no ':' between a property's name and its value");
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
}

TContentLineReader::TContentLineReader(std::string_view Text) : Text(WithoutBom(Text)) {}

bool TContentLineReader::NextPhysical(std::string_view& Line) {
  if (Pos >= Text.size()) return false;
  size_t End = Text.find('\n', Pos);
  if (End == std::string_view::npos) End = Text.size();
  Line = Text.substr(Pos, End - Pos);
  if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
  Pos = End + 1;
  ++Physical;
  return true;
}

bool TContentLineReader::NextIsFolded() const {
  return Pos < Text.size() && (Text[Pos] == ' ' || Text[Pos] == '\t');
}

bool TContentLineReader::NextRaw(std::string_view& Line, int32_t& Number) {
  do {
    if (!NextPhysical(Line)) return false;
  } while (Trim(Line).empty());
  Number = Physical;
  bool Qp = Line.back() == '=' && IsQuotedPrintable(Line);
  if (Qp || NextIsFolded()) {
    Joined.assign(Line);
    std::string_view More;
    while (Qp && !Joined.empty() && Joined.back() == '=' && NextPhysical(More)) {
      Joined.pop_back();
      Joined.append(More);
    }
    while (NextIsFolded() && NextPhysical(More)) Joined.append(KeepFoldingSpace ? More : More.substr(1));
    Line = Joined;
  }
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
  std::string_view Encoding = Line.Param("ENCODING");
  bool Qp = SameText(Encoding, "QUOTED-PRINTABLE") || Line.HasType("QUOTED-PRINTABLE");
  bool B64 = SameText(Encoding, "B") || SameText(Encoding, "BASE64") || Line.HasType("BASE64");
  std::string_view Charset = Line.Param("CHARSET");
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
  size_t First = Value.find('\\');
  if (First == std::string_view::npos) return std::string(Value);
  std::string Out(Value.substr(0, First));
  Out.reserve(Value.size());
  for (size_t I = First; I < Value.size(); ++I) {
    char C = Value[I];
    if (C != '\\' || I + 1 == Value.size()) {
      Out += C;
      continue;
    }
    char E = Value[++I];
    if (E == 'n' || E == 'N') Out += '\n';
    else if (E == '\\' || E == ',' || E == ';' || E == ':') Out += E;
    else {
      Out += '\\';
      Out += E;
    }
  }
  return Out;
}

std::vector<std::string_view> VCardComponents(std::string_view Value, size_t AtLeast) {
  std::vector<std::string_view> Parts;
  Parts.reserve(AtLeast);
  ForEachPart(Value, ';', [&](std::string_view Part) { Parts.push_back(Part); });
  if (Parts.size() < AtLeast) Parts.resize(AtLeast);
  return Parts;
}

// =====================================================================
// Reading cards

namespace {

// The types a property is marked with that choose where it goes.
enum : unsigned { Home = 1, Work = 2, Fax = 4, Cell = 8, Pager = 16 };

unsigned TypeBits(const TContentLine& P) {
  unsigned Bits = 0;
  auto Add = [&](std::string_view Type) {
    static const std::pair<const char*, unsigned> Known[] = {
        {"HOME", Home}, {"WORK", Work}, {"FAX", Fax}, {"CELL", Cell}, {"PAGER", Pager}};
    for (auto [Name, Bit] : Known)
      if (SameText(Type, Name)) Bits |= Bit;
  };
  for (const TVCardParam& Param : P.Params) {
    if (Param.Name.empty()) Add(Param.Value);
    else if (SameText(Param.Name, "TYPE")) ForEachItem(Param.Value, Add);
  }
  return Bits;
}

// A component as one text. From version 3.0 on it may be a list: its items
// are trimmed and joined with Between, while a single item is kept exactly.
std::string ComponentText(std::string_view Part, int Version, std::string_view Between) {
  size_t Items = 0;
  if (Version >= 30) ForEachPart(Part, ',', [&](std::string_view) { ++Items; });
  if (Items <= 1) return UnescapeVCardText(Part);
  std::string Out;
  ForEachPart(Part, ',', [&](std::string_view Item) {
    std::string Text = UnescapeVCardText(Item);
    std::string_view Word = Trim(Text);
    if (Word.empty()) return;
    if (!Out.empty()) Out += Between;
    Out += Word;
  });
  return Out;
}

std::string TypeLabel(unsigned Types) {
  if (Types & Home) return " (home)";
  if (Types & Work) return " (work)";
  return "";
}

// One card being read.
class TCardReader {
public:
  TCardReader(int32_t StartLine) : StartLine(StartLine) {}

  void Take(const TContentLine& P) {
    const std::string_view Name = P.Name;
    const unsigned Types = TypeBits(P);
    std::string Scratch;
    auto Decoded = [&] { return DecodeVCardValue(P, Scratch); };
    if (Name == "VERSION") {
      std::string_view V = Trim(P.Value);
      if (!VersionSeen) Version = V == "2.1" ? 21 : V == "4.0" ? 40 : 30;
      VersionSeen = true;
    } else if (Name == "N") {
      auto Parts = VCardComponents(Decoded(), 5);
      Family = ComponentText(Parts[0], Version, " ");
      Given = ComponentText(Parts[1], Version, " ");
      if (std::string More = ComponentText(Parts[2], Version, " "); !Trim(More).empty())
        Given = JoinWords({Given, More});
      Prefix = ComponentText(Parts[3], Version, " ");
      Suffix = ComponentText(Parts[4], Version, " ");
    } else if (Name == "FN") {
      FullName = UnescapeVCardText(Decoded());
    } else if (Name == "ORG") {
      std::vector<std::string> Units;
      for (std::string_view Part : VCardComponents(Decoded(), 1)) Units.push_back(ComponentText(Part, Version, " "));
      Organisation = JoinLines(Units, ", ");
    } else if (Name == "KIND") {
      Company = SameText(Trim(P.Value), "org");
    } else if (Name == "X-ABSHOWAS") {
      Company = SameText(Trim(P.Value), "COMPANY");
    } else if (Name == "TEL") {
      Telephone(Types, UnescapeVCardText(Decoded()), Version == 40 || SameText(P.Param("VALUE"), "uri"));
    } else if (Name == "ADR") {
      Address(Types, Decoded());
    } else if (Name == "NOTE") {
      Entry.HaveNotes = true;
      AddLines(Entry.NoteLines, UnescapeVCardText(Decoded()));
    } else if (Name == "X-TOBRINEL-EXTENSION") {
      Entry.Put(Entry.Item->BusExtn, UnescapeVCardText(Decoded()));
    } else if (Name == "X-TOBRINEL-TABPAGE") {
      std::string_view V = Trim(P.Value);
      if (V.size() == 1 && V[0] >= '0' && V[0] <= '2') Entry.Item->TabPage = uint8_t(V[0] - '0');
    } else {
      static const std::pair<const char*, const char*> Noted[] = {
          {"EMAIL", "E-mail"}, {"URL", "Web"},           {"NICKNAME", "Nickname"}, {"BDAY", "Birthday"},
          {"TITLE", "Job title"}, {"ROLE", "Role"},      {"IMPP", "Chat"},         {"ANNIVERSARY", "Anniversary"}};
      for (auto [Property, Label] : Noted) {
        if (Name != Property) continue;
        std::string Value = UnescapeVCardText(Decoded());
        if (!Trim(Value).empty()) Entry.Note(Label + TypeLabel(Types), Trim(Value));
        break;
      }
      // Anything else (photos, identifiers, other programs' own properties) is not kept.
    }
  }

  std::unique_ptr<TAddressItem> Finish(int32_t& ValuesCut) {
    TAddressItem& Item = *Entry.Item;
    bool OrganisationIsName = false;
    if (!Family.empty() || !Given.empty()) {
      Entry.Put(Item.Surname, Family);
      Entry.Put(Item.FirstName, Given);
    } else if (!Trim(FullName).empty()) {
      OrganisationIsName = Company || Trim(FullName) == Trim(Organisation);
      Entry.NamesFromFullName(FullName, OrganisationIsName);
    } else if (!Organisation.empty()) {
      OrganisationIsName = true;
      Entry.Put(Item.Surname, Organisation);
    }
    std::vector<std::string> First;
    if (!Prefix.empty()) AddLines(First, "Name prefix: " + Prefix);
    if (!Suffix.empty()) AddLines(First, "Name suffix: " + Suffix);
    if (!Organisation.empty() && !OrganisationIsName) AddLines(First, "Organisation: " + Organisation);
    Entry.Extras.insert(Entry.Extras.begin(), First.begin(), First.end());
    return Entry.Finish(StartLine, ValuesCut);
  }

  int32_t StartLine;
  int Version = 30;
  int Depth = 0;  // inside a card nested in this one (a 2.1 AGENT)

private:
  void Telephone(unsigned Types, std::string Value, bool Uri) {
    if (Uri && StartsWithText(Value, "tel:")) Value.erase(0, 4);
    if (Value.empty()) return;
    TAddressItem& Item = *Entry.Item;
    bool AtHome = Types & Home, AtWork = Types & Work;
    if (Types & Fax) {
      if (AtHome && !AtWork) Entry.Note("Fax (home)", Value);
      else Entry.PutOrNote(Item.BusFacsimile, Value, "Fax");
    } else if (Types & Cell) {
      Entry.PutOrNote(Item.BusMobile, Value, "Mobile");
    } else if (Types & Pager) {
      Entry.Note("Pager", Value);
    } else if (AtWork) {
      if (!Item.BusTelephone.empty()) return Entry.Note("Telephone (work)", Value);
      // A telephone URI may carry the extension: tel:+44-20-7946-0000;ext=123
      size_t Ext = Uri ? LowerText(Value).find(";ext=") : std::string::npos;
      if (Ext != std::string::npos && Item.BusExtn.empty()) {
        Entry.Put(Item.BusExtn, Value.substr(Ext + 5));
        Value.resize(Ext);
      }
      Entry.Put(Item.BusTelephone, Value);
    } else {
      Entry.PutOrNote(Item.HomeTelephone, Value, AtHome ? "Telephone (home)" : "Telephone");
    }
  }

  void Address(unsigned Types, std::string_view Decoded) {
    auto Parts = VCardComponents(Decoded, 7);
    auto Text = [&](int I) { return ComponentText(Parts[size_t(I)], Version, " "); };
    std::vector<std::string> Lines = AddressLines({Text(0), Text(1)}, ComponentText(Parts[2], Version, "\n"),
                                                  {Text(3), Text(4), Text(5), Text(6)});
    bool AtWork = (Types & Work) && !(Types & Home);
    bool& Have = AtWork ? Entry.HaveBusAddress : Entry.HaveHomeAddress;
    if (!Have) {
      Have = true;
      (AtWork ? Entry.BusAddress : Entry.HomeAddress) = std::move(Lines);
    } else {
      std::string Joined = JoinLines(Lines, ", ");
      if (!Joined.empty()) Entry.Note("Address" + TypeLabel(Types), Joined);
    }
  }

  TEntryBuilder Entry;
  bool VersionSeen = false;
  bool Company = false;
  std::string Family, Given, Prefix, Suffix, FullName, Organisation;
};

}  // namespace

TImported ReadVCards(std::string_view Text) {
  TImported Result;
  TContentLineReader Lines(Text);
  std::unique_ptr<TCardReader> Card;
  TContentLine Property;
  std::string_view Line;
  int32_t Number;
  while (Lines.NextRaw(Line, Number)) {
    if (!Card && ValueColon(Line) == std::string_view::npos)
      throw EImportError(Number, "a card must begin with BEGIN:VCARD");
    ParseContentLine(Line, Number, Property);
    bool Begin = Property.Name == "BEGIN", End = Property.Name == "END";
    bool OfCard = SameText(Trim(Property.Value), "VCARD");
    if (!Card) {
      if (Begin && OfCard) {
        Card = std::make_unique<TCardReader>(Number);
        Lines.KeepFoldingSpace = false;
        continue;
      }
      if (End && OfCard) throw EImportError(Number, "END:VCARD without a BEGIN:VCARD before it");
      throw EImportError(Number, "a card must begin with BEGIN:VCARD");
    }
    if (Begin) {
      ++Card->Depth;
    } else if (End && Card->Depth > 0) {
      --Card->Depth;
    } else if (End) {
      if (!OfCard) throw EImportError(Number, "END:" + std::string(Trim(Property.Value)) + " inside a card");
      Result.Items.push_back(Card->Finish(Result.ValuesCut));
      Card.reset();
      Lines.KeepFoldingSpace = false;
    } else if (Card->Depth == 0) {
      Card->Take(Property);
      Lines.KeepFoldingSpace = Card->Version == 21;
    }
  }
  if (Card) throw EImportError(Card->StartLine, "the card that begins here has no END:VCARD");
  return Result;
}

// =====================================================================
// Writing cards

namespace {

void AppendEscaped(std::string& Out, std::string_view Text) {
  // Plain runs are copied whole: most values have nothing to escape.
  size_t Run = 0;
  for (size_t I = 0; I < Text.size(); ++I) {
    const char* Escape;
    switch (Text[I]) {
      case '\\': Escape = "\\\\"; break;
      case ',': Escape = "\\,"; break;
      case ';': Escape = "\\;"; break;
      case '\n': Escape = "\\n"; break;
      default: continue;
    }
    Out.append(Text.data() + Run, I - Run);
    Out.append(Escape, 2);
    Run = I + 1;
  }
  Out.append(Text.data() + Run, Text.size() - Run);
}

void AppendEscapedLines(std::string& Out, const TLineList& Lines) {
  bool First = true;
  Lines.ForEach([&](std::string_view Line) {
    if (!First) Out += "\\n";
    First = false;
    AppendEscaped(Out, Line);
  });
}

// Content lines are folded at 75 octets, never inside a character or an
// escape: continuation lines begin with a space.
void AppendFolded(std::string& Out, std::string_view Line) {
  constexpr size_t Width = 75;
  size_t Room = Width;
  size_t Start = 0;
  while (Line.size() - Start > Room) {
    size_t End = Start + Room;
    // Back off to the start of a character...
    for (int Back = 0; Back < 3 && End > Start + 1 && (static_cast<unsigned char>(Line[End]) & 0xC0) == 0x80; ++Back)
      --End;
    // ...and off an escape's backslash: an odd run of them ending here means
    // the last one escapes the octet after the cut.
    size_t Slashes = 0;
    while (End - Slashes > Start && Line[End - Slashes - 1] == '\\') ++Slashes;
    if (Slashes % 2 == 1 && End - 1 > Start) --End;
    if (Start > 0) Out += ' ';
    Out.append(Line.data() + Start, End - Start);
    Out += "\r\n";
    Start = End;
    Room = Width - 1;
  }
  if (Start > 0) Out += ' ';
  Out.append(Line.data() + Start, Line.size() - Start);
  Out += "\r\n";
}

}  // namespace

void AppendVCard(std::string& Out, const TAddressItem& Item, std::string_view Uid) {
  std::string Line;
  auto Emit = [&] {
    AppendFolded(Out, Line);
    Line.clear();
  };
  Out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  if (!Uid.empty()) {
    Line = "UID:";
    AppendEscaped(Line, Uid);
    Emit();
  }
  Line = "N:";
  AppendEscaped(Line, Item.Surname.str());
  Line += ';';
  AppendEscaped(Line, Item.FirstName.str());
  Line += ";;;";
  Emit();
  Line = "FN:";
  AppendEscaped(Line, Item.FirstName.str());
  if (!Item.FirstName.empty() && !Item.Surname.empty()) Line += ' ';
  AppendEscaped(Line, Item.Surname.str());
  Emit();
  auto Text = [&](const char* Head, const std::string& Value) {
    if (Value.empty()) return;
    Line = Head;
    AppendEscaped(Line, Value);
    Emit();
  };
  Text("TEL;TYPE=HOME,VOICE:", Item.HomeTelephone);
  Text("TEL;TYPE=WORK,VOICE:", Item.BusTelephone);
  Text("X-TOBRINEL-EXTENSION:", Item.BusExtn);
  Text("TEL;TYPE=WORK,FAX:", Item.BusFacsimile);
  Text("TEL;TYPE=CELL:", Item.BusMobile);
  // The lines of an address stay lines: all of them in the street.
  auto Lines = [&](const char* Head, const char* Tail, const TLineList& List) {
    if (List.Count() == 0) return;
    Line = Head;
    AppendEscapedLines(Line, List);
    Line += Tail;
    Emit();
  };
  Lines("ADR;TYPE=HOME:;;", ";;;;", Item.HomeAddress);
  Lines("ADR;TYPE=WORK:;;", ";;;;", Item.BusAddress);
  Lines("NOTE:", "", Item.Notes);
  if (Item.TabPage != 0) {
    Line = "X-TOBRINEL-TABPAGE:" + std::to_string(Item.TabPage);
    Emit();
  }
  Out += "END:VCARD\r\n";
}
