// The search engine without a window: matching, the choice of fields, the
// positions handed to the controls, and the cursor.
#include <gtest/gtest.h>

#include <set>

#include "Adrbook.h"
#include "Dofind.h"
#include "NameOrder.h"

namespace {

struct TCriteria : ISearchCriteria {
  std::string Text;
  std::set<ESearchBox> On{ESearchBox::AnyField};
  std::string SearchText() const override { return Text; }
  bool Checked(ESearchBox Box) const override { return On.count(Box) > 0; }
};

TSearchRules Rules(const char* Text, bool MatchCase, bool WholeWords) {
  TCriteria Criteria;
  Criteria.Text = Text;
  if (MatchCase) Criteria.On.insert(ESearchBox::MatchCase);
  if (WholeWords) Criteria.On.insert(ESearchBox::WholeWords);
  return TSearchRules::Read(Criteria);
}

}  // namespace

TEST(MatchField, CaseWordsAndFirstOccurrence) {
  TNameOrder::Use("en_US");
  struct {
    const char* Value;
    const char* Text;
    bool MatchCase, WholeWords;
    int Expected;
  } Cases[] = {
      // clang-format off
      {"Mr SMITH", "smith", false, false, 4},      {"Smith", "smith", true, false, 0},
      {"smith", "smith", true, false, 1},          {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false, false, 1},
      {"John Smith", "John", false, true, 1},      {"Smith-John", "John", false, true, 7},
      {"John2", "John", false, true, 1},           {"Johnson", "John", false, true, 0},
      {"Johnson, John", "John", false, true, 0},   {"Smiths", "Smith", false, true, 0},
      {"\xC3\xA9John", "JOHN", false, true, 0},    {"Lane End", " Lane", false, false, 0},
      {"Old lane", " Lane", false, false, 4},      {"anything", "", false, false, 0},
      {"ab", "abc", false, false, 0},              {"x[y", "X[Y", false, false, 1},
      // A letter one byte before or after refuses a whole word, in either case mode.
      {"aJohn", "John", false, true, 0},           {"aJohn", "John", true, true, 0},
      {"\xE2\x82\xAC" "John", "john", false, true, 4},  // "€" is no letter
      // Letters beyond ASCII are letters, and fold to their other case.
      {"M\xC3\xBCller", "ller", false, true, 0},
      {"M\xC3\xBCller", "ller", true, true, 0},
      {"Mu\xCC\x88ller", "Mu", false, true, 0},  // a combining mark is part of the word
      {"\xC3\x96zt\xC3\xBCrk", "\xC3\xB6zt\xC3\xBCrk", false, false, 1},
      {"\xC3\x96zt\xC3\xBCrk", "\xC3\xB6zt\xC3\xBCrk", true, false, 0},
      {"M\xC3\xBCller", "M\xC3\x9CLLER", false, true, 1},
      // Simple folding: one character for one, so "ẞ" is "ß" but "ß" is not "SS".
      {"GRO\xE1\xBA\x9E" "E", "gro\xC3\x9F" "e", false, false, 1},
      {"Fu\xC3\x9F", "\xE1\xBA\x9E", false, false, 3},
      {"Stra\xC3\x9F" "e", "STRASSE", false, false, 0},
      {"\xC4\xB0stanbul", "istanbul", false, false, 0},  // "İ" folds to nothing else
      {"\xC4\xB0stanbul", "\xC4\xB0STANBUL", false, false, 1},
      {"\xC4\xB1i", "I", false, false, 3},                // "ı" is not "I"
      {"\xCE\x9F\xCE\x94\xCE\xA5\xCE\xA3\xCE\xA3\xCE\x95\xCE\xA5\xCE\xA3",
       "\xCE\xBF\xCE\xB4\xCF\x85\xCF\x83\xCF\x83\xCE\xB5\xCF\x85\xCF\x82", false, true, 1},  // final sigma
      {"x \xE2\x84\xAA" "elvin", "kelvin", false, false, 3},  // the Kelvin sign is a K
      {"\xC5\xBFun", "SUN", false, false, 1},                  // and the long s an S
      {"Caf\xC3\xA9 Otter", "OTTER", false, true, 7},
      {"\xC3\x96l \xC3\x96zt", "\xC3\xB6zt", false, false, 5},     // the first start fails
      {"Jean-\xC3\x89mile", "-\xC3\xA9", false, false, 5},
  };
  // clang-format on
  for (const auto& Case : Cases)
    EXPECT_EQ(MatchField(Case.Value, Rules(Case.Text, Case.MatchCase, Case.WholeWords)), Case.Expected)
        << Case.Value << " / " << Case.Text;
}

