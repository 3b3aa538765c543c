#include <gtest/gtest.h>

#include <functional>

#include "SyncTestKit.h"

namespace {

// A phone's card: much of it the book has no field for.
const std::string PhoneCard =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "PRODID:-//Phone//EN\r\n"
    "UID:abc-123\r\n"
    "N:Smith;John;;;\r\n"
    "FN:John Smith\r\n"
    "TEL;TYPE=HOME,VOICE:0123\r\n"
    "TEL;TYPE=PAGER:555\r\n"
    "item1.EMAIL;TYPE=INTERNET:john@work.example\r\n"
    "item1.X-ABLabel:Work\r\n"
    "EMAIL;TYPE=INTERNET:john@example.org\r\n"
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8UHRofHh0a\r\n"
    " HBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4zNDL/2wBDAQkJCQwLDBgNDRgyIRwhMjIy\r\n"
    "BDAY:1970-01-02\r\n"
    "CATEGORIES:friends,work\r\n"
    "X-UNKNOWN;X-PARAM=1:keep\\, me\r\n"
    "NOTE;LANGUAGE=en:Likes tea\r\n"
    "END:VCARD\r\n";

// A fuzzed text: cards damaged by what was glued into them (a BEGIN:VCARD
// inside a long value, an END that ends no card, a line without a colon),
// and then the one card the reader takes, nested in the text of a damaged one.
const std::string GluedCards =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "UID:u1\r\n"
    "N:Adams;Ann;;;\r\n"
    "FN:Ann Adams\r\n"
    "TEL;TYPE=HOME:1\r\n"
    "EMAIL:ann@example.org\r\n"
    "item1.X-ABLABEL:Friend\r\n"
    "BDAY:1990-" +
    std::string(57, '\034') + "01-01\r\n" +
    "CATEGORIES:a,b\r\n"
    "X-LONG:aBEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "UID:u1\r\n"
    "N:Adams;Ann;;;\r\n"
    "FN:Ann Adams\r\n"
    "TEL;TYPE=HOME:1\r\n"
    "EMAIL:ann@example.org\r\n"
    "item1.X-ABLABEaaaaaaaaaaL:Friend\r\n"
    "BDAY:1990-01-01\r\n"
    "CATEGORIES:a,b\r\n"
    "X-LONG:aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    "aaaaaaaaaaa\r\n"
    " bbbbaaaaaaaaaaa\raaaaaaaaaaaaaa\n"
    "END:VCARaaaaaa\r\n"
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "UID:u1\r\n"
    "N:Adams;AnnBD;\r\n"
    "FN:Ann Adams\r\n"
    "TEL;TYPE=HOME:1\r\n"
    "EMAIL:ann@example.org\r\n"
    "item1.X-ABLABEL:Friend\r\n"
    "BDAY:19LONG:aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    "aaa90-01-01\r\n"
    "C b/bbb\r\n"
    "ATEGORIES:a,b\r\n"
    "X-LO:G:aBEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "UID:u1\r\n"
    "N:ABDms;Ann;;g\r\n"
    "FN:Ann Adams\r\n"
    "TEL;TYPE=HOME:1\r\n"
    "EMAIL:ann@example.org\r\n"
    "item1.XD\r\n"
    "END:VCAR-ABLABEaaaaaaaaaaL:FARD\r\n"
    "VERSION:4.0\r\n"
    "KIND:org\r\n"
    "FN:Widgets Ltd\r\n"
    "TEL;VALUE=uri;TYPE=\"work,voice\":tel:+44-20-7946-0000;mxt=42\r\n"
    "TEL;VALUE=uri;TYPE=cell:tel:+44-7700-900000\r\n"
    "AGENT:\r\n"
    "BEGIN:VCARD\r\n"
    "FN:Inner\r\n"
    "END:VCARD\r\n"
    "END:VCARaa\r\n"
    " bbbb\r\n"
    "D\r\n"
    "END:VCARD\r\n";

std::string Replace(std::string Text, const std::string& From, const std::string& To) {
  size_t At = Text.find(From);
  if (At == std::string::npos) return "(not found: " + From + ")";
  return Text.replace(At, From.size(), To);
}

}  // namespace

