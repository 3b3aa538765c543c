// Whole syncs of a book with a real Radicale, as the tool and the program run
// them: each direction, edits, conflicts, deletions, cards that keep what the
// book cannot hold, and runs cut off in the middle.

#include "FakeDavServer.h"
#include "SyncRig.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using TItems = std::vector<std::unique_ptr<TAddressItem>>;

TItems Entries(std::initializer_list<std::vector<std::string>> People) {
  TItems Out;
  for (const auto& Fields : People) Out.push_back(Person(Fields));
  return Out;
}

class SyncSession : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Rig.Start()) << Rig.Problem().toStdString(); }
  TSyncRig Rig;
};

// Every combination a person meets, from a first sync on: what the second
// sync does and what each side holds after it.
TEST_F(SyncSession, BothDirectionsEditsConflictsAndDeletions) {
  struct TCase {
    const char* Name;
    std::function<void(TSyncRig&)> Before;  // the sides before the sync under test
    EConflictRule Rule;
    std::string Summary, Both;  // Both: the book and the server alike
  };
  auto Synced = [](TItems Book) {
    return [Shared = std::make_shared<TItems>(std::move(Book))](TSyncRig& R) {
      R.WriteBook(std::move(*Shared));
      ASSERT_EQ(R.Sync().rfind("received", 0), 0u);
    };
  };
  auto Then = [](std::function<void(TSyncRig&)> First, std::function<void(TSyncRig&)> Next) {
    return [=](TSyncRig& R) {
      First(R);
      Next(R);
    };
  };
  auto HomeHere = [](const char* Surname, const char* Number) {
    return [=](TSyncRig& R) { R.EditBook([&](TAddressBook& B) { EntryNamed(B, Surname)->HomeTelephone = Number; }); };
  };
  auto HomeThere = [](const char* Surname, const char* Number) {
    return [=](TSyncRig& R) { R.EditCard(Surname, [&](TAddressItem& I) { I.HomeTelephone = Number; }); };
  };
  const std::vector<TCase> Cases = {
      {"the book to an empty server",
       [](TSyncRig& R) {
         R.WriteBook(Entries({{"Adams", "Ann", "1"}, {"Baker", "Bob", "", "", "", "", "2"}}));
       },
       EConflictRule::KeepBoth, "received 0, sent 2, deleted here 0, deleted there 0, merged 0, conflicts 0",
       "Adams Ann h=1; Baker Bob m=2"},
      {"the server to a missing book",
       [](TSyncRig& R) {
         R.PutCard("c1", "Carol", "Clarke", "TEL;TYPE=HOME:3\r\n");
         R.PutCard("c2", "Dan", "Dunn");
       },
       EConflictRule::KeepBoth, "received 2, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0",
       "Clarke Carol h=3; Dunn Dan"},
      {"an edit here", Then(Synced(Entries({{"Adams", "Ann", "1"}})), HomeHere("Adams", "9")), EConflictRule::KeepBoth,
       "received 0, sent 1, deleted here 0, deleted there 0, merged 0, conflicts 0", "Adams Ann h=9"},
      {"an edit there", Then(Synced(Entries({{"Adams", "Ann", "1"}})), HomeThere("Adams", "8")),
       EConflictRule::KeepBoth, "received 1, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0",
       "Adams Ann h=8"},
      {"different fields on each side",
       Then(Then(Synced(Entries({{"Adams", "Ann", "1"}})), HomeHere("Adams", "9")),
            [](TSyncRig& R) { R.EditCard("Adams", [](TAddressItem& I) { I.BusMobile = "7"; }); }),
       EConflictRule::KeepBoth, "received 1, sent 1, deleted here 0, deleted there 0, merged 1, conflicts 0",
       "Adams Ann h=9 m=7"},
      {"a conflict, both kept",
       Then(Then(Synced(Entries({{"Adams", "Ann", "1"}})), HomeHere("Adams", "9")), HomeThere("Adams", "8")),
       EConflictRule::KeepBoth, "received 1, sent 1, deleted here 0, deleted there 0, merged 0, conflicts 1",
       "Adams Ann h=8; Adams Ann h=9"},
      {"a conflict, this computer's kept",
       Then(Then(Synced(Entries({{"Adams", "Ann", "1"}})), HomeHere("Adams", "9")), HomeThere("Adams", "8")),
       EConflictRule::PreferLocal, "received 0, sent 1, deleted here 0, deleted there 0, merged 0, conflicts 1",
       "Adams Ann h=9"},
      {"a conflict, the server's kept",
       Then(Then(Synced(Entries({{"Adams", "Ann", "1"}})), HomeHere("Adams", "9")), HomeThere("Adams", "8")),
       EConflictRule::PreferServer, "received 1, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 1",
       "Adams Ann h=8"},
      {"deleted here",
       Then(Synced(Entries({{"Adams", "Ann", "1"}, {"Baker", "Bob"}})),
            [](TSyncRig& R) { R.EditBook([](TAddressBook& B) { B.Items->Delete(EntryNamed(B, "Adams")); }); }),
       EConflictRule::KeepBoth, "received 0, sent 0, deleted here 0, deleted there 1, merged 0, conflicts 0",
       "Baker Bob"},
      {"deleted there",
       Then(Synced(Entries({{"Adams", "Ann", "1"}, {"Baker", "Bob"}})), [](TSyncRig& R) { R.DeleteCard("Adams"); }),
       EConflictRule::KeepBoth, "received 0, sent 0, deleted here 1, deleted there 0, merged 0, conflicts 0",
       "Baker Bob"},
      {"deleted here, changed there",
       Then(Then(Synced(Entries({{"Adams", "Ann", "1"}})), HomeThere("Adams", "8")),
            [](TSyncRig& R) { R.EditBook([](TAddressBook& B) { B.Items->Delete(EntryNamed(B, "Adams")); }); }),
       EConflictRule::KeepBoth, "received 1, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0",
       "Adams Ann h=8"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TSyncRig Fresh;
    ASSERT_TRUE(Fresh.Start()) << Fresh.Problem().toStdString();
    Case.Before(Fresh);
    EXPECT_EQ(Fresh.Sync(Case.Rule), Case.Summary);
    EXPECT_EQ(Fresh.Here(), Case.Both);
    EXPECT_EQ(Fresh.There(), Case.Both);
    // Then both sides agree: nothing more to do, and nobody twice.
    EXPECT_EQ(Fresh.Sync(Case.Rule), "received 0, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0");
    EXPECT_EQ(Fresh.Here(), Case.Both);
    EXPECT_EQ(Fresh.There(), Case.Both);
  }
}

TEST_F(SyncSession, WhatTheBookCannotHoldGoesBackByteForByte) {
  const QByteArray Kept =
      "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8UHRof\r\n"
      " HiEdGhwcICQuJyAiLCMcHCg3KSwwMTQ0NB8nOT04MjwuMzQy/9k=\r\n"
      "EMAIL;TYPE=INTERNET:zo\xc3\xab@example.org\r\nBDAY:1980-02-29\r\n";
  Rig.PutCard("zoe", "Zo\xc3\xab", "Zed", "TEL;TYPE=HOME:1\r\n" + Kept);
  // What the server made of it: it rewrites cards as it stores them (the
  // PHOTO unfolded, the properties in order), the same way each time.
  auto LinesOf = [](const QByteArray& Card) {
    std::set<std::string> Lines;
    for (const QByteArray& Line : Card.split('\n'))
      if (Line.startsWith("PHOTO") || Line.startsWith("EMAIL") || Line.startsWith("BDAY") || Line.startsWith("UID"))
        Lines.insert(Line.toStdString());
    return Lines;
  };
  const std::set<std::string> Before = LinesOf(Rig.Cards().at(0).Text);
  ASSERT_EQ(Before.size(), 4u);
  ASSERT_EQ(Rig.Sync().substr(0, 10), "received 1");
  Rig.EditBook([](TAddressBook& B) { EntryNamed(B, "Zed")->HomeTelephone = "2"; });
  ASSERT_EQ(Rig.Sync(), "received 0, sent 1, deleted here 0, deleted there 0, merged 0, conflicts 0");
  const std::vector<TCard> After = Rig.Cards();
  ASSERT_EQ(After.size(), 1u);
  EXPECT_EQ(ReadCard(After[0].Text.toStdString())->HomeTelephone, "2") << After[0].Text.toStdString();
  EXPECT_EQ(LinesOf(After[0].Text), Before);
}

// The server killed while cards come in or go out: the run fails with
// nothing written but the record of new cards, and the next run completes
// with nobody missing or twice on either side.
TEST_F(SyncSession, ServerStoppedInTheMiddleThenRunAgain) {
  for (const ESyncStage Cut : {ESyncStage::Fetching, ESyncStage::Sending}) {
    SCOPED_TRACE(int(Cut));
    TSyncRig R;
    ASSERT_TRUE(R.Start()) << R.Problem().toStdString();
    TItems Book;
    // More cards there than one batch fetches, so that a cut can fall between batches.
    for (int I = 0; I < 40; ++I) Book.push_back(Person({"Here" + std::to_string(I), "H", std::to_string(I)}));
    R.WriteBook(std::move(Book));
    for (int I = 0; I < 120; ++I) R.PutCard(QStringLiteral("p%1").arg(I), "T", QStringLiteral("There%1").arg(I));
    const QByteArray BookBefore = TSyncRig::Bytes(R.BookPath());
    TScriptedHost Host;
    Host.OnProgress = [&](ESyncStage Stage, int Done, int) {
      if (Stage == Cut && Done == 20) R.Server.Kill();
    };
    const std::string Failed = R.Sync(R.Request(), Host);
    EXPECT_EQ(Failed.rfind("error: ", 0), 0u) << Failed;
    EXPECT_EQ(TSyncRig::Bytes(R.BookPath()), BookBefore);
    if (Cut == ESyncStage::Fetching) {
      EXPECT_FALSE(QFile::exists(R.StatePath()));  // nothing was sent yet
    }
    ASSERT_TRUE(R.Server.Start());
    // Edited meanwhile: the cards already sent are known by the record made
    // before sending them, not by a content they no longer have.
    R.EditBook([](TAddressBook& B) {
      for (TListNode* N = B.Items->Head; N; N = N->Next) static_cast<TAddressItem*>(N)->BusMobile = "m";
    });
    EXPECT_EQ(R.Sync(), "received 120, sent 40, deleted here 0, deleted there 0, merged 0, conflicts 0");
    const std::string Here = R.Here();
    EXPECT_EQ(Here, R.There());
    EXPECT_EQ(std::count(Here.begin(), Here.end(), ';'), 159);
    std::set<QString> Uids;
    const std::vector<TCard> Cards = R.Cards();
    for (const TCard& Card : Cards) Uids.insert(QString::fromStdString(CardUid(Card.Text.toStdString())));
    EXPECT_EQ(Cards.size(), 160u);
    EXPECT_EQ(Uids.size(), 160u);
  }
}

TEST_F(SyncSession, RefusalsAndFailuresChangeNothing) {
  ASSERT_TRUE(Rig.Server.MakeAddressBook(QStringLiteral("other"), QStringLiteral("Other")).isValid());
  Rig.WriteBook(Entries({{"Adams", "Ann", "1"}}));
  ASSERT_EQ(Rig.Sync().substr(0, 10), "received 0");
  Rig.EditBook([](TAddressBook& B) { EntryNamed(B, "Adams")->HomeTelephone = "9"; });
  struct TCase {
    const char* Name;
    std::function<void(TSyncRequest&, TScriptedHost&)> Set;
    std::string Result;
  };
  const QString Root = QStringLiteral("http://127.0.0.1:%1").arg(Rig.Server.Port());
  const std::vector<TCase> Cases = {
      {"wrong password", [](TSyncRequest& R, TScriptedHost&) { R.Password = QStringLiteral("wrong"); },
       "error: The server refused the user name or password."},
      {"another address book",
       [&](TSyncRequest& R, TScriptedHost&) { R.Url = QUrl(Root + QStringLiteral("/tob/other/")); },
       "refused: " + Rig.BookPath().toStdString() + " is synchronised with " + Root.toStdString() +
           "/tob/book/, not with " + Root.toStdString() + "/tob/other/; remove " + Rig.StatePath().toStdString() +
           " to start again with another address book."},
      {"cancelled while asking",
       [&](TSyncRequest&, TScriptedHost& H) {
         H.OnProgress = [&](ESyncStage Stage, int, int) {
           if (Stage == ESyncStage::Listing) Rig.Running->Cancel();
         };
       },
       "error: The synchronisation was cancelled."},
  };
  const QByteArray BookBefore = TSyncRig::Bytes(Rig.BookPath());
  const QByteArray StateBefore = TSyncRig::Bytes(Rig.StatePath());
  const std::string ServerBefore = Rig.There();
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TSyncRequest Request = Rig.Request();
    TScriptedHost Host;
    Case.Set(Request, Host);
    EXPECT_EQ(Rig.Sync(Request, Host), Case.Result);
    EXPECT_EQ(TSyncRig::Bytes(Rig.BookPath()), BookBefore);
    EXPECT_EQ(TSyncRig::Bytes(Rig.StatePath()), StateBefore);
    EXPECT_EQ(Rig.There(), ServerBefore);
  }
  // The address book removed on the server.
  ASSERT_EQ(Rig.Server.Http("DELETE", QStringLiteral("/tob/book/")).Status, 200);
  EXPECT_EQ(Rig.Sync(), "error: There is no address book at " + Root.toStdString() + "/tob/book/.");
  EXPECT_EQ(TSyncRig::Bytes(Rig.BookPath()), BookBefore);
  EXPECT_EQ(TSyncRig::Bytes(Rig.StatePath()), StateBefore);
}

