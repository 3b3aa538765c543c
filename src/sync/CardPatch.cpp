#include "CardPatch.h"

#include <algorithm>
#include <ctime>

#include "SyncFields.h"
#include "VCard.h"

using namespace ContactFields;

namespace {

constexpr size_t npos = size_t(-1);

struct TLine {
  size_t Begin, End;  // bytes of the whole text, continuation lines and line end included
  int32_t Number;     // the physical line it begins on, from 1
  std::string Name;   // upper case
  std::string Group;  // "item1" of "item1.TEL", lower case
  std::string Unfolded;
  bool Nested = false;  // inside a block or a card nested in this one
};

// A unit is what goes or stays together: a property with the lines of its
// group (item1.TEL and item1.X-ABLabel), or with a block or card nested in it.
struct TUnit {
  std::vector<size_t> Lines;
  size_t Main = npos;  // the property's own line, not its label
  std::string Name;
  unsigned Fields = 0;               // bits of the ESyncFields it filled
  std::vector<std::string> Derived;  // the lines of the notes it gave
  bool Drop = false, Rewrite = false;
  std::string Value;  // as it is to be written, when rewritten
};

std::string Rev(std::string_view Given) {
  if (!Given.empty()) return std::string(Given);
  std::time_t Now = std::time(nullptr);
  std::tm Utc{};
  gmtime_r(&Now, &Utc);
  char Text[32];
  std::strftime(Text, sizeof Text, "%Y%m%dT%H%M%SZ", &Utc);
  return Text;
}

std::string Escaped(std::string_view Text) {
  std::string Out;
  AppendVCardEscaped(Out, Text);
  return Out;
}

// The same, but a bare CR stays as it is: a UID is an identifier, not text.
std::string EscapedUid(std::string_view Uid) {
  std::string Out;
  for (char C : Uid) {
    if (C == '\\' || C == ',' || C == ';') Out += '\\';
    if (C == '\n') Out += "\\n";
    else Out += C;
  }
  return Out;
}

// The name and parameters of a line without those of a transfer encoding or
// character set, which a value written anew as UTF-8 no longer has.
std::string CleanHead(std::string_view Head) {
  std::vector<std::string_view> Parts;
  size_t Start = 0;
  bool Quoted = false, Dropped = false;
  for (size_t I = 0; I <= Head.size(); ++I) {
    if (I < Head.size() && Head[I] == '"') Quoted = !Quoted;
    if (I < Head.size() && (Quoted || Head[I] != ';')) continue;
    std::string_view Part = Head.substr(Start, I - Start);
    Start = I + 1;
    std::string_view Name = Trim(Part.substr(0, Part.find('=')));
    bool Encoding =
        !Parts.empty() && (SameText(Name, "ENCODING") || SameText(Name, "CHARSET") ||
                           SameText(Name, "QUOTED-PRINTABLE") || SameText(Name, "BASE64") || SameText(Name, "8BIT"));
    if (Encoding) Dropped = true;
    else Parts.push_back(Part);
  }
  if (!Dropped) return std::string(Head);
  std::string Out;
  for (std::string_view Part : Parts) (Out.empty() ? Out : Out += ';') += Part;
  return Out;
}

std::string LowerGroupName(std::string_view Group) { return LowerText(Group); }

// The components of an address as the reader makes lines of them: the
// street's lines, then the extended address, the post office box, locality,
// region, code and country, each that is given.
struct TAddressSlots {
  std::vector<std::string> Parts;             // the seven components as written
  std::vector<std::pair<int, size_t>> Slots;  // component, lines it gave
};

TAddressSlots AddressSlots(const TContentLine& Line) {
  TAddressSlots A;
  std::string Scratch;
  std::string_view Value = DecodeVCardValue(Line, Scratch);
  for (std::string_view P : VCardComponents(Value, 7)) A.Parts.emplace_back(P);
  A.Parts.resize(7);
  bool Others = false;
  for (int C : {1, 0, 3, 4, 5, 6}) Others |= !Trim(UnescapeVCardText(A.Parts[size_t(C)])).empty();
  for (int C : {2, 1, 0, 3, 4, 5, 6}) {
    std::string Text = UnescapeVCardText(A.Parts[size_t(C)]);
    std::vector<std::string> Lines;
    if (C == 2 ? (!Text.empty() || !Others) : !Text.empty()) AddLines(Lines, Text);
    if (!Lines.empty()) A.Slots.emplace_back(C, Lines.size());
  }
  return A;
}

// An address value with Lines in the components they came from when there
// are as many as before; else all of them in the street.
std::string AddressValue(const TContentLine* Old, const std::vector<std::string>& Lines) {
  std::vector<std::string> Parts(7);
  size_t Total = 0;
  TAddressSlots A;
  if (Old) {
    A = AddressSlots(*Old);
    for (auto [C, N] : A.Slots) Total += N;
  }
  std::string Out;
  if (Old && Total == Lines.size() && Total > 0) {
    Parts = A.Parts;
    size_t Next = 0;
    for (auto [C, N] : A.Slots) {
      std::string Text;
      for (size_t I = 0; I < N; ++I) (I ? Text += '\n' : Text) += Lines[Next++];
      Parts[size_t(C)] = Escaped(Text);
    }
  } else {
    std::string Street;
    for (size_t I = 0; I < Lines.size(); ++I) (I ? Street += '\n' : Street) += Lines[I];
    Parts[2] = Escaped(Street);
  }
  for (size_t I = 0; I < Parts.size(); ++I) (I ? Out += ';' : Out) += Parts[I];
  return Out;
}

std::vector<std::string> SplitAt(std::string_view Text, std::string_view Separator) {
  std::vector<std::string> Out;
  for (size_t Start = 0;;) {
    size_t At = Text.find(Separator, Start);
    Out.emplace_back(Text.substr(Start, At == std::string_view::npos ? At : At - Start));
    if (At == std::string_view::npos) return Out;
    Start = At + Separator.size();
  }
}

// "E-mail (work): max@example.com" as its label and value.
bool SplitNoteLine(std::string_view Line, std::string_view& Label, std::string_view& Value) {
  size_t Colon = Line.find(": ");
  if (Colon == std::string_view::npos || Colon == 0) return false;
  Label = Line.substr(0, Colon);
  Value = Line.substr(Colon + 2);
  return true;
}

// A property made from a line of the notes in a form the reader writes.
struct TNewProperty {
  std::string Head;   // "TEL;TYPE=CELL", or the name alone when grouped
  std::string Value;  // as written
  std::string Label;  // an own label: the property goes into a group with it
};

std::string NotedValue(std::string_view Property, std::string_view Value) {
  if (Property != "CATEGORIES") return Escaped(Value);
  std::string Out;
  for (const std::string& Item : SplitAt(Value, ", ")) (Out.empty() ? Out : Out += ',') += Escaped(Item);
  return Out;
}

// The property a line of the notes stands for, in the forms the reader
// writes them; false for any other line, which is text of the notes.
bool PropertyOfLine(std::string_view Line, TNewProperty& Out) {
  std::string_view Label, Value;
  if (!SplitNoteLine(Line, Label, Value) || Trim(Value).empty()) return false;
  // clang-format off
  static const std::pair<const char*, const char*> Phones[] = {
      {"Telephone (home)", "TEL;TYPE=HOME,VOICE"}, {"Telephone (work)", "TEL;TYPE=WORK,VOICE"},
      {"Mobile", "TEL;TYPE=CELL"},                 {"Fax", "TEL;TYPE=WORK,FAX"},
      {"Fax (home)", "TEL;TYPE=HOME,FAX"},         {"Pager", "TEL;TYPE=PAGER"},
      {"Telephone", "TEL;TYPE=VOICE"}};
  // clang-format on
  for (auto [Form, Head] : Phones)
    if (Label == Form) {
      int32_t Dropped = 0;
      Out = {Head, PhoneNumberText(Value, Dropped), {}};
      return true;
    }
  // "Base (sub)": the sub-label a type or a label of its own.
  std::string_view Base = Label, Sub;
  if (Label.size() > 3 && Label.back() == ')') {
    size_t Open = Label.rfind(" (");
    if (Open != std::string_view::npos) {
      Base = Label.substr(0, Open);
      Sub = Label.substr(Open + 2, Label.size() - Open - 3);
    }
  }
  auto Typed = [&](std::string Name, std::string Written) {
    Out.Value = std::move(Written);
    if (Sub.empty()) Out.Head = Name;
    else if (Sub == "home" || Sub == "work" || Name == "X-SOCIALPROFILE")  // as the reader writes types
      Out.Head = Name + ";TYPE=" + std::string(Sub);
    else Out.Head = Name, Out.Label = Sub;
    return true;
  };
  if (const char* Property = VCardPropertyOfLabel(Label)) {  // "Chat (AIM)" whole
    Sub = {};
    return Typed(Property, NotedValue(Property, Value));
  }
  if (Base == "Telephone" && !Sub.empty()) {
    int32_t Dropped = 0;
    Out = {"TEL", PhoneNumberText(Value, Dropped), std::string(Sub)};
    return true;
  }
  if (Base == "Address") return Typed("ADR", AddressValue(nullptr, {std::string(Value)}));
  if (const char* Property = VCardPropertyOfLabel(Base)) return Typed(Property, NotedValue(Property, Value));
  return false;
}

bool Take(std::vector<std::string>& From, const std::string& Line) {
  auto At = std::find(From.begin(), From.end(), Line);
  if (At == From.end()) return false;
  From.erase(At);
  return true;
}

class TPatcher {
public:
  TPatcher(std::string_view ACard, const TAddressItem& AEntry, const TAddressItem* ABase, std::string_view ANewUid,
           std::string_view ARevision)
      : Card(ACard), Entry(AEntry), Base(ABase), NewUid(ANewUid), Revision(ARevision) {}

