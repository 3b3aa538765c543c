// The client against a real Radicale, started for each test with its own
// storage; the fixture plays the phone that changes cards behind its back.

#include "CardDav.h"
#include "ErrorOf.h"
#include "RadicaleServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// A card with what the book cannot hold: a folded PHOTO, characters XML
// escapes, and text beyond ASCII.
const QByteArray PhotoLines =
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8UHRof\r\n"
    " HiEdGhwcICQuJyAiLCMcHCg3KSwwMTQ0NB8nOT04MjwuMzQy/9k=\r\n"
    "EMAIL;TYPE=INTERNET:zo\xc3\xab@example.org\r\nBDAY:1980-02-29\r\nX-NOTE;X-A=1:a&b<c>]]>d\r\n";

class Radicale : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Server.Start()) << Server.Problem().toStdString();
    Book = Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends"));
    ASSERT_TRUE(Book.isValid()) << Server.Problem().toStdString();
  }
  std::unique_ptr<TCardDavClient> Connect(const QString& Password = TRadicaleServer::Password) {
    return std::make_unique<TCardDavClient>(Server.Root(), TRadicaleServer::User, Password);
  }
  std::set<std::string> Listed(TCardDavClient& Client) {
    std::set<std::string> Out;
    for (const TCardVersion& Card : Client.ListEtags(Book).Cards)
      Out.insert((Card.Href + ' ' + Card.Etag).toStdString());
    return Out;
  }
  static std::string Entry(const QString& Href, const QByteArray& Etag) { return (Href + ' ' + Etag).toStdString(); }

  TRadicaleServer Server;
  QUrl Book;
};

TEST_F(Radicale, DiscoversBooksFromServerUserOrBookAddress) {
  ASSERT_TRUE(Server.MakeAddressBook(QStringLiteral("work"), QStringLiteral("Work & Co")).isValid());
  ASSERT_TRUE(Server.MakeCalendar(QStringLiteral("dates")).isValid());
  const QString Root = QStringLiteral("http://127.0.0.1:%1").arg(Server.Port());
  struct TCase {
    QString Path;
    QString Password;
    std::vector<std::string> Books;  // URL and name
    ESyncErrorKind Kind;             // when Books is empty
    QString Message;
  };
  const std::vector<std::string> Both = {(Root + "/tob/book/ Friends").toStdString(),
                                         (Root + "/tob/work/ Work & Co").toStdString()};
  const std::vector<TCase> Cases = {
      {"/", "secret", Both, {}, {}},
      {"", "secret", Both, {}, {}},
      {"/tob/", "secret", Both, {}, {}},
      {"/tob/book/", "secret", {(Root + "/tob/book/ Friends").toStdString()}, {}, {}},
      {"/tob/work", "secret", {(Root + "/tob/work/ Work & Co").toStdString()}, {}, {}},
      {"/tob/dates/", "secret", {}, ESyncErrorKind::NotAddressBook, Root + "/tob/dates/ is not an address book."},
      {"/tob/missing/",
       "secret",
       {},
       ESyncErrorKind::NotFound,
       "There is no address book at " + Root + "/tob/missing/."},
      {"/other/",
       "secret",
       {},
       ESyncErrorKind::Auth,
       "The server does not allow this user to use " + Root + "/other/."},
      {"/tob/book/", "wrong", {}, ESyncErrorKind::Auth, "The server refused the user name or password."},
      {"/", "wrong", {}, ESyncErrorKind::Auth, "The server refused the user name or password."},
  };
  for (const TCase& Case : Cases) {
    const QUrl Start = QUrl(Root + Case.Path);
    auto Client = Connect(Case.Password);
    if (!Case.Books.empty()) {
      std::vector<std::string> Found;
      for (const TAddressBookInfo& Info : Client->Discover(Start))
        Found.push_back((Info.Url.toString() + ' ' + Info.DisplayName).toStdString());
      std::sort(Found.begin(), Found.end());
      EXPECT_EQ(Found, Case.Books) << Case.Path.toStdString();
    } else {
      const ESyncError Error = ErrorOf([&] { Client->Discover(Start); });
      EXPECT_EQ(Error.Kind, Case.Kind) << Case.Path.toStdString();
      EXPECT_EQ(Error.Message, Case.Message);
    }
  }
}