// More than half of a side's entries, and at least 10, going at once.
TEST_F(SyncSession, MassDeleteWaitsForConsent) {
  TItems Book;
  for (int I = 10; I < 34; ++I) Book.push_back(Person({"P" + std::to_string(I), "X"}));
  Rig.WriteBook(std::move(Book));
  ASSERT_EQ(Rig.Sync().substr(0, 20), "received 0, sent 24,");
  for (int I = 10; I < 23; ++I) Rig.DeleteCard("P" + std::to_string(I));
  const QByteArray BookBefore = TSyncRig::Bytes(Rig.BookPath());
  for (bool Consent : {false, true}) {
    TScriptedHost Host;
    Host.MassDeleteAnswer = Consent;
    const std::string Result = Rig.Sync(Rig.Request(), Host);
    EXPECT_EQ(Host.MassDeleteQuestions, 1);
    if (!Consent) {
      EXPECT_EQ(Result.rfind("refused: ", 0), 0u) << Result;
      EXPECT_EQ(TSyncRig::Bytes(Rig.BookPath()), BookBefore);
    } else {
      EXPECT_EQ(Result, "received 0, sent 0, deleted here 13, deleted there 0, merged 0, conflicts 0");
      EXPECT_EQ(Rig.Here(), "P23 X; P24 X; P25 X; P26 X; P27 X; P28 X; P29 X; P30 X; P31 X; P32 X; P33 X");
    }
  }
  // Allowed beforehand (--allow-mass-delete), nobody is asked.
  for (int I = 23; I < 34; ++I) Rig.DeleteCard("P" + std::to_string(I));
  TScriptedHost Host;
  TSyncRequest Request = Rig.Request();
  Request.AllowMassDelete = true;
  EXPECT_EQ(Rig.Sync(Request, Host), "received 0, sent 0, deleted here 11, deleted there 0, merged 0, conflicts 0");
  EXPECT_EQ(Rig.Here(), "");
  EXPECT_EQ(Host.MassDeleteQuestions, 0);
}