  bool Run(std::string& Out) {
    TCardTrace Traced;
    TImported Read = ReadVCards(Card, Traced);
    if (Read.Items.empty() || !Split(Traced.BeginLine)) return false;
    Old = std::move(Read.Items.front());
    Trace(Traced.Sources);
    Fields();
    Names();
    Notes();
    if (!NewUid.empty()) Uid();
    Emit(Out);
    return true;
  }

private:
  // ---- the card's lines and units

  // The card that begins on physical line BeginLine: the one the entry came
  // from. What comes before it (cards the reader passed over) stays as it is.
  bool Split(int32_t BeginLine) {
    std::string_view Body = WithoutBom(Card);
    size_t Offset = Card.size() - Body.size();
    std::vector<size_t> Starts{0};
    for (size_t I = 0; I < Body.size(); ++I)
      if (Body[I] == '\n') Starts.push_back(I + 1);
    if (BeginLine < 1 || size_t(BeginLine) > Starts.size()) return false;
    const int32_t Skipped = BeginLine - 1;
    TContentLineReader Reader(Body.substr(Starts[size_t(Skipped)]));
    TContentLine Parsed;
    std::string_view Raw;
    int32_t Number;
    TCardStructure Structure;
    std::vector<std::pair<std::string, size_t>> ByGroup;
    size_t Nest = npos;
    while (Reader.NextRaw(Raw, Number)) {
      Number += Skipped;
      ParseContentLine(Raw, Number, Parsed);
      TCardStructure::EStep Step = Structure.Step(Parsed);
      size_t I = Lines.size();
      Lines.push_back({Offset + Starts[size_t(Number - 1)], 0, Number, Parsed.Name, LowerGroupName(Parsed.Group),
                       std::string(Raw)});
      if (I > 0) Lines[I - 1].End = Lines[I].Begin;
      if (First == npos) {
        First = I;
        Reader.KeepFoldingSpace = true;  // 2.1 until a VERSION says otherwise
        continue;
      }
      if (Nest != npos) {  // a block or card inside this one goes whole with the line that began it
        Units[Nest].Lines.push_back(I);
        Lines[I].Nested = true;
        if (!Structure.Nested()) Nest = npos;
        continue;
      }
      if (Step == TCardStructure::EndCard) {
        Last = I;
        Lines[I].End = Offset + (size_t(Number) < Starts.size() ? Starts[size_t(Number)] : Body.size());
        break;
      }
      size_t U = Units.size();
      if (!Lines[I].Group.empty()) {
        // One unit a property of the group; its label goes with the group's first.
        bool Label = Parsed.Name == "X-ABLABEL";
        auto Found = std::find_if(ByGroup.begin(), ByGroup.end(), [&](auto& G) { return G.first == Lines[I].Group; });
        if (Found == ByGroup.end()) ByGroup.emplace_back(Lines[I].Group, U);
        else if (Label || Units[Found->second].Main == npos) U = Found->second;
      }
      if (U == Units.size()) Units.emplace_back();
      TUnit& Unit = Units[U];
      Unit.Lines.push_back(I);
      if (Unit.Main == npos && Parsed.Name != "X-ABLABEL") {
        Unit.Main = I;
        Unit.Name = Parsed.Name;
      }
      // The first VERSION decides, as for the reader: anything but 2.1 and 4.0 is read as 3.0.
      if (Parsed.Name == "VERSION" && VersionAt == npos) {
        const std::string_view V = Trim(Parsed.Value);
        Version = V == "2.1" || V == "4.0" ? std::string(V) : "3.0";
        VersionAt = I;
      }
      if (Structure.Nested()) Nest = U;
      Reader.KeepFoldingSpace = Version.empty() || Version == "2.1";  // as the reader unfolds
    }
    if (Last == npos) return false;
    UnitOf.assign(Lines.size(), npos);
    for (size_t U = 0; U < Units.size(); ++U)
      for (size_t L : Units[U].Lines) UnitOf[L] = U;
    End = Card.substr(Lines[Last].Begin, Lines[Last].End - Lines[Last].Begin).ends_with("\r\n") ? "\r\n" : "\n";
    return true;
  }

