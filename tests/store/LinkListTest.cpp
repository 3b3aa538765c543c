#include <gtest/gtest.h>

#include "StoreTestUtil.h"

TEST(LinkList, PositionsAndCursorOnEmptyAndShortLists) {
  TMyLinkList List;
  EXPECT_TRUE(List.IsEmpty());
  EXPECT_EQ(List.GetItem(0), nullptr);
  TListNode* Cursor;
  List.ResetCursor(Cursor);
  EXPECT_FALSE(List.MoveNext(Cursor));

  TAddressItem* Only = MakeItem("Lee", "Ann");
  List.Add(Only);
  EXPECT_EQ(List.GetItem(-1), nullptr);
  EXPECT_EQ(List.GetItem(List.Count), nullptr);
  EXPECT_EQ(List.GetItem(0), Only);
  List.ResetCursor(Cursor);
  ASSERT_TRUE(List.MoveNext(Cursor));
  EXPECT_EQ(Cursor, Only);
  EXPECT_FALSE(List.MoveNext(Cursor));
  EXPECT_EQ(Cursor, Only);

  TMyLinkList Other;
  TAddressItem Stranger;
  Other.Add(MakeItem("X", ""));
  EXPECT_EQ(List.IndexOf(Other.Head), -1);
  EXPECT_EQ(List.IndexOf(&Stranger), -1);
  EXPECT_EQ(List.IndexOf(Only), 0);
}

// Gathered from both ends, the nodes of lists of odd and even lengths come
// in the order a cursor walks them, each once.
TEST(LinkList, NodesAreEveryNodeInListOrder) {
  for (int Length = 0; Length <= 6; ++Length) {
    TMyLinkList List;
    for (int I = 0; I < Length; ++I) List.Add(MakeItem(std::string(1, char('A' + (I * 5) % 7)), ""));
    std::vector<TListNode*> Walked;
    TListNode* Cursor;
    List.ResetCursor(Cursor);
    while (List.MoveNext(Cursor)) Walked.push_back(Cursor);
    EXPECT_EQ(List.Nodes(), Walked) << Length << " nodes";
  }
}

TEST(LinkList, RemoveKeepsLinksConsistent) {
  TMyLinkList List;
  TAddressItem* A = MakeItem("A", "");
  List.Add(A);
  List.Remove(A);
  EXPECT_EQ(List.Head, nullptr);
  EXPECT_EQ(List.Tail, nullptr);
  EXPECT_EQ(List.Count, 0);
  delete A;

  TAddressItem* First = MakeItem("A", "");
  TAddressItem* Second = MakeItem("B", "");
  List.Add(Second);
  List.Add(First);
  List.Remove(First);
  EXPECT_EQ(List.Head, Second);
  EXPECT_EQ(List.Tail, Second);
  EXPECT_EQ(Second->Next, nullptr);
  EXPECT_EQ(Second->Prev, nullptr);
  EXPECT_EQ(First->Next, nullptr);
  delete First;

  TAddressItem* Third = MakeItem("C", "");
  List.InsertAfter(nullptr, Third);  // an anchor of none makes a new head
  EXPECT_EQ(List.Head, Third);
  EXPECT_EQ(List.Tail, Second);
  List.Delete(Second);
  EXPECT_EQ(List.Tail, Third);
  EXPECT_EQ(List.Count, 1);
}

TEST(LinkList, NameOrderIsSurnameThenFirstName) {
  TNameOrder::Use("en_US");
  TMyLinkList List;
  TAddressItem* FirstBrown = MakeItem("Brown", "Ann");
  List.Add(FirstBrown);
  List.Add(MakeItem("Adams", "Zoe"));
  TAddressItem* SecondBrown = MakeItem("Brown", "Ann");
  List.Add(SecondBrown);
  EXPECT_EQ(NamesOf(List), "Adams/Zoe|Brown/Ann|Brown/Ann");
  EXPECT_EQ(List.GetItem(1), FirstBrown);
  EXPECT_EQ(List.GetItem(2), SecondBrown);

  TMyLinkList Names;
  Names.Add(MakeItem("adams", ""));
  Names.Add(MakeItem("Zeta", ""));
  Names.Add(MakeItem("Smithe", "Adam"));
  Names.Add(MakeItem("Smith", "John"));
  Names.Add(MakeItem("", "Carl"));  // no surname: sorts by the first name alone
  Names.Add(MakeItem("", "Zed"));
  Names.Add(MakeItem("Dan", ""));
  // Case is weighed only between otherwise equal names.
  EXPECT_EQ(NamesOf(Names), "adams/|/Carl|Dan/|Smith/John|Smithe/Adam|/Zed|Zeta/");
  TNameOrder::Use(TNameOrder::DesktopLocale());
}