TEST_F(SyncSession, AForgottenTokenLeadsToAFullComparisonWithoutDuplicates) {
  Rig.WriteBook(Entries({{"Adams", "Ann", "1"}, {"Baker", "Bob"}}));
  ASSERT_EQ(Rig.Sync().substr(0, 19), "received 0, sent 2,");
  Rig.PutCard("c1", "Carol", "Clarke");
  Rig.EditBook([](TAddressBook& B) { EntryNamed(B, "Adams")->HomeTelephone = "9"; });
  // A token the server never gave, as after a server's database was rebuilt.
  QByteArray State = TSyncRig::Bytes(Rig.StatePath());
  const qsizetype At = State.indexOf("\ntoken ") + 7;
  State.replace(At, State.indexOf('\n', At) - At, "http://radicale.org/ns/sync/0000");
  QFile File(Rig.StatePath());
  ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
  File.write(State);
  File.close();
  EXPECT_EQ(Rig.Sync(), "received 1, sent 1, deleted here 0, deleted there 0, merged 0, conflicts 0");
  EXPECT_EQ(Rig.Here(), "Adams Ann h=9; Baker Bob; Clarke Carol");
  EXPECT_EQ(Rig.There(), "Adams Ann h=9; Baker Bob; Clarke Carol");
}

TEST_F(SyncSession, TheProgramIsAskedAboutEachConflict) {
  Rig.WriteBook(Entries({{"Adams", "Ann", "1"}}));
  ASSERT_EQ(Rig.Sync().substr(0, 10), "received 0");
  Rig.EditBook([](TAddressBook& B) { EntryNamed(B, "Adams")->HomeTelephone = "9"; });
  Rig.EditCard("Adams", [](TAddressItem& I) { I.HomeTelephone = "8"; });
  TScriptedHost Host;
  Host.ConflictAnswer = EConflictRule::PreferServer;
  TSyncRequest Request = Rig.Request();
  Request.Rule = EConflictRule::Ask;
  EXPECT_EQ(Rig.Sync(Request, Host), "received 1, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 1");
  EXPECT_EQ(Host.Conflicts, std::vector<std::string>{"Adams Ann h=9 | Adams Ann h=8"});
  EXPECT_EQ(Rig.Here(), "Adams Ann h=8");
}

