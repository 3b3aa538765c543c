// What other programs' cards become, what our cards are to them, and the
// content lines a caller may walk itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "ContactsTestUtil.h"
#include "Sha1.h"
#include "VCard.h"
#include "VCardWriter.h"

TEST(VCard, CardsKeepWhatAnEntryHasNoFieldForAndPlaceLabelledNumbers) {
  const struct {
    const char* Name;
    const char* Card;
    const char* Expected;
    const char* Skipped;  // photos, binary, empty, phone characters
  } Cases[] = {
      {"a given name alone is the surname",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;Mum;;;\r\nTEL;TYPE=CELL:0777\r\nEND:VCARD\r\n",
       "Mum\n\n\n\n\n\n0777\n[]\n[]\n[]\n0\n--\n", "0 0 0 0"},
      {"a group's label chooses the field, before or after the number",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nitem1.TEL:0100\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n"
       "item2.TEL;type=pref:0200\r\nitem2.X-ABLabel:_$!<Other>!$_\r\nitem3.X-ABLabel:Work\r\nitem3.TEL:0300\r\n"
       "item4.TEL;TYPE=HOME:0400\r\nitem4.X-ABLabel:Cottage\r\nEND:VCARD\r\n",
       "Lee\nAnn\n0400\n0300\n\n\n0100\n[]\n[]\n[Telephone (Other): 0200|]\n0\n--\n", "0 0 0 0"},
      {"what has no field goes into the notes; pictures and sounds are counted",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:abc\r\nPRODID:-//x//y//EN\r\nN:Roe;Bob;;;\r\nCATEGORIES:Family,Friends\r\n"
       "item5.NICKNAME:Bobby\r\nLABEL;TYPE=HOME:1 Road\\nTown\r\nX-SOCIALPROFILE;type=twitter:https://x.example/bob\r\n"
       "item6.EMAIL:bob@example.org\r\nitem6.X-ABLabel:Private\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\n"
       "LOGO;VALUE=uri:https://x.example/l.png\r\nSOUND;ENCODING=b:AAAA\r\nX-UNKNOWN:not kept\r\nEND:VCARD\r\n",
       "Roe\nBob\n\n\n\n\n\n[]\n[]\n[Categories: Family, Friends|Address label (home): 1 Road|Town|"
       "Social profile (twitter): https://x.example/bob|E-mail (Private): bob@example.org|Nickname: Bobby|]\n0\n--\n",
       "2 1 0 0"},
      {"a nested 2.1 card and a 3.0 agent's card go into their card's notes, not into entries of their own",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Boss;Big\r\nAGENT:\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nN:Help;Harry\r\n"
       "TEL;WORK:0200\r\nEND:VCARD\r\nTEL;CELL:0777\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:Three;Tom;;;\r\n"
       "AGENT:BEGIN:VCARD\\nVERSION:3.0\\nN:Aide\\;Anna\\;\\;\\;\\nEND:VCARD\r\nEND:VCARD\r\n",
       "Boss\nBig\n\n\n\n\n0777\n[]\n[]\n[Agent: Harry Help|Agent's work telephone: 0200|]\n0\n--\n"
       "Three\nTom\n\n\n\n\n\n[]\n[]\n[Agent: Anna Aide|]\n0\n--\n",
       "0 0 0 0"},
      {"a card without a name is named by its nickname or e-mail address; one with nothing to show is counted",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:x@example.org\r\nNOTE:hello\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:3.0\r\nTEL:0100\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:y@example.org\r\nNICKNAME:Wy\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:7\r\nN:;;;;\r\nNOTE:\r\nEND:VCARD\r\n",
       "x@example.org\n\n\n\n\n\n\n[]\n[]\n[hello|E-mail: x@example.org|]\n0\n--\n"
       "\n\n0100\n\n\n\n\n[]\n[]\n[]\n0\n--\n"
       "Wy\n\n\n\n\n\n\n[]\n[]\n[E-mail: y@example.org|Nickname: Wy|]\n0\n--\n",
       "0 0 1 0"},
      {"CR CR LF ends a line; additional names are joined with spaces; a work fax comes first",
       "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:Doe;John;Richter,James;;\r\r\nTEL;type=HOME;type=FAX:01\r\r\n"
       "TEL;type=FAX:03\r\r\nTEL;type=WORK;type=FAX:02\r\r\nEND:VCARD\r\r\n"
       "BEGIN:VCARD\nVERSION:2.1\nN:Roe;Ann;Lee, May\nTEL;FAX:04\nTEL;HOME;FAX:05\nEND:VCARD\n",
       "Doe\nJohn Richter James\n\n\n\n02\n\n[]\n[]\n[Fax (home): 01|Fax: 03|]\n0\n--\n"
       "Roe\nAnn Lee May\n\n\n\n04\n\n[]\n[]\n[Fax (home): 05|]\n0\n--\n",
       "0 0 0 0"},
      {"contact groups are no entries; an organisation and a place are, named by ORG without N",
       "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Friends\r\nMEMBER:urn:uuid:1\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Friends;;;;\r\nFN:Friends\r\nX-ADDRESSBOOKSERVER-KIND:GROUP\r\n"
       "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:1\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:org\r\nFN:Acme Tools\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:location\r\nFN:Room 5\r\nTEL:tel:0100\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:Acme;Sales\r\nTEL:0200\r\nEND:VCARD\r\n",
       "Acme Tools\n\n\n\n\n\n\n[]\n[]\n[]\n0\n--\n"
       "Room 5\n\n0100\n\n\n\n\n[]\n[]\n[]\n0\n--\n"
       "Acme, Sales\n\n0200\n\n\n\n\n[]\n[]\n[]\n0\n--\n",
       "0 0 0 0 groups 2"},
      {"an address reads as a letter is addressed",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nADR;TYPE=HOME:PO Box 7;Flat 3;12 Athens Street;Leeds;Yorks;LS1 "
       "1AA;UK\r\n"
       "END:VCARD\r\n",
       "Lee\nAnn\n\n\n\n\n\n[12 Athens Street|Flat 3|PO Box 7|Leeds|Yorks|LS1 1AA|UK|]\n[]\n[]\n0\n--\n", "0 0 0 0"},
      {"without a VERSION, 2.1 rules: a comma is no list",
       "BEGIN:VCARD\nN:Smith, John;;;;\nORG:Smith, Jones & Co\nTEL:1\nEND:VCARD\n",
       "Smith, John\n\n1\n\n\n\n\n[]\n[]\n[Organisation: Smith, Jones & Co|]\n0\n--\n", "0 0 0 0"},
      {"a 4.0 number is a telephone URI without VALUE=uri",
       "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann Lee\r\nTEL;TYPE=cell:tel:+44 20 7946 0000\r\nEND:VCARD\r\n",
       "Lee\nAnn\n\n\n\n\n+44 20 7946 0000\n[]\n[]\n[]\n0\n--\n", "0 0 0 0"},
      {"CR, CRLF and LF inside a value are line breaks; a number keeps no control characters",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nNOTE;ENCODING=QUOTED-PRINTABLE:one=0Dtwo=0D=0Athree=0Afour\r\n"
       "ADR;HOME:;;1 Road\rTown;;;;\r\nTEL;HOME:01\\\\2=3\\n4\r\nEND:VCARD\r\n",
       "Lee\nAnn\n012=34\n\n\n\n\n[1 Road|Town|]\n[]\n[one|two|three|four|]\n0\n--\n", "0 0 0 2"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TImported Read = ReadVCards(Case.Card);
    EXPECT_EQ(Fields(Read), Case.Expected);
    EXPECT_EQ(Skipped(Read), Case.Skipped);
  }
}

TEST(VCard, CardsCarryStableUidsAndNumbersOtherProgramsCanDial) {
  auto Card = [](TMyLinkList& List) {
    TExported Counts;
    std::string Out;
    WriteContacts(
        List, EContactFormat::VCard, [&](std::string_view Piece) { return Out += Piece, true; }, &Counts);
    return Out + "dropped " + std::to_string(Counts.PhoneCharactersDropped) + " of " +
           std::to_string(Counts.NumbersChanged);
  };
  TMyLinkList Book;
  TAddressItem* Dial = Entry({"Dial", "Pause", "01,234;567", "02\\0\t1"});
  Dial->Notes.Add("a\rb");
  Dial->Notes.Add("c\r\nd");
  Book.Add(Dial);
  EXPECT_EQ(Card(Book),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:4407286f-8cb2-5521-a666-3c8258149601\r\nN:Dial;Pause;;;\r\n"
            "FN:Pause Dial\r\nTEL;TYPE=HOME,VOICE:01,234;567\r\nTEL;TYPE=WORK,VOICE:0201\r\n"
            "NOTE:a\\nb\\nc\\nd\r\nEND:VCARD\r\ndropped 2 of 1");

  // The same entry has the same UID in every export, whatever page it was
  // last shown on; entries alike in every field still get one each.
  auto Uids = [](std::vector<TAddressItem*> Items) {
    TMyLinkList List;
    for (TAddressItem* Item : Items) List.AppendSorted(Item);
    std::string Out, Text = Export(List, EContactFormat::VCard);
    for (size_t At = Text.find("UID:"); At != std::string::npos; At = Text.find("UID:", At + 1))
      Out += Text.substr(At + 4, 36) + " ";
    return Out;
  };
  const std::string Ann = "89cdc310-fedf-585c-b44c-b37953cdbbfb ";
  EXPECT_EQ(Uids({Entry({"Lee", "Ann"})}), Ann);
  EXPECT_EQ(Uids({Entry({"Lee", "Ann", "", "", "", "", "", "", "", "", "2"})}), Ann);
  EXPECT_EQ(Uids({Entry({"Lee", "Ann"}), Entry({"Lee", "Ann"})}), Ann + "50225f31-7417-5299-9d88-138988ac28ea ");
  EXPECT_NE(Uids({Entry({"Lee", "Ann", "", "", "", "", "", "", "", "note"})}), Ann);
  // The third of three alike gets the third UID, in its own card, whatever
  // lies between them and however long their lines are.
  const std::string Long(200, 'n');
  auto Alike = [&] { return Entry({"Lee", "Ann", "", "", "", "", "", "", "", Long}); };
  TAddressItem* Other = Entry({"Lee", "Ann", "0100", "", "", "", "", "", "", Long});
  std::string Expected;
  for (auto [Item, Occurrence] :
       {std::pair(Alike(), 0), std::pair(Other, 0), std::pair(Alike(), 1), std::pair(Alike(), 2)}) {
    Expected += VCardUid(*Item, Occurrence) + " ";
    if (Item != Other) delete Item;
  }
  EXPECT_EQ(Uids({Alike(), Other, Alike(), Alike()}), Expected);
}

TEST(VCard, Sha1AndNameBasedUuidsMatchTheirStandards) {
  const struct {
    std::string Data;
    const char* Digest;
  } Cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const auto& Case : Cases) {
    std::string Hex;
    for (uint8_t B : Sha1(Case.Data)) Hex += "0123456789abcdef"[B >> 4], Hex += "0123456789abcdef"[B & 15];
    EXPECT_EQ(Hex, Case.Digest) << Case.Data.size() << " bytes";
    EXPECT_EQ(Sha1PlainRounds(Case.Data), Sha1(Case.Data)) << Case.Data.size() << " bytes";
  }
  // The processor's rounds and the plain ones agree at every length around
  // the block and padding boundaries.
  std::string Data;
  for (int I = 0; I < 200; ++I, Data += char(I * 131 + 7)) EXPECT_EQ(Sha1PlainRounds(Data), Sha1(Data)) << I;
  // Messages laid out in blocks by the caller, alone and two at once, the
  // shorter of a pair on either side.
  auto Blocks = [](std::string_view Message) {
    std::string Laid(Message.size() + Sha1PadRoom, '\xAA');
    std::memcpy(Laid.data(), Message.data(), Message.size());
    Laid.resize(Message.size() + Sha1Pad(reinterpret_cast<unsigned char*>(Laid.data() + Message.size()), Message.size(),
                                         Message.size() % 64));
    EXPECT_EQ(Laid.size() % 64, 0u) << Message.size();
    return Laid;
  };
  auto Bytes = [](const std::string& Laid) { return reinterpret_cast<const unsigned char*>(Laid.data()); };
  for (size_t A : {0, 1, 55, 56, 63, 64, 119, 120, 199}) {
    const std::string LaidA = Blocks(std::string_view(Data).substr(0, A));
    EXPECT_EQ(Sha1OfBlocks(Bytes(LaidA), LaidA.size() / 64), Sha1PlainRounds(Data.substr(0, A))) << A;
    for (size_t B : {0, 9, 64, 130, 199}) {
      const std::string LaidB = Blocks(std::string_view(Data).substr(200 - B));
      std::array<uint8_t, 20> HashA, HashB;
      Sha1OfBlocksPair(Bytes(LaidA), LaidA.size() / 64, Bytes(LaidB), LaidB.size() / 64, HashA, HashB);
      EXPECT_EQ(HashA, Sha1PlainRounds(Data.substr(0, A))) << A << " with " << B;
      EXPECT_EQ(HashB, Sha1PlainRounds(Data.substr(200 - B))) << B << " with " << A;
    }
  }
  const std::array<uint8_t, 16> Dns = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                                       0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
  EXPECT_EQ(NameBasedUuid(Dns, "python.org"), "886313e1-3b8a-5372-9b90-0c9aee199e5d");
}

