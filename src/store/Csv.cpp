#include "Csv.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

#include "ByteWords.h"
#include "TextCodec.h"

using namespace ContactFields;

// =====================================================================
// Reading

namespace {

constexpr size_t MaxFields = 4096;  // a row's fields; mail programs write a few hundred at most

// A row that cannot be read; the rows after it can.
class ERowError : public EImportError {
public:
  using EImportError::EImportError;
};

// The characters a spreadsheet takes as the start of a formula.
bool StartsFormula(std::string_view Value) {
  return !Value.empty() && (Value[0] == '=' || Value[0] == '+' || Value[0] == '-' || Value[0] == '@' ||
                            Value[0] == '\t' || Value[0] == '\r');
}

class TCsvReader {
public:
  explicit TCsvReader(TInput& AIn) : In(AIn) {
    // The header's separator: commas, or what some spreadsheets write instead.
    size_t Counts[3] = {0, 0, 0};
    bool Quoted = false;
    for (char C : FirstLine()) {
      if (C == '"') Quoted = !Quoted;
      if (Quoted) continue;
      if (C == ',') ++Counts[0];
      if (C == ';') ++Counts[1];
      if (C == '\t') ++Counts[2];
    }
    if (Counts[1] > Counts[0] && Counts[1] >= Counts[2]) Separator = ';';
    else if (Counts[2] > Counts[0] && Counts[2] > Counts[1]) Separator = '\t';
    EndsField[static_cast<unsigned char>(Separator)] = EndsField[size_t('\r')] = EndsField[size_t('\n')] = true;
  }

  // One record, each field as UTF-8 (a field that is not valid UTF-8 is
  // taken as Windows-1252, field by field); false at the end of the input.
  // The fields hold until the next call.
  bool Next(std::vector<std::string_view>& Fields, int32_t& RecordLine) {
    In.Skip(Taken);
    Taken = 0;
    if (In.AtEnd()) return false;
    if (NextInView(Fields, RecordLine)) return true;
    RecordLine = Line;
    size_t Used = 0, Bytes = 0;
    const char Ends[] = {Separator, '\r', '\n'};
    auto Grow = [&](size_t Size, int32_t From, const char* Problem) {
      if ((Bytes += Size) > MaxReadLength) throw EImportError(From, Problem);
    };
    for (;;) {
      if (Used == MaxFields) throw EImportError(RecordLine, "the row has more than 4096 fields");
      std::string& Field = OwnedField(Used++);
      std::string_view View = In.Peek(1);
      if (!View.empty() && View[0] == '"') {
        int32_t QuoteLine = Line;
        In.Skip(1);
        for (;;) {
          View = In.Peek(Piece);
          if (View.empty()) throw EImportError(QuoteLine, "a quoted field is not closed");
          size_t Quote = View.find('"');
          std::string_view Part = View.substr(0, Quote);
          Line += int32_t(std::count(Part.begin(), Part.end(), '\n'));
          Field.append(Part);
          Grow(Part.size(), QuoteLine, LongQuoted.c_str());
          if (Quote == std::string_view::npos) {
            In.Skip(Part.size());
            continue;
          }
          In.Skip(Quote + 1);
          View = In.Peek(1);
          if (View.empty() || View[0] != '"') break;
          Field += '"';
          In.Skip(1);
        }
        View = In.Peek(1);
        if (!View.empty() && View[0] != Separator && View[0] != '\r' && View[0] != '\n') {
          const int32_t At = Line;
          SkipRestOfLine();
          throw ERowError(At, "text follows the closing quote of a field");
        }
      } else {
        for (size_t End = std::string_view::npos; End == std::string_view::npos;) {
          View = In.Peek(Piece);
          if (View.empty()) break;
          End = View.find_first_of(std::string_view(Ends, 3));
          std::string_view Part = View.substr(0, End);
          Field.append(Part);
          In.Skip(Part.size());
          Grow(Part.size(), RecordLine, LongRow.c_str());
        }
      }
      if (!IsValidUtf8(Field)) Field = ToUtf8(Field);  // a program on a single-byte Windows system
      View = In.Peek(2);
      if (View.empty()) break;
      char C = View[0];
      In.Skip(1);
      Grow(1, RecordLine, LongRow.c_str());
      if (C == Separator) continue;
      if (C == '\r' && View.size() > 1 && View[1] == '\n') In.Skip(1);
      ++Line;
      break;
    }
    Fields.assign(Owned.begin(), Owned.begin() + ptrdiff_t(Used));
    return true;
  }

private:
  // The room for field I of a record read its own way, emptied.
  std::string& OwnedField(size_t I) {
    if (I == Owned.size()) Owned.emplace_back();
    Owned[I].clear();
    return Owned[I];
  }