TEST_F(Radicale, SyncCollectionReportsThePhonesChangesSinceItsToken) {
  const QByteArray A1 = Server.PutCard("/tob/book/a.vcf", MakeCard("a", "Ann", "Lee"));
  const QByteArray B1 = Server.PutCard("/tob/book/b%20b.vcf", MakeCard("b", "Bob", "Ray"));
  ASSERT_FALSE(A1.isEmpty() || B1.isEmpty());
  auto Client = Connect();
  auto Summary = [](const TSyncChanges& Changes) {
    std::set<std::string> Out;
    for (const TCardVersion& Card : Changes.Changed) Out.insert(Entry(Card.Href, Card.Etag.toUtf8()));
    for (const QString& Href : Changes.Removed) Out.insert("gone " + Href.toStdString());
    return Out;
  };

  const TSyncChanges First = Client->SyncCollection(Book, {});
  EXPECT_EQ(First.Outcome, ESyncOutcome::Changes);
  EXPECT_EQ(Summary(First), (std::set<std::string>{Entry("/tob/book/a.vcf", A1), Entry("/tob/book/b%20b.vcf", B1)}));
  ASSERT_FALSE(First.Token.isEmpty());

  const QByteArray A2 = Server.PutCard("/tob/book/a.vcf", MakeCard("a", "Ann", "Lee", "TEL:1\r\n"));
  const QByteArray C1 = Server.PutCard("/tob/book/c.vcf", MakeCard("c", "Cy", "Day"));
  ASSERT_TRUE(Server.DeleteCard("/tob/book/b%20b.vcf"));
  ASSERT_NE(A2, A1);
  const TSyncChanges Second = Client->SyncCollection(Book, First.Token);
  EXPECT_EQ(Second.Outcome, ESyncOutcome::Changes);
  EXPECT_EQ(Summary(Second), (std::set<std::string>{Entry("/tob/book/a.vcf", A2), Entry("/tob/book/c.vcf", C1),
                                                    "gone /tob/book/b%20b.vcf"}));
  EXPECT_NE(Second.Token, First.Token);

  // Nothing changed: one request, nothing reported, and the listing agrees.
  const int Before = Client->RequestCount();
  const TSyncChanges Quiet = Client->SyncCollection(Book, Second.Token);
  EXPECT_EQ(Client->RequestCount() - Before, 1);
  EXPECT_EQ(Quiet.Outcome, ESyncOutcome::Changes);
  EXPECT_TRUE(Summary(Quiet).empty());
  const TEtagListing Listing = Client->ListEtags(Book);
  EXPECT_EQ(Listed(*Client), (std::set<std::string>{Entry("/tob/book/a.vcf", A2), Entry("/tob/book/c.vcf", C1)}));
  EXPECT_EQ(Listing.SyncToken, Quiet.Token);

  // A token the server does not know: the caller is told to list everything instead.
  for (const QString& Forgotten :
       {Second.Token + "0", QStringLiteral("http://radicale.org/ns/sync/0"), QStringLiteral("nonsense")}) {
    const TSyncChanges Refused = Client->SyncCollection(Book, Forgotten);
    EXPECT_EQ(Refused.Outcome, ESyncOutcome::TokenRejected) << Forgotten.toStdString();
    EXPECT_TRUE(Refused.Changed.empty() && Refused.Removed.empty() && Refused.Token.isEmpty());
  }
}

TEST_F(Radicale, MultiGetKeepsCardsByteForByteInBatches) {
  struct TCase {
    QString Path;
    QByteArray Card;
  };
  const std::vector<TCase> Cases = {
      {"/tob/book/photo.vcf", MakeCard("p-1", "Zo\xc3\xab", "Lee", PhotoLines)},
      {"/tob/book/plain%20one.vcf", MakeCard("p-2", "Al", "Ng", "TEL;TYPE=CELL:+44 1\r\nNOTE:line\\nnext\r\n")},
  };
  QStringList Hrefs;
  for (const TCase& Case : Cases) {
    ASSERT_FALSE(Server.PutCard(Case.Path, Case.Card).isEmpty()) << Case.Path.toStdString();
    Hrefs << Case.Path;
  }
  // More hrefs than one batch holds; those the server lacks are left out.
  for (int I = 0; I < 150; ++I) Hrefs.insert(1, QStringLiteral("/tob/book/missing-%1.vcf").arg(I));
  auto Client = Connect();
  const int Before = Client->RequestCount();
  const std::vector<TCard> Cards = Client->MultiGet(Book, Hrefs);
  EXPECT_EQ(Client->RequestCount() - Before, 2);
  ASSERT_EQ(Cards.size(), Cases.size());
  for (const TCard& Card : Cards) {
    const THttpReply Stored = Server.GetCard(Card.Href);
    ASSERT_EQ(Stored.Status, 200) << Card.Href.toStdString();
    ASSERT_TRUE(Stored.Body.contains("\r\nEND:VCARD\r\n"));
    EXPECT_EQ(Card.Text, Stored.Body) << Card.Href.toStdString();
    EXPECT_EQ(Card.Etag.toUtf8(), Stored.Etag);
  }
  EXPECT_TRUE(Cards[0].Text.contains("HiEdGhwcICQuJyAiLCMcHCg3KSwwMTQ0NB8nOT04MjwuMzQy/9k="));
  EXPECT_TRUE(Cards[0].Text.contains("a&b<c>]]>d"));
}

