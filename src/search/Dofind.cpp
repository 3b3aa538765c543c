#include "Dofind.h"

#include "Adrbook.h"
#include "Letters.h"
#include "TextCodec.h"

namespace {

constexpr char LowerAscii(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C + 32) : C; }

// Plain ASCII on both sides, the text folded: a letter and its other case
// differ only in bit 5, so one masked compare finds the first byte in either case.
size_t FindAsciiFolded(std::string_view Value, std::string_view Folded) {
  const size_t Size = Folded.size();
  if (Size > Value.size()) return std::string_view::npos;
  const char First = Folded[0];
  const char Mask = First >= 'a' && First <= 'z' ? char(0x20) : char(0);
  const char* Data = Value.data();
  const size_t Last = Value.size() - Size;
  for (size_t At = 0; At <= Last; ++At) {
    if ((Data[At] | Mask) != First) continue;
    size_t K = 1;
    while (K < Size && LowerAscii(Data[At + K]) == Folded[K]) ++K;
    if (K == Size) return At;
  }
  return std::string_view::npos;
}

// The bytes a character of the value takes once folded.
size_t FoldedSize(const TUtf8Char& Char) {
  if (!Char.Valid || Char.Code < 0x80) return 1;
  const char32_t Folded = FoldCase(Char.Code);  // the Kelvin sign folds to ASCII "k"
  return Folded < 0x80 ? 1 : Folded < 0x800 ? 2 : Folded < 0x10000 ? 3 : 4;
}

// Beyond ASCII a letter may fold to another length ("ẞ" to "ß"): the value
// is folded whole, and the match found there is walked back to the value's
// own bytes, so that the selection covers exactly what matched.
TMatch FindUnicodeFolded(std::string_view Value, std::string_view Folded) {
  thread_local std::string Scratch;
  Scratch.clear();
  AppendCaseFolded(Scratch, Value);
  const size_t Found = Scratch.find(Folded);
  if (Found == std::string::npos) return {};
  size_t At = 0, Out = 0;
  auto WalkTo = [&](size_t Target) {
    while (Out < Target && At < Value.size()) {
      const TUtf8Char Char = DecodeUtf8(Value, At);
      Out += FoldedSize(Char);
      At += Char.Size;
    }
    return Out == Target;
  };
  if (!WalkTo(Found)) return {};
  const size_t Start = At;
  if (!WalkTo(Found + Folded.size())) return {};
  return {Start, At - Start};
}

bool LetterBefore(std::string_view Value, size_t At) {
  if (At == 0) return false;
  const TUtf8Char Char = DecodeUtf8Before(Value, At);
  return Char.Valid && IsWordLetter(Char.Code);
}

bool LetterAt(std::string_view Value, size_t At) {
  if (At >= Value.size()) return false;
  const TUtf8Char Char = DecodeUtf8(Value, At);
  return Char.Valid && IsWordLetter(Char.Code);
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
  if (!Rules.MatchCase) Rules.Text = FoldCase(Rules.Text);
  Rules.AsciiText = AsciiPrefix(Rules.Text) == Rules.Text.size();
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

TMatch FindMatch(std::string_view Value, const TSearchRules& Rules) {
  const std::string_view Text = Rules.Text;
  if (Text.empty()) return {};
  TMatch Match;
  if (Rules.MatchCase) {
    Match = {Value.find(Text), Text.size()};
  } else if (AsciiPrefix(Value) == Value.size()) {
    // ASCII folds only to ASCII: a text beyond it cannot match here.
    if (Rules.AsciiText) Match = {FindAsciiFolded(Value, Text), Text.size()};
  } else {
    Match = FindUnicodeFolded(Value, Text);
  }
  if (Match.At == std::string_view::npos) return {};
  // Only the first occurrence is judged.
  if (Rules.WholeWords && (LetterBefore(Value, Match.At) || LetterAt(Value, Match.At + Match.Size))) return {};
  return Match;
}

int32_t MatchField(std::string_view Value, const TSearchRules& Rules) {
  const TMatch Match = FindMatch(Value, Rules);
  return Match.At == std::string_view::npos ? 0 : static_cast<int32_t>(Match.At + 1);
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
    const std::string_view Value = Single[Index];
    const TMatch Match = FindMatch(Value, Rules);
    if (Match.At == std::string_view::npos) continue;
    Found.Field = static_cast<ESearchField>(Index);
    Found.SelStart = ControlLength(Value.substr(0, Match.At));
    Found.SelLength = ControlLength(Value.substr(Match.At, Match.Size));
    return true;
  }
  const TLineList* Lists[] = {&Item.HomeAddress, &Item.BusAddress, &Item.Notes};
  for (size_t Index = 0; Index < std::size(Lists); ++Index) {
    const ESearchField Field = MultiLineFields[Index];
    if (!Rules.Fields[static_cast<size_t>(Field)]) continue;
    int32_t Line = 0, HitLine = -1;
    Lists[Index]->ForEach([&](std::string_view Text) {
      if (HitLine >= 0) return;
      const TMatch Match = FindMatch(Text, Rules);
      if (Match.At != std::string_view::npos) {
        HitLine = Line;
        Found.SelStart = ControlLength(Text.substr(0, Match.At));
        Found.SelLength = ControlLength(Text.substr(Match.At, Match.Size));
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