  // The same as Next for a record that lies whole in what has been read and
  // holds nothing to complain of: its fields are views of what was read,
  // but for the few that are not its bytes as they stand (a doubled quote,
  // text that is not UTF-8). False, with nothing taken, for any other,
  // which Next then reads its own way.
  bool NextInView(std::vector<std::string_view>& Fields, int32_t& RecordLine) {
    const std::string_view View = In.Peek(Piece);
    size_t At = 0, Copied = 0;
    int32_t Breaks = 0;
    Fields.clear();
    for (;;) {
      if (Fields.size() == MaxFields) return false;
      std::string_view Field;
      bool Own = false, Ascii = false;
      if (At < View.size() && View[At] == '"') {
        const size_t Start = ++At;
        // Most fields are ASCII on one line: the first quote, break or other byte, eight bytes a step.
        size_t End = Start;
        for (; End + 8 <= View.size(); End += 8) {
          const uint64_t Word = ByteWords::Load(View.data() + End);
          if (const uint64_t Stop =
                  ByteWords::Has(Word, '"') | ByteWords::Has(Word, '\n') | (Word & ByteWords::Highs)) {
            End += ByteWords::FirstMarked(Stop);
            break;
          }
        }
        while (End < View.size() && View[End] != '"' && View[End] != '\n' && !(View[End] & 0x80)) ++End;
        if (End + 1 < View.size() && View[End] == '"' && View[End + 1] != '"') {
          Field = View.substr(Start, End - Start);
          Ascii = true;
          At = End + 1;
        }
        while (!Ascii) {
          const size_t Quote = View.find('"', At);
          if (Quote == std::string_view::npos) return false;
          Breaks += int32_t(std::count(View.begin() + ptrdiff_t(At), View.begin() + ptrdiff_t(Quote), '\n'));
          if (Own) Owned[Copied - 1].append(View, At, Quote - At);
          At = Quote + 1;
          if (At == View.size()) return false;  // what follows is still to be read
          if (View[At] != '"') {
            if (!Own) Field = View.substr(Start, Quote - Start);
            break;
          }
          // A doubled quote: the field is its own copy from here on.
          if (!Own) {
            Own = true;
            OwnedField(Copied++).assign(View, Start, Quote - Start);
          }
          Owned[Copied - 1] += '"';
          ++At;
        }
        if (View[At] != Separator && View[At] != '\r' && View[At] != '\n') return false;
      } else {
        size_t End = At;
        while (End < View.size() && !EndsField[static_cast<unsigned char>(View[End])]) ++End;
        if (End == View.size()) return false;
        Field = View.substr(At, End - At);
        At = End;
      }
      if (Own) {
        std::string& Copy = Owned[Copied - 1];
        if (!IsValidUtf8(Copy)) Copy = ToUtf8(Copy);
        Field = Copy;
      } else if (!Ascii && !IsValidUtf8(Field)) {
        Field = OwnedField(Copied++) = ToUtf8(Field);  // a program on a single-byte Windows system
      }
      Fields.push_back(Field);
      const char C = View[At++];
      if (C == Separator) continue;
      if (C == '\r') {
        if (At == View.size()) return false;
        if (View[At] == '\n') ++At;
      }
      ++Breaks;
      break;
    }
    if (At > MaxReadLength) return false;  // Next names the fault
    Taken = At;
    RecordLine = Line;
    Line += Breaks;
    return true;
  }

  void SkipRestOfLine() {
    for (std::string_view View = In.Peek(Piece); !View.empty(); View = In.Peek(Piece)) {
      size_t End = View.find('\n');
      In.Skip(End == std::string_view::npos ? View.size() : End + 1);
      if (End != std::string_view::npos) break;
    }
    ++Line;
  }

  std::string_view FirstLine() {
    size_t Want = Piece;
    for (;;) {
      std::string_view View = In.Peek(Want);
      size_t End = View.find('\n');
      if (End != std::string_view::npos) return View.substr(0, End);
      if (View.size() < Want || View.size() > MaxReadLength) return View;
      Want = std::min(View.size() * 2, MaxReadLength + 1);
    }
  }

