#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "SyncTestKit.h"

namespace {

// "received sent deleted-here deleted-there merged conflicts"
std::string Counts(const TSyncSummary& S) {
  return std::to_string(S.Received) + " " + std::to_string(S.Sent) + " " + std::to_string(S.DeletedHere) + " " +
         std::to_string(S.DeletedThere) + " " + std::to_string(S.Merged) + " " + std::to_string(S.Conflicts);
}

// A book and a server synced once with the given entries.
struct TSynced {
  explicit TSynced(const std::vector<std::vector<std::string>>& People, EConflictRule Rule = EConflictRule::KeepBoth)
      : Options(TestOptions(Rule)) {
    for (const auto& P : People) AddTo(Book, Person(P));
    RunSync(Book, State, Server, Options);
  }
  TRunResult Sync(int CutAfter = -1) { return RunSync(Book, State, Server, Options, CutAfter); }
  // Both sides hold Expected and a further run has nothing to do.
  void ExpectSettled(const std::string& Expected) {
    EXPECT_EQ(BookText(Book), Expected);
    EXPECT_EQ(Server.Text(), Expected);
    TRunResult Again = Sync();
    EXPECT_EQ(Counts(Again.Summary), "0 0 0 0 0 0");
    EXPECT_EQ(Again.Puts + Again.Deletes, 0u);
    EXPECT_EQ(BookText(Book), Expected);
  }
  TAddressBook Book;
  TSyncState State;
  TFakeServer Server;
  TSyncOptions Options;
};

enum EAct { U, C, N, D };

}  // namespace

// Each thing that can happen to a contact here and there since the last sync,
// with the server's changes read from a token and, as after a token the server
// forgot, from a full listing: the same result either way.
TEST(SyncEngine, EachChangeOnEachSide) {
  struct {
    EAct Here, There;
    const char* Expected;
    const char* Counts;
  } const Cases[] = {
      {U, U, "Able Ann h=1", "0 0 0 0 0 0"},
      {U, C, "Able Ann h=1 m=20", "1 0 0 0 0 0"},
      {U, N, "Able Ann h=1; Nolan Ned h=6", "1 0 0 0 0 0"},
      {U, D, "", "0 0 1 0 0 0"},
      {C, U, "Able Ann h=10", "0 1 0 0 0 0"},
      {C, C, "Able Ann h=10 m=20", "1 1 0 0 1 0"},
      {C, N, "Able Ann h=10; Nolan Ned h=6", "1 1 0 0 0 0"},
      {C, D, "Able Ann h=10", "0 1 0 0 0 0"},
      {N, U, "Able Ann h=1; Nash Nia h=5", "0 1 0 0 0 0"},
      {N, C, "Able Ann h=1 m=20; Nash Nia h=5", "1 1 0 0 0 0"},
      {N, N, "Able Ann h=1; Nash Nia h=5; Nolan Ned h=6", "1 1 0 0 0 0"},
      {N, D, "Nash Nia h=5", "0 1 1 0 0 0"},
      {D, U, "", "0 0 0 1 0 0"},
      {D, C, "Able Ann h=1 m=20", "1 0 0 0 0 0"},
      {D, N, "Nolan Ned h=6", "1 0 0 1 0 0"},
      {D, D, "", "0 0 0 0 0 0"},
  };
  for (bool Forgotten : {false, true})
    for (const auto& Case : Cases) {
      SCOPED_TRACE(std::string("here ") + "UCND"[Case.Here] + ", there " + "UCND"[Case.There] +
                   (Forgotten ? ", token forgotten" : ""));
      TSynced S({{"Able", "Ann", "1"}});
      ASSERT_EQ(S.Server.Text(), "Able Ann h=1");
      S.Server.ForgetTokens = Forgotten;
      std::string Href = S.Server.HrefOf("Able");
      if (Case.Here == C) EntryNamed(S.Book, "Able")->HomeTelephone = "10";
      if (Case.Here == N) AddTo(S.Book, Person({"Nash", "Nia", "5"}));
      if (Case.Here == D) S.Book.Items->Delete(EntryNamed(S.Book, "Able"));
      if (Case.There == C) S.Server.Edit(Href, [](TAddressItem& I) { I.BusMobile = "20"; });
      if (Case.There == N) S.Server.Store("/book/other.vcf", NewCard(*Person({"Nolan", "Ned", "6"}), "other"));
      if (Case.There == D) S.Server.Remove(Href);
      TRunResult R = S.Sync();
      EXPECT_EQ(Counts(R.Summary), Case.Counts);
      EXPECT_TRUE(R.Skipped.empty());
      S.ExpectSettled(Case.Expected);
    }
}

