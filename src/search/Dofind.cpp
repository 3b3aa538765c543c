#include "Dofind.h"

#include "Adrbook.h"
#include "Letters.h"
#include "NameOrder.h"
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

// Beyond ASCII the value is folded as it is read, a character at a time, and
// compared with the folded text's code points; the match is then in the
// value's own bytes, whose length may differ from the text's ("ẞ" for "ß").
TMatch FindUnicodeFolded(std::string_view Value, std::u32string_view Folded, bool Turkic) {
  auto FoldedAt = [&](size_t At, size_t& Size) {
    const auto Byte = static_cast<unsigned char>(Value[At]);
    if (Byte < 0x80) {
      Size = 1;
      return FoldCase(Byte);
    }
    const TUtf8Char Char = DecodeUtf8(Value, At);
    Size = Char.Size;
    return Char.Valid ? FoldCase(Char.Code, Turkic) : char32_t(0xFFFFFFFF);  // a stray byte matches nothing
  };
  // A match starts at one of the first letter's ASCII cases or at the first
  // byte of a longer character: every other byte is passed over undecoded.
  const char32_t First = Folded[0];
  const bool AsciiFirst = First < 0x80;
  const unsigned char Mask = First >= 'a' && First <= 'z' ? 0x20 : 0;
  const bool LongerFirst = !AsciiFirst || First == 'k' || First == 's' || (Turkic && First == 'i');
  for (size_t At = 0; At < Value.size(); ++At) {
    const auto Byte = static_cast<unsigned char>(Value[At]);
    if (Byte < 0x80 ? !AsciiFirst || (Byte | Mask) != First : !LongerFirst || Byte < 0xC0) continue;
    size_t End = At, K = 0, Size = 0;
    while (K < Folded.size() && End < Value.size() && FoldedAt(End, Size) == Folded[K]) End += Size, ++K;
    if (K == Folded.size()) return {At, End - At};
  }
  return {};
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

constexpr ESearchField MultiLineFields[] = {ESearchField::HomeAddress, ESearchField::BusAddress, ESearchField::Notes};

}  // namespace

int FieldPage(ESearchField Field) {
  switch (Field) {
    case ESearchField::Surname:
    case ESearchField::FirstName:
      return -1;
    case ESearchField::HomeTelephone:
    case ESearchField::HomeAddress:
      return 0;
    case ESearchField::Notes:
      return 2;
    default:
      return 1;
  }
}

bool IsMultiLineField(ESearchField Field) { return Field >= ESearchField::HomeAddress; }

TSearchRules TSearchRules::Read(const ISearchCriteria& Criteria) {
  TSearchRules Rules;
  Rules.Text = Criteria.SearchText();
  Rules.MatchCase = Criteria.Checked(ESearchBox::MatchCase);
  Rules.WholeWords = Criteria.Checked(ESearchBox::WholeWords);
  Rules.Turkic = TNameOrder::Current().Turkic();
  if (!Rules.MatchCase) Rules.Text = FoldCase(Rules.Text, Rules.Turkic);
  Rules.AsciiText = AsciiPrefix(Rules.Text) == Rules.Text.size();
  for (size_t At = 0; !Rules.MatchCase && At < Rules.Text.size();) {
    const TUtf8Char Char = DecodeUtf8(Rules.Text, At);
    Rules.FoldedCodes += Char.Valid ? Char.Code : char32_t(0xFFFFFFFE);  // a stray byte is never found
    At += Char.Size;
  }
  // The Kelvin sign and the long s are the only letters beyond ASCII that
  // fold into it (the table's generator checks this).
  // So are the dotted capital and the dotless small i under Turkic rules.
  Rules.FoldsFromBeyondAscii =
      !Rules.MatchCase && Rules.Text.find_first_of(Rules.Turkic ? "ksi" : "ks") != std::string::npos;
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
  } else if (Rules.AsciiText && (!Rules.FoldsFromBeyondAscii || AsciiPrefix(Value) == Value.size())) {
    // Such a text can match only the value's own ASCII bytes, which the quick
    // search reads in place; the bytes of other characters never match there.
    Match = {FindAsciiFolded(Value, Text), Text.size()};
  } else if (AsciiPrefix(Value) < Value.size()) {
    Match = FindUnicodeFolded(Value, Rules.FoldedCodes, Rules.Turkic);
  }  // else ASCII folds only to ASCII: a text beyond it cannot match
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

TAddressItem* TSearchEngine::FoundEntry() const { return FPastEnd ? nullptr : static_cast<TAddressItem*>(FCursor); }

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
