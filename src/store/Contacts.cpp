#include "Contacts.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSystem.h"
#include "TextCodec.h"

namespace {

constexpr int32_t MaxStoredLength = 32767;  // what a book file holds per line and per list
const char* const Bom = "\xEF\xBB\xBF";

// ---- Small text helpers (ASCII case only: names of properties and columns)

char Lower(char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; }

bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I)
    if (Lower(A[I]) != Lower(B[I])) return false;
  return true;
}

bool StartsWithText(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameText(Text.substr(0, Prefix.size()), Prefix);
}

std::string LowerText(std::string_view Text) {
  std::string Out(Text);
  for (char& C : Out) C = Lower(C);
  return Out;
}

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

std::string_view WithoutBom(std::string_view Text) {
  if (Text.substr(0, 3) == Bom) Text.remove_prefix(3);
  return Text;
}

// Splits at "\n", dropping the "\r" of CRLF (or of a doubled CR) at a line's
// end, as the memos store their lines.
void AddLines(std::vector<std::string>& Lines, std::string_view Text) {
  for (size_t Start = 0;;) {
    size_t End = Text.find('\n', Start);
    std::string_view Line = Text.substr(Start, End == std::string_view::npos ? End : End - Start);
    while (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    Lines.emplace_back(Line);
    if (End == std::string_view::npos) return;
    Start = End + 1;
  }
}

std::string JoinLines(const std::vector<std::string>& Lines, std::string_view Between) {
  std::string Out;
  for (const std::string& Line : Lines) {
    if (Line.empty()) continue;
    if (!Out.empty()) Out += Between;
    Out += Line;
  }
  return Out;
}

// Text of a single-byte Windows system (also Latin-1 and ASCII) as UTF-8.
std::string FromCp1252(std::string_view Bytes) {
  std::string Out;
  Out.reserve(Bytes.size());
  for (char C : Bytes) {
    if (static_cast<unsigned char>(C) < 0x80) Out += C;
    else Out += ToUtf8(std::string_view(&C, 1));  // a lone high byte is never UTF-8
  }
  return Out;
}

std::string AsUtf8(std::string&& Bytes) {
  if (IsValidUtf8(Bytes)) return std::move(Bytes);
  return ToUtf8(Bytes);
}

// ---- What becomes of a contact: the fields an entry has, and the lines of
// the notes for everything else.

class TEntryBuilder {
public:
  TEntryBuilder() : Item(std::make_unique<TAddressItem>()) {}

  template <size_t Capacity>
  void Put(TFixedText<Capacity>& Field, const std::string& Value) {
    if (Value.size() > Capacity && CharCount(Value) > Capacity) ++Cut;
    Field = Value;
  }
  // Into the field when it is still empty, else into the notes under Label.
  template <size_t Capacity>
  void PutOrNote(TFixedText<Capacity>& Field, const std::string& Value, const std::string& Label) {
    if (Field.empty()) Put(Field, Value);
    else Note(Label, Value);
  }
  void Note(const std::string& Label, std::string_view Value) {
    AddLines(Extras, Label + ": " + std::string(Value));
  }
  // Names from a full name when no parts were given: the last word is the
  // surname, unless the name is an organisation's.
  void NamesFromFullName(std::string_view Full, bool Organisation) {
    Full = Trim(Full);
    size_t Space = Full.find_last_of(' ');
    if (Organisation || Space == std::string_view::npos) {
      Put(Item->Surname, std::string(Full));
      return;
    }
    Put(Item->Surname, std::string(Trim(Full.substr(Space + 1))));
    Put(Item->FirstName, std::string(Trim(Full.substr(0, Space))));
  }

  // Hands the entry over; Line is where its card or row begins.
  std::unique_ptr<TAddressItem> Finish(int32_t Line, int32_t& ValuesCut) {
    if (HaveHomeAddress) Fill(Item->HomeAddress, HomeAddress, Line);
    if (HaveBusAddress) Fill(Item->BusAddress, BusAddress, Line);
    NoteLines.insert(NoteLines.end(), Extras.begin(), Extras.end());
    if (HaveNotes || !Extras.empty()) Fill(Item->Notes, NoteLines, Line);
    ValuesCut += Cut;
    return std::move(Item);
  }

  std::unique_ptr<TAddressItem> Item;
  std::vector<std::string> HomeAddress, BusAddress, NoteLines, Extras;
  bool HaveHomeAddress = false, HaveBusAddress = false, HaveNotes = false;
  int32_t Cut = 0;

private:
  // What the book file cannot hold is refused here rather than at the next save.
  static void Fill(TLineList& List, const std::vector<std::string>& Lines, int32_t Line) {
    if (Lines.size() > size_t(MaxStoredLength))
      throw EImportError(Line, "an address or the notes have more than 32767 lines, more than a book can hold");
    std::string Packed;
    for (const std::string& Text : Lines) {
      if (Text.size() > size_t(MaxStoredLength))
        throw EImportError(Line, "a line of an address or of the notes is longer than 32767 bytes, "
                                 "more than a book can hold");
      TLineList::AppendPacked(Packed, Text);
    }
    List.AssignPacked(Packed, int32_t(Lines.size()));
  }
};

// Address parts as lines: the street's own lines, then every other part that
// is given, each on a line of its own.
std::vector<std::string> AddressLines(const std::vector<std::string>& Before, std::string_view Street,
                                      const std::vector<std::string>& After) {
  std::vector<std::string> Lines;
  for (const std::string& Part : Before)
    if (!Part.empty()) AddLines(Lines, Part);
  bool Others = !Lines.empty() || std::any_of(After.begin(), After.end(), [](auto& P) { return !P.empty(); });
  if (!Street.empty() || !Others) AddLines(Lines, Street);
  for (const std::string& Part : After)
    if (!Part.empty()) AddLines(Lines, Part);
  return Lines;
}

// =====================================================================
// vCard reading

// The physical lines of the text, counted from 1.
class TPhysicalLines {
public:
  explicit TPhysicalLines(std::string_view Text) : Text(WithoutBom(Text)) {}

  bool Next(std::string_view& Line) {
    if (Pos >= Text.size()) return false;
    size_t End = Text.find('\n', Pos);
    if (End == std::string_view::npos) End = Text.size();
    Line = Text.substr(Pos, End - Pos);
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    Pos = End + 1;
    ++Number;
    return true;
  }
  bool NextIsFolded() const { return Pos < Text.size() && (Text[Pos] == ' ' || Text[Pos] == '\t'); }
  int32_t Number = 0;

private:
  std::string_view Text;
  size_t Pos = 0;
};

struct TParam {
  std::string_view Name;  // empty for a bare 2.1 parameter such as HOME or QUOTED-PRINTABLE
  std::string_view Value;
};

// The types a property is marked with (TYPE=home,fax or a bare HOME in 2.1).
enum : unsigned { Home = 1, Work = 2, Fax = 4, Cell = 8, Pager = 16, QuotedPrintable = 32, Base64 = 64 };

unsigned TypeBit(std::string_view Type) {
  static const std::pair<const char*, unsigned> Bits[] = {
      {"HOME", Home}, {"WORK", Work}, {"FAX", Fax}, {"CELL", Cell}, {"PAGER", Pager},
      {"QUOTED-PRINTABLE", QuotedPrintable}, {"BASE64", Base64}};
  for (auto [Name, Bit] : Bits)
    if (SameText(Type, Name)) return Bit;
  return 0;
}

struct TProperty {
  std::string Name;  // upper case, without its group
  std::vector<TParam> Params;
  unsigned Types = 0;
  std::string_view Value;
};

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

void ParseProperty(std::string_view Line, int32_t Number, TProperty& Property) {
  Property.Params.clear();
  size_t Colon = ValueColon(Line);
  if (Colon == std::string_view::npos)
    throw EImportError(Number, "the line has no ':' between a property's name and its value");
  std::string_view Head = Line.substr(0, Colon);
  Property.Value = Line.substr(Colon + 1);
  Property.Types = 0;
  size_t NameEnd = std::min(Head.find(';'), Head.size());
  std::string_view Name = Trim(Head.substr(0, NameEnd));
  if (size_t Dot = Name.rfind('.'); Dot != std::string_view::npos) Name.remove_prefix(Dot + 1);  // "item1."
  Property.Name.assign(Name);
  for (char& C : Property.Name) C = C >= 'a' && C <= 'z' ? char(C - 'a' + 'A') : C;
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
    TParam P;
    if (Equals == std::string_view::npos) {
      P.Value = Trim(Param);
    } else {
      P.Name = Trim(Param.substr(0, Equals));
      P.Value = Trim(Param.substr(Equals + 1));
      if (P.Value.size() >= 2 && P.Value.front() == '"' && P.Value.back() == '"')
        P.Value = P.Value.substr(1, P.Value.size() - 2);
    }
    if (P.Value.empty() && P.Name.empty()) continue;
    Property.Params.push_back(P);
    if (P.Name.empty()) {
      Property.Types |= TypeBit(P.Value);
    } else if (SameText(P.Name, "TYPE")) {
      for (size_t Start = 0;;) {
        size_t Comma = P.Value.find(',', Start);
        Property.Types |= TypeBit(Trim(P.Value.substr(Start, Comma == std::string_view::npos ? Comma : Comma - Start)));
        if (Comma == std::string_view::npos) break;
        Start = Comma + 1;
      }
    }
  }
}