TEST(SyncEngine, ChangesToDifferentPropertiesAreBothKept) {
  using TEdit = std::function<void(TAddressItem&)>;
  struct {
    const char* Name;
    TEdit Here, There;
    const char* Expected;
    const char* Counts;
  } const Cases[] = {
      {"phones here, address there", [](TAddressItem& I) { I.HomeTelephone = "10", I.BusMobile = "70"; },
       [](TAddressItem& I) { I.HomeAddress.SetText("2 Dale St\nTown"); },
       "Able Ann h=10 w=3 m=70 ha=2 Dale St/Town n=Likes tea", "1 1 0 0 1 0"},
      {"the same change on both sides", [](TAddressItem& I) { I.HomeTelephone = "10"; },
       [](TAddressItem& I) { I.HomeTelephone = "10"; }, "Able Ann h=10 w=3 ha=1 Hill Rd/Town n=Likes tea",
       "0 0 0 0 0 0"},
      {"a line of the notes each", [](TAddressItem& I) { I.Notes.SetText("Likes coffee"); },
       [](TAddressItem& I) { I.Notes.SetText("Likes tea\nHas a dog"); },
       "Able Ann h=1 w=3 ha=1 Hill Rd/Town n=Likes coffee/Has a dog", "1 1 0 0 1 0"},
      {"renamed here, work number there", [](TAddressItem& I) { I.Surname = "Abel"; },
       [](TAddressItem& I) { I.BusTelephone = "33"; }, "Abel Ann h=1 w=33 ha=1 Hill Rd/Town n=Likes tea",
       "1 1 0 0 1 0"},
      {"the same line of the notes rewritten on both sides", [](TAddressItem& I) { I.Notes.SetText("Likes coffee"); },
       [](TAddressItem& I) { I.Notes.SetText("Likes cocoa"); },
       "Able Ann h=1 w=3 ha=1 Hill Rd/Town n=Likes cocoa; Able Ann h=1 w=3 ha=1 Hill Rd/Town n=Likes coffee",
       "1 1 0 0 0 1"},
      {"the notes rewritten here, and further there", [](TAddressItem& I) { I.Notes.SetText("Likes tea\nand cake"); },
       [](TAddressItem& I) { I.Notes.SetText("Likes cocoa\nand cake"); },
       "Able Ann h=1 w=3 ha=1 Hill Rd/Town n=Likes cocoa/and cake", "1 0 0 0 0 0"},
      {"the notes rewritten there, and further here", [](TAddressItem& I) { I.Notes.SetText("Likes cocoa\nand cake"); },
       [](TAddressItem& I) { I.Notes.SetText("Likes cocoa"); },
       "Able Ann h=1 w=3 ha=1 Hill Rd/Town n=Likes cocoa/and cake", "0 1 0 0 0 0"},
      {"renamed there, address here", [](TAddressItem& I) { I.BusAddress.SetText("Works"); },
       [](TAddressItem& I) { I.FirstName = "Anne"; }, "Able Anne h=1 w=3 ha=1 Hill Rd/Town wa=Works n=Likes tea",
       "1 1 0 0 1 0"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TSynced S({{"Able", "Ann", "1", "3", "", "", "", "1 Hill Rd|Town", "", "Likes tea"}});
    Case.Here(*EntryNamed(S.Book, "Able"));
    S.Server.Edit(S.Server.HrefOf("Able"), Case.There);
    EXPECT_EQ(Counts(S.Sync().Summary), Case.Counts);
    S.ExpectSettled(Case.Expected);
  }
}

// A property the book has no field for, added on a phone, arrives in the notes
// and goes back as itself, not as a second copy in NOTE.
TEST(SyncEngine, PropertyAddedThereWhileNotesChangeHere) {
  TSynced S({{"Able", "Ann", "1", "", "", "", "", "", "", "Likes tea"}});
  std::string Href = S.Server.HrefOf("Able");
  std::string Card = S.Server.Cards[Href].Text;
  Card.insert(Card.find("END:VCARD"), "EMAIL;TYPE=INTERNET:ann@example.org\r\n");
  S.Server.Store(Href, Card);
  EntryNamed(S.Book, "Able")->Notes.SetText("Likes coffee");
  EXPECT_EQ(Counts(S.Sync().Summary), "1 1 0 0 1 0");
  S.ExpectSettled("Able Ann h=1 n=Likes coffee/E-mail: ann@example.org");
  const std::string& Sent = S.Server.Cards[Href].Text;
  EXPECT_NE(Sent.find("\r\nEMAIL;TYPE=INTERNET:ann@example.org\r\n"), std::string::npos) << Sent;
  EXPECT_NE(Sent.find("\r\nNOTE:Likes coffee\r\n"), std::string::npos) << Sent;
}

TEST(SyncEngine, ConflictRules) {
  struct {
    EConflictRule Rule;
    EConflictRule Answer;  // for Ask
    const char* Expected;
    const char* Counts;
  } const Cases[] = {
      {EConflictRule::KeepBoth, {}, "Able Ann h=10 w=44; Able Ann h=30 m=20", "1 1 0 0 0 1"},
      {EConflictRule::PreferLocal, {}, "Able Ann h=10 w=44 m=20", "1 1 0 0 0 1"},
      {EConflictRule::PreferServer, {}, "Able Ann h=30 w=44 m=20", "1 1 0 0 0 1"},
      {EConflictRule::Ask, EConflictRule::PreferServer, "Able Ann h=30 w=44 m=20", "1 1 0 0 0 1"},
      {EConflictRule::Ask, EConflictRule::PreferLocal, "Able Ann h=10 w=44 m=20", "1 1 0 0 0 1"},
      {EConflictRule::Ask, EConflictRule::KeepBoth, "Able Ann h=10 w=44; Able Ann h=30 m=20", "1 1 0 0 0 1"},
      {EConflictRule::Ask, EConflictRule::Ask, "Able Ann h=10 w=44; Able Ann h=30 m=20", "1 1 0 0 0 1"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(int(Case.Rule) * 10 + int(Case.Answer));
    TSynced S({{"Able", "Ann", "1"}}, Case.Rule);
    int Asked = 0;
    S.Options.Ask = [&](const TConflictQuestion& Q) {
      ++Asked;
      // Each side's version with the other's one-sided change merged in.
      EXPECT_EQ(Short(Q.Local), "Able Ann h=10 w=44 m=20");
      EXPECT_EQ(Short(Q.Server), "Able Ann h=30 w=44 m=20");
      EXPECT_EQ(Q.Fields, std::vector<int>{sfHomeTelephone});
      return Case.Answer;
    };
    TAddressItem& Here = *EntryNamed(S.Book, "Able");
    Here.HomeTelephone = "10", Here.BusTelephone = "44";
    S.Server.Edit(S.Server.HrefOf("Able"), [](TAddressItem& I) { I.HomeTelephone = "30", I.BusMobile = "20"; });
    TRunResult R = S.Sync();
    EXPECT_EQ(Counts(R.Summary), Case.Counts);
    EXPECT_EQ(Asked, Case.Rule == EConflictRule::Ask ? 1 : 0);
    S.ExpectSettled(Case.Expected);
  }
}

// Entries of one name are told apart by their other fields, never two to a card.
TEST(SyncEngine, DuplicatesByName) {
  using TAct = std::function<void(TAddressBook&, TFakeServer&)>;
  struct {
    const char* Name;
    std::vector<std::vector<std::string>> People;
    TAct Act;
    const char* Expected;
    const char* FirstCard;  // what the card first sent holds afterwards
    const char* Counts;
  } const Cases[] = {
      {"one of two edited",
       {{"Smith", "John", "1"}, {"Smith", "John", "2"}},
       [](TAddressBook& B, TFakeServer&) { EntryNamed(B, "Smith", 1)->HomeTelephone = "22"; },
       "Smith John h=1; Smith John h=22",
       "Smith John h=1",
       "0 1 0 0 0 0"},
      {"both edited",
       {{"Smith", "John", "1", "5"}, {"Smith", "John", "2", "6"}},
       [](TAddressBook& B, TFakeServer&) {
         // The second is edited first: its place in the book says nothing.
         EntryNamed(B, "Smith", 1)->HomeTelephone = "22";
         EntryNamed(B, "Smith", 0)->HomeTelephone = "11";
       },
       "Smith John h=11 w=5; Smith John h=22 w=6",
       "Smith John h=11 w=5",
       "0 2 0 0 0 0"},
      {"one deleted, the other edited",
       {{"Smith", "John", "1", "5"}, {"Smith", "John", "2", "6"}},
       [](TAddressBook& B, TFakeServer&) {
         B.Items->Delete(EntryNamed(B, "Smith", 0));
         EntryNamed(B, "Smith", 0)->HomeTelephone = "22";
       },
       "Smith John h=22 w=6",
       "",
       "0 1 0 1 0 0"},
      {"the second edited to equal the first",
       {{"Smith", "John", "1"}, {"Smith", "John", "2"}},
       [](TAddressBook& B, TFakeServer&) { EntryNamed(B, "Smith", 1)->HomeTelephone = "1"; },
       "Smith John h=1; Smith John h=1",
       "Smith John h=1",
       "0 1 0 0 0 0"},
      {"two equal entries, one deleted",
       {{"Smith", "John", "1"}, {"Smith", "John", "1"}},
       [](TAddressBook& B, TFakeServer&) { B.Items->Delete(EntryNamed(B, "Smith", 0)); },
       "Smith John h=1",
       nullptr,
       "0 0 0 1 0 0"},
      {"new here and there, the same",
       {{"Other", "One"}},
       [](TAddressBook& B, TFakeServer& S) {
         AddTo(B, Person({"Smith", "John", "1"}));
         S.Store("/book/x.vcf", NewCard(*Person({"Smith", "John", "1"}), "x"));
       },
       "Other One; Smith John h=1",
       "Other One",
       "0 0 0 0 0 0"},
      {"an entry equal to a new card there, another like the card deleted there",
       {{"Dunn", "Di", "0"}},
       [](TAddressBook& B, TFakeServer& S) {
         EntryNamed(B, "Dunn")->Surname = "Cole";  // renamed where it stands, before the one added next
         AddTo(B, Person({"Evans", "Di", "0"}));
         S.Remove(S.HrefOf("Dunn"));
         S.Store("/book/x.vcf", NewCard(*Person({"Cole", "Di", "0"}), "x"));
       },
       "Cole Di h=0; Evans Di h=0",
       nullptr,
       "0 1 0 0 0 0"},
      {"an edit here that a card changed there has too, the other card deleted there",
       {{"Eve", "A", "1"}, {"Eve", "A", "2"}},
       [](TAddressBook& B, TFakeServer& S) {
         EntryNamed(B, "Eve", 0)->HomeTelephone = "5";
         B.Items->Delete(EntryNamed(B, "Eve", 1));
         S.Remove("/book/uid-1.vcf");
         S.Edit("/book/uid-2.vcf", [](TAddressItem& I) { I.HomeTelephone = "5"; });
       },
       "Eve A h=5",
       nullptr,
       "0 0 0 0 0 0"},
      {"new here and there, the same name only",
       {{"Other", "One"}},
       [](TAddressBook& B, TFakeServer& S) {
         AddTo(B, Person({"Smith", "John", "1"}));
         S.Store("/book/x.vcf", NewCard(*Person({"Smith", "John", "2"}), "x"));
       },
       "Other One; Smith John h=1; Smith John h=2",
       "Other One",
       "1 1 0 0 0 0"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TSynced S(Case.People);
    Case.Act(S.Book, S.Server);
    EXPECT_EQ(Counts(S.Sync().Summary), Case.Counts);
    S.ExpectSettled(Case.Expected);
    if (Case.FirstCard) {
      auto First = S.Server.Cards.find("/book/uid-1.vcf");
      EXPECT_EQ(First == S.Server.Cards.end() ? "" : Short(*ReadCard(First->second.Text)), Case.FirstCard);
    }
  }
}

TEST(SyncEngine, MassDeleteNeedsConfirmation) {
  struct {
    int Entries, GoneHere, GoneThere;  // deleted by the person here, by another client there
    bool Stops;
  } const Cases[] = {
      {20, 11, 0, true}, {20, 10, 0, false}, {9, 9, 0, false},   {10, 10, 0, true},
      {12, 10, 0, true}, {20, 0, 11, true},  {20, 0, 10, false}, {30, 8, 8, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::to_string(Case.Entries) + " " + std::to_string(Case.GoneHere) + " " +
                 std::to_string(Case.GoneThere));
    std::vector<std::vector<std::string>> People;
    for (int I = 0; I < Case.Entries; ++I)
      People.push_back({"Person" + std::to_string(100 + I), "A", std::to_string(I)});
    TSynced S(People);
    for (int I = 0; I < Case.GoneHere; ++I) S.Book.Items->Delete(S.Book.Items->Head);
    for (int I = 1; I <= Case.GoneThere; ++I)  // from the other end of the book
      S.Server.Remove(S.Server.HrefOf("Person" + std::to_string(100 + Case.Entries - I)));
    size_t Cards = S.Server.Cards.size();
    int Entries = S.Book.Items->Count;
    TRunResult R = S.Sync();
    EXPECT_EQ(R.MassDelete, Case.Stops);
    // Stopped, nothing changed on either side; else each side lost what the other did.
    EXPECT_EQ(S.Book.Items->Count, Case.Stops ? Entries : Case.Entries - Case.GoneHere - Case.GoneThere);
    EXPECT_EQ(S.Server.Cards.size(), Case.Stops ? Cards : size_t(Case.Entries - Case.GoneHere - Case.GoneThere));
  }
}

// A run killed after some PUTs, before the book and the state were written:
// the next run finds what it sent and sends only the rest.
TEST(SyncEngine, RunCutOffAfterSomePutsIsCompletedWithoutDuplicates) {
  struct {
    int CutAfter;
    bool Forgotten;
    bool EditBetween;  // the first entry edited before the next run
    int PutsThen;
  } const Cases[] = {
      {0, false, false, 5}, {2, false, false, 3}, {5, false, false, 0}, {2, true, false, 3},
      {2, false, true, 4},  {2, true, true, 4},   {5, true, false, 0},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::to_string(Case.CutAfter) + (Case.Forgotten ? " forgotten" : "") +
                 (Case.EditBetween ? " edited" : ""));
    TSynced S({});
    for (int I = 0; I < 5; ++I) AddTo(S.Book, Person({"Person" + std::to_string(I), "A", std::to_string(I)}));
    S.Sync(Case.CutAfter);
    EXPECT_EQ(S.Server.Cards.size(), size_t(Case.CutAfter));
    S.Server.ForgetTokens = Case.Forgotten;
    if (Case.EditBetween) EntryNamed(S.Book, "Person0")->BusMobile = "77";
    int PutsBefore = S.Server.Puts;
    TRunResult R = S.Sync();
    EXPECT_EQ(S.Server.Puts - PutsBefore, Case.PutsThen);
    EXPECT_TRUE(R.Skipped.empty());
    S.ExpectSettled(std::string("Person0 A h=0") + (Case.EditBetween ? " m=77" : "") +
                    "; Person1 A h=1; Person2 A h=2; Person3 A h=3; Person4 A h=4");
    for (const TSyncCard& Card : S.State.Cards) EXPECT_FALSE(Card.Pending) << Card.Href;
    // A card the journal chose keeps its UID and address whether it was sent or not.
    EXPECT_EQ(S.Server.HrefOf("Person0"), "/book/uid-1.vcf");
  }
}

// A run cut off after some of its operations, before it could record them,
// then run again: the journal makes the second run decide as the first did,
// so both sides come to what the whole run would have given.
TEST(SyncEngine, RunCutOffComesToWhatTheWholeRunWould) {
  using TAct = std::function<void(TAddressBook&, TFakeServer&)>;
  auto Rename = [](TFakeServer& S, const std::string& From, const std::string& To) {
    S.Edit(S.HrefOf(From), [&](TAddressItem& I) { I.Surname = To; });
  };
  struct {
    const char* Name;
    std::vector<std::vector<std::string>> People;
    TAct Act;
    int CutAfter;
    const char* Expected;
  } const Cases[] = {
      {"merged notes and numbers",
       {{"Able", "Ann", "1", "", "", "", "", "", "", "x|y"}, {"Baker", "Bob", "2"}},
       [](TAddressBook& B, TFakeServer& S) {
         EntryNamed(B, "Able")->Notes.SetText("x\nz"), EntryNamed(B, "Able")->BusMobile = "1";
         S.Edit(S.HrefOf("Able"), [](TAddressItem& I) { I.Notes.SetText("q\ny"); });
         EntryNamed(B, "Baker")->HomeTelephone = "20";
         S.Edit(S.HrefOf("Baker"), [](TAddressItem& I) { I.HomeTelephone = "30"; });
       },
       1,
       nullptr},
      {"kept both, and a new entry like the card",
       {{"Baker", "A", "0"}, {"Cole", "A", "1"}},
       [&](TAddressBook& B, TFakeServer& S) {
         EntryNamed(B, "Baker")->HomeTelephone = "2";
         AddTo(B, Person({"Able", "A", "0"}));
         S.Edit(S.HrefOf("Baker"), [](TAddressItem& I) { I.HomeTelephone = "3", I.Notes.SetText("q"); });
         Rename(S, "Cole", "Able");
       },
       1,
       "Able A h=0; Able A h=1; Baker A h=2; Baker A h=3 n=q"},
      {"sent again after its card was deleted, and its twin new there",
       {{"Eve", "A", "0"}},
       [](TAddressBook& B, TFakeServer& S) {
         EntryNamed(B, "Eve")->Surname = "Dunn";
         AddTo(B, Person({"Dunn", "A", "0"}));
         S.Remove(S.HrefOf("Eve"));
         S.Store("/book/x.vcf", NewCard(*Person({"Dunn", "A", "0"}), "x"));
       },
       1,
       "Dunn A h=0; Dunn A h=0"},
      {"cut off before its first PUT",
       {{"Able", "A", "4", "", "", "", "2"}, {"Eve", "A", "0"}},
       [&](TAddressBook& B, TFakeServer& S) {
         EntryNamed(B, "Able")->HomeTelephone = "0";
         B.Items->Delete(EntryNamed(B, "Eve"));
         S.Remove(S.HrefOf("Able"));
         Rename(S, "Eve", "Cole");
       },
       0,
       "Able A h=0 m=2; Cole A h=0"},
  };
  for (EConflictRule Rule : {EConflictRule::KeepBoth, EConflictRule::PreferLocal, EConflictRule::PreferServer})
    for (const auto& Case : Cases) {
      SCOPED_TRACE(std::string(Case.Name) + ", rule " + std::to_string(int(Rule)));
      std::string Whole;
      for (bool Cut : {false, true}) {
        TSynced S(Case.People, Rule);
        Case.Act(S.Book, S.Server);
        S.Sync(Cut ? Case.CutAfter : -1);
        if (Cut) S.Sync();
        else Whole = BookText(S.Book);
        if (!Cut && Case.Expected && Rule == EConflictRule::KeepBoth) {
          EXPECT_EQ(Whole, Case.Expected);
        }
        S.ExpectSettled(Whole);
      }
    }
}

// A run sent an entry as a new card (its card was deleted there) and was cut
// off; before the next run the person adds an entry of the same name. The old
// card stays that first entry's: the new one does not take its photo.
TEST(SyncEngine, JournalKeepsACardWhoseEntryWentAsANewCard) {
  TSynced S({});
  S.Server.Store("/book/x.vcf",
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nN:Baker;A;;;\r\nFN:A Baker\r\n"
                 "TEL;TYPE=HOME,VOICE:0\r\nPHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\nEND:VCARD\r\n");
  S.Sync();
  EntryNamed(S.Book, "Baker")->HomeTelephone = "2";
  S.Server.Remove("/book/x.vcf");
  S.Sync(1);
  AddTo(S.Book, Person({"Baker", "A", "0", "", "", "", "7"}));
  S.Sync();
  int WithPhoto = 0;
  for (auto& [Href, Card] : S.Server.Cards) WithPhoto += Card.Text.find("PHOTO") != std::string::npos;
  EXPECT_EQ(WithPhoto, 1);
  S.ExpectSettled("Baker A h=0 m=7; Baker A h=2");
}

// The journal's claim pairs its entry with the card, though the rules alone
// would pair another entry of the name that has more fields equal.
TEST(SyncEngine, JournalClaimPairsItsEntry) {
  for (bool Claimed : {false, true}) {
    SCOPED_TRACE(Claimed);
    TSynced S({{"Smith", "John", "1", "5"}});
    EntryNamed(S.Book, "Smith")->BusTelephone = "6";
    AddTo(S.Book, Person({"Smith", "John", "9"}));
    if (Claimed) S.State.Cards[0].Claim = SyncFields::Fingerprint(*Person({"Smith", "John", "9"}));
    S.Sync();
    EXPECT_EQ(Short(*ReadCard(S.Server.Cards["/book/uid-1.vcf"].Text)),
              Claimed ? "Smith John h=9" : "Smith John h=1 w=6");
    S.ExpectSettled("Smith John h=1 w=6; Smith John h=9");
    EXPECT_EQ(S.State.Serialize().find("\nclaim "), std::string::npos);
  }
}

// A card changed on the server between the listing and the PUT: the PUT is
// refused (412) and the next run merges instead of overwriting.
TEST(SyncEngine, RefusedPutLeavesTheCardForTheNextRun) {
  TSynced S({{"Able", "Ann", "1"}});
  std::string Href = S.Server.HrefOf("Able");
  EntryNamed(S.Book, "Able")->HomeTelephone = "10";
  TSyncEngine Engine(S.State);
  ASSERT_TRUE(Engine.Listing(S.Server.List(S.State.SyncToken)).empty());
  TSyncPlan Plan = Engine.Plan(*S.Book.Items, S.Options);
  ASSERT_EQ(Plan.Puts.size(), 1u);
  S.Server.Edit(Href, [](TAddressItem& I) { I.BusMobile = "20"; });
  EXPECT_FALSE(S.Server.Put(Plan.Puts[0]));
  Plan.ApplyToBook(S.Book);
  S.State = Plan.FinalState();
  EXPECT_EQ(Counts(S.Sync().Summary), "1 1 0 0 1 0");
  S.ExpectSettled("Able Ann h=10 m=20");
}

// Nothing changed: the state after the plan is the state loaded, so it is not
// written again, and a card fetched for a new ETag alone changes nothing else.
TEST(SyncEngine, NothingChangedLeavesTheStateAsItWas) {
  TSynced S({{"Able", "Ann", "1"}, {"Baker", "Bob", "2"}});
  S.Sync();  // the token moves past the cards the first run sent
  for (bool NewETag : {false, true}) {
    SCOPED_TRACE(NewETag);
    std::string Href = S.Server.HrefOf("Baker");
    if (NewETag) S.Server.Store(Href, S.Server.Cards[Href].Text);
    TSyncEngine Engine(S.State);
    std::vector<std::string> Fetch = Engine.Listing(S.Server.List(S.State.SyncToken));
    EXPECT_EQ(Fetch, NewETag ? std::vector<std::string>{Href} : std::vector<std::string>());
    for (const std::string& H : Fetch) Engine.AddCard(H, S.Server.Cards[H].ETag, S.Server.Cards[H].Text);
    TSyncPlan Plan = Engine.Plan(*S.Book.Items, S.Options);
    EXPECT_EQ(Plan.Puts.size() + Plan.ServerDeletes.size() + Plan.Adds.size() + Plan.Changes.size(), 0u);
    TSyncState Final = Plan.FinalState();
    EXPECT_EQ(Final == S.State, !NewETag);
    S.State = Final;
  }
}

// A card the server lists but that was not fetched, or cannot be read, is
// left for the next run, and the sync token is kept so that it comes again.
TEST(SyncEngine, CardsNotFetchedAreLeftForTheNextRun) {
  TSynced S({{"Able", "Ann", "1"}});
  std::string OldToken = S.State.SyncToken;
  S.Server.Edit(S.Server.HrefOf("Able"), [](TAddressItem& I) { I.BusMobile = "20"; });
  S.Server.Store("/book/bad.vcf", "BEGIN:VCARD\r\nthis is not a property\r\nEND:VCARD\r\n");
  EntryNamed(S.Book, "Able")->HomeTelephone = "10";
  TSyncEngine Engine(S.State);
  EXPECT_EQ(Engine.Listing(S.Server.List(S.State.SyncToken)).size(), 2u);
  Engine.AddCard("/book/bad.vcf", S.Server.Cards["/book/bad.vcf"].ETag, S.Server.Cards["/book/bad.vcf"].Text);
  TSyncPlan Plan = Engine.Plan(*S.Book.Items, S.Options);
  EXPECT_EQ(Plan.Skipped.size(), 2u);
  EXPECT_EQ(Plan.Puts.size() + Plan.Changes.size() + Plan.Adds.size(), 0u);
  EXPECT_EQ(Plan.FinalState().SyncToken, OldToken);
  S.Server.Remove("/book/bad.vcf");
  EXPECT_EQ(Counts(S.Sync().Summary), "1 1 0 0 1 0");
  S.ExpectSettled("Able Ann h=10 m=20");
}

TEST(SyncEngine, ApplyingThePlanKeepsTheBookInNameOrder) {
  TSynced S({{"Baker", "Bob"}, {"Cole", "Cy"}});
  TAddressItem* Cole = EntryNamed(S.Book, "Cole");
  S.Book.Current = Cole;
  S.Server.Edit(S.Server.HrefOf("Baker"), [](TAddressItem& I) { I.Surname = "Dunn"; });
  S.Server.Remove(S.Server.HrefOf("Cole"));
  S.Server.Store("/book/a.vcf", NewCard(*Person({"Adams", "Ada"}), "a"));
  S.Book.Modified = false;
  S.Sync();
  std::string Names;
  for (TListNode* N = S.Book.Items->Head; N; N = N->Next)
    Names.append(static_cast<TAddressItem*>(N)->Surname.str()) += " ";
  EXPECT_EQ(Names, "Adams Dunn ");
  EXPECT_EQ(S.Book.Current, nullptr);
  EXPECT_TRUE(S.Book.Modified);
}

// The details page is where the person last looked: alone it sends nothing,
// with a real change it goes along.
TEST(SyncEngine, DetailsPageAloneSendsNothing) {
  TSynced S({{"Able", "Ann", "1"}});
  std::string Href = S.Server.HrefOf("Able");
  EntryNamed(S.Book, "Able")->TabPage = 2;
  EXPECT_EQ(S.Sync().Puts, 0u);
  EXPECT_EQ(S.Server.Cards[Href].Text.find("X-TOBRINEL-TABPAGE"), std::string::npos);
  EntryNamed(S.Book, "Able")->HomeTelephone = "10";
  EXPECT_EQ(S.Sync().Puts, 1u);
  EXPECT_NE(S.Server.Cards[Href].Text.find("\r\nX-TOBRINEL-TABPAGE:2\r\n"), std::string::npos);
  S.ExpectSettled("Able Ann h=10");
}

// A dry run: what would be done, nothing done.
TEST(SyncEngine, ActionsSayWhatWouldBeDone) {
  TSynced S({{"Able", "Ann", "1"}, {"Baker", "Bob"}, {"Cole", "Cy"}, {"Dunn", "Di", "4"}});
  EntryNamed(S.Book, "Able")->HomeTelephone = "10";
  S.Server.Edit(S.Server.HrefOf("Able"), [](TAddressItem& I) { I.HomeTelephone = "30"; });
  S.Server.Edit(S.Server.HrefOf("Baker"), [](TAddressItem& I) { I.BusMobile = "7"; });
  S.Book.Items->Delete(EntryNamed(S.Book, "Cole"));
  S.Server.Remove(S.Server.HrefOf("Dunn"));
  EntryNamed(S.Book, "Dunn")->HomeTelephone = "44";
  AddTo(S.Book, Person({"Eve", "Ed"}));
  TSyncEngine Engine(S.State);
  for (const std::string& Href : Engine.Listing(S.Server.List(S.State.SyncToken)))
    Engine.AddCard(Href, S.Server.Cards[Href].ETag, S.Server.Cards[Href].Text);
  TSyncPlan Plan = Engine.Plan(*S.Book.Items, S.Options);
  std::vector<std::string> Expected = {"add here: Ann Able",
                                       "change here: Bob Baker",
                                       "send new card: Ann Able",
                                       "send new card: Di Dunn",
                                       "send new card: Ed Eve",
                                       "delete there: Cy Cole",
                                       "conflict: Ann Able (home telephone), kept both"};
  EXPECT_EQ(Plan.Actions(), Expected);
  EXPECT_EQ(Counts(Plan.Summary), "2 3 0 1 0 1");
  EXPECT_EQ(BookText(S.Book), "Able Ann h=10; Baker Bob; Dunn Di h=44; Eve Ed");
}

// Random edits of few names on both sides, runs cut off at random, tokens
// forgotten at random: after each whole run both sides hold the same entries
// and a further run has nothing to do; a run cut off and run again comes to
// what the whole run would have given.
TEST(SyncEngine, RandomEditsOnBothSidesConverge) {
  const char* const Names[] = {"Able", "Baker", "Cole", "Dunn", "Eve"};
  for (unsigned Seed = 1; Seed <= 250; ++Seed) {
    SCOPED_TRACE(Seed);
    std::mt19937 Random(Seed);
    auto Pick = [&](int N) { return int(Random() % unsigned(N)); };
    TSynced S({}, EConflictRule(Seed % 3));
    int Other = 0;
    for (int Round = 0; Round < 15 && !HasFailure(); ++Round) {
      S.Server.ForgetTokens = Pick(4) == 0;
      for (int Edits = Pick(7); Edits > 0; --Edits) {
        int What = Pick(8), Field = Pick(4), Value = Pick(5);
        auto Change = [&](TAddressItem& I) {
          if (Field == 0) I.HomeTelephone = std::to_string(Value);
          else if (Field == 1) I.BusMobile = std::to_string(Value);
          else if (Field == 2) I.Notes.SetText(Value % 2 ? "x\ny" : "q\ny");
          else I.Surname = Names[Value];
        };
        int Count = S.Book.Items->Count;
        if (What == 0) AddTo(S.Book, Person({Names[Value], "A", std::to_string(Pick(3))}));
        else if (What == 1 && Count) S.Book.Items->Delete(S.Book.Items->GetItem(Pick(Count)));
        else if (What == 2 && Count) Change(*static_cast<TAddressItem*>(S.Book.Items->GetItem(Pick(Count))));
        else if (What == 3) {
          const std::string Uid = "o" + std::to_string(++Other);
          S.Server.Store("/book/" + Uid + ".vcf", NewCard(*Person({Names[Value], "A", std::to_string(Pick(3))}), Uid));
        } else if (What >= 4 && !S.Server.Cards.empty()) {
          auto Card = std::next(S.Server.Cards.begin(), Pick(int(S.Server.Cards.size())));
          if (What == 4) S.Server.Remove(Card->first);
          else S.Server.Edit(Card->first, Change);
        }
      }
      int CutAfter = Pick(3) == 0 ? Pick(4) : -1;
      std::string Whole;
      if (CutAfter >= 0) {  // the whole run, on copies
        TAddressBook Book;
        for (TListNode* N = S.Book.Items->Head; N; N = N->Next)
          Book.Items->AppendSorted(SyncFields::Clone(*static_cast<TAddressItem*>(N)).release());
        TSyncState State = S.State;
        TFakeServer Server = S.Server;
        RunSync(Book, State, Server, S.Options);
        Whole = BookText(Book);
        if (RunSync(S.Book, S.State, S.Server, S.Options, CutAfter).MassDelete) continue;
      }
      if (S.Sync().MassDelete) continue;
      if (CutAfter >= 0) {
        EXPECT_EQ(BookText(S.Book), Whole) << "round " << Round;
      }
      S.ExpectSettled(BookText(S.Book));
    }
  }
}

TEST(SyncEngine, PlanWithoutListingIsRefused) {
  TSyncState State;
  TAddressBook Book;
  TSyncEngine Engine(State);
  EXPECT_THROW(Engine.Plan(*Book.Items, TestOptions()), std::logic_error);
}

// A run cut off while a PUT of a new card was on its way; the entry is edited
// and the next run lists the server before that PUT lands. The card keeps its
// UID and address (the late copy makes the new PUT fail, never a second card),
// and the run after that sends the edit over the copy that landed.
TEST(SyncEngine, NewCardLandingAfterTheNextListingIsNotDuplicated) {
  for (bool Lands : {false, true}) {
    SCOPED_TRACE(Lands ? "lands late" : "never lands");
    TSynced S({});
    for (int I = 0; I < 3; ++I) AddTo(S.Book, Person({"Person" + std::to_string(I), "A", std::to_string(I)}));
    TSyncEngine First(S.State);
    First.Listing(S.Server.List(S.State.SyncToken));
    TSyncPlan Cut = First.Plan(*S.Book.Items, S.Options);
    ASSERT_EQ(Cut.Puts.size(), 3u);
    TSyncState Journal;
    Journal.Parse(Cut.JournalState().Serialize(), "test.sync");
    S.State = std::move(Journal);
    TCardPut OnItsWay = Cut.Puts[0];  // Person0, sent just before the run was killed
    EntryNamed(S.Book, "Person0")->BusMobile = "77";

    TSyncEngine Again(S.State);
    Again.Listing(S.Server.List(S.State.SyncToken));
    TSyncPlan Plan = Again.Plan(*S.Book.Items, S.Options);
    if (Lands) S.Server.Put(OnItsWay);
    for (TCardPut& P : Plan.Puts) S.Server.Put(P);
    Plan.ApplyToBook(S.Book);
    S.State = Plan.FinalState();
    EXPECT_EQ(S.Server.Cards.size(), 3u);
    S.Sync();
    S.ExpectSettled("Person0 A h=0 m=77; Person1 A h=1; Person2 A h=2");
    EXPECT_EQ(S.Server.HrefOf("Person0"), OnItsWay.Href);
  }
}

// Edges of the three-way merge: a server that gives no ETags, the details page
// chosen differently on each side, and a notes line written twice on purpose.
TEST(SyncEngine, EdgesOfTheMerge) {
  using TEdit = std::function<void(TAddressItem&)>;
  struct {
    const char* Name;
    bool NoETags;
    TEdit Here, There;
    const char* Expected;
    int Conflicts;
  } const Cases[] = {
      {"a server without ETags", true, [](TAddressItem&) {}, [](TAddressItem& I) { I.BusMobile = "20"; },
       "Able Ann h=1 m=20 n=Likes tea", 0},
      {"the details page each", false, [](TAddressItem& I) { I.TabPage = 2; }, [](TAddressItem& I) { I.TabPage = 1; },
       "Able Ann h=1 n=Likes tea", 0},
      {"a notes line added twice here", false,
       [](TAddressItem& I) { I.Notes.SetText("Likes tea\nHas a dog\nHas a dog"); },
       [](TAddressItem& I) { I.BusMobile = "20"; }, "Able Ann h=1 m=20 n=Likes tea/Has a dog/Has a dog", 0},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TSynced S({{"Able", "Ann", "1", "", "", "", "", "", "", "Likes tea"}});
    auto DropETags = [&] {
      if (Case.NoETags)
        for (auto& Card : S.Server.Cards) Card.second.ETag.clear();
    };
    DropETags();
    S.Sync();
    Case.Here(*EntryNamed(S.Book, "Able"));
    S.Server.Edit(S.Server.HrefOf("Able"), Case.There);
    DropETags();
    TRunResult R = S.Sync();
    EXPECT_EQ(R.Summary.Conflicts, Case.Conflicts);
    EXPECT_EQ(BookText(S.Book), Case.Expected);
    EXPECT_EQ(S.Server.Text(), Case.Expected);
  }
}
