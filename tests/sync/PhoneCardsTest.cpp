#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "PhoneCards.h"
#include "SyncTestKit.h"

namespace {

using PhoneCards::Replaced;

std::vector<std::string> Sorted(std::vector<std::string> Lines) {
  std::sort(Lines.begin(), Lines.end());
  return Lines;
}

}  // namespace

// Cards the way phones write them, taken in, edited through a box or a line
// of the notes, and sent back: only what was edited changes, in its own form.
TEST(PhoneCards, EditedThroughEachBoxAndLine) {
  using namespace PhoneCards;
  for (const TCase& Case : Cases()) {
    SCOPED_TRACE(Case.Name);
    std::unique_ptr<TAddressItem> Base = ReadCard(Case.Card);
    ASSERT_TRUE(Base);
    std::unique_ptr<TAddressItem> Entry = SyncFields::Clone(*Base);
    Case.Edit(*Entry);
    std::string Patched = PatchCard(Case.Card, *Entry, Base.get(), {}, TestRevision);
    EXPECT_EQ(Patched, Expected(Case, TestRevision));
    // For a look with other programs (khard, vobject): the cards as sent.
    if (const char* Dir = std::getenv("TOBRINEL_CARD_DUMP"))
      std::ofstream(std::string(Dir) + "/" + std::to_string(&Case - Cases().data()) + ".vcf", std::ios::binary)
          << Patched;
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
  EXPECT_EQ(Patched, WithRev(Replaced(
                         Nested, {{"HOME:1\r\n", "HOME:2\r\nADR;TYPE=HOME:;;1 Hill Rd;;;;\r\nNOTE:Likes tea\r\n"}})));
  std::unique_ptr<TAddressItem> Back = ReadCard(Patched);
  ASSERT_TRUE(Back);
  EXPECT_EQ(Short(*Back), Short(*Entry));
  EXPECT_EQ(CardUid(Patched), "ab\rcd");
  // A card that cannot be read is made anew, its UID as it stood.
  const std::string Broken = "BEGIN:VCARD\r\nUID:ab\rcd\r\nN:Lee;Ann\r\nbroken\r\nEND:VCARD\r\n";
  EXPECT_NE(PatchCard(Broken, *Entry, nullptr, {}, TestRevision).find("\r\nUID:ab\rcd\r\n"), std::string::npos);
}

// The same through the engine: each card taken in by a first sync, edited
// here, and sent back by the next.
TEST(PhoneCards, SentBackByTheEngine) {
  using namespace PhoneCards;
  for (const TCase& Case : Cases()) {
    SCOPED_TRACE(Case.Name);
    TAddressBook Book;
    TSyncState State;
    TFakeServer Server;
    TSyncOptions Options = TestOptions();
    Server.Store("/book/card.vcf", Case.Card);
    RunSync(Book, State, Server, Options);
    ASSERT_EQ(Book.Items->Count, 1);
    Case.Edit(*static_cast<TAddressItem*>(Book.Items->Head));
    TRunResult R = RunSync(Book, State, Server, Options);
    EXPECT_EQ(R.Puts, Case.Changes.empty() ? 0u : 1u);
    EXPECT_EQ(Server.Cards["/book/card.vcf"].Text, Expected(Case, TestRevision));
    EXPECT_EQ(RunSync(Book, State, Server, Options).Puts, 0u);
  }
}

// Contact groups are no entries: not taken in, never sent or deleted, not
// counted when deletions are weighed, and the first sync says how many
// stayed on the server.
TEST(PhoneCards, GroupsStayOnTheServer) {
  TAddressBook Book;
  TSyncState State;
  TFakeServer Server;
  TSyncOptions Options = TestOptions();
  Server.Store("/book/team.vcf", PhoneCards::Group4);
  Server.Store("/book/friends.vcf", PhoneCards::GroupApple);
  Server.Store("/book/org.vcf", NewCard(*Person({"Acme"}), "org"));
  TRunResult First = RunSync(Book, State, Server, Options);
  EXPECT_EQ(First.Summary.GroupsLeft, 2);
  EXPECT_EQ(First.Summary.Line(),
            "received 1, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0, groups left on the server 2");
  EXPECT_TRUE(First.Skipped.empty());
  EXPECT_EQ(BookText(Book), "Acme ");
  // A group edited there is fetched and kept as it is; one deleted there goes.
  Server.Store("/book/team.vcf",
               PhoneCards::Replaced(PhoneCards::Group4, {{"\r\nEND", "\r\nMEMBER:urn:uuid:x\r\nEND"}}));
  Server.Remove("/book/friends.vcf");
  for (bool Forgotten : {false, true}) {
    Server.ForgetTokens = Forgotten;
    TRunResult Next = RunSync(Book, State, Server, Options);
    EXPECT_EQ(Next.Summary, TSyncSummary());
    EXPECT_EQ(Next.Puts + Next.Deletes, 0u);
    EXPECT_TRUE(Next.Skipped.empty());
  }
  EXPECT_EQ(BookText(Book), "Acme ");
  EXPECT_EQ(Server.Cards.count("/book/team.vcf"), 1u);
  // Deleting most entries here is weighed against the entries only.
  for (int I = 0; I < 19; ++I) {
    std::string Uid = "p" + std::to_string(I);
    Server.Store("/book/" + Uid + ".vcf", NewCard(*Person({"P" + std::to_string(I), "A"}), Uid));
    Server.Store("/book/g" + Uid + ".vcf", PhoneCards::Replaced(PhoneCards::Group4, {{"UID:team", "UID:g" + Uid}}));
  }
  EXPECT_EQ(RunSync(Book, State, Server, Options).Summary.GroupsLeft, 19);
  ASSERT_EQ(Book.Items->Count, 20);
  for (int I = 0; I < 11; ++I) Book.Items->Delete(EntryNamed(Book, "P" + std::to_string(I)));
  EXPECT_TRUE(RunSync(Book, State, Server, Options).MassDelete);
}

// Shapes the patcher met under fuzzing: each edited card reads back with the
// entry's boxes.
TEST(PhoneCards, DamagedShapesReadBackAsSent) {
  using namespace PhoneCards;
  const std::string Long(80, 'x');
  struct {
    const char* Name;
    std::string Card;
    TEdit Edit;
  } const Cases[] = {
      {"tel: without VALUE=uri in 3.0",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nTEL;TYPE=HOME:tel:1\r\nEND:VCARD\r\n",
       Field(&TAddressItem::HomeTelephone, "2")},
      {"two addresses in one group",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nitem1.ADR;TYPE=HOME:;;a;;;;\r\nitem1.ADR;TYPE=WORK:;;b;;;;\r\n"
       "END:VCARD\r\n",
       [](TAddressItem& I) { I.HomeAddress.SetText("c"); }},
      {"no VERSION: a long line is not folded", "BEGIN:VCARD\r\nN:Lee;Ann;;Dr.;\r\nTEL;HOME:1\r\nEND:VCARD\r\n",
       [&](TAddressItem& I) { I.FirstName = Long, I.Notes.Assign({}); }},
      {"two names: the last is the one read",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Old;Al;;;\r\nN:Lee;Ann;;;\r\nEND:VCARD\r\n",
       Field(&TAddressItem::FirstName, "Anna")},
      {"an extension that cannot stand in a URI",
       "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Lee;Ann;;;\r\nTEL;VALUE=uri;TYPE=work:tel:+44-20;ext=1\r\nEND:VCARD\r\n",
       Field(&TAddressItem::BusExtn, "1;2")},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::unique_ptr<TAddressItem> Base = ReadCard(Case.Card);
    ASSERT_TRUE(Base);
    std::unique_ptr<TAddressItem> Entry = SyncFields::Clone(*Base);
    Case.Edit(*Entry);
    std::string Patched = PatchCard(Case.Card, *Entry, Base.get(), {}, TestRevision);
    std::unique_ptr<TAddressItem> Back = ReadCard(Patched);
    ASSERT_TRUE(Back) << Patched;
    EXPECT_EQ(Short(*Back), Short(*Entry)) << Patched;
  }
}
