#include "Csv.h"

#include <algorithm>
#include <array>

#include "TextCodec.h"

using namespace ContactFields;

// =====================================================================
// Reading

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

// =====================================================================
// Writing

namespace {

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