// The phone changes a card while the sync is about to send it: the server
// refuses the stale write (412), the summary does not count it, and the next
// run settles it.
TEST_F(SyncSession, ACardChangedMeanwhileIsLeftForTheNextRun) {
  Rig.WriteBook(Entries({{"Adams", "Ann", "1"}, {"Baker", "Bob"}}));
  ASSERT_EQ(Rig.Sync().substr(0, 19), "received 0, sent 2,");
  Rig.EditBook([](TAddressBook& B) {
    EntryNamed(B, "Adams")->HomeTelephone = "9";
    B.Items->Delete(EntryNamed(B, "Baker"));
  });
  TScriptedHost Host;
  Host.OnProgress = [&](ESyncStage Stage, int Done, int) {
    if (Stage != ESyncStage::Sending || Done != 0) return;
    Rig.EditCard("Adams", [](TAddressItem& I) { I.BusMobile = "7"; });
    Rig.EditCard("Baker", [](TAddressItem& I) { I.BusMobile = "8"; });
  };
  TAddressBook Book;
  Book.LoadFromFile(Rig.BookPath().toStdString());
  TSyncSession Session(Book, Host);
  const TSyncOutcome Outcome = Session.Run(Rig.Request());
  EXPECT_EQ(Outcome.Summary.Line(), "received 0, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0");
  std::vector<std::string> Skipped = Outcome.Skipped;  // in the order the answers came
  std::sort(Skipped.begin(), Skipped.end());
  EXPECT_EQ(Skipped, (std::vector<std::string>{"Ann Adams: changed on the server meanwhile; left for the next run",
                                               "Bob Baker: changed on the server meanwhile; left for the next run"}));
  // Deleted here and changed there: kept with its change.
  EXPECT_EQ(Rig.Sync(), "received 2, sent 1, deleted here 0, deleted there 0, merged 1, conflicts 0");
  EXPECT_EQ(Rig.Here(), "Adams Ann h=9 m=7; Baker Bob m=8");
  EXPECT_EQ(Rig.There(), "Adams Ann h=9 m=7; Baker Bob m=8");
}