  std::string_view Raw(size_t Line) const {
    return Card.substr(Lines[Line].Begin, Lines[Line].End - Lines[Line].Begin);
  }

  TContentLine Parsed(size_t Line) const {
    TContentLine P;
    ParseContentLine(Lines[Line].Unfolded, Lines[Line].Number, P);
    return P;
  }

  // A telephone URI, whose "tel:" the reader takes off as it does: a line
  // before the VERSION is read by the rules of 2.1, where only VALUE=uri says so.
  bool TelUri(const TContentLine& P, size_t Line) const {
    const bool Four = Version == "4.0" && VersionAt != npos && Line > VersionAt;
    return (Four || SameText(P.Param("VALUE"), "uri")) && StartsWithText(P.Value, "tel:");
  }

  // The last property of that name.
  TUnit* Named(std::string_view Name) {
    for (auto U = Units.rbegin(); U != Units.rend(); ++U)
      if (U->Name == Name) return &*U;
    return nullptr;
  }

  // The name, full name or organisation the reader's value comes from: the
  // last it takes. It holds a grouped property back until its group's label,
  // and one whose group has none until the end of the card.
  TUnit* Taken(std::string_view Name) {
    TUnit* Found = nullptr;
    size_t FoundAt = 0;
    for (TUnit& U : Units) {
      if (U.Name != Name || U.Main == npos) continue;
      size_t At = TakenAt(U.Main);
      if (!Found || At >= FoundAt) Found = &U, FoundAt = At;
    }
    return Found;
  }