TEST(MatchField, DottedAndDotlessIMatchTheirCapitalsInTurkishAndAzeri) {
  struct {
    const char* Locale;
    const char* Value;
    const char* Text;
    int Expected;
  } Cases[] = {
      {"tr_TR", "Y\xC4\xB1lmaz", "YILMAZ", 1},  // "Yılmaz"
      {"tr_TR",
       "\xC3\x87"
       "a\xC4\x9Fr\xC4\xB1",
       "A\xC4\x9ERI", 3},                           // "Çağrı" / "AĞRI"
      {"az_AZ.UTF-8", "\xC4\xB0lker", "ilker", 1},  // "İlker"
      {"tr_TR", "ilker", "\xC4\xB0LKER", 1},
      {"tr_TR", "\xC4\xB0stanbul", "istanbul", 1},
      {"tr_TR", "Kara I\xC5\x9F\xC4\xB1k", "\xC4\xB1\xC5\x9F\xC4\xB1k", 6},  // "Işık" / "ışık"
      {"tr_TR", "ILKER", "ilker", 1},                                        // typed without Turkish letters
      {"tr_TR", "Smith", "SMITH", 1},
      {"tr_TR", "Y\xC4\xB1lmaz", "yilmax", 0},
      {"en_US", "Y\xC4\xB1lmaz", "YILMAZ", 0},  // elsewhere "ı" is a letter of its own
      {"en_US", "\xC4\xB0stanbul", "istanbul", 0},
  };
  for (const auto& Case : Cases) {
    TNameOrder::Use(Case.Locale);
    EXPECT_EQ(MatchField(Case.Value, Rules(Case.Text, false, false)), Case.Expected)
        << Case.Locale << " " << Case.Value << " / " << Case.Text;
    // Case Sensitive keeps every letter apart.
    if (std::string(Case.Value) != Case.Text) {
      EXPECT_EQ(MatchField(Case.Value, Rules(Case.Text, true, false)), 0) << Case.Value;
    }
  }
  TNameOrder::Use(TNameOrder::DesktopLocale());
}

TEST(SearchEntry, FieldChoicePositionsAndOrder) {
  TAddressItem Item;
  Item.Surname = "Carter";
  Item.BusExtn = "42";
  Item.HomeAddress.SetText("0123456789\nabcde\nxx Lane");
  Item.BusAddress.SetText(
      "\xC3\xA9\xC3\xA9\nGr\xC3\xBC\xC3\x9F"
      "e \xF0\x9D\x84\x9E Lane");  // éé / Grüße 𝄞 Lane
  Item.Notes.SetText("Carter Lane");
  struct {
    const char* Text;
    std::set<ESearchBox> On;
    bool Matches;
    ESearchField Field;
    int SelStart, SelLength;
  } Cases[] = {
      // The first chosen field wins: the surname before the notes.
      {"carter", {ESearchBox::AnyField}, true, ESearchField::Surname, 0, 6},
      {"carter", {ESearchBox::Notes}, true, ESearchField::Notes, 0, 6},
      // A box counts only with its group ticked; enabling is not read.
      {"carter", {ESearchBox::Surname}, false, {}, 0, 0},
      {"42", {ESearchBox::Numbers, ESearchBox::Extension}, true, ESearchField::BusExtn, 0, 2},
      {"42", {ESearchBox::Numbers, ESearchBox::HomeNo}, false, {}, 0, 0},
      // Third line after lines of 10 and 5 characters: one unit per paragraph break.
      {"lane", {ESearchBox::Addresses, ESearchBox::HomeAddress}, true, ESearchField::HomeAddress, 11 + 6 + 3, 4},
      // Wide characters before the match count as the control counts them.
      {"lane", {ESearchBox::Addresses, ESearchBox::WorkAddress}, true, ESearchField::BusAddress, 3 + 9, 4},
  };
  for (const auto& Case : Cases) {
    TCriteria Criteria;
    Criteria.Text = Case.Text;
    Criteria.On = Case.On;
    TFoundField Found;
    ASSERT_EQ(SearchEntry(Item, TSearchRules::Read(Criteria), Found), Case.Matches) << Case.Text;
    if (!Case.Matches) continue;
    EXPECT_EQ(Found.Field, Case.Field) << Case.Text;
    EXPECT_EQ(Found.SelStart, Case.SelStart) << Case.Text;
    EXPECT_EQ(Found.SelLength, Case.SelLength) << Case.Text;
  }
}