// Only what changed of what the book maps is written anew; everything else
// goes back byte for byte, and the notes the other properties give are not
// written into NOTE.
TEST(CardPatch, KeepsWhatTheBookCannotHold) {
  using TEdit = std::function<void(TAddressItem&)>;
  auto NotesWithout = [](const std::string& Line) {
    return [Line](TAddressItem& I) {
      std::vector<std::string> Lines = I.Notes.Lines();
      Lines.erase(std::find(Lines.begin(), Lines.end(), Line));
      I.Notes.Assign(Lines);
    };
  };
  struct {
    const char* Name;
    TEdit Edit;
    std::string NewUid;
    std::string Expected;
  } const Cases[] = {
      {"nothing", [](TAddressItem&) {}, "", PhoneCard},
      {"home number", [](TAddressItem& I) { I.HomeTelephone = "0999"; }, "",
       Replace(PhoneCard, "TEL;TYPE=HOME,VOICE:0123", "TEL;TYPE=HOME,VOICE:0999")},
      {"a mobile added", [](TAddressItem& I) { I.BusMobile = "077"; }, "",
       Replace(PhoneCard, "TEL;TYPE=HOME,VOICE:0123\r\n", "TEL;TYPE=HOME,VOICE:0123\r\nTEL;TYPE=CELL:077\r\n")},
      {"the home number gone", [](TAddressItem& I) { I.HomeTelephone = ""; }, "",
       Replace(PhoneCard, "TEL;TYPE=HOME,VOICE:0123\r\n", "")},
      {"a note line",
       [](TAddressItem& I) { I.Notes.SetText(Replace(I.Notes.Text(), "Likes tea", "Likes tea\nand cake")); }, "",
       Replace(PhoneCard, "NOTE;LANGUAGE=en:Likes tea", "NOTE;LANGUAGE=en:Likes tea\\nand cake")},
      {"the notes emptied but for what the card gives",
       [](TAddressItem& I) { I.Notes.SetText(Replace(I.Notes.Text(), "Likes tea\n", "")); }, "",
       Replace(PhoneCard, "NOTE;LANGUAGE=en:Likes tea\r\n", "")},
      {"the e-mail line deleted", NotesWithout("E-mail: john@example.org"), "",
       Replace(PhoneCard, "EMAIL;TYPE=INTERNET:john@example.org\r\n", "")},
      {"the pager line deleted", NotesWithout("Pager: 555"), "", Replace(PhoneCard, "TEL;TYPE=PAGER:555\r\n", "")},
      {"renamed", [](TAddressItem& I) { I.Surname = "Smyth"; }, "",
       Replace(PhoneCard, "N:Smith;John;;;\r\nFN:John Smith", "N:Smyth;John;;;\r\nFN:John Smyth")},
      {"the address added", [](TAddressItem& I) { I.HomeAddress.SetText("1 Hill Rd\nTown"); }, "",
       Replace(PhoneCard, "END:VCARD", "ADR;TYPE=HOME:;;1 Hill Rd\\nTown;;;;\r\nEND:VCARD")},
      {"a new UID", [](TAddressItem& I) { I.BusTelephone = "02"; }, "uid-9",
       Replace(Replace(PhoneCard, "UID:abc-123", "UID:uid-9"), "TEL;TYPE=HOME,VOICE:0123\r\n",
               "TEL;TYPE=HOME,VOICE:0123\r\nTEL;TYPE=WORK,VOICE:02\r\n")},
  };
  std::unique_ptr<TAddressItem> Base = ReadCard(PhoneCard);
  ASSERT_TRUE(Base);
  ASSERT_EQ(Base->HomeTelephone.str(), "0123");
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::unique_ptr<TAddressItem> Entry = SyncFields::Clone(*Base);
    Case.Edit(*Entry);
    std::string Patched = PatchCard(PhoneCard, *Entry, Base.get(), Case.NewUid, TestRevision);
    EXPECT_EQ(Patched, Case.Expected == PhoneCard ? PhoneCard : WithRev(Case.Expected));
    // The card reads back as the entry sent.
    std::unique_ptr<TAddressItem> Back = ReadCard(Patched);
    ASSERT_TRUE(Back);
    EXPECT_EQ(Short(*Back), Short(*Entry));
  }
}