  size_t TakenAt(size_t Line) const {
    const std::string& Group = Lines[Line].Group;
    if (Group.empty()) return Line;
    for (size_t I = First + 1; I < Last; ++I)
      if (!Lines[I].Nested && Lines[I].Name == "X-ABLABEL" && Lines[I].Group == Group) return std::max(I, Line);
    return Last;
  }

  // ---- what each line went into

  int FieldOf(const TAddressItem& I, const void* Field) const {
    // clang-format off
    const void* Known[] = {&I.Surname,      &I.FirstName, &I.HomeTelephone, &I.BusTelephone,
                           &I.BusExtn,      &I.BusFacsimile, &I.BusMobile,  &I.HomeAddress,
                           &I.BusAddress,   &I.Notes,     &I.TabPage};
    // clang-format on
    for (int F = 0; F < SyncFieldCount; ++F)
      if (Known[F] == Field) return F;
    return -1;
  }

  void Trace(const std::vector<TValueSource>& Sources) {
    std::vector<size_t> LineOf;  // by number
    for (size_t I = 0; I <= Last; ++I) {
      if (LineOf.size() <= size_t(Lines[I].Number)) LineOf.resize(size_t(Lines[I].Number) + 1, npos);
      LineOf[size_t(Lines[I].Number)] = I;
    }
    for (const TValueSource& S : Sources) {
      size_t L = S.Line >= 0 && size_t(S.Line) < LineOf.size() ? LineOf[size_t(S.Line)] : npos;
      size_t U = L == npos ? npos : UnitOf[L];
      if (U == npos) continue;
      if (!S.Field) {
        Units[U].Derived.push_back(S.NoteLine);
        DerivedOrder.emplace_back(S.NoteLine, U);
        continue;
      }
      int F = FieldOf(*Old, S.Field);
      if (F >= sfHomeTelephone && F != sfNotes) {
        Units[U].Fields |= 1u << F;
        FieldUnit[F] = U;
      }
    }
  }

  // ---- the fields

  void Fields() {
    for (int F : {sfHomeTelephone, sfBusTelephone, sfBusExtn, sfBusFacsimile, sfBusMobile, sfHomeAddress, sfBusAddress,
                  sfTabPage}) {
      if (SyncFields::SameField(*Old, Entry, F)) continue;
      size_t U = FieldUnit[F];
      if (U == npos) {
        AddFieldLine(F);
        continue;
      }
      TUnit& Unit = Units[U];
      bool Others = false;  // a telephone URI holds the extension too
      for (int G = 0; G < SyncFieldCount; ++G)
        if (G != F && (Unit.Fields >> G & 1) && !SyncFields::FieldEmpty(Entry, G)) Others = true;
      if (SyncFields::FieldEmpty(Entry, F) && !Others) Unit.Drop = true;
      else Rewrite(Unit, FieldValue(Unit));
      // An extension that cannot stand in the telephone URI goes in a line of its own.
      if (F == sfBusExtn && Unit.Name == "TEL" && !Entry.BusExtn.empty() && !ExtensionFits()) AddFieldLine(F);
    }
  }

  bool ExtensionFits() const {
    int32_t Dropped = 0;
    return !Entry.BusExtn.empty() && PhoneNumberText(Entry.BusExtn.str(), Dropped) == Entry.BusExtn.str() &&
           Entry.BusExtn.str().find_first_of(";:,") == std::string::npos;
  }

  void Rewrite(TUnit& Unit, std::string Value) {
    Unit.Rewrite = true;
    Unit.Value = std::move(Value);
  }