// The name of an entry as its UID is defined: the namespace, each one-line
// field ended by 0x1F, each list as its count and its lines each after 0x1E,
// ended by 0x1F, then the occurrence when there is one.
std::string UidNameOf(const TEntryView& Item, int32_t Occurrence) {
  std::string Name("\x3f\x0d\x5b\x6e\x8c\x2a\x4e\x71\x9a\x4b\x6d\x1c\x2e\x7f\x8a\x90", 16);
  for (std::string_view Field : Item.TextFields()) Name += std::string(Field) + "\x1f";
  for (const TLinesView* List : Item.LineLists()) {
    Name += std::to_string(List->Count());
    List->ForEach([&](std::string_view Line) { Name += "\x1e" + std::string(Line); });
    Name += "\x1f";
  }
  return Occurrence > 0 ? Name + std::to_string(Occurrence) : Name;
}

TEST(VCard, UidsAreTheHashOfTheirEntrysName) {
  const std::string L8(8, 'e'), L16(16, 's'), L33(33, 't'), L70(70, 'x');
  const struct {
    std::vector<std::string> Fields;
    int32_t Occurrence;
  } Cases[] = {
      {{}, 0},
      {{"Lee", "Ann"}, 0},
      {{"Lee", "Ann"}, 1},
      {{"Lee", "Ann"}, 10},
      {{"Lee", "Ann"}, 123456},
      {{"a", "bc", "def", "ghij", "klmno", "p", "qr", "s|t", "(one empty line)", "u"}, 0},
      {{L8, L16, L33, L16 + "1", L8 + "12", "", L33 + L16, L70 + "|" + L33, "", L70 + L70 + L70}, 3},
      {{"", "", "", "", "", "", "", "1|2|3|4|5|6|7|8|9|10|11|12", "", "\xC3\xA9|;\\,"}, 0},
  };
  for (const auto& Case : Cases) {
    std::unique_ptr<TAddressItem> Item(Entry(Case.Fields));
    const TEntryView View(*Item);
    EXPECT_EQ(VCardUidHash(View, Case.Occurrence), Sha1PlainRounds(UidNameOf(View, Case.Occurrence)))
        << Case.Fields.size() << " fields, " << Case.Occurrence;
    // Lines as the book file stores them: each after a two-byte size.
    TEntryView Stored = View;
    std::string Bytes[3];
    TLinesView* Lists[] = {&Stored.HomeAddress, &Stored.BusAddress, &Stored.Notes};
    for (int L = 0; L < 3; ++L) {
      Lists[L]->ForEach([&](std::string_view Line) {
        Bytes[L] += char(Line.size() & 0xFF), Bytes[L] += char(Line.size() >> 8), Bytes[L] += Line;
      });
      *Lists[L] = TLinesView(Bytes[L], Lists[L]->Count(), TLinesView::Stored);
    }
    EXPECT_EQ(VCardUidHash(Stored, Case.Occurrence), VCardUidHash(View, Case.Occurrence)) << Case.Occurrence;
  }
}