// Cards in other shapes: a 4.0 card without a UID, LF line ends, a card that
// cannot be read at all (a new card in its place, keeping a UID it had), and
// cards before the one the entry came from that the reader passed over, which
// go back as they are; of several names, the one the reader took is renamed.
TEST(CardPatch, OtherShapesOfCards) {
  const std::string Damaged = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nEMAIL:ann@example.org\r\nEND:VCARx\r\n";
  const std::string Group = "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nMEMBER:urn:uuid:1\r\nEND:VCARD\r\n";
  const std::string Read = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nTEL;TYPE=HOME:1\r\nEND:VCARD\r\n";
  const std::string ReadPatched = Replace(Read, "HOME:1", "HOME:2");
  struct {
    const char* Name;
    std::string Card;
    std::string NewUid;
    std::string Expected;
  } const Cases[] = {
      {"4.0, no UID", "BEGIN:VCARD\nVERSION:4.0\nFN:Ann Lee\nN:Lee;Ann;;;\nTEL;VALUE=uri;TYPE=home:tel:1\nEND:VCARD\n",
       "u1",
       WithRev(
           "BEGIN:VCARD\nVERSION:4.0\nUID:u1\nFN:Ann Lee\nN:Lee;Ann;;;\nTEL;VALUE=uri;TYPE=home:tel:2\nEND:VCARD\n")},
      {"a nested card goes whole",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nTEL;HOME:1\r\nAGENT:\r\nBEGIN:VCARD\r\nN:Agent;Al\r\nTEL;HOME:9\r\n"
       "END:VCARD\r\nEND:VCARD\r\n",
       "",
       WithRev("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nTEL;HOME:2\r\nAGENT:\r\nBEGIN:VCARD\r\nN:Agent;Al\r\n"
               "TEL;HOME:9\r\nEND:VCARD\r\nEND:VCARD\r\n")},
      {"cannot be read", "BEGIN:VCARD\r\nUID:old\r\nN:Lee;Ann\r\nbroken\r\nEND:VCARD\r\n", "",
       WithRev("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:old\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nTEL;TYPE=HOME,VOICE:2\r\n"
               "END:VCARD\r\n")},
      {"a damaged card before", Damaged + Read, "", Damaged + WithRev(ReadPatched)},
      {"a contact group before", Group + Read, "", Group + WithRev(ReadPatched)},
      // The reader holds a grouped property back until its group's label, or
      // the card's end when the group has none: that name is the one renamed.
      {"a name in a group without a label",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nitem1.N:Lea;Anne;;;\r\nN:Old;Al;;;\r\nTEL;TYPE=HOME:1\r\nEND:VCARD\r\n", "",
       WithRev("BEGIN:VCARD\r\nVERSION:3.0\r\nitem1.N:Lee;Ann;;;\r\nN:Old;Al;;;\r\nTEL;TYPE=HOME:2\r\nEND:VCARD\r\n")},
      {"a name in a group labelled before the next",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nitem1.N:Lea;Anne;;;\r\nitem1.X-ABLabel:x\r\nN:Old;Al;;;\r\nTEL;TYPE=HOME:1\r\n"
       "END:VCARD\r\n",
       "",
       WithRev("BEGIN:VCARD\r\nVERSION:3.0\r\nitem1.N:Lea;Anne;;;\r\nitem1.X-ABLabel:x\r\nN:Lee;Ann;;;\r\n"
               "TEL;TYPE=HOME:2\r\nEND:VCARD\r\n")},
      // Before the VERSION a line is read by 2.1's rules: "tel:" there is text, and what replaces it too.
      {"a tel: before a VERSION 4.0",
       "BEGIN:VCARD\r\nN:Lee;Ann;;;\r\nTEL;TYPE=HOME:tel:1\r\nVERSION:4.0\r\nEND:VCARD\r\n", "",
       WithRev("BEGIN:VCARD\r\nN:Lee;Ann;;;\r\nTEL;TYPE=HOME:2\r\nVERSION:4.0\r\nEND:VCARD\r\n")},
      {"an empty VERSION first: 3.0",
       "BEGIN:VCARD\r\nVERSION:\r\nN:Lee;Ann;;;\r\nVERSION:4.0\r\nTEL;TYPE=HOME:tel:1\r\nEND:VCARD\r\n", "",
       WithRev("BEGIN:VCARD\r\nVERSION:\r\nN:Lee;Ann;;;\r\nVERSION:4.0\r\nTEL;TYPE=HOME:2\r\nEND:VCARD\r\n")},
      {"cards glued into a long value", GluedCards, "",
       Replace(GluedCards, "BEGIN:VCARD\r\nFN:Inner\r\n",
               "BEGIN:VCARD\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nTEL;TYPE=HOME,VOICE:2\r\nREV:" +
                   std::string(TestRevision) + "\r\n")},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    auto Entry = Person({"Lee", "Ann", "2"});
    std::string Patched = PatchCard(Case.Card, *Entry, nullptr, Case.NewUid, TestRevision);
    EXPECT_EQ(Patched, Case.Expected);
    // The card patched is the one read.
    std::unique_ptr<TAddressItem> Back = ReadCard(Patched);
    ASSERT_TRUE(Back);
    EXPECT_EQ(Back->Surname.string() + " " + Back->HomeTelephone.string(), "Lee 2");
  }
}