  std::string FieldValue(const TUnit& Unit) const {
    TContentLine P = Parsed(Unit.Main);
    int32_t Dropped = 0;
    if (Unit.Name == "TEL") {
      const TFixedText<NameCapacity>* Numbers[] = {&Entry.HomeTelephone, &Entry.BusTelephone, nullptr,
                                                   &Entry.BusFacsimile, &Entry.BusMobile};
      std::string Number;
      for (int F = sfHomeTelephone; F <= sfBusMobile; ++F)
        if ((Unit.Fields >> F & 1) && Numbers[F - sfHomeTelephone]) Number = Numbers[F - sfHomeTelephone]->str();
      Number = PhoneNumberText(Number, Dropped);
      if (!TelUri(P, Unit.Main)) return Number;
      std::string Uri = "tel:" + Number;
      if ((Unit.Fields >> sfBusExtn & 1) && ExtensionFits()) Uri.append(";ext=").append(Entry.BusExtn.str());
      return Uri;
    }
    if (Unit.Name == "ADR")
      return AddressValue(&P, ((Unit.Fields >> sfBusAddress) & 1 ? Entry.BusAddress : Entry.HomeAddress).Lines());
    if (Unit.Name == "X-TOBRINEL-TABPAGE") return std::to_string(Entry.TabPage);
    return Escaped(Entry.BusExtn.str());
  }

  // A field filled here that no property of the card held: the writer's line
  // for it, after the last property of its kind.
  void AddFieldLine(int F) {
    TAddressItem Only;
    SyncFields::CopyField(Entry, Only, F);
    if (F == sfBusExtn && !Entry.BusTelephone.empty()) Only.BusTelephone = "1";
    std::string Written;
    AppendVCard(Written, Only);
    TContentLineReader Reader(Written);
    std::string_view Raw;
    int32_t Number;
    // clang-format off
    const char* Wanted = F == sfBusExtn ? "X-TOBRINEL-EXTENSION" : F == sfTabPage ? "X-TOBRINEL-TABPAGE"
                         : F >= sfHomeAddress                 ? "ADR"
                                                              : "TEL";
    // clang-format on
    while (Reader.NextRaw(Raw, Number)) {
      TContentLine P;
      ParseContentLine(Raw, Number, P);
      if (P.Name == Wanted) Insert(Wanted, std::string(Raw) + std::string(End), true);
    }
  }

  // A new line after the last property of that name (one that fills a field
  // first, when asked), else at the end of the card.
  void Insert(std::string_view Name, std::string Line, bool ByField = false) {
    size_t After = npos;
    for (const TUnit& U : Units)
      if (U.Name == Name && (!ByField || U.Fields)) After = U.Lines.back();
    if (After == npos && ByField) return Insert(Name, std::move(Line));
    Inserts.emplace_back(After == npos ? Last - 1 : After, std::move(Line));
  }

  // ---- the names

  void Names() {
    bool Renamed = !SyncFields::SameField(*Old, Entry, sfSurname) || !SyncFields::SameField(*Old, Entry, sfFirstName);
    if (!Renamed) return;
    TUnit* N = Taken("N");
    if (N) {
      std::vector<std::string> Parts = NameParts(*N);
      Parts[0] = Escaped(Entry.Surname.str());
      if (!SyncFields::SameField(*Old, Entry, sfFirstName)) Parts[1] = Escaped(Entry.FirstName.str()), Parts[2] = "";
      SetName(*N, Parts);
      return;
    }
    TUnit* FN = Taken("FN");
    TUnit* Org = Taken("ORG");
    // A company known by its organisation: that is renamed, and a full name that is the same.
    if (Org && Entry.FirstName.empty() &&
        (!FN || Trim(UnescapeVCardText(Parsed(FN->Main).Value)).empty() ||
         Trim(UnescapeVCardText(Parsed(FN->Main).Value)) == Trim(UnescapeVCardText(Parsed(Org->Main).Value)))) {
      Rewrite(*Org, Escaped(Entry.Surname.str()));
      if (FN) Rewrite(*FN, Escaped(Entry.Surname.str()));
      return;
    }
    std::string Line = "N:" + Escaped(Entry.Surname) + ";" + Escaped(Entry.FirstName) + ";;;";
    Inserts.emplace_back(VersionLine(), Line + std::string(End));
    if (FN) Rewrite(*FN, Escaped(JoinWords({Entry.FirstName.string(), Entry.Surname.string()})));
  }

  size_t VersionLine() {
    TUnit* V = Named("VERSION");
    return V ? V->Lines.back() : First;
  }

  std::vector<std::string> NameParts(const TUnit& N) const {
    if (N.Rewrite) {
      std::vector<std::string> Parts;
      for (std::string_view P : VCardComponents(N.Value, 5)) Parts.emplace_back(P);
      return Parts;
    }
    TContentLine P = Parsed(N.Main);
    std::string Scratch;
    std::vector<std::string> Parts;
    // Still escaped, but a line break that quoted-printable gave is escaped too.
    for (std::string_view Part : VCardComponents(DecodeVCardValue(P, Scratch), 5)) {
      std::string Text;
      for (size_t I = 0; I < Part.size(); ++I) {
        if (Part[I] == '\r' && I + 1 < Part.size() && Part[I + 1] == '\n') continue;
        if (Part[I] == '\r' || Part[I] == '\n') Text += "\\n";
        else Text += Part[I];
      }
      Parts.push_back(std::move(Text));
    }
    return Parts;
  }