TEST(VCard, ExportGivesEveryCardItsOwnUidInEntryOrder) {
  // Entries alike in every field, next to each other or apart, at even and
  // odd places, and so many of them that the output is handed on in several
  // pieces; each view is overwritten by the next, as a book file's are. The
  // room for UIDs is sized from a count told beforehand, which may be none,
  // exact, or far too many.
  const std::vector<std::string> Kinds[] = {{"Lee", "Ann"},
                                            {"Lee", "Ann", "0100"},
                                            {"Ng", "Bo", "", "", "", "", "", "1 Road|Town", "", std::string(90, 'n')}};
  const struct {
    const char* Name;
    std::vector<int> Order;  // indexes into Kinds
  } Cases[] = {
      {"one", {0}},
      {"alike after each other", {0, 0, 0}},
      {"alike apart", {1, 0, 1, 2, 0, 1}},
      {"alike at odd places", {2, 0, 2, 1, 2, 1, 2}},
      {"many",
       [] {
         std::vector<int> Many;
         for (int I = 0; I < 3000; ++I) Many.push_back(I % 7 == 3 ? 2 : (I * I) % 3);
         return Many;
       }()},
  };
  for (const auto& Case : Cases) {
    std::vector<std::unique_ptr<TAddressItem>> Items;
    for (int Kind : Case.Order) Items.emplace_back(Entry(Kinds[Kind]));
    size_t At = 0;
    TAddressItem Current;
    TEntryView View;
    TEntrySource Next = [&]() -> const TEntryView* {
      if (At == Items.size()) return nullptr;
      const TAddressItem& Item = *Items[At];
      Current.Surname = Item.Surname.str(), Current.FirstName = Item.FirstName.str();
      Current.HomeTelephone = Item.HomeTelephone.str(), Current.BusTelephone = Item.BusTelephone.str();
      Current.BusExtn = Item.BusExtn.str(), Current.BusFacsimile = Item.BusFacsimile.str();
      Current.BusMobile = Item.BusMobile.str(), Current.HomeAddress = Item.HomeAddress;
      Current.BusAddress = Item.BusAddress, Current.Notes = Item.Notes, Current.TabPage = Item.TabPage;
      ++At;
      View = Current;
      return &View;
    };
    // Each card with the first UID of its entry not given to a card before.
    std::string Expected;
    std::set<std::string> Given;
    for (const auto& Item : Items) {
      int32_t Occurrence = 0;
      while (!Given.insert(VCardUid(*Item, Occurrence)).second) ++Occurrence;
      AppendVCard(Expected, *Item, VCardUid(*Item, Occurrence));
    }
    for (const size_t Told : {size_t(0), Items.size(), size_t(200000)}) {
      At = 0;
      std::string Out;
      int Pieces = 0;
      EXPECT_TRUE(WriteContacts(
          Next, EContactFormat::VCard,
          [&](std::string_view Piece) {
            ++Pieces;
            return Out += Piece, true;
          },
          nullptr, Told));
      EXPECT_EQ(Out, Expected) << Case.Name << ", told " << Told;
      if (Case.Order.size() > 500) {
        EXPECT_GT(Pieces, 1) << Case.Name;
      }
    }
  }
}

