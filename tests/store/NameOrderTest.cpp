#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "StoreTestUtil.h"

namespace {

// Each test picks its language and leaves the desktop's behind.
class NameOrderTest : public ::testing::Test {
protected:
  void TearDown() override { TNameOrder::Use(TNameOrder::DesktopLocale()); }
};

struct TOrderCase {
  const char* Locale;
  std::vector<const char*> Names;  // "Surname/First name", in the order expected
};

const TOrderCase OrderCases[] = {
    {"en_US",
     {"Ábel/",           "Adams/Zoe", "Brown/Ann", "Brown/Ann", "brown/Bob", "Brown99995/", "/Carl",   "de la Cruz/Ana",
      "Dean/",           "Lee/",      "Lee2/",     "Lukas/",    "Łukasz/",   "Olsen/",      "Öztürk/", "Smith/Anna",
      "Smith-Jones/Bob", "van Dyke/", "Vance/",    "Zeta/",     "Ωmega/"}},
    {"de_DE.UTF-8",
     {"Adams/", "Ärger/", "Arndt/", "Müller/Anna", "Müller/Bernd", "Muller/Zoe", "Oberle/", "Özdemir/", "Pohl/",
      "Zeta/"}},
    {"sv_SE", {"Adams/", "Arndt/", "Olsson/", "Pohl/", "Zeta/", "Åberg/", "Ärger/", "Östberg/"}},
    {"tr_TR",
     {"Cem/", "Çağrı/", "Dağ/", "Hakan/", "Ilgaz/", "Işık/", "İlker/", "Jale/", "Ozan/", "Öztürk/", "Pamuk/", "Sezer/",
      "Şahin/", "Tan/"}},
    {"nl_NL",
     {"Bakker/", "de Boer/Jan", "de Boer/Piet", "Dekker/", "IJsselstein/", "Jansen/", "van den Berg/", "Vos/"}},
};

std::string Joined(const std::vector<const char*>& Names) {
  std::string Out;
  for (const char* Name : Names) Out += (Out.empty() ? "" : "|") + std::string(Name);
  return Out;
}

TAddressItem* ItemOf(const std::string& Name) {
  const size_t Slash = Name.find('/');
  return MakeItem(Name.substr(0, Slash), Name.substr(Slash + 1));
}

}  // namespace

TEST_F(NameOrderTest, ListsSortAsTheLanguageDoesWhicheverWayTheyAreFilled) {
  for (const TOrderCase& Case : OrderCases) {
    SCOPED_TRACE(Case.Locale);
    TNameOrder::Use(Case.Locale);
    std::vector<const char*> Shuffled = Case.Names;
    std::reverse(Shuffled.begin(), Shuffled.end());
    std::shuffle(Shuffled.begin() + 1, Shuffled.end(), std::mt19937(7));

    TMyLinkList OneByOne, AllAtOnce;
    std::vector<TAddressItem*> Entries;
    for (const char* Name : Shuffled) {
      OneByOne.Add(ItemOf(Name));
      Entries.push_back(ItemOf(Name));
    }
    AllAtOnce.AddAll(Entries);
    EXPECT_EQ(NamesOf(OneByOne), Joined(Case.Names));
    EXPECT_EQ(NamesOf(AllAtOnce), Joined(Case.Names));

    // The keys of a sort agree with the comparison at every pair.
    // So do the keys a sort makes from the names it has seen before.
    const TNameOrder& Order = TNameOrder::Current();
    TNameOrder::TKeyCache Cache;
    for (const char* A : Case.Names)
      for (const char* B : Case.Names) {
        std::unique_ptr<TAddressItem> ItemA(ItemOf(A)), ItemB(ItemOf(B));
        std::string KeyA, KeyB, Cached;
        Order.AppendKey(ItemA->Surname.str(), ItemA->FirstName.str(), KeyA);
        Order.AppendKey(ItemB->Surname.str(), ItemB->FirstName.str(), KeyB);
        Order.AppendKey(ItemA->Surname.str(), ItemA->FirstName.str(), Cached, Cache);
        EXPECT_EQ(Cached, KeyA) << A;
        const int ByKey = KeyA < KeyB ? -1 : KeyA > KeyB ? 1 : 0;
        EXPECT_EQ(ByKey, TMyLinkList::CompareItems(*ItemA, *ItemB)) << A << " against " << B;
      }
  }
}