  // N written with these components, and FN with the name they make.
  void SetName(TUnit& N, std::vector<std::string> Parts) {
    std::string Value;
    for (size_t I = 0; I < Parts.size(); ++I) (I ? Value += ';' : Value) += Parts[I];
    Rewrite(N, Value);
    if (TUnit* FN = Taken("FN")) {
      std::vector<std::string> Words;
      for (size_t I : {3, 1, 2, 0, 4}) Words.push_back(UnescapeVCardText(Parts[I]));
      std::erase_if(Words, [](const std::string& W) { return Trim(W).empty(); });
      Rewrite(*FN, Escaped(JoinWords(Words)));
    }
  }

  // The lines the reader makes of the name: "Name prefix: Dr.", "Name suffix:
  // Jr.", "Organisation: Acme". True when Line is one of them and was applied.
  bool NameLine(std::string_view Line, bool Removed) {
    std::string_view Label, Value;
    if (!SplitNoteLine(Line, Label, Value)) return false;
    if (Label == "Organisation") {
      TUnit* Org = Taken("ORG");
      if (Removed) {
        if (Org) Org->Drop = true;
        return Org != nullptr;
      }
      if (Org && !Org->Drop && !OrgRemoved) return false;  // one organisation only
      if (Org) {
        Org->Drop = false;
        Rewrite(*Org, Escaped(Value));
      } else {
        Insert("ORG", "ORG:" + Escaped(Value) + std::string(End));
      }
      return true;
    }
    int Part = Label == "Name prefix" ? 3 : Label == "Name suffix" ? 4 : -1;
    if (Part < 0) return false;
    TUnit* N = Taken("N");
    if (!N) return false;
    std::vector<std::string> Parts = NameParts(*N);
    if (!Removed && !Trim(Parts[size_t(Part)]).empty() && !NameRemoved[Part - 3]) return false;
    Parts[size_t(Part)] = Removed ? std::string() : Escaped(Value);
    SetName(*N, Parts);
    return true;
  }

  // ---- the notes

  void Notes() {
    std::vector<std::string> OldLines = Old->Notes.Lines(), NewLines = Entry.Notes.Lines();
    std::vector<std::string> BaseLines = Base ? Base->Notes.Lines() : std::vector<std::string>();
    // The card's notes: its NOTE text, the lines of the name, then what the
    // other properties give, in that order.
    std::vector<std::string> Own;
    for (const TUnit& U : Units)
      if (U.Name == "NOTE") {
        TContentLine P = Parsed(U.Main);
        std::string Scratch;
        AddLines(Own, UnescapeVCardText(DecodeVCardValue(P, Scratch)));
      }
    std::vector<std::string> OfNames;
    size_t Derived = DerivedOrder.size();
    bool Laid = Own.size() + Derived <= OldLines.size() && std::equal(Own.begin(), Own.end(), OldLines.begin());
    for (size_t I = 0; Laid && I < Derived; ++I)
      Laid = OldLines[OldLines.size() - Derived + I] == DerivedOrder[I].first;
    if (Laid) OfNames.assign(OldLines.begin() + ptrdiff_t(Own.size()), OldLines.end() - ptrdiff_t(Derived));

    // What is still there; the rest was removed here.
    std::vector<std::string> Left = NewLines;
    std::vector<size_t> RemovedUnits;  // of each removed derived line, in order
    std::vector<std::string> RemovedLines, RemovedNames;
    for (auto& [Line, U] : DerivedOrder)
      if (!Take(Left, Line) && Base && Take(BaseLines, Line)) RemovedUnits.push_back(U), RemovedLines.push_back(Line);
    for (const std::string& Line : OfNames)
      if (!Take(Left, Line) && Base && Take(BaseLines, Line)) RemovedNames.push_back(Line);
    std::vector<std::string> OldOwn = Own, NewOwn;
    std::vector<bool> Paired(RemovedLines.size());
    for (const std::string& Line : Left) {
      if (Take(OldOwn, Line)) {
        NewOwn.push_back(Line);
        continue;
      }
      if (Pair(Line, RemovedLines, RemovedUnits, Paired)) continue;
      std::string_view Label, Value;
      if (SplitNoteLine(Line, Label, Value)) {
        auto Named = std::find_if(RemovedNames.begin(), RemovedNames.end(), [&](const std::string& R) {
          return R.compare(0, Label.size() + 2, std::string(Label) + ": ") == 0;
        });
        if (Named != RemovedNames.end()) {  // a part of the name edited
          OrgRemoved = Label == "Organisation";
          NameRemoved[0] |= Label == "Name prefix", NameRemoved[1] |= Label == "Name suffix";
          if (NameLine(Line, false)) {
            RemovedNames.erase(Named);
            continue;
          }
        }
      }
      bool Typed = !Base || !Take(BaseLines, Line);  // new since the last sync, not a line the reader gave once
      if (Typed && (NameLine(Line, false) || Create(Line))) continue;
      NewOwn.push_back(Line);
    }
    for (size_t I = 0; I < RemovedLines.size(); ++I) {
      TUnit& U = Units[RemovedUnits[I]];
      if (Paired[I] || U.Rewrite) continue;
      // A property that gave several lines goes only with all of them.
      bool All = std::all_of(U.Derived.begin(), U.Derived.end(), [&](const std::string& L) {
        return std::find(RemovedLines.begin(), RemovedLines.end(), L) != RemovedLines.end();
      });
      if (All) U.Drop = true;
    }
    for (const std::string& Line : RemovedNames) NameLine(Line, true);
    if (NewOwn == Own) return;
    std::string Value;
    for (size_t I = 0; I < NewOwn.size(); ++I) (I ? Value += "\\n" : Value) += Escaped(NewOwn[I]);
    bool Done = false;
    for (TUnit& U : Units) {
      if (U.Name != "NOTE") continue;
      if (!Done && !NewOwn.empty()) Rewrite(U, Value);
      else U.Drop = true;
      Done = true;
    }
    if (!Done && !NewOwn.empty()) Insert("NOTE", "NOTE:" + Value + std::string(End));
  }

