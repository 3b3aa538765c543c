#include "CardPatch.h"

#include <algorithm>
#include <array>

#include "SyncFields.h"
#include "VCard.h"

using ContactFields::SameText;
using ContactFields::Trim;

namespace {

// Which fields a property carries. gKept: not the book's; it goes back as it is.
enum EGroup { gKept, gNames, gPhones, gAddresses, gNotes, gPage, gOtherWritten, GroupCount };

// The fields of each group, to tell whether it changed.
bool GroupChanged(int Group, const TAddressItem& A, const TAddressItem& B) {
  auto Differ = [&](std::initializer_list<int> Fields) {
    for (int F : Fields)
      if (!SyncFields::SameField(A, B, F)) return true;
    return false;
  };
  switch (Group) {
    case gNames: return Differ({sfSurname, sfFirstName});
    case gPhones: return Differ({sfHomeTelephone, sfBusTelephone, sfBusExtn, sfBusFacsimile, sfBusMobile});
    case gAddresses: return Differ({sfHomeAddress, sfBusAddress});
    case gPage: return Differ({sfTabPage});
    case gOtherWritten: return !SyncFields::SameEntry(A, B);
    default: return false;
  }
}

bool GroupFilled(int Group, const TAddressItem& Item) {
  auto Filled = [&](std::initializer_list<int> Fields) {
    for (int F : Fields)
      if (!SyncFields::FieldEmpty(Item, F)) return true;
    return false;
  };
  switch (Group) {
    case gPhones: return Filled({sfHomeTelephone, sfBusTelephone, sfBusExtn, sfBusFacsimile, sfBusMobile});
    case gAddresses: return Filled({sfHomeAddress, sfBusAddress});
    case gPage: return Item.TabPage != 0;
    default: return true;
  }
}

struct TLine {
  size_t Begin, End;  // bytes of the whole text, continuation lines and line end included
  std::string Name;
  std::string Group;  // "item1" of "item1.TEL", lower case
  bool Begins = false, Ends = false;  // BEGIN:VCARD, END:VCARD
};

// The content lines of a text with the bytes each one takes.
std::vector<TLine> SplitLines(std::string_view Text) {
  std::string_view Body = ContactFields::WithoutBom(Text);
  size_t Offset = Text.size() - Body.size();
  std::vector<size_t> Starts{0};
  for (size_t I = 0; I < Body.size(); ++I)
    if (Body[I] == '\n') Starts.push_back(I + 1);
  std::vector<TLine> Lines;
  TContentLineReader Reader(Body);
  TContentLine Parsed;
  std::string_view Raw;
  int32_t Number;
  while (Reader.NextRaw(Raw, Number)) {
    ParseContentLine(Raw, Number, Parsed);
    TLine L;
    L.Begin = Offset + Starts[size_t(Number - 1)];
    L.Name = Parsed.Name;
    L.Group = ContactFields::LowerText(Parsed.Group);
    bool OfCard = SameText(Trim(Parsed.Value), "VCARD");
    L.Begins = OfCard && L.Name == "BEGIN";
    L.Ends = OfCard && L.Name == "END";
    if (!Lines.empty()) Lines.back().End = L.Begin;
    Lines.push_back(std::move(L));
  }
  if (!Lines.empty()) Lines.back().End = Text.size();
  return Lines;
}

// The group of each property the writer writes, found from the writer itself
// so that a property it starts to write is never kept twice.
int GroupOfName(const std::string& Name) {
  static const std::vector<std::pair<std::string, int>> Written = [] {
    static const std::pair<const char*, int> Known[] = {{"N", gNames},
                                                        {"FN", gNames},
                                                        {"TEL", gPhones},
                                                        {"X-TOBRINEL-EXTENSION", gPhones},
                                                        {"ADR", gAddresses},
                                                        {"NOTE", gNotes},
                                                        {"X-TOBRINEL-TABPAGE", gPage}};
    TAddressItem Full;  // every field filled
    Full.Surname = "x", Full.FirstName = "x", Full.HomeTelephone = "1", Full.BusTelephone = "2";
    Full.BusExtn = "3", Full.BusFacsimile = "4", Full.BusMobile = "5", Full.TabPage = 2;
    Full.HomeAddress.Add("x"), Full.BusAddress.Add("x"), Full.Notes.Add("x");
    std::string Card;
    AppendVCard(Card, Full);
    std::vector<std::pair<std::string, int>> Names;
    for (const TLine& L : SplitLines(Card)) {
      if (L.Name == "BEGIN" || L.Name == "END" || L.Name == "VERSION" || L.Name == "UID") continue;
      int Group = gOtherWritten;
      for (auto [KnownName, G] : Known)
        if (L.Name == KnownName) Group = G;
      Names.emplace_back(L.Name, Group);
    }
    return Names;
  }();
  for (const auto& [WrittenName, Group] : Written)
    if (WrittenName == Name) return Group;
  return gKept;
}

std::vector<std::string> LinesOf(const TLineList& List) { return List.Lines(); }

// Whether every line of Part is in Whole, counting repeats.
bool Includes(std::vector<std::string> Whole, const std::vector<std::string>& Part) {
  for (const std::string& Line : Part) {
    auto At = std::find(Whole.begin(), Whole.end(), Line);
    if (At == Whole.end()) return false;
    Whole.erase(At);
  }
  return true;
}

// Lines of A less those of B, counting repeats, in A's order.
std::vector<std::string> Minus(const std::vector<std::string>& A, std::vector<std::string> B) {
  std::vector<std::string> Out;
  for (const std::string& Line : A) {
    auto At = std::find(B.begin(), B.end(), Line);
    if (At == B.end()) Out.push_back(Line);
    else B.erase(At);
  }
  return Out;
}

// Lines less each line of Part once, taken from the end where derived lines stand.
std::vector<std::string> Without(std::vector<std::string> Lines, const std::vector<std::string>& Part) {
  for (auto Line = Part.rbegin(); Line != Part.rend(); ++Line) {
    auto At = std::find(Lines.rbegin(), Lines.rend(), *Line);
    if (At != Lines.rend()) Lines.erase(std::next(At).base());
  }
  return Lines;
}

// A unit is what goes or stays together: a line, with the lines of its group
// (item1.TEL and item1.X-ABLabel) or of a card nested in it.
struct TUnit {
  std::vector<size_t> Lines;
  int Group = gKept;
  bool Uid = false, Version = false, Dropped = false;
};

class TPatcher {
public:
  TPatcher(std::string_view ACard, const TAddressItem& AEntry, const TAddressItem* ABase, std::string_view ANewUid)
      : Card(ACard), Entry(AEntry), Base(ABase), NewUid(ANewUid) {}

