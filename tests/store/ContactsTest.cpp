#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "Contacts.h"
#include "ContactsTestUtil.h"
#include "StoreTestUtil.h"

TEST(Contacts, BookToVCardAndCsvAndBackLosesNothing) {
  TMyLinkList Book;
  Book.Add(Entry({"O'Brien, Jr.", "Zoë", "0123; 456", "020 7946,0000", "123", "fax\\1", "07700 900123",
                  "1 Hill Rd, Flat 2||Little Town; Kent|", "Works \"Lane\"", "Likes \"quotes\"\\n|tab\there", "2"}));
  // Characters to escape in the first eight bytes, after them, and alone.
  Book.Add(Entry({"", "Only First", "", "", "12345678,9", "", "", "", "", "a;b", "1"}));
  Book.Add(Entry({"Ωμέγα 😀", std::string(50, 'x'), " spaced ", "", "", "", "", "", "(one empty line)",
                  std::string(200, 'y') + "ÄÖÜ😀" + std::string(70, '\\'), "0"}));
  for (EContactFormat Format : {EContactFormat::VCard, EContactFormat::Csv}) {
    SCOPED_TRACE(Format == EContactFormat::VCard ? "vCard" : "CSV");
    std::string Text = Export(Book, Format);
    TImported Back = ReadContacts(Text, Format);
    ASSERT_EQ(Back.Items.size(), 3u);
    EXPECT_EQ(Back.ValuesCut, 0);
    TListNode* Cursor = Book.Head;
    for (auto& Item : Back.Items) {
      // A CSV cell cannot tell one empty line from none.
      TAddressItem& Original = *static_cast<TAddressItem*>(Cursor);
      if (Format == EContactFormat::Csv && Original.BusAddress.Count() == 1 && Original.BusAddress[0].empty())
        Item->BusAddress.Add("");
      // A backslash cannot stand in a phone number, and a given name alone
      // becomes the surname.
      std::string Expected = Fields(Original);
      if (size_t At = Expected.find("fax\\1"); At != std::string::npos) Expected.replace(At, 5, "fax1");
      if (Expected.rfind("\nOnly First\n", 0) == 0) Expected.replace(0, 12, "Only First\n\n");
      EXPECT_EQ(Fields(*Item), Expected);
      Cursor = Cursor->Next;
    }
    if (Format == EContactFormat::Csv) continue;
    // Lines end in CRLF and are folded at 75 octets, never inside a character.
    for (size_t Start = 0; Start < Text.size();) {
      size_t End = Text.find("\r\n", Start);
      ASSERT_NE(End, std::string::npos);
      std::string Line = Text.substr(Start, End - Start);
      EXPECT_LE(Line.size(), 75u);
      EXPECT_TRUE(IsValidUtf8(Line)) << Line;
      EXPECT_EQ(Line.find('\n'), std::string::npos);
      Start = End + 2;
    }
  }
}