// A server that fails or keeps silent: one clear line, nothing written.
TEST(SyncSessionFailures, ServerErrorAndTimeOut) {
  struct TCase {
    const char* Name;
    TFakeResponse Answer;
    std::string Result;
  };
  const std::vector<TCase> Cases = {
      {"server error",
       {500, "Internal Server Error"},
       "error: The server reported an error (500 Internal Server Error)."},
      {"time-out", TFakeResponse::Silence(), "error: The server did not answer within 1 second."},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TFakeDavServer Server([&](const TFakeRequest&) { return Case.Answer; });
    QTemporaryDir Dir;
    TAddressBook Book;
    Book.FileName = Dir.filePath(QStringLiteral("B.ABK")).toStdString();
    Book.Items->Add(Person({"Adams", "Ann"}).release());
    Book.Modified = true;
    TScriptedHost Host;
    TSyncSession Session(Book, Host);
    TSyncRequest Request;
    Request.Url = Server.Url("/tob/book/");
    Request.TimeLimitMs = 1000;
    std::string Result;
    try {
      Session.Run(Request);
    } catch (const ESyncError& Error) {
      Result = "error: " + Error.Message.toStdString();
    }
    EXPECT_EQ(Result, Case.Result);
    EXPECT_FALSE(QFile::exists(Dir.filePath(QStringLiteral("B.ABK"))));
    EXPECT_FALSE(QFile::exists(Dir.filePath(QStringLiteral("B.ABK.sync"))));
  }
}