// The last line of the notes, which the reader made of a property, deleted
// here: that property goes, whether it says alone what it gives or only with
// the others (a second home number), or is a part of the name.
TEST(CardPatch, DeletedDerivedLineTakesItsProperty) {
  struct {
    const char* Name;
    std::string Card, Expected;
  } const Cases[] = {
      {"a name prefix", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;;Dr.;\r\nFN:Dr. John Smith\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;;;\r\nFN:John Smith\r\nEND:VCARD\r\n"},
      {"a second home number",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;;;\r\nTEL;TYPE=HOME:1\r\nTEL;TYPE=HOME:2\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;;;\r\nTEL;TYPE=HOME:1\r\nEND:VCARD\r\n"},
      {"a birthday", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;;;\r\nBDAY:1970-01-02\r\nNOTE:x\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;;;\r\nNOTE:x\r\nEND:VCARD\r\n"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::unique_ptr<TAddressItem> Base = ReadCard(Case.Card);
    ASSERT_TRUE(Base);
    std::unique_ptr<TAddressItem> Entry = SyncFields::Clone(*Base);
    std::vector<std::string> Notes = Entry->Notes.Lines();
    ASSERT_FALSE(Notes.empty());
    Notes.pop_back();
    Entry->Notes.Assign(Notes);
    EXPECT_EQ(PatchCard(Case.Card, *Entry, Base.get(), {}, TestRevision), WithRev(Case.Expected));
  }
}

// Through the engine: a card with a photo and more, edited here, goes back
// with all of that as it was.
TEST(CardPatch, EditHereSendsThePhoneCardBack) {
  TAddressBook Book;
  TSyncState State;
  TFakeServer Server;
  TSyncOptions Options = TestOptions();
  Server.Store("/book/abc-123.vcf", PhoneCard);
  RunSync(Book, State, Server, Options);
  ASSERT_EQ(Book.Items->Count, 1);
  EntryNamed(Book, "Smith")->HomeTelephone = "0999";
  EXPECT_EQ(RunSync(Book, State, Server, Options).Puts, 1u);
  EXPECT_EQ(Server.Cards["/book/abc-123.vcf"].Text,
            WithRev(Replace(PhoneCard, "TEL;TYPE=HOME,VOICE:0123", "TEL;TYPE=HOME,VOICE:0999")));
  EXPECT_EQ(RunSync(Book, State, Server, Options).Puts, 0u);
}

// A property whose notes line the last-synced entry did not have (it came to
// the server since) was not deleted here: it stays, whatever else changed.
TEST(CardPatch, PropertyNewerThanTheBaseStays) {
  struct {
    const char* Name;
    std::string Line;
    std::string Expected;
  } const Cases[] = {
      {"an e-mail", "E-mail: john@example.org", WithRev(Replace(PhoneCard, "VOICE:0123", "VOICE:0999"))},
      {"a pager", "Pager: 555", WithRev(Replace(PhoneCard, "VOICE:0123", "VOICE:0999"))},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::unique_ptr<TAddressItem> Base = ReadCard(PhoneCard);
    ASSERT_TRUE(Base);
    std::vector<std::string> Lines = Base->Notes.Lines();
    auto Found = std::find(Lines.begin(), Lines.end(), Case.Line);
    ASSERT_NE(Found, Lines.end());
    Lines.erase(Found);
    Base->Notes.Assign(Lines);
    std::unique_ptr<TAddressItem> Entry = SyncFields::Clone(*Base);
    Entry->HomeTelephone = "0999";
    EXPECT_EQ(PatchCard(PhoneCard, *Entry, Base.get(), {}, TestRevision), Case.Expected);
  }
}