TEST(Contacts, CardsAsPhonesAndOtherToolsWriteThemAreRead) {
  const struct {
    const char* Name;
    const char* Card;
    const char* Expected;
  } Cases[] = {
      {"phone 2.1 quoted-printable",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=96zdemir;Ay=C5=9Fe;;;\r\n"
       "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Ay=C5=9Fe =C3=96zdemir\r\nTEL;CELL:+90 555 1234\r\n"
       "TEL;HOME;VOICE:0212 1\r\nTEL;WORK:0212 2\r\nTEL;HOME:0212 3\r\nEMAIL;HOME:ayse@example.org\r\n"
       "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Ba=C4=9Fdat Cd. 5=0D=0ADaire 3;Istanbul;;34000;T=\r\n"
       "=C3=BCrkiye\r\nNOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=ISO-8859-1:Caf=E9=0D=0Anext\r\n"
       "PHOTO;ENCODING=BASE64;JPEG:/9j/4AAQ\r\n AAAA\r\n\r\nEND:VCARD\r\n",
       "Özdemir\nAyşe\n0212 1\n0212 2\n\n\n+90 555 1234\n[Bağdat Cd. 5|Daire 3|Istanbul|34000|Türkiye|]\n[]\n"
       "[Café|next|Telephone (home): 0212 3|E-mail (home): ayse@example.org|]\n0\n--\n"},
      {"3.0 as address books write it",
       "BEGIN:VCARD\nVERSION:3.0\nPRODID:-//Apple Inc.//macOS//EN\nN:Doe;John;Paul;Dr.;\nFN:Dr. John Paul Doe\n"
       "ORG:Acme\\, Inc.;Sales\nitem1.TEL;type=WORK;type=pref:+1 555 0100\nTEL;TYPE=WORK,FAX:+1 555 0101\n"
       "item2.ADR;type=WORK:;Suite 5;1 Main St,Floor 2;Springfield;IL;62701;USA\nitem2.X-ABLabel:_$!<Work>!$_\n"
       "ADR;TYPE=HOME:;;2 Elm St;Shelbyville;;;\nADR;TYPE=HOME:;;3 Oak Rd;;;;\nNOTE:one\\ntwo\\, three\\;\n"
       "X-UNKNOWN;FOO=bar:ignored\nEND:VCARD\n",
       "Doe\nJohn Paul\n\n+1 555 0100\n\n+1 555 0101\n\n[2 Elm St|Shelbyville|]\n"
       "[1 Main St|Floor 2|Suite 5|Springfield|IL|62701|USA|]\n"
       "[one|two, three;|Name prefix: Dr.|Organisation: Acme, Inc., Sales|Address (home): 3 Oak Rd|]\n0\n--\n"},
      {"4.0 with telephone URIs and a company",
       "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:org\r\nFN:Widgets "
       "Ltd\r\nTEL;VALUE=uri;TYPE=\"work,voice\":tel:+44-20-7946-0000;ext=42\r\n"
       "TEL;VALUE=uri;TYPE=cell:tel:+44-7700-900000\r\nTEL;VALUE=uri:tel:+44-1\r\nTEL;VALUE=uri:tel:+44-2\r\n"
       "END:VCARD\r\n",
       "Widgets Ltd\n\n+44-1\n+44-20-7946-0000\n42\n\n+44-7700-900000\n[]\n[]\n[Telephone: +44-2|]\n0\n--\n"},
      {"abook, without a version, and two cards",
       "BEGIN:VCARD\nFN:Ann Lee\nTEL;FAX:1\nEND:VCARD\n\nBEGIN:VCARD\nFN:Bob\nEND:VCARD\n",
       "Lee\nAnn\n\n\n\n1\n\n[]\n[]\n[]\n0\n--\nBob\n\n\n\n\n\n\n[]\n[]\n[]\n0\n--\n"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(Fields(ReadVCards(Case.Card)), Case.Expected);
  }
}

TEST(Contacts, MailProgramCsvIsRead) {
  // Columns in another order and case, a byte-order mark, semicolons, and
  // what the entry has no field for in the notes; Windows-1252 text.
  std::string Csv = std::string("\xEF\xBB\xBF") +
                    "first name;LAST NAME;Mobile Phone;E-mail Address;Home Street;Home City;Home Postal Code;"
                    "Sensitivity;Notes\r\n"
                    "Ann;Lee;0777;ann@example.org;\"1 Hill Rd\nFlat 2\";Town;AB1;Normal;\"say \"\"hi\"\"\"\r\n"
                    "\r\n;;;;;;;;\r\nBob;;;;;;;;\r\n";
  EXPECT_EQ(
      Fields(ReadCsv(Csv)),
      "Lee\nAnn\n\n\n\n\n0777\n[1 Hill Rd|Flat 2|Town|AB1|]\n[]\n[say \"hi\"|E-mail Address: ann@example.org|]\n0\n--\n"
      "Bob\n\n\n\n\n\n\n[]\n[]\n[]\n0\n--\n");
  EXPECT_EQ(Fields(ReadCsv("Display Name,Company,Business Fax\nJean-Luc Picard,Starfleet,\"1,2\"\n")),
            "Picard\nJean-Luc\n\n\n\n1,2\n\n[]\n[]\n[Organisation: Starfleet|]\n0\n--\n");
  EXPECT_EQ(ReadCsv("Last Name\n\xC9mile\n").Items[0]->Surname.str(), "\xC3\x89mile");
  EXPECT_TRUE(ReadCsv("").Items.empty());
}

TEST(Contacts, LongValuesAreCutAndCounted) {
  std::string Long(60, 'a');
  TImported Card = ReadVCards("BEGIN:VCARD\nN:" + Long + ";" + Long +
                              "\nX-TOBRINEL-EXTENSION:123456789012\n"
                              "TEL:" +
                              std::string(40, '1') + "\nNOTE:" + Long + "\nEND:VCARD\n");
  EXPECT_EQ(Card.ValuesCut, 3);
  EXPECT_EQ(Card.Items[0]->Surname.str(), std::string(50, 'a'));
  // A line of the notes longer than a book holds is cut like a name, at a
  // character's start, and the rest of the card is kept.
  TImported Note = ReadVCards("BEGIN:VCARD\nN:Lee\nNOTE:" + std::string(32766, 'n') + "\xC3\xA9" +
                              std::string(8000, 'n') + "\nTEL:1\nEND:VCARD\n");
  ASSERT_EQ(Note.Items.size(), 1u);
  EXPECT_EQ(Note.ValuesCut, 1);
  EXPECT_EQ(Note.Items[0]->Notes.Lines(), std::vector<std::string>{std::string(32766, 'n')});
  EXPECT_EQ(Note.Items[0]->HomeTelephone.str(), "1");
  EXPECT_EQ(Card.Items[0]->BusExtn.str(), "1234567890");
  TImported Row = ReadCsv("Last Name,Business Extension\n" + std::string(49, 'b') + "ßß,12345678901\n");
  EXPECT_EQ(Row.ValuesCut, 2);
  EXPECT_EQ(Row.Items[0]->Surname.str(), std::string(49, 'b') + "ß");
}

TEST(Contacts, DamagedInputNamesTheLineAndTheFault) {
  const struct {
    EContactFormat Format;
    std::string Text;
    int32_t Line;
    const char* Problem;
    int Read = -1;  // entries read beside the card or row skipped; -1: the whole input is refused
  } Cases[] = {
      {EContactFormat::VCard, "BEGIN:VCARD\nN:A\nEND:VCARD\nBEGIN:VCARD\nN:B\n", 4, "no END:VCARD", 1},
      {EContactFormat::VCard, "hello\n", 1, "must begin with BEGIN:VCARD"},
      {EContactFormat::VCard, "BEGIN:VCARD\nN:A\nEND:VCARD\nEND:VCARD\n", 4, "without a BEGIN", 1},
      {EContactFormat::VCard, "BEGIN:VCARD\nN:A\nEND:VCARD\nstray\ntext\nBEGIN:VCARD\nN:B\nEND:VCARD\n", 4,
       "must begin with BEGIN:VCARD", 2},
      {EContactFormat::VCard,
       "BEGIN:VCARD\nVERSION:2.1\nN:A\nPHOTO;ENCODING=BASE64:\n/9j/4AAQ\nSkZJRg==\n\n"
       "END:VCARD\nBEGIN:VCARD\nN:B\nEND:VCARD\n",
       5, "no ':'", 1},
      {EContactFormat::VCard, "BEGIN:VCARD\nN:A\n broken\nno colon\nEND:VCARD\n", 4, "no ':'"},
      {EContactFormat::VCard, "BEGIN:VCARD\nN;CHARSET=SHIFT_JIS:x\nEND:VCARD\n", 2, "SHIFT_JIS"},
      {EContactFormat::VCard, "BEGIN:VCARD\nNOTE;ENCODING=B:!!!!\nEND:VCARD\n", 2, "base64"},
      {EContactFormat::Csv, "Last Name,Notes\nA,\"one\ntwo\n", 2, "not closed"},
      {EContactFormat::Csv, "Last Name,Notes\nA,B\n\"C\"x,D\nE,F\n", 3, "follows the closing quote", 2},
      {EContactFormat::Csv, "Last Name\nA\nB,C\n", 3, "2 fields but the header only 1", 1},
      {EContactFormat::Csv, "Last Name\n\"C\"x\n", 2, "follows the closing quote"},
      {EContactFormat::Csv, "Shoe size,Colour\n1,2\n", 1, "no column Tobrinel knows"},
      {EContactFormat::Csv, "Last Name,Notes\nA,\"one\ntwo\"\nB,C,D\n", 4, "3 fields but the header only 2", 1},
      {EContactFormat::Csv, "Last Name\n" + std::string(5000, ','), 2, "more than 4096 fields"},
      {EContactFormat::Csv, "Last Name\nA\n" + std::string(9 << 20, 'x'), 3, "the row is longer than 8 MB"},
      {EContactFormat::Csv, "Last Name,Notes\nA,\"" + std::string(9 << 20, 'x'), 2, "closing quote missing"},
      {EContactFormat::VCard, "BEGIN:VCARD\nN:A\nNOTE:" + std::string(9 << 20, 'n'), 3, "NOTE is longer than 8 MB"},
      {EContactFormat::VCard, "BEGIN:VCARD\nN:A\nNOTE:a\n" + std::string(9 << 20, ' '), 3, "NOTE is longer"},
      {EContactFormat::VCard,
       "BEGIN:VCARD\n" +
           [] {
             std::string Lines;
             for (int I = 0; I < 40000; ++I) Lines += "EMAIL:a@b\n";
             return Lines;
           }(),
       32769, "more than 32767 lines"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Text.substr(0, 60));
    try {
      TImported Read = ReadContacts(Case.Text, Case.Format);
      EXPECT_EQ(int(Read.Items.size()), Case.Read);
      ASSERT_EQ(Read.Refused.size(), 1u);
      EXPECT_EQ(Read.Refused[0].first, Case.Line);
      EXPECT_NE(Read.Refused[0].second.find(Case.Problem), std::string::npos) << Read.Refused[0].second;
    } catch (const EImportError& E) {
      EXPECT_EQ(Case.Read, -1) << E.what();
      EXPECT_EQ(E.Line, Case.Line);
      EXPECT_NE(E.Problem.find(Case.Problem), std::string::npos) << E.Problem;
    }
  }
}

TEST(Contacts, AddingManyPutsEachWhereAddWould) {
  std::mt19937 Random(7);
  // Names only: equal keys are common. The home number tells entries apart.
  auto Make = [&](const std::string& Tag) {
    TAddressItem* Item = MakeItem(std::string(1, char('A' + Random() % 5)), "");
    Item->HomeTelephone = Tag;
    return Item;
  };
  auto Order = [](const TLinkList& List) {
    std::string Out;
    for (TListNode* N = List.Head; N; N = N->Next) {
      auto* I = static_cast<TAddressItem*>(N);
      Out.append(I->Surname.str()).append(I->HomeTelephone.str()) += " ";
    }
    return Out;
  };
  for (int Round = 0; Round < 500; ++Round) {
    TMyLinkList ByAdd, ByBulk;
    int Old = int(Random() % 8), New = int(Random() % 8);
    for (int I = 0; I < Old; ++I) {
      TAddressItem* Item = Make("o" + std::to_string(I));
      ByAdd.Add(Item);
      ByBulk.Add(MakeItem(Item->Surname, ""));
      ItemAt(ByBulk, ByAdd.IndexOf(Item))->HomeTelephone = Item->HomeTelephone.str();
    }
    // Renamed in place, as the main window may leave a list out of order.
    if (Old > 1 && Random() % 2) {
      int At = int(Random() % unsigned(Old));
      std::string Name(1, char('A' + Random() % 5));
      ItemAt(ByAdd, At)->Surname = Name;
      ItemAt(ByBulk, At)->Surname = Name;
    }
    std::vector<std::unique_ptr<TAddressItem>> Items;
    for (int I = 0; I < New; ++I) {
      TAddressItem* Item = Make("n" + std::to_string(I));
      Items.emplace_back(MakeItem(Item->Surname, ""));
      Items.back()->HomeTelephone = Item->HomeTelephone.str();
      ByAdd.Add(Item);
    }
    AddAllInOrder(ByBulk, Items);
    ASSERT_EQ(Order(ByBulk), Order(ByAdd)) << "round " << Round;
    ASSERT_EQ(ByBulk.Count, Old + New);
    ASSERT_EQ(ByBulk.Tail, ByBulk.GetItem(ByBulk.Count - 1));
  }
}

TEST(Contacts, FormatIsTakenFromTheExtensionOrTheContent) {
  EXPECT_EQ(GuessContactFormat("/a/b.VCF", "x,y"), EContactFormat::VCard);
  EXPECT_EQ(GuessContactFormat("/a.vcf/b.csv", "BEGIN:VCARD"), EContactFormat::Csv);
  EXPECT_EQ(GuessContactFormat("/a/b.txt", "\xEF\xBB\xBF\r\n begin:vcard\r\n"), EContactFormat::VCard);
  EXPECT_EQ(GuessContactFormat("/a/b", "Last Name\n"), EContactFormat::Csv);
}

TEST(Contacts, ExportReplacesAFileOnlyWhole) {
  TTempDir Dir;
  TAddressBook Book;
  Book.Items->Add(Entry({"Lee", "Ann"}));
  Book.FileName = Dir / "b.ABK";
  Book.SaveToFile();
  std::string BookBytes = ReadBytes(Book.FileName);
  EXPECT_THROW(ExportToFile(Book, EContactFormat::Csv, Dir / "b.ABK"), EFileError);
  EXPECT_EQ(ReadBytes(Book.FileName), BookBytes);
  EXPECT_THROW(ExportToFile(Book, EContactFormat::Csv, Dir / "missing/out.csv"), EFileError);

  WriteBytes(Dir / "out.csv", "old");
  ExportToFile(Book, EContactFormat::Csv, Dir / "out.csv");
  EXPECT_EQ(Fields(*ReadCsv(ReadBytes(Dir / "out.csv")).Items.at(0)), Fields(*ItemAt(*Book.Items, 0)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path), {}), 2);  // no temporary left
  std::filesystem::permissions(Dir / "out.csv", std::filesystem::perms::owner_read);
  Book.Items->Add(Entry({"Other"}));
  EXPECT_THROW(ExportToFile(Book, EContactFormat::Csv, Dir / "out.csv"), EFileError);
  EXPECT_EQ(ReadCsv(ReadBytes(Dir / "out.csv")).Items.size(), 1u);
}