TEST(SyncSessionTls, AnUntrustedCertificateIsRefusedUnlessThePersonTrustsIt) {
  TSyncRig Rig(TRadicaleOptions{true});
  ASSERT_TRUE(Rig.Start()) << Rig.Problem().toStdString();
  Rig.WriteBook(Entries({{"Adams", "Ann"}}));
  const QString Fingerprint = Rig.Server.CertificateFingerprint();
  TScriptedHost Refuse;
  EXPECT_EQ(Rig.Sync(Rig.Request(), Refuse),
            "error: The server's certificate is not trusted: it is self-signed (SHA-256 fingerprint " +
                Fingerprint.toStdString() + ").");
  EXPECT_EQ(Refuse.TrustQuestions, QStringList{Fingerprint + " it is self-signed"});
  EXPECT_FALSE(QFile::exists(Rig.StatePath()));
  TScriptedHost Trust;
  Trust.TrustAnswer = true;
  EXPECT_EQ(Rig.Sync(Rig.Request(), Trust),
            "received 0, sent 1, deleted here 0, deleted there 0, merged 0, conflicts 0");
  // The trust is kept with the book: the next run asks nobody.
  TScriptedHost Again;
  EXPECT_EQ(Rig.Sync(Rig.Request(), Again),
            "received 0, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0");
  EXPECT_EQ(Again.TrustQuestions, QStringList());
}

}  // namespace