TEST(VCard, ContentLinesCanBeWalkedByACaller) {
  TContentLineReader Lines(
      "BEGIN:VCARD\r\nitem1.TEL;TYPE=\"home,voice\";X-A=b:01\r\n 23\r\n\r\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE:caf=\r\n=C3=A9\r\nADR:;;1\\, Road;Town\r\n");
  std::string Out;
  TContentLine Line;
  std::string Scratch;
  while (Lines.Next(Line)) {
    Out += std::to_string(Line.Number) + " " + std::string(Line.Group) + "|" + Line.Name + "|";
    for (const TVCardParam& P : Line.Params) Out += std::string(P.Name) + "=" + std::string(P.Value) + ";";
    Out += "|" + std::string(DecodeVCardValue(Line, Scratch)) + "|" + (Line.HasType("HOME") ? "home" : "") + "\n";
  }
  EXPECT_EQ(Out,
            "1 |BEGIN||VCARD|\n2 item1|TEL|TYPE=home,voice;X-A=b;|0123|home\n"
            "5 |NOTE|ENCODING=QUOTED-PRINTABLE;|caf\xC3\xA9|\n7 |ADR||;;1\\, Road;Town|\n");
  auto Parts = VCardComponents(";;1\\, Road;Town", 7);
  EXPECT_EQ(UnescapeVCardText(Parts[2]) + "|" + std::string(Parts[3]) + "|" + std::to_string(Parts.size()),
            "1, Road|Town|7");
}

