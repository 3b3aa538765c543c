#include "Dofind.h"

#include "Adrbook.h"

namespace {

// Only a to z are folded: other bytes, UTF-8 sequences included, stay as they are.
constexpr char Upper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C; }
constexpr bool IsLetter(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }

// A letter and its other case differ only in bit 5, so one masked compare
// finds the first byte in either case.
size_t FindFolded(std::string_view Value, std::string_view Folded) {
  const size_t Size = Folded.size();
  if (Size > Value.size()) return std::string_view::npos;
  const char First = Folded[0];
  const char Mask = First >= 'A' && First <= 'Z' ? static_cast<char>(~0x20) : static_cast<char>(~0);
  const char* Data = Value.data();
  const size_t Last = Value.size() - Size;
  for (size_t At = 0; At <= Last; ++At) {
    if ((Data[At] & Mask) != First) continue;
    size_t K = 1;
    while (K < Size && Upper(Data[At + K]) == Folded[K]) ++K;
    if (K == Size) return At;
  }
  return std::string_view::npos;
}

constexpr ESearchField MultiLineFields[] = {ESearchField::HomeAddress, ESearchField::BusAddress,
                                           ESearchField::Notes};

}  // namespace

int FieldPage(ESearchField Field) {
  switch (Field) {
    case ESearchField::Surname:
    case ESearchField::FirstName: return -1;
    case ESearchField::HomeTelephone:
    case ESearchField::HomeAddress: return 0;
    case ESearchField::Notes: return 2;
    default: return 1;
  }
}

bool IsMultiLineField(ESearchField Field) { return Field >= ESearchField::HomeAddress; }

TSearchRules TSearchRules::Read(const ISearchCriteria& Criteria) {
  TSearchRules Rules;
  Rules.Text = Criteria.SearchText();
  Rules.MatchCase = Criteria.Checked(ESearchBox::MatchCase);
  Rules.WholeWords = Criteria.Checked(ESearchBox::WholeWords);
  if (!Rules.MatchCase)
    for (char& C : Rules.Text) C = Upper(C);
  // Check marks only: a box disabled under "Anywhere" keeps its mark and is not read.
  const bool Any = Criteria.Checked(ESearchBox::AnyField);
  auto Chosen = [&](ESearchBox Group, ESearchBox Own) {
    return Any || (Criteria.Checked(Group) && Criteria.Checked(Own));
  };
  auto Set = [&](ESearchField Field, bool On) { Rules.Fields[static_cast<size_t>(Field)] = On; };
  Set(ESearchField::Surname, Chosen(ESearchBox::Names, ESearchBox::Surname));
  Set(ESearchField::FirstName, Chosen(ESearchBox::Names, ESearchBox::FirstName));
  Set(ESearchField::HomeTelephone, Chosen(ESearchBox::Numbers, ESearchBox::HomeNo));
  Set(ESearchField::BusTelephone, Chosen(ESearchBox::Numbers, ESearchBox::WorkNo));
  Set(ESearchField::BusExtn, Chosen(ESearchBox::Numbers, ESearchBox::Extension));
  Set(ESearchField::BusMobile, Chosen(ESearchBox::Numbers, ESearchBox::MobileNo));
  Set(ESearchField::BusFacsimile, Chosen(ESearchBox::Numbers, ESearchBox::FaxNo));
  Set(ESearchField::HomeAddress, Chosen(ESearchBox::Addresses, ESearchBox::HomeAddress));
  Set(ESearchField::BusAddress, Chosen(ESearchBox::Addresses, ESearchBox::WorkAddress));
  Set(ESearchField::Notes, Any || Criteria.Checked(ESearchBox::Notes));
  return Rules;
}

int32_t MatchField(std::string_view Value, const TSearchRules& Rules) {
  const std::string_view Text = Rules.Text;
  if (Text.empty()) return 0;
  const size_t At = Rules.MatchCase ? Value.find(Text) : FindFolded(Value, Text);
  if (At == std::string_view::npos) return 0;
  if (Rules.WholeWords) {
    const size_t After = At + Text.size();
    if (At > 0 && IsLetter(Value[At - 1])) return 0;
    if (After < Value.size() && IsLetter(Value[After])) return 0;
  }
  return static_cast<int32_t>(At + 1);
}