  static constexpr size_t Piece = size_t(1) << 16;
  const std::string LongQuoted = std::string("a quoted field that begins here goes on for more than ") + MaxReadText +
                                 ", more than Tobrinel reads; is its closing quote missing?";
  const std::string LongRow = std::string("the row is longer than ") + MaxReadText + ", more than Tobrinel reads";
  TInput& In;
  int32_t Line = 1;
  char Separator = ',';
  bool EndsField[256] = {};       // the separator and the line breaks
  std::deque<std::string> Owned;  // fields that are not the input's bytes as they stand; they stay in place
  size_t Taken = 0;               // the record handed out last, passed over at the next call
};

enum class EColumn {
  Other,
  Ignored,
  Grouped,
  Photo,
  Surname,
  FirstName,
  MiddleName,
  FullName,
  Company,
  HomeTel,
  BusTel,
  BusExtn,
  BusFax,
  Mobile,
  Notes,
  TabPage,
  HomeStreet,
  HomeStreet2,
  HomeStreet3,
  HomeCity,
  HomeState,
  HomePostCode,
  HomeCountry,
  BusStreet,
  BusStreet2,
  BusStreet3,
  BusCity,
  BusState,
  BusPostCode,
  BusCountry,
  Count
};

// Our own column names first: they are the ones written.
const std::pair<const char*, EColumn> ColumnNames[] = {
    {"last name", EColumn::Surname},
    {"first name", EColumn::FirstName},
    {"home phone", EColumn::HomeTel},
    {"home street", EColumn::HomeStreet},
    {"business phone", EColumn::BusTel},
    {"business extension", EColumn::BusExtn},
    {"business fax", EColumn::BusFax},
    {"mobile phone", EColumn::Mobile},
    {"business street", EColumn::BusStreet},
    {"tab page", EColumn::TabPage},
    {"notes", EColumn::Notes},
    // Other mail programs and address books
    {"surname", EColumn::Surname},
    {"family name", EColumn::Surname},
    {"given name", EColumn::FirstName},
    {"middle name", EColumn::MiddleName},
    {"additional name", EColumn::MiddleName},
    {"display name", EColumn::FullName},
    {"name", EColumn::FullName},
    {"full name", EColumn::FullName},
    {"company", EColumn::Company},
    {"organization", EColumn::Company},
    {"organisation", EColumn::Company},
    {"organization name", EColumn::Company},
    {"organization 1 - name", EColumn::Company},
    {"home telephone", EColumn::HomeTel},
    {"work phone", EColumn::BusTel},
    {"work telephone", EColumn::BusTel},
    {"extension", EColumn::BusExtn},
    {"work fax", EColumn::BusFax},
    {"fax number", EColumn::BusFax},
    {"fax", EColumn::BusFax},
    {"mobile number", EColumn::Mobile},
    {"mobile", EColumn::Mobile},
    {"cell phone", EColumn::Mobile},
    {"note", EColumn::Notes},
    {"home address", EColumn::HomeStreet},
    {"home street 2", EColumn::HomeStreet2},
    {"home address 2", EColumn::HomeStreet2},
    {"home street 3", EColumn::HomeStreet3},
    {"home city", EColumn::HomeCity},
    {"home state", EColumn::HomeState},
    {"home postal code", EColumn::HomePostCode},
    {"home zipcode", EColumn::HomePostCode},
    {"home zip code", EColumn::HomePostCode},
    {"home country/region", EColumn::HomeCountry},
    {"home country", EColumn::HomeCountry},
    {"work address", EColumn::BusStreet},
    {"business street 2", EColumn::BusStreet2},
    {"work address 2", EColumn::BusStreet2},
    {"business street 3", EColumn::BusStreet3},
    {"business city", EColumn::BusCity},
    {"work city", EColumn::BusCity},
    {"business state", EColumn::BusState},
    {"work state", EColumn::BusState},
    {"business postal code", EColumn::BusPostCode},
    {"work zipcode", EColumn::BusPostCode},
    {"work zip code", EColumn::BusPostCode},
    {"business country/region", EColumn::BusCountry},
    {"work country", EColumn::BusCountry},
    // Bookkeeping of mail programs, the same in every row
    {"sensitivity", EColumn::Ignored},
    {"priority", EColumn::Ignored},
    {"private", EColumn::Ignored},
    {"gender", EColumn::Ignored},
    {"initials", EColumn::Ignored},
    {"group membership", EColumn::Ignored},
    {"labels", EColumn::Ignored},
    {"photo", EColumn::Photo},
};

EColumn ColumnOf(std::string_view Name) {
  std::string Key = LowerText(Trim(Name));
  for (auto [Known, Column] : ColumnNames)
    if (Key == Known) return Column;
  return EColumn::Other;
}

// Google's numbered columns: "Phone 1 - Label" (or "- Type") and
// "Phone 1 - Value", and the parts of "Address 1 - ...".
struct TGroup {
  std::string Kind;  // "Phone", "E-mail", "Address", "Website", ...
  std::string Key;   // lower case, with its number: "phone 1"
  int Label = -1, Value = -1;
  // Address parts in the order a letter is addressed, then the formatted whole.
  enum { Street, Extended, PoBox, City, Region, PostCode, Country, Formatted, Parts };
  int Part[Parts] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

// Whether Name is such a column; then it is added to its group.
bool AddToGroup(std::vector<TGroup>& Groups, std::string_view Name, int Column) {
  Name = Trim(Name);
  size_t Dash = Name.find(" - ");
  if (Dash == std::string_view::npos) return false;
  std::string_view Head = Name.substr(0, Dash), Tail = Trim(Name.substr(Dash + 3));
  size_t Space = Head.rfind(' ');
  if (Space == std::string_view::npos || Space + 1 == Head.size() ||
      !std::all_of(Head.begin() + ptrdiff_t(Space) + 1, Head.end(), [](char C) { return C >= '0' && C <= '9'; }))
    return false;
  static const std::pair<const char*, int> AddressParts[] = {
      // clang-format off
      {"street", TGroup::Street},   {"extended address", TGroup::Extended}, {"po box", TGroup::PoBox},
      {"city", TGroup::City},       {"region", TGroup::Region},             {"postal code", TGroup::PostCode},
      {"country", TGroup::Country}, {"formatted", TGroup::Formatted}};
  // clang-format on
  int* Slot = nullptr;
  std::string Key = LowerText(Head);
  auto Found = std::find_if(Groups.begin(), Groups.end(), [&](const TGroup& G) { return G.Key == Key; });
  TGroup Fresh;
  TGroup& Group = Found != Groups.end() ? *Found : Fresh;
  if (SameText(Tail, "label") || SameText(Tail, "type")) Slot = &Group.Label;
  else if (SameText(Tail, "value")) Slot = &Group.Value;
  else if (StartsWithText(Head, "address "))
    for (auto [Part, Index] : AddressParts)
      if (SameText(Tail, Part)) Slot = &Group.Part[Index];
  if (!Slot || *Slot >= 0) return false;
  *Slot = Column;
  if (Found == Groups.end()) {
    Fresh.Kind = Trim(Head.substr(0, Space));
    Fresh.Key = Key;
    Groups.push_back(std::move(Fresh));
  }
  return true;
}

// The values of one cell: Google puts several in one, between " ::: ".
std::vector<std::string_view> Values(std::string_view Cell) {
  std::vector<std::string_view> Out;
  for (size_t Start = 0;;) {
    size_t At = Cell.find(" ::: ", Start);
    std::string_view Value = Trim(Cell.substr(Start, At == std::string_view::npos ? At : At - Start));
    if (!Value.empty()) Out.push_back(Value);
    if (At == std::string_view::npos) return Out;
    Start = At + 5;
  }
}

// One group's values of a row into the entry.
void TakeGroup(const TGroup& G, const std::vector<std::string_view>& Fields, TEntryBuilder& Entry) {
  auto Cell = [&](int Column) -> std::string_view {
    return Column >= 0 && size_t(Column) < Fields.size() ? Fields[size_t(Column)] : "";
  };
  const std::string Label(LabelText(Cell(G.Label)));
  const std::string Named = G.Kind + (Label.empty() ? "" : " (" + Label + ")");
  const ENumberKind Kind = Label.empty() ? ENumberKind::Home : NumberKindOfLabel(Label);
  if (SameText(G.Kind, "phone")) {
    for (std::string_view Number : Values(Cell(G.Value)))
      Entry.PutNumberOfKind(Kind, std::string(Number), Kind == ENumberKind::Other ? "Telephone (" + Label + ")" : "");
    return;
  }
  if (!SameText(G.Kind, "address")) {
    for (std::string_view Value : Values(Cell(G.Value))) Entry.Note(Named, Value);
    return;
  }
  // An address: its parts, or the formatted whole when no part is given;
  // several addresses in one group are taken by their place in each cell.
  std::vector<std::vector<std::string_view>> Parts;
  size_t Count = 0;
  for (int Part = 0; Part < TGroup::Parts; ++Part) {
    Parts.push_back(Values(Cell(G.Part[Part])));
    if (Part != TGroup::Formatted) Count = std::max(Count, Parts.back().size());
  }
  bool FromParts = Count > 0;
  if (!FromParts) Count = Parts[TGroup::Formatted].size();
  for (size_t I = 0; I < Count; ++I) {
    auto Part = [&](int Index) {
      return I < Parts[size_t(Index)].size() ? Parts[size_t(Index)][I] : std::string_view();
    };
    TLines Lines;
    if (FromParts)
      AddAddressLines(Lines, Part(TGroup::Street),
                      {Part(TGroup::Extended), Part(TGroup::PoBox), Part(TGroup::City), Part(TGroup::Region),
                       Part(TGroup::PostCode), Part(TGroup::Country)});
    else AddAddressLines(Lines, Part(TGroup::Formatted), {});
    bool AtWork = Kind == ENumberKind::Work;
    bool& Have = AtWork ? Entry.HaveBusAddress : Entry.HaveHomeAddress;
    if ((Kind == ENumberKind::Home || AtWork) && !Have) {
      Have = true;
      (AtWork ? Entry.BusAddress : Entry.HomeAddress) = std::move(Lines);
    } else {
      Entry.Note(Named, JoinLines(Lines, ", "));
    }
  }
}

}  // namespace

TImported ReadCsv(TInput& Input, TEntrySink Sink) {
  TImported Result;
  Result.Sink = std::move(Sink);
  TCsvReader Reader(Input);
  std::vector<std::string_view> Fields;
  int32_t Line = 0;
  if (!Reader.Next(Fields, Line)) return Result;
  const std::vector<std::string> Header(Fields.begin(), Fields.end());
  std::vector<EColumn> Columns;
  std::vector<TGroup> Groups;
  bool Known = false;
  for (const std::string& Name : Header) {
    Columns.push_back(ColumnOf(Name));
    if (Columns.back() == EColumn::Other && AddToGroup(Groups, Name, int(Columns.size() - 1)))
      Columns.back() = EColumn::Grouped;
    Known |= Columns.back() != EColumn::Other && Columns.back() != EColumn::Ignored;
  }
  if (!Known)
    throw EImportError(Line,
                       "the first line names no column Tobrinel knows; it must be a header "
                       "such as \"Last Name\",\"First Name\",\"Home Phone\"");

  // Where a contact with no name may find one.
  std::vector<size_t> Nicknames, Emails;
  for (size_t I = 0; I < Header.size(); ++I) {
    std::string Name = LowerText(Trim(Header[I]));
    if (Name.find("type") != std::string::npos || Name.find("label") != std::string::npos) continue;
    if (Name.find("nickname") != std::string::npos) Nicknames.push_back(I);
    else if (Name.find("e-mail") != std::string::npos || Name.find("email") != std::string::npos) Emails.push_back(I);
  }

  std::array<std::string_view, size_t(EColumn::Count)> Values{};
  TEntryBuilder Entry;
  for (;;) {
    try {
      if (!Reader.Next(Fields, Line)) break;
    } catch (const ERowError& E) {
      Result.Refused.push_back({E.Line, E.Problem});
      continue;
    }
    if (std::all_of(Fields.begin(), Fields.end(), [](std::string_view F) { return F.empty(); })) continue;
    bool Over = false;
    for (size_t I = Columns.size(); I < Fields.size(); ++I) Over = Over || !Fields[I].empty();
    if (Over) {
      Result.Refused.push_back({Line, "the row has " + std::to_string(Fields.size()) + " fields but the header only " +
                                          std::to_string(Columns.size())});
      continue;
    }
    // A value kept from being taken for a formula (as we export it) gets its own start back.
    for (std::string_view& Field : Fields)
      if (Field.size() > 1 && Field[0] == '\'' && StartsFormula(Field.substr(1))) Field.remove_prefix(1);
    std::string Nickname, Email;
    auto FirstOf = [&](const std::vector<size_t>& Of, std::string& Into) {
      for (size_t I : Of)
        if (I < Fields.size() && Into.empty())
          if (auto Found = ::Values(Fields[I]); !Found.empty()) Into = Found.front();
    };
    FirstOf(Nicknames, Nickname);
    FirstOf(Emails, Email);
    // Only the slots of the file's columns are ever set: emptying all of
    // them for each row was a tenth of reading it.
    for (EColumn Column : Columns) Values[size_t(Column)] = {};
    Entry.Reset();
    for (size_t I = 0; I < Columns.size() && I < Fields.size(); ++I) {
      EColumn Column = Columns[I];
      if (Fields[I].empty() || Column == EColumn::Ignored || Column == EColumn::Grouped) continue;
      if (Column == EColumn::Photo) {
        ++Result.PhotosSkipped;
        continue;
      }
      std::string_view& Slot = Values[size_t(Column)];
      if (Column == EColumn::Other || !Slot.empty()) Entry.Note(std::string(Trim(Header[I])), Fields[I]);
      else Slot = Fields[I];
    }
    auto V = [&](EColumn Column) -> std::string_view& { return Values[size_t(Column)]; };
    TAddressItem& Item = *Entry.Item;
    const std::string_view Family = V(EColumn::Surname);
    std::string Joined;
    const std::string_view Given =
        V(EColumn::MiddleName).empty()
            ? V(EColumn::FirstName)
            : (Joined = JoinWords({std::string(V(EColumn::FirstName)), std::string(V(EColumn::MiddleName))}));
    if (!Family.empty() || !Given.empty()) {
      Entry.Names(Family, Given);
      const std::string_view Full = V(EColumn::FullName);
      if (!Full.empty() && Full != std::string(Given).append(Given.empty() || Family.empty() ? "" : " ").append(Family))
        Entry.Note("Full name", Full);
    } else if (!V(EColumn::FullName).empty()) {
      Entry.NamesFromFullName(V(EColumn::FullName), V(EColumn::FullName) == V(EColumn::Company));
    } else if (!V(EColumn::Company).empty()) {
      Entry.Put(Item.Surname, V(EColumn::Company));
      V(EColumn::Company) = {};
    }
    if (!V(EColumn::Company).empty() && V(EColumn::Company) != Item.Surname.str()) {
      TLines First;  // a line of its own for each line of the name
      First.AddText(std::string("Organisation: ").append(V(EColumn::Company)));
      Entry.Extras.Prepend(First);
    }
    Entry.PutNumber(Item.HomeTelephone, V(EColumn::HomeTel));
    Entry.PutNumber(Item.BusTelephone, V(EColumn::BusTel));
    Entry.Put(Item.BusExtn, V(EColumn::BusExtn));
    if (!V(EColumn::BusFax).empty()) Entry.PutNumberOfKind(ENumberKind::WorkFax, V(EColumn::BusFax), "");
    Entry.PutNumber(Item.BusMobile, V(EColumn::Mobile));
    // An empty cell is no lines, and so is a single empty line.
    auto Address = [&](EColumn Street, bool& Have, TLines& Lines) {
      int S = int(Street);
      auto At = [&](int Offset) -> std::string_view { return Values[size_t(S + Offset)]; };
      AddAddressLines(Lines, At(0), {At(1), At(2), At(3), At(4), At(5), At(6)});
      Have = Lines.Some();
    };
    Address(EColumn::HomeStreet, Entry.HaveHomeAddress, Entry.HomeAddress);
    Address(EColumn::BusStreet, Entry.HaveBusAddress, Entry.BusAddress);
    for (const TGroup& Group : Groups) TakeGroup(Group, Fields, Entry);
    Entry.NoteLines.AddText(V(EColumn::Notes));
    Entry.HaveNotes = Entry.NoteLines.Some();
    if (!Entry.HaveNotes) Entry.NoteLines.clear();
    std::string_view Tab = Trim(V(EColumn::TabPage));
    if (Tab.size() == 1 && Tab[0] >= '0' && Tab[0] <= '2') Item.TabPage = uint8_t(Tab[0] - '0');
    Entry.NameFromFirstOf({Nickname, Email});
    try {
      Entry.Finish(Line, Result);
      Result.PassOn();
    } catch (const EImportError& E) {
      Result.Refused.push_back({E.Line, E.Problem});
    }
  }
  // Nothing read at all: the input is refused whole, by its first fault.
  if (!Result.AnyEntry() && !Result.Refused.empty())
    throw EImportError(Result.Refused.front().first, Result.Refused.front().second);
  return Result;
}

TImported ReadCsv(std::string_view Text) {
  TInput Input(Text);
  return ReadCsv(Input);
}

// =====================================================================
// Writing

namespace {

// Inside a quoted CSV field only the quote itself is doubled. At has room
// for twice the text.
char* PutCsvQuoted(char* At, std::string_view Text) {
  for (;;) {
    const auto* Quote = static_cast<const char*>(std::memchr(Text.data(), '"', Text.size()));
    const size_t Run = Quote ? size_t(Quote - Text.data()) + 1 : Text.size();
    std::memcpy(At, Text.data(), Run);
    At += Run;
    if (!Quote) return At;
    *At++ = '"';
    Text.remove_prefix(Run);
  }
}

// A value a spreadsheet would take for a formula (a card from a server may
// plant "=HYPERLINK(...)") begins with an apostrophe, which the reader takes
// off again; so does a value that begins with an apostrophe and such a
// character, to come back unchanged.
bool NeedsApostrophe(std::string_view Text) {
  return StartsFormula(Text) || (Text.size() > 1 && Text[0] == '\'' && StartsFormula(Text.substr(1)));
}

// A telephone number keeps its "+".
char* PutCsvField(char* At, std::string_view Text, bool Number = false) {
  *At++ = '"';
  const bool Dialled = Number && !Text.empty() && Text[0] == '+' &&
                       Text.find_first_not_of("0123456789 ()-./", 1) == std::string_view::npos;
  if (NeedsApostrophe(Text) && !(Dialled && StartsFormula(Text))) *At++ = '\'';
  At = PutCsvQuoted(At, Text);
  *At++ = '"';
  return At;
}

}  // namespace

void AppendCsvHeader(std::string& Out) {
  Out +=
      "\"Last Name\",\"First Name\",\"Home Phone\",\"Home Street\",\"Business Phone\","
      "\"Business Extension\",\"Business Fax\",\"Mobile Phone\",\"Business Street\",\"Tab Page\",\"Notes\"\r\n";
}

void AppendCsvRecord(std::string& Out, const TEntryView& Item) {
  // Room for the worst case (every byte a quote) is made once, and the
  // record written into it.
  size_t Most = 64;
  for (std::string_view Field : Item.TextFields()) Most += 2 * Field.size() + 3;
  for (const TLinesView* List : Item.LineLists()) Most += 2 * List->PackedSize() + 3;
  const size_t Start = Out.size();
  Out.resize(Start + Most);
  char* At = Out.data() + Start;
  auto Lines = [&](const TLinesView& List) {
    *At++ = '"';
    bool First = true;
    List.ForEach([&](std::string_view Line) {
      if (First && NeedsApostrophe(Line)) *At++ = '\'';
      if (!First) *At++ = '\n';
      First = false;
      At = PutCsvQuoted(At, Line);
    });
    *At++ = '"';
  };
  At = PutCsvField(At, Item.Surname);
  *At++ = ',';
  At = PutCsvField(At, Item.FirstName);
  *At++ = ',';
  At = PutCsvField(At, Item.HomeTelephone, true);
  *At++ = ',';
  Lines(Item.HomeAddress);
  *At++ = ',';
  At = PutCsvField(At, Item.BusTelephone, true);
  *At++ = ',';
  At = PutCsvField(At, Item.BusExtn);
  *At++ = ',';
  At = PutCsvField(At, Item.BusFacsimile, true);
  *At++ = ',';
  At = PutCsvField(At, Item.BusMobile, true);
  *At++ = ',';
  Lines(Item.BusAddress);
  const char Page[] = {',', '"', char('0' + (Item.TabPage <= 2 ? Item.TabPage : 0)), '"', ','};
  At = std::copy(std::begin(Page), std::end(Page), At);
  Lines(Item.Notes);
  *At++ = '\r';
  *At++ = '\n';
  Out.resize(size_t(At - Out.data()));
}
