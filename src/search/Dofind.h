#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class TListNode;
class TAddressItem;
class TMyLinkList;

// The check boxes of the Find dialog, as the engine reads them.
enum class ESearchBox {
  MatchCase,
  WholeWords,
  AnyField,
  Notes,
  Names,
  Surname,
  FirstName,
  Numbers,
  HomeNo,
  WorkNo,
  MobileNo,
  FaxNo,
  Extension,
  Addresses,
  HomeAddress,
  WorkAddress
};

// What the search is asked for; the Find dialog answers from its controls as
// they stand, so Find Next uses whatever the dialog holds now.
class ISearchCriteria {
public:
  virtual ~ISearchCriteria() = default;
  virtual std::string SearchText() const = 0;  // UTF-8, exactly as typed
  virtual bool Checked(ESearchBox Box) const = 0;
};

// The fields of an entry in the order they are tested.
enum class ESearchField {
  Surname,
  FirstName,
  HomeTelephone,
  BusTelephone,
  BusExtn,
  BusMobile,
  BusFacsimile,
  HomeAddress,
  BusAddress,
  Notes
};
constexpr int SearchFieldCount = 10;

// The details page that shows a field; -1 for the two names above the notebook.
int FieldPage(ESearchField Field);
bool IsMultiLineField(ESearchField Field);

// The criteria as read at one moment. Without "Case Sensitive" the text is
// kept folded (Unicode simple case folding), so only each field is folded.
struct TSearchRules {
  std::string Text;
  std::u32string FoldedCodes;         // the folded text as code points
  bool AsciiText = true;              // the text as kept is plain ASCII
  bool FoldsFromBeyondAscii = false;  // a letter beyond ASCII may fold into it
  bool MatchCase = false;
  bool WholeWords = false;
  bool Turkic = false;  // folded by the rules of Turkish and Azeri (Letters.h)
  std::array<bool, SearchFieldCount> Fields{};

  static TSearchRules Read(const ISearchCriteria& Criteria);
};

// Where the search text lies in a value, in the value's bytes; without
// "Case Sensitive" its length may differ from the text's ("ẞ" for "ß").
// Letters of any script, and combining marks, count for whole words; only the
// first occurrence is judged. At is npos when the value does not match.
struct TMatch {
  size_t At = std::string_view::npos;
  size_t Size = 0;
};
TMatch FindMatch(std::string_view Value, const TSearchRules& Rules);
// The 1-based byte position of the match in Value, or 0.
int32_t MatchField(std::string_view Value, const TSearchRules& Rules);

// Where an entry matched. Positions count in the window's controls: UTF-16
// units, a memo's paragraph break being one.
struct TFoundField {
  ESearchField Field = ESearchField::Surname;
  int32_t SelStart = 0;
  int32_t SelLength = 0;
};

// Tests the chosen fields of Item in order; the first that matches wins.
bool SearchEntry(const TAddressItem& Item, const TSearchRules& Rules, TFoundField& Found);

// The number of UTF-16 units the control shows for these UTF-8 bytes.
int32_t ControlLength(std::string_view Utf8);

// The search's state for the life of the program: the cursor on the entry
// examined last, and where the last match lies.
class TSearchEngine {
public:
  // Start from the top, then as FindNextMatch.
  bool FindFirstMatch(const TMyLinkList& Items, const ISearchCriteria& Criteria);
  // The next entry after the cursor that matches; false at the end of the list.
  bool FindNextMatch(const TMyLinkList& Items, const ISearchCriteria& Criteria);
  // The entry under the cursor, or none.
  TAddressItem* FoundEntry() const;
  // A cursor in use moves to the entry the window shows; one never used stays so.
  void FollowEntry(TAddressItem* Entry);
  // Called before an entry is freed, and before a whole list goes: a cursor on
  // what goes stands at the end of the list until it follows another entry.
  void EntryRemoved(const TListNode* Entry);
  void ListReplaced();
  bool CursorSet() const { return FCursor || FPastEnd; }

  ESearchField FoundField = ESearchField::Surname;
  int32_t FoundSelStart = 0;
  int32_t FoundSelLength = 0;
  int32_t FoundPage = 0;  // kept across searches; a match in a name leaves it

private:
  TListNode* FCursor = nullptr;
  bool FPastEnd = false;
};