  // A line given by a property, edited here: the property takes the new value.
  bool Pair(const std::string& Line, const std::vector<std::string>& Removed, const std::vector<size_t>& Of,
            std::vector<bool>& Paired) {
    std::string_view Label, Value;
    if (!SplitNoteLine(Line, Label, Value)) return false;
    for (size_t I = 0; I < Removed.size(); ++I) {
      std::string_view OldLabel, OldValue;
      TUnit& U = Units[Of[I]];
      if (Paired[I] || U.Derived.size() != 1 || !SplitNoteLine(Removed[I], OldLabel, OldValue) || OldLabel != Label)
        continue;
      TContentLine P = Parsed(U.Main);
      std::string Written;
      if (U.Name == "TEL") {
        int32_t Dropped = 0;
        Written = PhoneNumberText(Value, Dropped);
        if (TelUri(P, U.Main)) Written = "tel:" + Written;
      } else if (U.Name == "ADR") {
        Written = AddressValue(&P, SplitAt(Value, ", "));
        // The reader joins the lines with ", ": when the parts do not fit,
        // the whole text is the street.
        if (SplitAt(Value, ", ").size() != [&] {
              size_t N = 0;
              for (auto [C, Count] : AddressSlots(P).Slots) N += Count;
              return N;
            }())
          Written = AddressValue(nullptr, {std::string(Value)});
      } else {
        Written = NotedValue(U.Name, Value);
      }
      Paired[I] = true;
      Rewrite(U, Written);
      return true;
    }
    return false;
  }

  // A line typed here in one of the reader's forms: a new property.
  bool Create(const std::string& Line) {
    TNewProperty P;
    if (!PropertyOfLine(Line, P)) return false;
    std::string Name = P.Head.substr(0, P.Head.find(';'));
    std::string Text;
    if (P.Label.empty()) {
      AppendVCardLine(Text, P.Head + ":" + P.Value, End);
    } else {  // a label of its own: Apple's group and X-ABLabel
      std::string Group = FreeGroup();
      AppendVCardLine(Text, Group + "." + P.Head + ":" + P.Value, End);
      AppendVCardLine(Text, Group + ".X-ABLabel:" + Escaped(P.Label), End);
    }
    Insert(Name, Text);
    return true;
  }

  std::string FreeGroup() {
    int Most = UsedGroups;
    for (const TLine& L : Lines)
      if (L.Group.size() > 4 && L.Group.compare(0, 4, "item") == 0)
        Most = std::max(Most, std::atoi(L.Group.c_str() + 4));
    UsedGroups = Most + 1;
    return "item" + std::to_string(UsedGroups);
  }

  void Uid() {
    for (TUnit& U : Units)
      if (U.Name == "UID") return Rewrite(U, EscapedUid(NewUid));
    Inserts.emplace_back(VersionLine(), "UID:" + EscapedUid(NewUid) + std::string(End));
  }

  // ---- the card written

  std::string Rewritten(const TUnit& U) const {
    const std::string& Line = Lines[U.Main].Unfolded;
    std::string Text = CleanHead(std::string_view(Line).substr(0, ValueColon(Line))) + ":" + U.Value;
    std::string Out;
    // 2.1, and a card without a VERSION read as 2.1, keeps the space that begins a folded line.
    if (Version.empty() || Version == "2.1" || U.Main < VersionAt) Out = Text + std::string(End);
    else AppendVCardLine(Out, Text, End);
    return Out;
  }