TEST_F(Radicale, PutAndDeleteFollowTheirEtags) {
  auto Client = Connect();
  const QString Href = TCardDavClient::MemberHref(Book, QStringLiteral("3f1c uid.vcf"));
  enum EEtag { None, First, Current };
  struct TStep {
    TWriteJob::EKind Kind;
    EEtag Etag;
    EWriteOutcome Outcome;
    int Stored;  // status of a GET afterwards
  };
  const std::vector<TStep> Steps = {
      // clang-format off
      {TWriteJob::Put, None, EWriteOutcome::Done, 200},        {TWriteJob::Put, None, EWriteOutcome::Conflict, 200},
      {TWriteJob::Put, Current, EWriteOutcome::Done, 200},     {TWriteJob::Put, First, EWriteOutcome::Conflict, 200},
      {TWriteJob::Delete, First, EWriteOutcome::Conflict, 200}, {TWriteJob::Delete, Current, EWriteOutcome::Done, 404},
      {TWriteJob::Delete, Current, EWriteOutcome::Done, 404},  // gone already
  };
  // clang-format on
  QString FirstEtag, CurrentEtag;
  for (size_t I = 0; I < Steps.size(); ++I) {
    const TStep& Step = Steps[I];
    const QString Etag = Step.Etag == None ? QString() : Step.Etag == First ? FirstEtag : CurrentEtag;
    const QByteArray Text = MakeCard("3f1c", "Ann", "Lee", "NOTE:step " + QByteArray::number(int(I)) + "\r\n");
    const TWriteResult Result =
        Step.Kind == TWriteJob::Put ? Client->Put(Href, Text, Etag) : Client->Delete(Href, Etag);
    EXPECT_EQ(Result.Outcome, Step.Outcome) << "step " << I;
    const THttpReply Stored = Server.GetCard(Href);
    EXPECT_EQ(Stored.Status, Step.Stored) << "step " << I;
    if (Step.Kind == TWriteJob::Put && Result.Outcome == EWriteOutcome::Done) {
      EXPECT_EQ(Result.Etag.toUtf8(), Stored.Etag) << "step " << I;
      EXPECT_TRUE(Stored.Body.contains("NOTE:step " + QByteArray::number(int(I))));
      EXPECT_NE(Result.Etag, CurrentEtag);
      CurrentEtag = Result.Etag;
      if (FirstEtag.isEmpty()) FirstEtag = Result.Etag;
    }
  }
}

TEST_F(Radicale, WriteManyUploadsEveryCardOnce) {
  auto Client = Connect();
  std::vector<TWriteJob> Jobs;
  for (int I = 0; I < 24; ++I)
    Jobs.push_back({TWriteJob::Put,
                    TCardDavClient::MemberHref(Book, QStringLiteral("u%1.vcf").arg(I)),
                    MakeCard(QStringLiteral("u%1").arg(I), "N", QString::number(I)),
                    {}});
  Jobs.insert(Jobs.begin() + 5, {TWriteJob::Put, "/tob/book/bad.vcf", "this is no card\r\n", {}});
  std::vector<int> Seen(Jobs.size(), 0);
  std::set<std::string> Expected;
  Client->WriteMany(Jobs, [&](size_t Index, const TWriteResult& Result) {
    ++Seen.at(Index);
    if (Index == 5) {
      EXPECT_EQ(Result.Outcome, EWriteOutcome::Refused);
      EXPECT_EQ(Result.HttpStatus, 400);
      return;
    }
    EXPECT_EQ(Result.Outcome, EWriteOutcome::Done);
    Expected.insert(Entry(Jobs[Index].Href, Result.Etag.toUtf8()));
  });
  EXPECT_EQ(Seen, std::vector<int>(Jobs.size(), 1));
  EXPECT_EQ(Expected.size(), 24u);
  EXPECT_EQ(Listed(*Client), Expected);
}