// The selection in the control's own units (UTF-16, a paragraph break one):
// characters of every UTF-8 length before the match, and matches whose folded
// form is shorter or longer than the value's own bytes.
TEST(SearchEntry, SelectionCoversExactlyTheMatchedText) {
  struct {
    const char* Surname;
    const char* Notes;
    const char* Text;
    ESearchField Field;
    int SelStart, SelLength;
  } Cases[] = {
      {"\xE2\x82\xAC Lane", "", "lane", ESearchField::Surname, 2, 4},              // € Lane
      {"\xE6\x97\xA5\xE6\x9C\xAC Lane", "", "lane", ESearchField::Surname, 3, 4},  // 日本 Lane
      {"\xC3\xA9 Lane", "", "lane", ESearchField::Surname, 2, 4},
      {"\xF0\x9D\x84\x9E Lane", "", "lane", ESearchField::Surname, 3, 4},  // a surrogate pair
      {"-", "first\n\xE6\x97\xA5\xE6\x9C\xAC Lane", "LANE", ESearchField::Notes, 6 + 3, 4},
      {"GRO\xE1\xBA\x9E"
       "E",
       "",
       "gro\xC3\x9F"
       "e",
       ESearchField::Surname, 0, 5},
      {"Fu\xC3\x9F \xE1\xBA\x9E", "", "\xC3\x9F \xC3\x9F", ESearchField::Surname, 2, 3},
      {"x \xE2\x84\xAA"
       "elvin",
       "", "KELVIN", ESearchField::Surname, 2, 6},
      {"\xC7\x84"
       "uro",
       "", "\xC7\x86", ESearchField::Surname, 0, 1},
  };
  for (const auto& Case : Cases) {
    TAddressItem Item;
    Item.Surname = Case.Surname;
    Item.Notes.SetText(Case.Notes);
    TCriteria Criteria;
    Criteria.Text = Case.Text;
    TFoundField Found;
    ASSERT_TRUE(SearchEntry(Item, TSearchRules::Read(Criteria), Found)) << Case.Surname;
    EXPECT_EQ(Found.Field, Case.Field) << Case.Surname;
    EXPECT_EQ(Found.SelStart, Case.SelStart) << Case.Surname;
    EXPECT_EQ(Found.SelLength, Case.SelLength) << Case.Surname;
  }
}

TEST(SearchEngine, CursorWalksFollowsAndSurvivesRemoval) {
  TMyLinkList Items;
  TAddressItem* Entries[4];
  for (int Index = 0; Index < 4; ++Index) {
    Entries[Index] = new TAddressItem;
    Entries[Index]->Surname = std::string(1, char('A' + Index));
    Entries[Index]->Notes.SetText(Index % 2 ? "hit" : "miss");
    Items.Add(Entries[Index]);
  }
  TCriteria Criteria;
  Criteria.Text = "hit";
  TSearchEngine Search;
  Search.FollowEntry(Entries[2]);  // no search yet: nothing to follow
  EXPECT_FALSE(Search.CursorSet());
  ASSERT_TRUE(Search.FindFirstMatch(Items, Criteria));
  EXPECT_EQ(Search.FoundEntry(), Entries[1]);
  Search.FollowEntry(Entries[2]);
  ASSERT_TRUE(Search.FindNextMatch(Items, Criteria));
  EXPECT_EQ(Search.FoundEntry(), Entries[3]);
  EXPECT_FALSE(Search.FindNextMatch(Items, Criteria));

  // A cursor on an entry about to go stands at the end until it follows again.
  for (auto Remove : {+[](TSearchEngine&S, TAddressItem*E) { S.EntryRemoved(E); },
                      +[](TSearchEngine&S, TAddressItem*) { S.ListReplaced(); }}) {
    Search.FollowEntry(Entries[0]);
    Remove(Search, Entries[0]);
    EXPECT_EQ(Search.FoundEntry(), nullptr);
    EXPECT_FALSE(Search.FindNextMatch(Items, Criteria));
    Search.FollowEntry(Entries[0]);
    EXPECT_TRUE(Search.FindNextMatch(Items, Criteria));
  }

  // An empty list leaves no cursor, so the next search starts at the top.
  TMyLinkList Empty;
  EXPECT_FALSE(Search.FindFirstMatch(Empty, Criteria));
  EXPECT_TRUE(Search.FindNextMatch(Items, Criteria));
  EXPECT_EQ(Search.FoundEntry(), Entries[1]);
}
