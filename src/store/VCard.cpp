#include "VCard.h"

#include <algorithm>

#include "Sha1.h"
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
  if (Length > 0 && In->Peek(Consumed)[Length - 1] == '\r') --Length;
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
    throw EImportError(Number, "the value of " + Upper + " is longer than " + MaxReadText + ", more than Tobrinel reads");
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
    static constexpr std::pair<std::string_view, unsigned> Known[] = {
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

// Properties an entry has no field for, kept in the notes under a label.
const std::pair<const char*, const char*> Noted[] = {
    {"EMAIL", "E-mail"}, {"URL", "Web"}, {"NICKNAME", "Nickname"}, {"BDAY", "Birthday"}, {"TITLE", "Job title"},
    {"ROLE", "Role"}, {"IMPP", "Chat"}, {"ANNIVERSARY", "Anniversary"}, {"CATEGORIES", "Categories"},
    {"LABEL", "Address label"}, {"GEO", "Location"}, {"TZ", "Time zone"}, {"GENDER", "Gender"},
    {"LANG", "Language"}, {"RELATED", "Related"}, {"FBURL", "Free/busy"}, {"CALURI", "Calendar"},
    {"CALADRURI", "Calendar requests"}, {"X-SOCIALPROFILE", "Social profile"}, {"X-ANNIVERSARY", "Anniversary"},
    {"X-ABDATE", "Date"}, {"X-ABRELATEDNAMES", "Related"}, {"X-ASSISTANT", "Assistant"}, {"X-MANAGER", "Manager"},
    {"X-SPOUSE", "Spouse"}, {"X-MAIDENNAME", "Maiden name"}, {"X-PHONETIC-FIRST-NAME", "Phonetic first name"},
    {"X-PHONETIC-LAST-NAME", "Phonetic last name"}, {"X-AIM", "Chat (AIM)"}, {"X-ICQ", "Chat (ICQ)"},
    {"X-JABBER", "Chat (Jabber)"}, {"X-MSN", "Chat (MSN)"}, {"X-YAHOO", "Chat (Yahoo)"},
    {"X-SKYPE", "Chat (Skype)"}, {"X-SKYPE-USERNAME", "Chat (Skype)"}, {"X-GOOGLE-TALK", "Chat (Google Talk)"},
    {"X-GADUGADU", "Chat (Gadu-Gadu)"}, {"X-QQ", "Chat (QQ)"}, {"X-TWITTER", "Twitter"}};

const char* NotedLabel(std::string_view Name) {
  for (auto [Property, Label] : Noted)
    if (Name == Property) return Label;
  return nullptr;
}

// What the card reader uses; the line of anything else may be passed over.
bool IsKept(std::string_view Name) {
  static const char* const Used[] = {"BEGIN", "END", "VERSION", "N", "FN", "ORG", "KIND", "X-ABSHOWAS", "TEL", "ADR",
                                     "NOTE", "AGENT", "X-ABLABEL", "X-TOBRINEL-EXTENSION", "X-TOBRINEL-TABPAGE"};
  for (const char* U : Used)
    if (Name == U) return true;
  return NotedLabel(Name) != nullptr;
}

bool IsPicture(std::string_view Name) { return Name == "PHOTO" || Name == "LOGO"; }

bool IsBinary(const TContentLine& P) {
  std::string_view Encoding = P.Param("ENCODING");
  return P.Name == "SOUND" || P.Name == "KEY" || SameText(Encoding, "B") || SameText(Encoding, "BASE64") ||
         P.HasType("BASE64") || StartsWithText(Trim(P.Value), "data:");
}

constexpr int MaxNesting = 8;  // cards inside cards (AGENT)

void ReadCards(TInput& Input, TImported& Into, int Nesting);

// One card being read.
class TCardReader {
public:
  TCardReader(int32_t AStartLine, TImported& AInto, int ANesting)
      : StartLine(AStartLine), Into(AInto), Nesting(ANesting) {}

  void Take(const TContentLine& P) {
    if (!P.Group.empty()) {
      // A grouped property waits for its group's label, which may follow it.
      if (P.Name == "X-ABLABEL") return Label(P);
      if (const std::string* Known = LabelOf(P.Group)) return Use(P, *Known);
      if (IsKept(P.Name) && P.Name != "VERSION") return Defer(P);
    }
    Use(P, {});
  }

  // The card's entry, with its nested cards after it, into Into.
  void Finish() {
    for (TDeferred& D : Deferred) UseDeferred(D, {});
    Deferred.clear();
    TAddressItem& Item = *Entry.Item;
    bool OrganisationIsName = false;
    if (!Family.empty() || !Given.empty()) {
      Entry.Names(Family, Given);
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
    Entry.Finish(StartLine, Into);
    for (auto& Inner : Nested) Into.Items.push_back(std::move(Inner));
  }

  // The entries of the cards nested in this one, from Into at Before on:
  // they go after this card's own entry, which names them.
  void TakeNested(size_t Before) {
    for (size_t I = Before; I < Into.Items.size(); ++I) {
      const TAddressItem& Agent = *Into.Items[I];
      Entry.Note("Agent", JoinWords({Agent.FirstName.str(), Agent.Surname.str()}));
      Nested.push_back(std::move(Into.Items[I]));
    }
    Into.Items.resize(Before);
    Entry.CheckLines(StartLine);
  }

  int32_t StartLine;
  int Version = 21;  // until a VERSION says otherwise: abook, for one, writes none
  int Depth = 0;     // inside something other than a card that begins inside this one

private:
  struct TDeferred {
    std::string Line;
    int32_t Number;
    std::string Group;
  };

  const std::string* LabelOf(std::string_view Group) const {
    for (auto& [Name, Text] : Labels)
      if (SameText(Name, Group)) return &Text;
    return nullptr;
  }

  void Label(const TContentLine& P) {
    std::string Scratch;
    std::string Text(LabelText(UnescapeVCardText(DecodeVCardValue(P, Scratch))));
    if (LabelOf(P.Group)) return;
    Labels.emplace_back(std::string(P.Group), Text);
    for (size_t I = 0; I < Deferred.size();) {
      if (!SameText(Deferred[I].Group, P.Group)) {
        ++I;
        continue;
      }
      UseDeferred(Deferred[I], Text);
      DeferredBytes -= Deferred[I].Line.size();
      Deferred.erase(Deferred.begin() + ptrdiff_t(I));
    }
  }

  void Defer(const TContentLine& P) {
    // Parameters are written back as they came, so the line reads the same.
    std::string Head = P.Name;
    for (const TVCardParam& Param : P.Params) {
      Head += ';';
      if (!Param.Name.empty()) Head.append(Param.Name).append("=\"").append(Param.Value) += '"';
      else Head += Param.Value;
    }
    DeferredBytes += Head.size() + P.Value.size() + 1;
    if (DeferredBytes > MaxReadLength)
      throw EImportError(StartLine, std::string("the grouped properties of the card that begins here take more than ") +
                                        MaxReadText + ", more than Tobrinel reads");
    Deferred.push_back({Head + ":" + std::string(P.Value), P.Number, std::string(P.Group)});
  }

  void UseDeferred(const TDeferred& D, std::string_view GroupLabel) {
    TContentLine P;
    ParseContentLine(D.Line, D.Number, P);
    Use(P, GroupLabel);
  }

  void Use(const TContentLine& P, std::string_view GroupLabel) {
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
      Telephone(Types, UnescapeVCardText(Decoded()), Version == 40 || SameText(P.Param("VALUE"), "uri"), GroupLabel);
    } else if (Name == "ADR") {
      Address(Types, Decoded(), GroupLabel);
    } else if (Name == "NOTE") {
      Entry.HaveNotes = true;
      AddLines(Entry.NoteLines, UnescapeVCardText(Decoded()));
    } else if (Name == "X-TOBRINEL-EXTENSION") {
      Entry.Put(Entry.Item->BusExtn, UnescapeVCardText(Decoded()));
    } else if (Name == "X-TOBRINEL-TABPAGE") {
      std::string_view V = Trim(P.Value);
      if (V.size() == 1 && V[0] >= '0' && V[0] <= '2') Entry.Item->TabPage = uint8_t(V[0] - '0');
    } else if (Name == "AGENT") {
      Agent(P, UnescapeVCardText(Decoded()));
    } else if (const char* Label = NotedLabel(Name)) {
      std::string Value = Name == "CATEGORIES" ? ComponentText(Decoded(), 30, ", ") : UnescapeVCardText(Decoded());
      std::string Kind = GroupLabel.empty() ? TypeLabel(Types) : " (" + std::string(GroupLabel) + ")";
      if (Kind.empty() && Name == "X-SOCIALPROFILE" && !P.Param("TYPE").empty())
        Kind = " (" + std::string(P.Param("TYPE")) + ")";
      if (!Trim(Value).empty()) Entry.Note(Label + Kind, Trim(Value));
    } else if (IsPicture(Name)) {
      if (!Trim(P.Value).empty()) ++Into.PhotosSkipped;
    } else if (IsBinary(P)) {
      if (!Trim(P.Value).empty()) ++Into.BinarySkipped;
    }
    // Anything else (identifiers, other programs' bookkeeping) is not kept.
    Entry.CheckLines(StartLine);
  }

  void Telephone(unsigned Types, std::string Value, bool Uri, std::string_view GroupLabel) {
    if (Uri && StartsWithText(Value, "tel:")) Value.erase(0, 4);
    if (Value.empty()) return;
    TAddressItem& Item = *Entry.Item;
    bool AtHome = Types & Home, AtWork = Types & Work;
    ENumberKind Kind = (Types & Fax)     ? (AtHome && !AtWork ? ENumberKind::HomeFax : ENumberKind::Fax)
                       : (Types & Cell)  ? ENumberKind::Mobile
                       : (Types & Pager) ? ENumberKind::Pager
                       : AtWork          ? ENumberKind::Work
                                         : ENumberKind::Home;
    // A label chooses the field when it names one, and keeps a number that
    // nothing else places out of the home number.
    ENumberKind Labelled = NumberKindOfLabel(GroupLabel);
    if (Labelled != ENumberKind::Other) Kind = Labelled;
    else if (!GroupLabel.empty() && !(Types & (Home | Work | Fax | Cell | Pager))) Kind = ENumberKind::Other;
    std::string Label;
    if (!GroupLabel.empty()) Label = "Telephone (" + std::string(GroupLabel) + ")";
    else if (Kind == ENumberKind::Home && !AtHome) Label = "Telephone";
    // A telephone URI may carry the extension: tel:+44-20-7946-0000;ext=123
    size_t Ext = Uri ? LowerText(Value).find(";ext=") : std::string::npos;
    if (Kind == ENumberKind::Work && Item.BusTelephone.empty() && Ext != std::string::npos && Item.BusExtn.empty()) {
      Entry.Put(Item.BusExtn, Value.substr(Ext + 5));
      Value.resize(Ext);
    }
    Entry.PutNumberOfKind(Kind, Value, Label);
  }

  void Address(unsigned Types, std::string_view Decoded, std::string_view GroupLabel) {
    auto Parts = VCardComponents(Decoded, 7);
    auto Text = [&](int I) { return ComponentText(Parts[size_t(I)], Version, " "); };
    // Street, then the flat or suite, then the post office box, as on a letter.
    std::vector<std::string> Lines =
        AddressLines(ComponentText(Parts[2], Version, "\n"), {Text(1), Text(0), Text(3), Text(4), Text(5), Text(6)});
    bool AtWork = (Types & Work) && !(Types & Home);
    if (!GroupLabel.empty()) {
      ENumberKind Kind = NumberKindOfLabel(GroupLabel);
      if (Kind == ENumberKind::Home || Kind == ENumberKind::Work) AtWork = Kind == ENumberKind::Work;
      else if (!(Types & (Home | Work)))
        return Entry.Note("Address (" + std::string(GroupLabel) + ")", JoinLines(Lines, ", "));
    }
    bool& Have = AtWork ? Entry.HaveBusAddress : Entry.HaveHomeAddress;
    if (!Have) {
      Have = true;
      (AtWork ? Entry.BusAddress : Entry.HomeAddress) = std::move(Lines);
    } else {
      std::string Joined = JoinLines(Lines, ", ");
      if (!Joined.empty()) Entry.Note("Address" + TypeLabel(Types), Joined);
    }
  }

  // 3.0 writes the agent's card as the value; otherwise it is a name or a link.
  void Agent(const TContentLine& P, const std::string& Value) {
    if (!StartsWithText(Trim(Value), "BEGIN:VCARD")) {
      if (!Trim(Value).empty()) Entry.Note("Agent", Trim(Value));
      return;
    }
    if (Nesting + 1 >= MaxNesting) throw EImportError(P.Number, "cards are nested more than 8 deep");
    size_t Before = Into.Items.size();
    try {
      TInput Card(Value);
      ReadCards(Card, Into, Nesting + 1);
    } catch (const EImportError& E) {
      throw EImportError(P.Number, "the card of the AGENT property, its line " + std::to_string(E.Line) + ": " +
                                       E.Problem);
    }
    TakeNested(Before);
  }

  TImported& Into;
  int Nesting;
  TEntryBuilder Entry;
  bool VersionSeen = false;
  bool Company = false;
  std::string Family, Given, Prefix, Suffix, FullName, Organisation;
  std::vector<std::pair<std::string, std::string>> Labels;  // group, label
  std::vector<TDeferred> Deferred;
  size_t DeferredBytes = 0;
  std::vector<std::unique_ptr<TAddressItem>> Nested;
};

void ReadCards(TInput& Input, TImported& Into, int Nesting) {
  TContentLineReader Lines(Input);
  Lines.MayPassOver = [](std::string_view Name) { return !IsKept(Name); };
  // The card being read last; a 2.1 AGENT nests whole cards in a card.
  std::vector<std::unique_ptr<TCardReader>> Cards;
  std::vector<size_t> EntriesBefore;
  TContentLine Property;
  std::string_view Line;
  int32_t Number;
  while (Lines.NextRaw(Line, Number)) {
    if (Cards.empty() && ValueColon(Line) == std::string_view::npos)
      throw EImportError(Number, "a card must begin with BEGIN:VCARD");
    ParseContentLine(Line, Number, Property);
    bool Begin = Property.Name == "BEGIN", End = Property.Name == "END";
    bool OfCard = SameText(Trim(Property.Value), "VCARD");
    if (Cards.empty()) {
      if (End && OfCard) throw EImportError(Number, "END:VCARD without a BEGIN:VCARD before it");
      if (!Begin || !OfCard) throw EImportError(Number, "a card must begin with BEGIN:VCARD");
    }
    TCardReader* Card = Cards.empty() ? nullptr : Cards.back().get();
    if (Card && Card->Depth > 0) {
      if (Begin) ++Card->Depth;
      if (End) --Card->Depth;
    } else if (Begin && OfCard) {
      if (Cards.size() + size_t(Nesting) >= size_t(MaxNesting))
        throw EImportError(Number, "cards are nested more than 8 deep");
      Cards.push_back(std::make_unique<TCardReader>(Number, Into, Nesting + int(Cards.size())));
      EntriesBefore.push_back(Into.Items.size());
    } else if (Begin) {
      ++Card->Depth;
    } else if (End) {
      if (!OfCard) throw EImportError(Number, "END:" + std::string(Trim(Property.Value)) + " inside a card");
      Card->Finish();
      Cards.pop_back();
      size_t Before = EntriesBefore.back();
      EntriesBefore.pop_back();
      if (!Cards.empty()) Cards.back()->TakeNested(Before);
    } else if (Lines.Cut) {
      if (IsPicture(Property.Name)) ++Into.PhotosSkipped;
      else if (IsBinary(Property)) ++Into.BinarySkipped;
    } else {
      Card->Take(Property);
    }
    Lines.KeepFoldingSpace = !Cards.empty() && Cards.back()->Version == 21;
  }
  if (!Cards.empty()) throw EImportError(Cards.back()->StartLine, "the card that begins here has no END:VCARD");
}

}  // namespace