TEST(Contacts, ImportReadsOnlyRegularFiles) {
  TTempDir Dir;
  ASSERT_EQ(::mkfifo((Dir / "pipe.vcf").c_str(), 0600), 0);
  // A named pipe with no writer would block the program's reader for good.
  try {
    ImportContactsFile(Dir / "pipe.vcf", std::nullopt);
    FAIL() << "a named pipe was read";
  } catch (const EFileError& Error) {
    EXPECT_NE(std::string(Error.what()).find("not a regular file"), std::string::npos) << Error.what();
  }
  EXPECT_THROW(ImportContactsFile(Dir.Path, std::nullopt), EFileError);
  EXPECT_THROW(ImportContactsFile(Dir.Path, std::nullopt, true), EFileError);
}

// Readers stream: a refused input is read no further than its fault, however
// long it goes on. Each input here never ends (a writer keeps filling a
// pipe), so a reader that read it whole would never return.
TEST(Contacts, ReadersStopAtTheFirstLineTheyRefuse) {
  std::signal(SIGPIPE, SIG_IGN);
  std::mt19937 Random(5);
  std::string Noise(1 << 16, '\0');
  for (char& C : Noise) C = char(Random());
  std::string Cards;
  for (int I = 0; I < 100; ++I) Cards += "EMAIL:a@example.org\r\n";
  const struct {
    EContactFormat Format;
    std::string Head, Filler;
    int32_t Line;
    const char* Problem;
  } Cases[] = {
      {EContactFormat::Csv, "", Noise, 1, "no column Tobrinel knows"},
      {EContactFormat::Csv, "Last Name,Notes\r\nLee,\"", "x", 2, "closing quote missing"},
      {EContactFormat::Csv, "Last Name\r\nLee,", ",", 2, "more than 4096 fields"},
      {EContactFormat::VCard, "", Noise, 1, "must begin with BEGIN:VCARD"},
      {EContactFormat::VCard, "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:", "n", 3, "NOTE is longer than 8 MB"},
      {EContactFormat::VCard, "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:a\r\n", " folded\r\n", 3, "NOTE is longer"},
      {EContactFormat::VCard, "BEGIN:VCARD\r\nVERSION:3.0\r\n", Cards, 32770, "more than 32767 lines"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Head + Case.Filler.substr(0, 12));
    int Pipe[2];
    ASSERT_EQ(::pipe(Pipe), 0);
    size_t Written = 0;
    std::thread Writer([&] {
      std::string Block = Case.Filler;
      while (Block.size() < (1 << 16)) Block += Case.Filler;
      if (!WriteAll(Pipe[1], Case.Head.data(), Case.Head.size())) return;
      while (WriteAll(Pipe[1], Block.data(), Block.size())) Written += Block.size();
    });
    try {
      TInput Input(Pipe[0], "pipe");
      ReadContacts(Input, Case.Format);
      ADD_FAILURE() << "read without an error";
    } catch (const EImportError& E) {
      EXPECT_EQ(E.Line, Case.Line);
      EXPECT_NE(E.Problem.find(Case.Problem), std::string::npos) << E.Problem;
    }
    ::close(Pipe[0]);  // the writer's next write fails
    Writer.join();
    ::close(Pipe[1]);
    EXPECT_LT(Written, size_t(24) << 20);
  }
}

TEST(Contacts, ALongValueThatIsNotKeptIsPassedOver) {
  // A photo larger than any line a reader holds, in the middle of a card.
  for (std::string Fold : {"", "\r\n "}) {
    std::string Card = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nPHOTO;ENCODING=b;TYPE=JPEG:";
    for (int I = 0; I < 12; ++I) Card += std::string(1 << 20, 'A') + Fold;
    Card += "\r\nTEL;TYPE=CELL:0777\r\nEND:VCARD\r\n";
    TImported Read = ReadVCards(Card);
    EXPECT_EQ(Fields(Read), "Lee\nAnn\n\n\n\n\n0777\n[]\n[]\n[]\n0\n--\n");
    EXPECT_EQ(Skipped(Read), "1 0 0 0");
  }
}