TEST(LinkList, CompareSeesTheBoundaryBetweenTheNames) {
  TNameOrder::Use("en_US");
  TAddressItem A, B;
  A.Surname = "Smi";
  A.FirstName = "th";
  B.Surname = "Smith";
  EXPECT_EQ(TMyLinkList::CompareItems(A, B), -1);  // "Smi" before "Smith"
  B.FirstName = "a";
  EXPECT_EQ(TMyLinkList::CompareItems(A, B), -1);
  EXPECT_EQ(TMyLinkList::CompareItems(B, A), 1);
  A.Surname = "\xC3\xA9";  // "é" among the E's
  EXPECT_EQ(TMyLinkList::CompareItems(A, B), -1);
  B.Surname = "e";
  B.FirstName = "th";
  EXPECT_EQ(TMyLinkList::CompareItems(A, B), 1);  // the accent weighs after the letters
  TNameOrder::Use(TNameOrder::DesktopLocale());
}

TEST(AddressItem, TextsAreCutToTheirCapacityInCharacters) {
  TAddressItem Item;
  Item.Surname = std::string(60, 'x');
  EXPECT_EQ(Item.Surname.str(), std::string(50, 'x'));
  Item.BusExtn = "123456789012";
  EXPECT_EQ(Item.BusExtn.str(), "1234567890");
  // Two-byte characters count once and are never split.
  std::string Umlauts;
  for (int I = 0; I < 12; ++I) Umlauts += "\xC3\xBC";
  Item.BusExtn = Umlauts;
  EXPECT_EQ(CharCount(Item.BusExtn.str()), 10u);
  EXPECT_EQ(Item.BusExtn.size(), 20u);
  Item.Surname = std::string(49, 'a') + "\xE2\x82\xAC\xE2\x82\xAC";
  EXPECT_EQ(Item.Surname.str(), std::string(49, 'a') + "\xE2\x82\xAC");
}

TEST(LineList, KeepsLinesIncludingEmptyAndLongOnes) {
  TLineList Lines;
  Lines.SetText("1 Hill Rd\n\nLeeds\r\n" + std::string(300, 'z'));
  ASSERT_EQ(Lines.Count(), 4);
  EXPECT_EQ(Lines[0], "1 Hill Rd");
  EXPECT_EQ(Lines[1], "");
  EXPECT_EQ(Lines[2], "Leeds");
  EXPECT_EQ(Lines[3], std::string(300, 'z'));
  EXPECT_EQ(Lines.Text(), "1 Hill Rd\n\nLeeds\n" + std::string(300, 'z'));
  Lines.SetText("");
  EXPECT_EQ(Lines.Count(), 0);
  Lines.SetText("a\n");
  EXPECT_EQ(Lines.Lines(), (std::vector<std::string>{"a", ""}));
}

TEST(TextCodec, Windows1252IsConvertedAndUtf8KeptAsItIs) {
  EXPECT_EQ(ToUtf8("M\xFCller"), "M\xC3\xBCller");
  EXPECT_EQ(ToUtf8("\x80 5"), "\xE2\x82\xAC 5");
  EXPECT_EQ(ToUtf8("M\xC3\xBCller"), "M\xC3\xBCller");
  // High bytes side by side that look like the start of a UTF-8 sequence
  // but are not one: "Çé", "éèà".
  EXPECT_EQ(ToUtf8("\xC7\xE9"), "\xC3\x87\xC3\xA9");
  EXPECT_EQ(ToUtf8("\xE9\xE8\xE0"), "\xC3\xA9\xC3\xA8\xC3\xA0");
  EXPECT_FALSE(IsValidUtf8("\xC7\xE9"));
  EXPECT_FALSE(IsValidUtf8("0123456789 \xE9\xE8\xE0"));  // past the fast ASCII stretch
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));                 // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));             // surrogate
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));                 // cut short
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x93\x9E"));          // telephone receiver
}