TEST_F(NameOrderTest, EqualNamesKeepTheirOrderAndANewOneComesAfterThem) {
  TNameOrder::Use("de_DE");
  TMyLinkList List;
  TAddressItem* First = MakeItem("Müller", "Anna");
  TAddressItem* Second = MakeItem("Müller", "Anna");
  std::vector<TAddressItem*> Entries{MakeItem("Zorn", ""), First, MakeItem("Adams", ""), Second};
  List.AddAll(Entries);
  TAddressItem* Third = MakeItem("Müller", "Anna");
  List.Add(Third);
  EXPECT_EQ(List.GetItem(1), First);
  EXPECT_EQ(List.GetItem(2), Second);
  EXPECT_EQ(List.GetItem(3), Third);
  // Broken bytes and long names sort too, and the same way both ways.
  std::vector<TAddressItem*> More{MakeItem("M\xFCller", ""), MakeItem(std::string(50, 'z'), std::string(50, 'y')),
                                  MakeItem("Mu\xCC\x88ller", "")};
  List.AddAll(More);
  for (TListNode* Node = List.Head; Node && Node->Next; Node = Node->Next)
    EXPECT_LE(List.Compare(Node, Node->Next), 0) << NamesOf(List);
}

TEST_F(NameOrderTest, LetterButtonsTakeTheNamesThatSortUnderThem) {
  struct TCase {
    const char* Locale;
    const char* Surname;
    char Letter;
    bool Under;
  } const Cases[] = {
      // clang-format off
      {"de_DE", "Ärger", 'A', true},     {"sv_SE", "Ärger", 'A', false},  {"sv_SE", "Ärger", 'Z', true},
      {"en_US", "de la Cruz", 'D', true}, {"en_US", "de la Cruz", 'C', false}, {"en_US", "Łukasz", 'L', true},
      {"en_US", "Ωmega", 'Z', false},     {"en_US", "Zoë", 'Z', true},     {"en_US", "Zoë", 'Y', false},
      {"en_US", "9 Elms", 'A', false},    {"en_US", "", 'A', false},       {"tr_TR", "İlker", 'I', true},
      {"tr_TR", "Işık", 'I', true},       {"tr_TR", "Çağrı", 'C', true},   {"tr_TR", "Çağrı", 'D', false},
      {"de_DE", "Özdemir", 'O', true},    {"sv_SE", "Östberg", 'O', false}, {"nl_NL", "van Dyke", 'V', true},
      {"en_US", "adams", 'A', true},      {"en_US", "Bob", 'a', false},
  };
  // clang-format on
  for (const TCase& Case : Cases) {
    TNameOrder::Use(Case.Locale);
    EXPECT_EQ(TNameOrder::Current().UnderLetter(Case.Surname, Case.Letter), Case.Under)
        << Case.Locale << " " << Case.Surname << " " << Case.Letter;
  }
}

TEST_F(NameOrderTest, TheDesktopsLocaleIsReadAsPosixNamesIt) {
  for (const char* Locale : {"C", "POSIX", "", "C.UTF-8", "xx_YY"}) {
    // No language of its own: the common order, which is still no byte order.
    TNameOrder Order(Locale);
    EXPECT_EQ(Order.Compare("Zeta", "adams"), 1) << Locale;
    EXPECT_EQ(Order.Compare("Öztürk", "Pan"), -1) << Locale;
  }
  EXPECT_EQ(TNameOrder("sv_SE.UTF-8@euro").Locale(), "sv_SE");
  EXPECT_EQ(TNameOrder("sv_SE.UTF-8").Compare("Öztürk", "Pan"), 1);
}

TEST_F(NameOrderTest, ALargeBookSortsAsItsComparisonsDoAndEqualNamesKeepTheirOrder) {
  // Names that share long beginnings, differ only in accents or case, repeat,
  // or have no surname: thousands of them, each numbered in the order given.
  const char* const Starts[] = {"", "Abercrombie", "abercrombie", "Abercrómbie", "Ab", "Zz", "Öz", "Smith-Jones"};
  const char* const Ends[] = {"", "a", "b", "-Smith", "-Smithson", "é", "E", "aaaaaaaaaaaaaaaaaaaaaaaa"};
  for (const char* Locale : {"en_US", "sv_SE", "C"}) {
    SCOPED_TRACE(Locale);
    TNameOrder::Use(Locale);
    std::mt19937 Random(11);
    std::vector<std::unique_ptr<TAddressItem>> Owned;
    std::vector<TAddressItem*> Entries;
    for (int I = 0; I < 6000; ++I) {
      auto Part = [&] { return std::string(Starts[Random() % 8]) + Ends[Random() % 8]; };
      const std::string Surname = Part();
      Owned.emplace_back(MakeItem(Surname, Random() % 3 ? Part() : ""));
      Owned.back()->HomeTelephone = std::to_string(I);
      Entries.push_back(Owned.back().get());
    }
    std::vector<TAddressItem*> Expected = Entries;
    std::stable_sort(Expected.begin(), Expected.end(), [](const TAddressItem* A, const TAddressItem* B) {
      return TMyLinkList::CompareItems(*A, *B) < 0;
    });
    TMyLinkList::SortByName(Entries);
    EXPECT_TRUE(Entries == Expected);
  }
}