  bool Run(std::string& Out) {
    Lines = SplitLines(Card);
    if (!FindUnits()) return false;
    std::unique_ptr<TAddressItem> Old = ReadCard(Card);
    if (!Old) return false;
    WriterLines();
    for (int G = gNames; G < GroupCount; ++G) Replaced[G] = G != gNotes && GroupChanged(G, *Old, Entry);
    NameLines();
    if (Base && !Replaced[gNames] && NameLinesDeleted()) {  // a name prefix, say: the name is written anew
      Replaced[gNames] = true;
      NameLines();
    }
    KeepWhatTheBookCannotHold();
    if (Base) DropWhatWasDeleted();
    Notes();
    Emit(Out);
    return true;
  }

private:
  bool FindUnits() {
    size_t Depth = 0;
    std::vector<std::pair<std::string, size_t>> ByGroup;
    size_t Nested = 0;
    for (size_t I = 0; I < Lines.size(); ++I) {
      const TLine& L = Lines[I];
      if (First == npos) {
        if (L.Begins) First = I;
        continue;
      }
      if (Depth > 0) {  // a card inside this one goes whole with the line that began it
        Units[Nested].Lines.push_back(I);
        Depth += L.Begins;
        Depth -= L.Ends;
        continue;
      }
      if (L.Ends) {
        Last = I;
        return true;
      }
      size_t U = Units.size();
      if (!L.Group.empty()) {
        auto Found = std::find_if(ByGroup.begin(), ByGroup.end(), [&](auto& G) { return G.first == L.Group; });
        if (Found != ByGroup.end()) U = Found->second;
        else ByGroup.emplace_back(L.Group, U);
      }
      if (U == Units.size()) Units.emplace_back();
      TUnit& Unit = Units[U];
      Unit.Lines.push_back(I);
      if (L.Begins) {
        Depth = 1;
        Nested = U;
      }
      int Group = GroupOfName(L.Name);
      if (Unit.Group == gKept) Unit.Group = Group;
      Unit.Uid |= L.Name == "UID";
      Unit.Version |= L.Name == "VERSION";
    }
    return false;
  }

  std::string_view Raw(size_t Line) const { return Card.substr(Lines[Line].Begin, Lines[Line].End - Lines[Line].Begin); }

  std::string RawOf(const TUnit& Unit) const {
    std::string Out;
    for (size_t L : Unit.Lines) Out += Raw(L);
    return Out;
  }