bool HasType(const TProperty& Property, unsigned Type) { return (Property.Types & Type) != 0; }

std::string_view ParamValue(const TProperty& Property, std::string_view Name) {
  for (const TParam& P : Property.Params)
    if (SameText(P.Name, Name)) return P.Value;
  return {};
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

// The value's bytes after its transfer encoding and character set, as UTF-8;
// escapes are still in place. Only a value that needs decoding goes through
// Scratch; any other is handed back as it stands.
std::string_view DecodeValue(const TProperty& Property, int32_t Number, std::string& Scratch) {
  std::string_view Encoding = ParamValue(Property, "ENCODING");
  bool Qp = SameText(Encoding, "QUOTED-PRINTABLE") || HasType(Property, QuotedPrintable);
  bool B64 = SameText(Encoding, "B") || SameText(Encoding, "BASE64") || HasType(Property, Base64);
  std::string_view Charset = ParamValue(Property, "CHARSET");
  bool Utf8 = Charset.empty() || SameText(Charset, "UTF-8") || SameText(Charset, "UTF8");
  if (!Qp && !B64 && Utf8 && IsValidUtf8(Property.Value)) return Property.Value;
  std::string Bytes;
  if (Qp) {
    Bytes = DecodeQuotedPrintable(Property.Value);
  } else if (B64) {
    if (!DecodeBase64(Property.Value, Bytes))
      throw EImportError(Number, "the value of " + std::string(Property.Name) + " is not valid base64");
  } else {
    Bytes.assign(Property.Value);
  }
  if (Utf8) return Scratch = AsUtf8(std::move(Bytes));
  for (const char* Single : {"ISO-8859-1", "ISO8859-1", "LATIN1", "WINDOWS-1252", "CP1252", "US-ASCII", "ASCII"})
    if (SameText(Charset, Single)) return Scratch = FromCp1252(Bytes);
  throw EImportError(Number, "the character set \"" + std::string(Charset) + "\" is not supported");
}

// Backslash escapes: \\ \, \; \: and \n or \N for a line break.
std::string Unescape(std::string_view Value) {
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

// The components of a structured value (N, ADR, ORG), as many as it has.
std::vector<std::string_view> Components(std::string_view Decoded, size_t AtLeast) {
  std::vector<std::string_view> Parts;
  Parts.reserve(AtLeast);
  ForEachPart(Decoded, ';', [&](std::string_view Part) { Parts.push_back(Part); });
  if (Parts.size() < AtLeast) Parts.resize(AtLeast);
  return Parts;
}

// A component as one text. From version 3.0 on it may be a list: its items
// are trimmed and joined with Between, while a single item is kept exactly.
std::string ComponentText(std::string_view Part, int Version, std::string_view Between) {
  size_t Items = 0;
  if (Version >= 30) ForEachPart(Part, ',', [&](std::string_view) { ++Items; });
  if (Items <= 1) return Unescape(Part);
  std::string Out;
  ForEachPart(Part, ',', [&](std::string_view Item) {
    std::string Text = Unescape(Item);
    std::string_view Word = Trim(Text);
    if (Word.empty()) return;
    if (!Out.empty()) Out += Between;
    Out += Word;
  });
  return Out;
}

// Words joined with single spaces; a single one is kept exactly as it is.
std::string JoinWords(const std::vector<std::string>& Words) {
  if (Words.size() == 1) return Words[0];
  std::string Out;
  for (const std::string& Word : Words) {
    std::string_view W = Trim(Word);
    if (W.empty()) continue;
    if (!Out.empty()) Out += ' ';
    Out += W;
  }
  return Out;
}

std::string TypeLabel(const TProperty& Property) {
  if (HasType(Property, Home)) return " (home)";
  if (HasType(Property, Work)) return " (work)";
  return "";
}

// One card being read.
class TCardReader {
public:
  TCardReader(int32_t StartLine) : StartLine(StartLine) {}

  void Take(const TProperty& P, int32_t Number) {
    const std::string_view Name = P.Name;
    std::string Scratch;
    auto Decoded = [&] { return DecodeValue(P, Number, Scratch); };
    if (Name == "VERSION") {
      std::string_view V = Trim(P.Value);
      if (!VersionSeen) Version = V == "2.1" ? 21 : V == "4.0" ? 40 : 30;
      VersionSeen = true;
    } else if (Name == "N") {
      auto Parts = Components(Decoded(), 5);
      Family = ComponentText(Parts[0], Version, " ");
      Given = ComponentText(Parts[1], Version, " ");
      if (std::string More = ComponentText(Parts[2], Version, " "); !Trim(More).empty())
        Given = JoinWords({Given, More});
      Prefix = ComponentText(Parts[3], Version, " ");
      Suffix = ComponentText(Parts[4], Version, " ");
    } else if (Name == "FN") {
      FullName = Unescape(Decoded());
    } else if (Name == "ORG") {
      std::vector<std::string> Units;
      for (std::string_view Part : Components(Decoded(), 1)) Units.push_back(ComponentText(Part, Version, " "));
      Organisation = JoinLines(Units, ", ");
    } else if (Name == "KIND") {
      Company = SameText(Trim(P.Value), "org");
    } else if (Name == "X-ABSHOWAS") {
      Company = SameText(Trim(P.Value), "COMPANY");
    } else if (Name == "TEL") {
      Telephone(P, Unescape(Decoded()), Version == 40 || SameText(ParamValue(P, "VALUE"), "uri"));
    } else if (Name == "ADR") {
      Address(P, Decoded());
    } else if (Name == "NOTE") {
      Entry.HaveNotes = true;
      AddLines(Entry.NoteLines, Unescape(Decoded()));
    } else if (Name == "X-TOBRINEL-EXTENSION") {
      Entry.Put(Entry.Item->BusExtn, Unescape(Decoded()));
    } else if (Name == "X-TOBRINEL-TABPAGE") {
      std::string_view V = Trim(P.Value);
      if (V.size() == 1 && V[0] >= '0' && V[0] <= '2') Entry.Item->TabPage = uint8_t(V[0] - '0');
    } else {
      static const std::pair<const char*, const char*> Noted[] = {
          {"EMAIL", "E-mail"}, {"URL", "Web"},           {"NICKNAME", "Nickname"}, {"BDAY", "Birthday"},
          {"TITLE", "Job title"}, {"ROLE", "Role"},      {"IMPP", "Chat"},         {"ANNIVERSARY", "Anniversary"}};
      for (auto [Property, Label] : Noted) {
        if (Name != Property) continue;
        std::string Value = Unescape(Decoded());
        if (!Trim(Value).empty()) Entry.Note(Label + TypeLabel(P), Trim(Value));
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
  void Telephone(const TProperty& P, std::string Value, bool Uri) {
    if (Uri && StartsWithText(Value, "tel:")) Value.erase(0, 4);
    if (Value.empty()) return;
    TAddressItem& Item = *Entry.Item;
    bool AtHome = HasType(P, Home), AtWork = HasType(P, Work);
    if (HasType(P, Fax)) {
      if (AtHome && !AtWork) Entry.Note("Fax (home)", Value);
      else Entry.PutOrNote(Item.BusFacsimile, Value, "Fax");
    } else if (HasType(P, Cell)) {
      Entry.PutOrNote(Item.BusMobile, Value, "Mobile");
    } else if (HasType(P, Pager)) {
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

  void Address(const TProperty& P, std::string_view Decoded) {
    auto Parts = Components(Decoded, 7);
    auto Text = [&](int I) { return ComponentText(Parts[size_t(I)], Version, " "); };
    std::vector<std::string> Lines = AddressLines({Text(0), Text(1)}, ComponentText(Parts[2], Version, "\n"),
                                                  {Text(3), Text(4), Text(5), Text(6)});
    bool AtWork = HasType(P, Work) && !HasType(P, Home);
    bool& Have = AtWork ? Entry.HaveBusAddress : Entry.HaveHomeAddress;
    if (!Have) {
      Have = true;
      (AtWork ? Entry.BusAddress : Entry.HomeAddress) = std::move(Lines);
    } else {
      std::string Joined = JoinLines(Lines, ", ");
      if (!Joined.empty()) Entry.Note("Address" + TypeLabel(P), Joined);
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
  TPhysicalLines Lines(Text);
  std::unique_ptr<TCardReader> Card;
  TProperty Property;
  std::string Joined;
  std::string_view Line;
  for (;;) {
    // One content line, unfolded: a line that begins with a space or tab goes
    // on from the one before; in quoted-printable a final '=' joins the next.
    if (!Lines.Next(Line)) break;
    if (Trim(Line).empty()) continue;
    int32_t Number = Lines.Number;
    bool Qp = Line.back() == '=' && IsQuotedPrintable(Line);
    if (Qp || Lines.NextIsFolded()) {
      Joined.assign(Line);
      std::string_view More;
      while (Qp && !Joined.empty() && Joined.back() == '=' && Lines.Next(More)) {
        Joined.pop_back();
        Joined.append(More);
      }
      bool KeepSpace = Card && Card->Version == 21;
      while (Lines.NextIsFolded() && Lines.Next(More)) Joined.append(KeepSpace ? More : More.substr(1));
      Line = Joined;
    }

    if (!Card && ValueColon(Line) == std::string_view::npos)
      throw EImportError(Number, "a card must begin with BEGIN:VCARD");
    ParseProperty(Line, Number, Property);
    bool Begin = std::string_view(Property.Name) == "BEGIN", End = std::string_view(Property.Name) == "END";
    bool OfCard = SameText(Trim(Property.Value), "VCARD");
    if (!Card) {
      if (Begin && OfCard) {
        Card = std::make_unique<TCardReader>(Number);
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
    } else if (Card->Depth == 0) {
      Card->Take(Property, Number);
    }
  }
  if (Card) throw EImportError(Card->StartLine, "the card that begins here has no END:VCARD");
  return Result;
}

// =====================================================================
// CSV reading

namespace {

class TCsvReader {
public:
  explicit TCsvReader(std::string_view Text) : Text(Text) {
    // The header's separator: commas, or what some spreadsheets write instead.
    size_t Counts[3] = {0, 0, 0};
    bool Quoted = false;
    for (char C : Text.substr(0, Text.find('\n'))) {
      if (C == '"') Quoted = !Quoted;
      if (Quoted) continue;
      if (C == ',') ++Counts[0];
      if (C == ';') ++Counts[1];
      if (C == '\t') ++Counts[2];
    }
    if (Counts[1] > Counts[0] && Counts[1] >= Counts[2]) Separator = ';';
    else if (Counts[2] > Counts[0] && Counts[2] > Counts[1]) Separator = '\t';
  }

  // One record; false at the end of the text.
  bool Next(std::vector<std::string>& Fields, int32_t& RecordLine) {
    if (Pos >= Text.size()) return false;
    RecordLine = Line;
    size_t Used = 0;
    const char Ends[] = {Separator, '\r', '\n', '\0'};
    for (;;) {
      if (Used == Fields.size()) Fields.emplace_back();
      std::string& Field = Fields[Used++];
      Field.clear();
      if (Pos < Text.size() && Text[Pos] == '"') {
        int32_t QuoteLine = Line;
        ++Pos;
        for (;;) {
          size_t Quote = Text.find('"', Pos);
          if (Quote == std::string_view::npos) throw EImportError(QuoteLine, "a quoted field is not closed");
          std::string_view Part = Text.substr(Pos, Quote - Pos);
          Line += int32_t(std::count(Part.begin(), Part.end(), '\n'));
          Field.append(Part);
          Pos = Quote + 1;
          if (Pos < Text.size() && Text[Pos] == '"') {
            Field += '"';
            ++Pos;
            continue;
          }
          break;
        }
        if (Pos < Text.size() && Text[Pos] != Separator && Text[Pos] != '\r' && Text[Pos] != '\n')
          throw EImportError(Line, "text follows the closing quote of a field");
      } else {
        size_t End = Text.find_first_of(std::string_view(Ends, 3), Pos);
        if (End == std::string_view::npos) End = Text.size();
        Field.assign(Text.substr(Pos, End - Pos));
        Pos = End;
      }
      if (Pos >= Text.size()) break;
      char C = Text[Pos++];
      if (C == Separator) continue;
      if (C == '\r' && Pos < Text.size() && Text[Pos] == '\n') ++Pos;
      ++Line;
      break;
    }
    Fields.resize(Used);
    return true;
  }

private:
  std::string_view Text;
  size_t Pos = 0;
  int32_t Line = 1;
  char Separator = ',';
};

enum class EColumn {
  Other, Ignored, Surname, FirstName, MiddleName, FullName, Company, HomeTel, BusTel, BusExtn, BusFax, Mobile,
  Notes, TabPage,
  HomeStreet, HomeStreet2, HomeStreet3, HomeCity, HomeState, HomePostCode, HomeCountry,
  BusStreet, BusStreet2, BusStreet3, BusCity, BusState, BusPostCode, BusCountry,
  Count
};

// Our own column names first: they are the ones written.
const std::pair<const char*, EColumn> ColumnNames[] = {
    {"last name", EColumn::Surname}, {"first name", EColumn::FirstName},
    {"home phone", EColumn::HomeTel}, {"home street", EColumn::HomeStreet},
    {"business phone", EColumn::BusTel}, {"business extension", EColumn::BusExtn},
    {"business fax", EColumn::BusFax}, {"mobile phone", EColumn::Mobile},
    {"business street", EColumn::BusStreet}, {"tab page", EColumn::TabPage}, {"notes", EColumn::Notes},
    // Other mail programs and address books
    {"surname", EColumn::Surname}, {"family name", EColumn::Surname}, {"given name", EColumn::FirstName},
    {"middle name", EColumn::MiddleName}, {"additional name", EColumn::MiddleName},
    {"display name", EColumn::FullName}, {"name", EColumn::FullName}, {"full name", EColumn::FullName},
    {"company", EColumn::Company}, {"organization", EColumn::Company}, {"organisation", EColumn::Company},
    {"home telephone", EColumn::HomeTel}, {"work phone", EColumn::BusTel}, {"work telephone", EColumn::BusTel},
    {"extension", EColumn::BusExtn}, {"work fax", EColumn::BusFax}, {"fax number", EColumn::BusFax},
    {"fax", EColumn::BusFax}, {"mobile number", EColumn::Mobile}, {"mobile", EColumn::Mobile},
    {"cell phone", EColumn::Mobile}, {"note", EColumn::Notes},
    {"home address", EColumn::HomeStreet}, {"home street 2", EColumn::HomeStreet2},
    {"home address 2", EColumn::HomeStreet2}, {"home street 3", EColumn::HomeStreet3},
    {"home city", EColumn::HomeCity}, {"home state", EColumn::HomeState},
    {"home postal code", EColumn::HomePostCode}, {"home zipcode", EColumn::HomePostCode},
    {"home zip code", EColumn::HomePostCode}, {"home country/region", EColumn::HomeCountry},
    {"home country", EColumn::HomeCountry},
    {"work address", EColumn::BusStreet}, {"business street 2", EColumn::BusStreet2},
    {"work address 2", EColumn::BusStreet2}, {"business street 3", EColumn::BusStreet3},
    {"business city", EColumn::BusCity}, {"work city", EColumn::BusCity},
    {"business state", EColumn::BusState}, {"work state", EColumn::BusState},
    {"business postal code", EColumn::BusPostCode}, {"work zipcode", EColumn::BusPostCode},
    {"work zip code", EColumn::BusPostCode}, {"business country/region", EColumn::BusCountry},
    {"work country", EColumn::BusCountry},
    // Bookkeeping of mail programs, the same in every row
    {"sensitivity", EColumn::Ignored}, {"priority", EColumn::Ignored}, {"private", EColumn::Ignored},
    {"gender", EColumn::Ignored}, {"initials", EColumn::Ignored}, {"group membership", EColumn::Ignored},
};

EColumn ColumnOf(std::string_view Name) {
  std::string Key = LowerText(Trim(Name));
  for (auto [Known, Column] : ColumnNames)
    if (Key == Known) return Column;
  return EColumn::Other;
}

}  // namespace

TImported ReadCsv(std::string_view Text) {
  Text = WithoutBom(Text);
  std::string Converted;
  if (!IsValidUtf8(Text)) {
    // Mail programs on single-byte Windows systems export in their code page.
    Converted = ToUtf8(Text);
    Text = Converted;
  }
  TImported Result;
  TCsvReader Reader(Text);
  std::vector<std::string> Header, Fields;
  int32_t Line = 0;
  if (!Reader.Next(Header, Line)) return Result;
  std::vector<EColumn> Columns;
  bool Known = false;
  for (const std::string& Name : Header) {
    Columns.push_back(ColumnOf(Name));
    Known |= Columns.back() != EColumn::Other && Columns.back() != EColumn::Ignored;
  }
  if (!Known)
    throw EImportError(Line, "the first line names no column Tobrinel knows; it must be a header "
                             "such as \"Last Name\",\"First Name\",\"Home Phone\"");

  std::array<std::string, size_t(EColumn::Count)> Values;
  while (Reader.Next(Fields, Line)) {
    if (std::all_of(Fields.begin(), Fields.end(), [](const std::string& F) { return F.empty(); })) continue;
    for (size_t I = Columns.size(); I < Fields.size(); ++I)
      if (!Fields[I].empty())
        throw EImportError(Line, "the row has " + std::to_string(Fields.size()) + " fields but the header only " +
                                     std::to_string(Columns.size()));
    for (std::string& Value : Values) Value.clear();
    TEntryBuilder Entry;
    for (size_t I = 0; I < Columns.size() && I < Fields.size(); ++I) {
      if (Fields[I].empty() || Columns[I] == EColumn::Ignored) continue;
      std::string& Slot = Values[size_t(Columns[I])];
      if (Columns[I] == EColumn::Other || !Slot.empty()) Entry.Note(std::string(Trim(Header[I])), Fields[I]);
      else Slot = std::move(Fields[I]);
    }
    auto V = [&](EColumn Column) -> std::string& { return Values[size_t(Column)]; };
    TAddressItem& Item = *Entry.Item;
    if (!V(EColumn::Surname).empty() || !V(EColumn::FirstName).empty() || !V(EColumn::MiddleName).empty()) {
      Entry.Put(Item.Surname, V(EColumn::Surname));
      Entry.Put(Item.FirstName, V(EColumn::MiddleName).empty()
                                    ? V(EColumn::FirstName)
                                    : JoinWords({V(EColumn::FirstName), V(EColumn::MiddleName)}));
      if (!V(EColumn::FullName).empty() && V(EColumn::FullName) != Item.FirstName.str() + " " + Item.Surname.str())
        Entry.Note("Full name", V(EColumn::FullName));
    } else if (!V(EColumn::FullName).empty()) {
      Entry.NamesFromFullName(V(EColumn::FullName), V(EColumn::FullName) == V(EColumn::Company));
    } else if (!V(EColumn::Company).empty()) {
      Entry.Put(Item.Surname, V(EColumn::Company));
      V(EColumn::Company).clear();
    }
    if (!V(EColumn::Company).empty() && V(EColumn::Company) != Item.Surname.str())
      Entry.Extras.insert(Entry.Extras.begin(), "Organisation: " + V(EColumn::Company));
    Entry.Put(Item.HomeTelephone, V(EColumn::HomeTel));
    Entry.Put(Item.BusTelephone, V(EColumn::BusTel));
    Entry.Put(Item.BusExtn, V(EColumn::BusExtn));
    Entry.Put(Item.BusFacsimile, V(EColumn::BusFax));
    Entry.Put(Item.BusMobile, V(EColumn::Mobile));
    // An empty cell is no lines, and so is a single empty line.
    auto Some = [](const std::vector<std::string>& Lines) { return Lines.size() > 1 || !Lines[0].empty(); };
    auto Address = [&](EColumn Street, bool& Have, std::vector<std::string>& Lines) {
      int S = int(Street);
      auto At = [&](int Offset) { return Values[size_t(S + Offset)]; };
      Lines = AddressLines({}, At(0), {At(1), At(2), At(3), At(4), At(5), At(6)});
      Have = Some(Lines);
    };
    Address(EColumn::HomeStreet, Entry.HaveHomeAddress, Entry.HomeAddress);
    Address(EColumn::BusStreet, Entry.HaveBusAddress, Entry.BusAddress);
    AddLines(Entry.NoteLines, V(EColumn::Notes));
    Entry.HaveNotes = Some(Entry.NoteLines);
    if (!Entry.HaveNotes) Entry.NoteLines.clear();
    std::string_view Tab = Trim(V(EColumn::TabPage));
    if (Tab.size() == 1 && Tab[0] >= '0' && Tab[0] <= '2') Item.TabPage = uint8_t(Tab[0] - '0');
    Result.Items.push_back(Entry.Finish(Line, Result.ValuesCut));
  }
  return Result;
}

TImported ReadContacts(std::string_view Text, EContactFormat Format) {
  return Format == EContactFormat::VCard ? ReadVCards(Text) : ReadCsv(Text);
}

// =====================================================================
// Writing

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

// Inside a quoted CSV field only the quote itself is doubled.
void AppendCsvQuoted(std::string& Out, std::string_view Text) {
  for (size_t Quote; (Quote = Text.find('"')) != std::string_view::npos; Text.remove_prefix(Quote + 1)) {
    Out.append(Text.data(), Quote + 1);
    Out += '"';
  }
  Out.append(Text);
}

void AppendCsvField(std::string& Out, std::string_view Text) {
  Out += '"';
  AppendCsvQuoted(Out, Text);
  Out += '"';
}

}  // namespace

void AppendVCard(std::string& Out, const TAddressItem& Item) {
  std::string Line;
  auto Emit = [&] {
    AppendFolded(Out, Line);
    Line.clear();
  };
  Out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
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

void AppendCsvHeader(std::string& Out) {
  Out += "\"Last Name\",\"First Name\",\"Home Phone\",\"Home Street\",\"Business Phone\","
         "\"Business Extension\",\"Business Fax\",\"Mobile Phone\",\"Business Street\",\"Tab Page\",\"Notes\"\r\n";
}

void AppendCsvRecord(std::string& Out, const TAddressItem& Item) {
  auto Lines = [&](const TLineList& List) {
    Out += '"';
    bool First = true;
    List.ForEach([&](std::string_view Line) {
      if (!First) Out += '\n';
      First = false;
      AppendCsvQuoted(Out, Line);
    });
    Out += '"';
  };
  AppendCsvField(Out, Item.Surname.str());
  Out += ',';
  AppendCsvField(Out, Item.FirstName.str());
  Out += ',';
  AppendCsvField(Out, Item.HomeTelephone.str());
  Out += ',';
  Lines(Item.HomeAddress);
  Out += ',';
  AppendCsvField(Out, Item.BusTelephone.str());
  Out += ',';
  AppendCsvField(Out, Item.BusExtn.str());
  Out += ',';
  AppendCsvField(Out, Item.BusFacsimile.str());
  Out += ',';
  AppendCsvField(Out, Item.BusMobile.str());
  Out += ',';
  Lines(Item.BusAddress);
  Out += ",\"";
  Out += char('0' + (Item.TabPage <= 2 ? Item.TabPage : 0));
  Out += "\",";
  Lines(Item.Notes);
  Out += "\r\n";
}

bool WriteContacts(const TLinkList& Items, EContactFormat Format,
                   const std::function<bool(std::string_view)>& Write) {
  std::string Out;
  Out.reserve(1 << 17);
  if (Format == EContactFormat::Csv) AppendCsvHeader(Out);
  TListNode* Cursor;
  Items.ResetCursor(Cursor);
  while (Items.MoveNext(Cursor)) {
    const auto& Item = *static_cast<const TAddressItem*>(Cursor);
    if (Format == EContactFormat::VCard) AppendVCard(Out, Item);
    else AppendCsvRecord(Out, Item);
    if (Out.size() >= (1 << 16)) {
      if (!Write(Out)) return false;
      Out.clear();
    }
  }
  return Out.empty() || Write(Out);
}

// =====================================================================
// Files

namespace {

std::string Extension(const std::string& Path) {
  size_t Slash = Path.rfind('/');
  size_t Dot = Path.rfind('.');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return "";
  return LowerText(std::string_view(Path).substr(Dot + 1));
}

}  // namespace

EContactFormat GuessContactFormat(const std::string& Path, std::string_view Text) {
  std::string Ext = Extension(Path);
  if (Ext == "vcf" || Ext == "vcard") return EContactFormat::VCard;
  if (Ext == "csv") return EContactFormat::Csv;
  Text = WithoutBom(Text);
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t' || Text.front() == '\r' || Text.front() == '\n'))
    Text.remove_prefix(1);
  return StartsWithText(Text, "BEGIN:VCARD") ? EContactFormat::VCard : EContactFormat::Csv;
}

std::string ReadContactsFile(const std::string& Path) {
  // Regular files only: a named pipe or a device would hang the reader.
  TFd File(OpenRegularForReading(Path));
  std::string Text;
  struct stat S;
  if (::fstat(File.Fd, &S) == 0) Text.reserve(size_t(S.st_size));
  char Buffer[65536];
  for (;;) {
    ssize_t N = ::read(File.Fd, Buffer, sizeof Buffer);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) throw EFileError("Cannot read file " + Path + ": " + SystemText(errno));
    if (N == 0) break;
    Text.append(Buffer, size_t(N));
  }
  return Text;
}

void ExportToFile(const TAddressBook& Book, EContactFormat Format, const std::string& Path) {
  if (!Book.FileName.empty() && SameFile(Book.FileName, Path))
    throw EFileError("Cannot create file " + Path + ": it is the address book itself");
  struct stat Old;
  if (::stat(Path.c_str(), &Old) == 0 && !S_ISREG(Old.st_mode)) {
    // A pipe or a device is written as it is; there is nothing to replace.
    TFd File(::open(Path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (File.Fd < 0 || !WriteContacts(*Book.Items, Format, [&](std::string_view Piece) {
          return WriteAll(File.Fd, Piece.data(), Piece.size());
        }) || ::close(File.Release()) != 0)
      throw EFileError("Cannot write file " + Path + ": " + SystemText(errno));
    return;
  }
  TFileReplacement File(Path, TFileReplacement::TOptions());
  WriteContacts(*Book.Items, Format, [&](std::string_view Piece) {
    File.Write(Piece.data(), Piece.size());
    return true;
  });
  File.Commit();
}

// =====================================================================
// Adding many entries

void AddAllInOrder(TMyLinkList& List, std::vector<std::unique_ptr<TAddressItem>>& Items) {
  std::vector<TAddressItem*> New;
  New.reserve(Items.size());
  for (auto& Item : Items) New.push_back(Item.release());
  Items.clear();
  List.AddAll(New);
}