TEST_F(Radicale, AStoppedServerIsANetworkErrorAndARestartedOneKeepsItsCards) {
  const QByteArray Etag = Server.PutCard("/tob/book/a.vcf", MakeCard("a", "Ann", "Lee"));
  auto Client = Connect();
  Server.Stop();
  const ESyncError Error = ErrorOf([&] { Client->ListEtags(Book); });
  EXPECT_EQ(Error.Kind, ESyncErrorKind::Network);
  EXPECT_EQ(Error.Message, QStringLiteral("The server at 127.0.0.1:%1 refused the connection.").arg(Server.Port()));
  ASSERT_TRUE(Server.Start()) << Server.Problem().toStdString();
  EXPECT_EQ(Listed(*Client), (std::set<std::string>{Entry("/tob/book/a.vcf", Etag)}));

  // Killed in the middle of an upload: what was reported written is there, as reported.
  std::vector<TWriteJob> Jobs;
  for (int I = 0; I < 12; ++I)
    Jobs.push_back({TWriteJob::Put,
                    QStringLiteral("/tob/book/k%1.vcf").arg(I),
                    MakeCard(QStringLiteral("k%1").arg(I), "K", "L"),
                    {}});
  std::set<std::string> Reported = {Entry("/tob/book/a.vcf", Etag)};
  const ESyncError Cut = ErrorOf([&] {
    Client->WriteMany(Jobs, [&](size_t Index, const TWriteResult& Result) {
      EXPECT_EQ(Result.Outcome, EWriteOutcome::Done);
      Reported.insert(Entry(Jobs[Index].Href, Result.Etag.toUtf8()));
      if (Reported.size() == 4) Server.Kill();
    });
  });
  EXPECT_EQ(Cut.Kind, ESyncErrorKind::Network) << Cut.Message.toStdString();
  EXPECT_LT(Reported.size(), Jobs.size() + 1);
  ASSERT_TRUE(Server.Start()) << Server.Problem().toStdString();
  const std::set<std::string> Stored = Listed(*Client);
  EXPECT_TRUE(std::includes(Stored.begin(), Stored.end(), Reported.begin(), Reported.end()));
}

TEST(RadicaleTls, UntrustedCertificateRefusedUntilItsFingerprintIsTrusted) {
  TRadicaleServer Server({.Tls = true});
  ASSERT_TRUE(Server.Start()) << Server.Problem().toStdString();
  const QUrl Book = Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends"));
  ASSERT_TRUE(Book.isValid()) << Server.Problem().toStdString();
  const QString Print = Server.CertificateFingerprint();
  ASSERT_EQ(Print.size(), 95);
  const QString Other = QString(Print).replace(0, 2, Print.startsWith(QLatin1String("00")) ? "11" : "00");
  const std::vector<std::pair<QString, bool>> Trusts = {
      {"", false}, {Other, false}, {Print, true}, {Print.toLower().remove(':'), true}};
  for (const auto& [Trust, Accepted] : Trusts) {
    TCardDavClient Client(Server.Root(), TRadicaleServer::User, TRadicaleServer::Password, Trust);
    if (Accepted) {
      const std::vector<TAddressBookInfo> Books = Client.Discover(Book);
      ASSERT_EQ(Books.size(), 1u) << Trust.toStdString();
      EXPECT_EQ(Books[0].DisplayName, QStringLiteral("Friends"));
      continue;
    }
    const ESyncError Error = ErrorOf([&] { Client.Discover(Book); });
    EXPECT_EQ(Error.Kind, ESyncErrorKind::Tls) << Trust.toStdString();
    EXPECT_EQ(Error.Fingerprint, Print);
    EXPECT_EQ(Error.Message,
              "The server's certificate is not trusted: it is self-signed (SHA-256 fingerprint " + Print + ").");
    EXPECT_EQ(Error.Why, "it is self-signed");
    EXPECT_EQ(Client.RefusedFingerprint(), Print);
  }
}

}  // namespace