  // The writer's lines for the entry, by group.
  void WriterLines() {
    std::string Written;
    AppendVCard(Written, Entry);
    for (const TLine& L : SplitLines(Written)) {
      int Group = GroupOfName(L.Name);
      if (Group != gKept) New[Group].append(Written, L.Begin, L.End - L.Begin);
    }
  }

  // The name lines every probe begins with: the ones the card will have.
  void NameLines() {
    Head = "BEGIN:VCARD\r\n";
    for (const TUnit& U : Units)
      if (U.Version) Head += RawOf(U);
    if (Replaced[gNames]) {
      Head += New[gNames];
      return;
    }
    for (const TUnit& U : Units)
      if (U.Group == gNames) Head += RawOf(U);
  }

  // The entry a card of the name lines and these units reads as.
  std::unique_ptr<TAddressItem> Probe(const std::vector<const TUnit*>& With) const {
    std::string Text = Head;
    for (const TUnit* U : With) Text += RawOf(*U);
    Text += "END:VCARD\r\n";
    return ReadCard(Text);
  }

  // A TEL or ADR that alone fills none of its group's fields (a pager, a
  // home fax) is not the book's: it stays though its group is rewritten.
  void KeepWhatTheBookCannotHold() {
    for (TUnit& U : Units) {
      if (U.Group != gPhones && U.Group != gAddresses && U.Group != gPage) continue;
      std::unique_ptr<TAddressItem> Alone = Probe({&U});
      if (Alone && !GroupFilled(U.Group, *Alone)) U.Group = gKept;
    }
  }

  bool Derives(const TUnit& U) const { return U.Group == gKept && !U.Uid && !U.Version; }

  // What a kept property adds to the notes, beyond what the names add.
  std::vector<std::string> DerivedLines(const TUnit& U, const std::vector<std::string>& NamesOnly) const {
    std::unique_ptr<TAddressItem> With = Probe({&U});
    if (!With) return {};
    std::vector<std::string> Derived = LinesOf(With->Notes);
    for (const std::string& Line : NamesOnly) {
      auto At = std::find(Derived.begin(), Derived.end(), Line);
      if (At != Derived.end()) Derived.erase(At);
    }
    return Derived;
  }

  // Whether the person deleted from the notes what the reader makes of the
  // name lines (a prefix, a suffix) since the last sync.
  bool DeletedByThePerson(const std::vector<std::string>& Derived) const {
    return !Derived.empty() && Includes(LinesOf(Base->Notes), Derived) && !Includes(LinesOf(Entry.Notes), Derived);
  }

  bool NameLinesDeleted() const {
    std::unique_ptr<TAddressItem> Names = Probe({});
    return Names && DeletedByThePerson(LinesOf(Names->Notes));
  }

  // A line the person deleted from the notes since the last sync takes its
  // property with it; a line the reader gives differently now does not. A
  // property the book has no field for says alone what it gives; a second
  // telephone or address of a kind the book has once, only with the others.
  void DropWhatWasDeleted() {
    std::unique_ptr<TAddressItem> Names = Probe({});
    std::vector<std::string> NamesOnly = Names ? LinesOf(Names->Notes) : std::vector<std::string>();
    for (TUnit& U : Units)
      if (Derives(U) && DeletedByThePerson(DerivedLines(U, NamesOnly))) U.Dropped = true;
    std::vector<const TUnit*> All = KeptUnits(false);
    std::unique_ptr<TAddressItem> Whole = Probe(All);
    if (!Whole) return;
    for (TUnit& U : Units) {
      if ((U.Group != gPhones && U.Group != gAddresses) || Replaced[U.Group] || U.Dropped) continue;
      std::vector<const TUnit*> Others = All;
      std::erase(Others, &U);
      std::unique_ptr<TAddressItem> Without = Probe(Others);
      if (!Without || GroupChanged(U.Group, *Without, *Whole)) continue;  // it fills a field
      if (DeletedByThePerson(Minus(LinesOf(Whole->Notes), LinesOf(Without->Notes)))) U.Dropped = true;
    }
  }

  // Every unit the card keeps as it is, but the version and name lines the
  // probes begin with; the note lines too when asked.
  std::vector<const TUnit*> KeptUnits(bool WithNotes) const {
    std::vector<const TUnit*> Kept;
    for (const TUnit& U : Units) {
      if (U.Dropped || U.Version || U.Group == gNames || (U.Group == gNotes && !WithNotes)) continue;
      if (U.Group != gKept && U.Group != gNotes && Replaced[U.Group]) continue;
      Kept.push_back(&U);
    }
    return Kept;
  }