  void Emit(std::string& Out) {
    bool Changed = !Inserts.empty() || std::any_of(Units.begin(), Units.end(), [&](const TUnit& U) {
      return U.Drop || (U.Rewrite && Rewritten(U) != RawOf(U.Main));
    });
    if (Changed) {
      std::string Stamp = Rev(Revision);
      if (TUnit* R = Named("REV")) Rewrite(*R, Stamp);
      else Inserts.emplace_back(Last - 1, "REV:" + Stamp + std::string(End));
    }
    std::stable_sort(Inserts.begin(), Inserts.end(), [](auto& A, auto& B) { return A.first < B.first; });
    Out.reserve(Card.size() + 256);
    Out.append(Card.substr(0, Lines[First].End));
    size_t Next = 0;
    auto InsertsAfter = [&](size_t I) {
      for (; Next < Inserts.size() && Inserts[Next].first == I; ++Next) Out += Inserts[Next].second;
    };
    InsertsAfter(First);
    for (size_t I = First + 1; I < Last; ++I) {
      const TUnit& U = Units[UnitOf[I]];
      if (!U.Drop) Out += I == U.Main && U.Rewrite ? Rewritten(U) : std::string(Raw(I));
      else if (Lines[I].Name == "X-ABLABEL" && GroupStays(Lines[I].Group)) Out += Raw(I);
      InsertsAfter(I);
    }
    Out.append(Card.substr(Lines[Last].Begin));
  }

  std::string RawOf(size_t Line) const { return std::string(Raw(Line)); }

  // Whether a property of the group stays in the card.
  bool GroupStays(const std::string& Group) const {
    for (const TUnit& U : Units)
      if (!U.Drop && U.Main != npos && Lines[U.Main].Group == Group) return true;
    return false;
  }

  std::string_view Card;
  const TAddressItem& Entry;
  const TAddressItem* Base;
  std::string_view NewUid, Revision;
  std::unique_ptr<TAddressItem> Old;
  std::vector<TLine> Lines;
  std::vector<TUnit> Units;
  std::vector<size_t> UnitOf;
  size_t First = npos, Last = npos;
  std::string Version;
  size_t VersionAt = npos;  // its line; a line before it is read by the rules of 2.1
  std::string_view End = "\r\n";
  size_t FieldUnit[SyncFieldCount] = {npos, npos, npos, npos, npos, npos, npos, npos, npos, npos, npos};
  std::vector<std::pair<std::string, size_t>> DerivedOrder;  // each line of the notes a property gave, its unit
  std::vector<std::pair<size_t, std::string>> Inserts;       // after which line, what
  bool OrgRemoved = false;
  bool NameRemoved[2] = {false, false};
  int UsedGroups = 0;
};

// The UID line of a card as it stands, "" when it has none.
std::string RawUidLine(std::string_view Card) {
  try {
    TContentLineReader Reader(Card);
    std::string_view Raw;
    int32_t Number;
    while (Reader.NextRaw(Raw, Number)) {
      TContentLine P;
      ParseContentLine(Raw, Number, P);
      if (P.Name == "UID" && P.Group.empty()) return std::string(Raw) + "\r\n";
    }
  } catch (const EImportError&) {}
  return {};
}

std::string NewCardWith(const TAddressItem& Entry, const std::string& UidLine, std::string_view Revision) {
  std::string Out;
  AppendVCard(Out, Entry);
  size_t After = Out.find("\r\n", Out.find("VERSION:")) + 2;
  Out.insert(After, UidLine);
  Out.insert(Out.size() - std::string_view("END:VCARD\r\n").size(), "REV:" + Rev(Revision) + "\r\n");
  return Out;
}

}  // namespace

std::unique_ptr<TAddressItem> ReadCard(std::string_view Card) {
  try {
    TImported Read = ReadVCards(Card);
    if (!Read.Items.empty()) return std::move(Read.Items.front());
  } catch (const EImportError&) {}
  return nullptr;
}

bool IsGroupCard(std::string_view Card) {
  try {
    TImported Read = ReadVCards(Card);
    return Read.Items.empty() && Read.GroupsSkipped > 0;
  } catch (const EImportError&) {}
  return false;
}

std::string PatchCard(std::string_view Card, const TAddressItem& Entry, const TAddressItem* Base,
                      std::string_view NewUid, std::string_view Revision) {
  std::string Out;
  try {
    if (TPatcher(Card, Entry, Base, NewUid, Revision).Run(Out)) return Out;
  } catch (const EImportError&) {}
  Out.clear();
  // A card that cannot be read is replaced, its UID kept as it stands.
  std::string UidLine = NewUid.empty() ? RawUidLine(Card) : "UID:" + EscapedUid(NewUid) + "\r\n";
  return NewCardWith(Entry, UidLine, Revision);
}

std::string NewCard(const TAddressItem& Entry, std::string_view Uid, std::string_view Revision) {
  return NewCardWith(Entry, Uid.empty() ? std::string() : "UID:" + EscapedUid(Uid) + "\r\n", Revision);
}

std::string CardUid(std::string_view Card) {
  try {
    TContentLineReader Reader(Card);
    TContentLine Line;
    while (Reader.Next(Line))
      if (Line.Name == "UID") return UnescapeVCardText(Trim(Line.Value));
  } catch (const EImportError&) {}
  return {};
}