int32_t ControlLength(std::string_view Utf8) {
  int32_t Units = 0;
  for (const char C : Utf8) {
    const auto Byte = static_cast<unsigned char>(C);
    if ((Byte & 0xC0) != 0x80) ++Units;  // each character starts once
    if (Byte >= 0xF0) ++Units;           // beyond the first plane: a surrogate pair
  }
  return Units;
}

bool SearchEntry(const TAddressItem& Item, const TSearchRules& Rules, TFoundField& Found) {
  const std::string_view Single[] = {Item.Surname.str(),      Item.FirstName.str(), Item.HomeTelephone.str(),
                                     Item.BusTelephone.str(), Item.BusExtn.str(),   Item.BusMobile.str(),
                                     Item.BusFacsimile.str()};
  for (size_t Index = 0; Index < std::size(Single); ++Index) {
    if (!Rules.Fields[Index]) continue;
    const int32_t Position = MatchField(Single[Index], Rules);
    if (Position == 0) continue;
    const std::string_view Value = Single[Index];
    Found.Field = static_cast<ESearchField>(Index);
    Found.SelStart = ControlLength(Value.substr(0, static_cast<size_t>(Position - 1)));
    Found.SelLength = ControlLength(Value.substr(static_cast<size_t>(Position - 1), Rules.Text.size()));
    return true;
  }
  const TLineList* Lists[] = {&Item.HomeAddress, &Item.BusAddress, &Item.Notes};
  for (size_t Index = 0; Index < std::size(Lists); ++Index) {
    const ESearchField Field = MultiLineFields[Index];
    if (!Rules.Fields[static_cast<size_t>(Field)]) continue;
    int32_t Line = 0, HitLine = -1;
    Lists[Index]->ForEach([&](std::string_view Text) {
      if (HitLine >= 0) return;
      const int32_t Position = MatchField(Text, Rules);
      if (Position > 0) {
        HitLine = Line;
        Found.SelStart = ControlLength(Text.substr(0, static_cast<size_t>(Position - 1)));
        Found.SelLength = ControlLength(Text.substr(static_cast<size_t>(Position - 1), Rules.Text.size()));
      }
      ++Line;
    });
    if (HitLine < 0) continue;
    // The lines before it, each with its paragraph break; measured only for the
    // one field that matched.
    Line = 0;
    Lists[Index]->ForEach([&](std::string_view Text) {
      if (Line++ < HitLine) Found.SelStart += ControlLength(Text) + 1;
    });
    Found.Field = Field;
    return true;
  }
  return false;
}

bool TSearchEngine::FindFirstMatch(const TMyLinkList& Items, const ISearchCriteria& Criteria) {
  TLinkList::ResetCursor(FCursor);
  FPastEnd = false;
  return FindNextMatch(Items, Criteria);
}

bool TSearchEngine::FindNextMatch(const TMyLinkList& Items, const ISearchCriteria& Criteria) {
  if (FPastEnd) return false;
  // Nothing can change the dialog while one step runs, so it is read once a step.
  const TSearchRules Rules = TSearchRules::Read(Criteria);
  TFoundField Found;
  while (Items.MoveNext(FCursor)) {
    if (!SearchEntry(*static_cast<TAddressItem*>(FCursor), Rules, Found)) continue;
    FoundField = Found.Field;
    FoundSelStart = Found.SelStart;
    FoundSelLength = Found.SelLength;
    if (FieldPage(Found.Field) >= 0) FoundPage = FieldPage(Found.Field);
    return true;
  }
  return false;
}

TAddressItem* TSearchEngine::FoundEntry() const {
  return FPastEnd ? nullptr : static_cast<TAddressItem*>(FCursor);
}

void TSearchEngine::FollowEntry(TAddressItem* Entry) {
  if (!CursorSet() || !Entry) return;
  FCursor = Entry;
  FPastEnd = false;
}

void TSearchEngine::EntryRemoved(const TListNode* Entry) {
  if (!FCursor || FCursor != Entry) return;
  FCursor = nullptr;
  FPastEnd = true;
}

void TSearchEngine::ListReplaced() {
  if (!FCursor) return;
  FCursor = nullptr;
  FPastEnd = true;
}