TEST(VCard, EscapesAreWrittenWhereverTheSpecialByteIs) {
  // Texts of every length up to 40 bytes with the special byte (or a CRLF,
  // 0 here) at each place: each gets exactly one escape and reads back, and a
  // card's name is escaped the same way, sixteen, eight or fewer bytes a step.
  for (size_t Length = 1; Length <= 40; ++Length)
    for (char C : {'\\', ',', ';', '\n', '\r', '\0'})
      for (size_t At = 0; At < Length; ++At) {
        std::string Text;
        for (size_t I = 0; I < Length; ++I)
          Text += I == At ? (C ? std::string(1, C) : "\r\n") : std::string(1, char('a' + I));
        std::string Out;
        AppendVCardEscaped(Out, Text);
        EXPECT_EQ(Out.size(), Length + 1) << Length << " " << int(C) << " at " << At << ": " << Out;
        std::string Back = Text;
        if (C) Back[At] = C == '\r' ? '\n' : C;
        else Back.replace(At, 2, "\n");
        EXPECT_EQ(UnescapeVCardText(Out), Back) << Out;
        const std::unique_ptr<TAddressItem> Item(MakeItem(Text, ""));
        std::string Card;
        AppendVCard(Card, TEntryView(*Item));
        EXPECT_NE(Card.find("\r\nN:" + Out + ";;;;\r\n"), std::string::npos) << Card;
      }
}