TImported ReadVCards(TInput& Input) {
  TImported Result;
  ReadCards(Input, Result, 0);
  return Result;
}

TImported ReadVCards(std::string_view Text) {
  TInput Input(Text);
  return ReadVCards(Input);
}

// =====================================================================
// Writing cards

namespace {

void AppendEscaped(std::string& Out, std::string_view Text) {
  // Plain runs are copied whole: most values have nothing to escape.
  size_t Run = 0;
  for (size_t I = 0; I < Text.size(); ++I) {
    const char* Escape;
    size_t Width = 1;
    switch (Text[I]) {
      case '\\': Escape = "\\\\"; break;
      case ',': Escape = "\\,"; break;
      case ';': Escape = "\\;"; break;
      case '\n': Escape = "\\n"; break;
      case '\r':  // a line break too, alone or as CRLF
        Escape = "\\n";
        if (I + 1 < Text.size() && Text[I + 1] == '\n') Width = 2;
        break;
      default: continue;
    }
    Out.append(Text.data() + Run, I - Run);
    Out.append(Escape, 2);
    Run = I + Width;
    I = Run - 1;
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

std::string VCardUid(const TAddressItem& Item, int32_t Occurrence) {
  // Our own namespace for the names of entries.
  static const char Namespace[] = "\x3f\x0d\x5b\x6e\x8c\x2a\x4e\x71\x9a\x4b\x6d\x1c\x2e\x7f\x8a\x90";
  // The name: every field but the page last shown, which changes by looking
  // at the entry; each field ends in 0x1F, each line of a list begins with 0x1E.
  thread_local std::string Name;  // kept for its room: one export names every entry
  Name.assign(Namespace, 16);
  for (const std::string* Field : {&Item.Surname.str(), &Item.FirstName.str(), &Item.HomeTelephone.str(),
                                   &Item.BusTelephone.str(), &Item.BusExtn.str(), &Item.BusFacsimile.str(),
                                   &Item.BusMobile.str()})
    Name.append(*Field) += '\x1f';
  for (const TLineList* List : {&Item.HomeAddress, &Item.BusAddress, &Item.Notes}) {
    Name += std::to_string(List->Count());
    List->ForEach([&](std::string_view Line) { (Name += '\x1e').append(Line); });
    Name += '\x1f';
  }
  if (Occurrence > 0) Name += std::to_string(Occurrence);
  TSha1 Hash;
  Hash.Add(Name);
  return UuidFromSha1(Hash.Digest());
}

void AppendVCard(std::string& Out, const TAddressItem& Item, std::string_view Uid, TExported* Counts) {
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
  // A phone number is no text: it is written as it is, without escapes,
  // which other programs keep and a modem cannot dial.
  auto Number = [&](const char* Head, const std::string& Value) {
    int32_t Dropped = 0;
    std::string Clean = PhoneNumberText(Value, Dropped);
    if (Dropped > 0 && Counts) {
      Counts->PhoneCharactersDropped += Dropped;
      ++Counts->NumbersChanged;
    }
    if (Clean.empty()) return;
    Line = Head + Clean;
    Emit();
  };
  Number("TEL;TYPE=HOME,VOICE:", Item.HomeTelephone);
  Number("TEL;TYPE=WORK,VOICE:", Item.BusTelephone);
  Text("X-TOBRINEL-EXTENSION:", Item.BusExtn);
  Number("TEL;TYPE=WORK,FAX:", Item.BusFacsimile);
  Number("TEL;TYPE=CELL:", Item.BusMobile);
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