  void Notes() {
    std::vector<const TUnit*> Kept = KeptUnits(false), KeptAndNotes = KeptUnits(true);
    std::unique_ptr<TAddressItem> Derived = Probe(Kept);
    std::vector<std::string> DerivedLines = Derived ? LinesOf(Derived->Notes) : std::vector<std::string>();
    std::vector<std::string> Own = Without(LinesOf(Entry.Notes), DerivedLines);
    std::unique_ptr<TAddressItem> WithNotes = Probe(KeptAndNotes);
    std::vector<std::string> CardNotes = WithNotes ? LinesOf(WithNotes->Notes) : std::vector<std::string>();
    CardNotes.resize(CardNotes.size() >= DerivedLines.size() ? CardNotes.size() - DerivedLines.size() : 0);
    Replaced[gNotes] = Own != CardNotes;
    if (!Replaced[gNotes]) return;
    TAddressItem NotesOnly;
    NotesOnly.Notes.Assign(Own);
    std::string Written;
    AppendVCard(Written, NotesOnly);
    New[gNotes].clear();
    for (const TLine& L : SplitLines(Written))
      if (L.Name == "NOTE") New[gNotes].append(Written, L.Begin, L.End - L.Begin);
  }

  void Emit(std::string& Out) {
    Out.reserve(Card.size() + 256);
    Out.append(Card.substr(0, Lines[First].End));
    bool HasUid = std::any_of(Units.begin(), Units.end(), [](const TUnit& U) { return U.Uid; });
    bool HasVersion = std::any_of(Units.begin(), Units.end(), [](const TUnit& U) { return U.Version; });
    std::string UidLine = NewUid.empty() ? std::string() : "UID:" + std::string(NewUid) + "\r\n";
    if (!HasUid && !HasVersion) Out += UidLine;
    std::array<bool, GroupCount> Emitted{};
    std::vector<size_t> UnitOf(Lines.size(), npos);
    for (size_t U = 0; U < Units.size(); ++U)
      for (size_t L : Units[U].Lines) UnitOf[L] = U;
    bool UidDone = false;
    for (size_t I = First + 1; I < Last; ++I) {
      const TUnit& U = Units[UnitOf[I]];
      if (U.Dropped) continue;
      if (U.Group != gKept && Replaced[U.Group]) {
        if (!Emitted[U.Group]) Out += New[U.Group];
        Emitted[U.Group] = true;
        continue;
      }
      if (U.Uid && !UidLine.empty()) {
        if (!UidDone) Out += UidLine;
        UidDone = true;
        continue;
      }
      Out += Raw(I);
      if (U.Version && !HasUid && !UidDone) {
        Out += UidLine;
        UidDone = true;
      }
    }
    for (int G = gNames; G < GroupCount; ++G)
      if (Replaced[G] && !Emitted[G]) Out += New[G];
    Out.append(Card.substr(Lines[Last].Begin));
  }

  static constexpr size_t npos = size_t(-1);
  std::string_view Card;
  const TAddressItem& Entry;
  const TAddressItem* Base;
  std::string_view NewUid;
  std::vector<TLine> Lines;
  std::vector<TUnit> Units;
  size_t First = npos, Last = npos;
  std::array<std::string, GroupCount> New;
  std::array<bool, GroupCount> Replaced{};
  std::string Head;
};

}  // namespace

std::unique_ptr<TAddressItem> ReadCard(std::string_view Card) {
  try {
    TImported Read = ReadVCards(Card);
    if (!Read.Items.empty()) return std::move(Read.Items.front());
  } catch (const EImportError&) {
  }
  return nullptr;
}

std::string PatchCard(std::string_view Card, const TAddressItem& Entry, const TAddressItem* Base,
                      std::string_view NewUid) {
  std::string Out;
  try {
    if (TPatcher(Card, Entry, Base, NewUid).Run(Out)) return Out;
  } catch (const EImportError&) {
  }
  return NewCard(Entry, NewUid.empty() ? CardUid(Card) : std::string(NewUid));
}

std::string NewCard(const TAddressItem& Entry, std::string_view Uid) {
  std::string Out;
  AppendVCard(Out, Entry, Uid);
  return Out;
}

std::string CardUid(std::string_view Card) {
  try {
    TContentLineReader Reader(Card);
    TContentLine Line;
    while (Reader.Next(Line))
      if (Line.Name == "UID") return UnescapeVCardText(Trim(Line.Value));
  } catch (const EImportError&) {
  }
  return {};
}