// The card is written into room had beforehand: fields at their room and
// lines made only of bytes that are escaped (each doubles), with long lines to
// fold, must fit and read back whole.
TEST(VCard, ACardOfNothingButEscapesFitsAndReadsBack) {
  for (const char* Fill : {",", "\\", "\r\n", ";\n"}) {
    auto Filled = [&](size_t Size) {
      std::string Text;
      while (Text.size() < Size) Text += Fill;
      return Text.substr(0, Size);
    };
    TAddressItem Item;
    Item.Surname = Filled(NameCapacity);
    Item.FirstName = Filled(NameCapacity);
    Item.BusExtn = Filled(ExtnCapacity);
    for (int I = 0; I < 3; ++I) {
      Item.HomeAddress.Add(Filled(40 + I));
      Item.Notes.Add(Filled(500));
    }
    Item.Notes.Add("");
    std::string Out = "x";
    AppendVCard(Out, Item, Filled(60));
    size_t Longest = 0;
    for (size_t At = 1, End; At < Out.size(); At = End + 2) {
      End = Out.find("\r\n", At);
      ASSERT_NE(End, std::string::npos);
      Longest = std::max(Longest, End - At);
    }
    EXPECT_LE(Longest, 75u) << Fill;
    TImported Back = ReadContacts(std::string_view(Out).substr(1), EContactFormat::VCard);
    ASSERT_EQ(Back.Items.size(), 1u) << Fill;
    const TAddressItem& Read = *Back.Items[0];
    // A CR before LF is one line break, and is read back as LF.
    auto Broken = [](std::string Text) {
      for (size_t At; (At = Text.find('\r')) != std::string::npos;) Text.erase(At, Text[At + 1] == '\n' ? 1 : 0);
      return Text;
    };
    EXPECT_EQ(Read.Surname.string(), Broken(Item.Surname.string())) << Fill;
    EXPECT_EQ(Read.BusExtn.string(), Broken(Item.BusExtn.string())) << Fill;
    if (!std::strpbrk(Fill, "\r\n")) {
      EXPECT_EQ(Read.HomeAddress.Text(), Item.HomeAddress.Text()) << Fill;
    }
  }
}

// Components are split at every unescaped ';' wherever it stands against the
// eight bytes the splitter looks at together, and an escaped one (or an
// escaped backslash before one) is no split.
TEST(VCard, ComponentsSplitAtEveryPlaceInALongValue) {
  auto Naive = [](std::string_view Value) {
    std::vector<std::string_view> Parts;
    size_t Start = 0;
    for (size_t I = 0; I < Value.size(); ++I) {
      if (Value[I] == '\\') ++I;
      else if (Value[I] == ';') Parts.push_back(Value.substr(Start, I - Start)), Start = I + 1;
    }
    Parts.push_back(Value.substr(Start));
    return Parts;
  };
  for (size_t Length = 1; Length <= 26; ++Length)
    for (const char* Inserted : {";", "\\;", "\\\\;", "\\", ";;"})
      for (size_t At = 0; At < Length; ++At) {
        std::string Value(Length, 'x');
        Value.insert(At, Inserted);
        EXPECT_EQ(VCardComponents(Value, 1), Naive(Value)) << Value;
      }
}
