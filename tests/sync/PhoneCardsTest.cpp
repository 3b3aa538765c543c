#include <gtest/gtest.h>

#include <functional>

#include "PhoneCards.h"
#include "SyncTestKit.h"

namespace {

std::string Replaced(std::string Text, const std::vector<std::pair<std::string, std::string>>& Changes) {
  for (const auto& [From, To] : Changes) {
    size_t At = Text.find(From);
    if (At == std::string::npos) return "(not found: " + From + ")";
    Text.replace(At, From.size(), To);
  }
  return Text;
}

std::vector<std::string> Sorted(std::vector<std::string> Lines) {
  std::sort(Lines.begin(), Lines.end());
  return Lines;
}

}  // namespace

// Cards the way phones write them, taken in, edited through a box or a line
// of the notes, and sent back: only what was edited changes, in its own form.
TEST(PhoneCards, EditedThroughEachBoxAndLine) {
  using namespace PhoneCards;
  struct {
    const char* Name;
    const std::string& Card;
    TEdit Edit;
    std::vector<std::pair<std::string, std::string>> Changes;  // of the card's text; none: sent back as it was
    // A box emptied: the next number of its kind, in the notes here, is the
    // one the card gives it.
    bool NextTakesItsPlace = false;
  } const Cases[] = {
      {"iOS: nothing", Ios, [](TAddressItem&) {}, {}},
      {"iOS: the Mobile box", Ios, Field(&TAddressItem::BusMobile, "+49 170 9999999"),
       {{"item1.TEL;type=pref:+49 170 1111111", "item1.TEL;type=pref:+49 170 9999999"}}},
      {"iOS: the home address box", Ios,
       [](TAddressItem& I) { I.HomeAddress.SetText("Hauptstr. 2\nBerlin\n10115\nGermany"); },
       {{";;Hauptstr. 1;Berlin", ";;Hauptstr. 2;Berlin"}}},
      {"iOS: a second mobile's line edited", Ios, Line("Mobile: +49 170 2222222", "Mobile: +49 170 2222333"),
       {{"VOICE:+49 170 2222222", "VOICE:+49 170 2222333"}}},
      {"iOS: the mobile box emptied", Ios, Field(&TAddressItem::BusMobile, ""),
       {{"item1.TEL;type=pref:+49 170 1111111\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n", ""}},
       true},
      {"iOS: the work e-mail's line edited", Ios,
       Line("E-mail (Work): max@work.example", "E-mail (Work): max@new.example"),
       {{"pref:max@work.example", "pref:max@new.example"}}},
      {"iOS: a mobile's line deleted", Ios, Line("Mobile: +49 170 3333333", ""),
       {{"TEL;type=CELL;type=VOICE:+49 170 3333333\r\n", ""}}},
      {"iOS: an e-mail's line typed", Ios, Line("", "E-mail: hal@example.com"),
       {{"item2.X-ABLabel:_$!<Work>!$_\r\n", "item2.X-ABLabel:_$!<Work>!$_\r\nEMAIL:hal@example.com\r\n"}}},
      {"iOS: a line of the person's own label typed", Ios, Line("", "Telephone (Boat): 0151 4"),
       {{"3333333\r\n", "3333333\r\nitem4.TEL:0151 4\r\nitem4.X-ABLabel:Boat\r\n"}}},
      {"iOS: a line of no form typed", Ios, Line("", "Met in Rome"), {{"END:VCARD", "NOTE:Met in Rome\r\nEND:VCARD"}}},
      {"DAVx5 4.0: the home box", Davx4, Field(&TAddressItem::HomeTelephone, "+49-30-1111111"),
       {{"tel:+49-30-7654321", "tel:+49-30-1111111"}}},
      {"DAVx5 4.0: the work e-mail's line deleted", Davx4, Line("E-mail (work): ann@work.example", ""),
       {{"EMAIL;TYPE=work:ann@work.example\n", ""}}},
      {"DAVx5 4.0: a mobile's line typed", Davx4, Line("", "Mobile: +49 171 5555555"),
       {{"TEL;VALUE=uri;TYPE=home:tel:+49-30-7654321\n",
         "TEL;VALUE=uri;TYPE=home:tel:+49-30-7654321\nTEL;TYPE=CELL:+49 171 5555555\n"}}},
      {"DAVx5 4.0: a birthday's line typed", Davx4, Line("", "Birthday: 1970-01-02"),
       {{"END:VCARD", "BDAY:1970-01-02\nEND:VCARD"}}},
      {"DAVx5 3.0: the work address box", Davx3,
       [](TAddressItem& I) { I.BusAddress.SetText("Werkstr. 6\nKöln\n50667"); }, {{"Werkstr. 5", "Werkstr. 6"}}},
      {"DAVx5 3.0: the second work address's line edited", Davx3,
       Line("Address (work): Lager 9, Köln, 50668", "Address (work): Lager 10, Köln, 50668"),
       {{";;Lager 9;", ";;Lager 10;"}}},
      {"DAVx5 3.0: the second mobile's line deleted", Davx3, Line("Mobile: 0170 2", ""),
       {{"TEL;TYPE=CELL:0170 2\r\n", ""}}},
      {"DAVx5 3.0: the first mobile's box and the notes", Davx3,
       [](TAddressItem& I) {
         I.BusMobile = "0170 9";
         I.Notes.SetText(I.Notes.Text() + "\nCall after six");
       },
       {{"TEL;TYPE=CELL:0170 1", "TEL;TYPE=CELL:0170 9"}, {"END:VCARD", "NOTE:Call after six\r\nEND:VCARD"}}},
      {"ORG only: the surname box", OrgOnly, Field(&TAddressItem::Surname, "Acme AG"), {{"ORG:Acme GmbH", "ORG:Acme AG"}}},
      {"ORG only: the work box", OrgOnly, Field(&TAddressItem::BusTelephone, "030 2"),
       {{"TEL;TYPE=WORK:030 1", "TEL;TYPE=WORK:030 2"}}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::unique_ptr<TAddressItem> Base = ReadCard(Case.Card);
    ASSERT_TRUE(Base);
    std::unique_ptr<TAddressItem> Entry = SyncFields::Clone(*Base);
    Case.Edit(*Entry);
    std::string Patched = PatchCard(Case.Card, *Entry, Base.get(), {}, TestRevision);
    std::string Expected = Case.Card;
    if (!Case.Changes.empty()) {
      Expected = Replaced(Case.Card, Case.Changes);
      size_t Rev = Expected.find("REV:");
      if (Rev == std::string::npos) Expected = WithRev(Expected);
      else Expected.replace(Rev + 4, Expected.find('\n', Rev) - Rev - 4 - (Expected[Expected.find('\n', Rev) - 1] == '\r'), TestRevision);
    }
    EXPECT_EQ(Patched, Expected);
    // The card reads back as the entry sent; the lines of the notes that
    // properties give stand in the card's order.
    std::unique_ptr<TAddressItem> Back = ReadCard(Patched);
    ASSERT_TRUE(Back);
    if (Case.NextTakesItsPlace) continue;
    EXPECT_EQ(Sorted(Back->Notes.Lines()), Sorted(Entry->Notes.Lines()));
    Back->Notes = Entry->Notes;
    EXPECT_EQ(Short(*Back), Short(*Entry));
  }
}

// Reader and patcher agree where a card ends: a block inside it that ends
// in END:VCARD is the block's end, not the card's, and what is written anew
// goes into the card. A UID holding a bare CR goes back as it was.
TEST(PhoneCards, CardEndsWhereTheReaderSays) {
  const std::string Nested =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ab\rcd\r\nN:Lee;Ann;;;\r\nBEGIN:X\r\nTEL:9\r\nEND:VCARD\r\n"
      "TEL;TYPE=HOME:1\r\nEND:VCARD\r\n";
  std::unique_ptr<TAddressItem> Base = ReadCard(Nested);
  ASSERT_TRUE(Base);
  EXPECT_EQ(Short(*Base), "Lee Ann h=1");
  auto Entry = Person({"Lee", "Ann", "2", "", "", "", "", "1 Hill Rd", "", "Likes tea"});
  std::string Patched = PatchCard(Nested, *Entry, Base.get(), {}, TestRevision);
  EXPECT_EQ(Patched, WithRev(Replaced(Nested, {{"HOME:1\r\n", "HOME:2\r\nADR;TYPE=HOME:;;1 Hill Rd;;;;\r\nNOTE:Likes tea\r\n"}})));
  std::unique_ptr<TAddressItem> Back = ReadCard(Patched);
  ASSERT_TRUE(Back);
  EXPECT_EQ(Short(*Back), Short(*Entry));
  EXPECT_EQ(CardUid(Patched), "ab\rcd");
  // A card that cannot be read is made anew, its UID as it stood.
  const std::string Broken = "BEGIN:VCARD\r\nUID:ab\rcd\r\nN:Lee;Ann\r\nbroken\r\nEND:VCARD\r\n";
  EXPECT_NE(PatchCard(Broken, *Entry, nullptr, {}, TestRevision).find("\r\nUID:ab\rcd\r\n"), std::string::npos);
}
