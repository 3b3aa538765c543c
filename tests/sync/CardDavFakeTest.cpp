// The client against a small fake server: Digest authentication, redirects,
// silence, cancelling, and answers Radicale never gives.

#include "CardDav.h"
#include "ErrorOf.h"
#include "FakeDavServer.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

const QByteArray OneCard =
    "<d:response><d:href>/b/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/><card:addressbook/>"
    "</d:resourcetype></d:prop></d:propstat></d:response>"
    "<d:response><d:href>/b/1.vcf</d:href><d:propstat><d:prop><d:getetag>\"1\"</d:getetag></d:prop></d:propstat>"
    "</d:response>";

TEST(FakeServer, DigestAuthenticationAndAWrongPassword) {
  TFakeDavServer Server([](const TFakeRequest& Request) {
    if (DigestAccepted(Request, "ann", "pa:ss", "n0nce")) return MultiStatus(OneCard);
    return TFakeResponse{
        401,
        "Unauthorized",
        {{"WWW-Authenticate", "Digest realm=\"cards\", nonce=\"n0nce\", qop=\"auth\", algorithm=MD5"}}};
  });
  TCardDavClient Right(Server.Url("/"), "ann", "pa:ss");
  const TEtagListing Listing = Right.ListEtags(Server.Url("/b/"));
  ASSERT_EQ(Listing.Cards.size(), 1u);
  EXPECT_EQ(Listing.Cards[0].Href, QStringLiteral("/b/1.vcf"));

  Server.Requests.clear();
  TCardDavClient Wrong(Server.Url("/"), "ann", "pass");
  const ESyncError Error = ErrorOf([&] { Wrong.ListEtags(Server.Url("/b/")); });
  EXPECT_EQ(Error.Kind, ESyncErrorKind::Auth);
  EXPECT_EQ(Error.Message, QStringLiteral("The server refused the user name or password."));
  EXPECT_LE(Server.Requests.size(), 2u);  // asked once with the password, never in a loop
}

TEST(FakeServer, RedirectsFollowedOnlyWithinTheServer) {
  TFakeDavServer* Self = nullptr;
  TFakeDavServer Server([&Self](const TFakeRequest& Request) {
    const std::map<QByteArray, QByteArray> Moves = {
        // clang-format off
        {"/old/", "/new/"},   {"/rel/", "../new/"}, {"/loop/", "/loop/"},
        {"/away/", Self->Url("/new/", "localhost").toEncoded()},
        {"/tls/", "https://127.0.0.1:" + QByteArray::number(Self->Port()) + "/new/"}};
    // clang-format on
    if (const auto It = Moves.find(Request.Target); It != Moves.end())
      return TFakeResponse{Request.Target == "/rel/" ? 308 : 301, "Moved", {{"Location", It->second}}};
    // The book moved, and its cards with it.
    return MultiStatus(QByteArray(OneCard).replace("/b/", "/new/"));
  });
  Self = &Server;
  struct TCase {
    QByteArray Start;
    QString Problem;  // empty: listed from /new/
  };
  const QString Port = QString::number(Server.Port());
  const std::vector<TCase> Cases = {
      {"/old/", {}},
      {"/rel/", {}},
      {"/away/", "The server sent http://127.0.0.1:" + Port + "/away/ on to another server (http://localhost:" + Port +
                     "/new/), which is not followed."},
      {"/tls/", "The server sent http://127.0.0.1:" + Port + "/tls/ on to another server (https://127.0.0.1:" + Port +
                    "/new/), which is not followed."},
      {"/loop/", "The server sent http://127.0.0.1:" + Port + "/loop/ round too many redirections."},
  };
  for (const TCase& Case : Cases) {
    Server.Requests.clear();
    TCardDavClient Client(Server.Url("/"), "ann", "pw");
    if (Case.Problem.isEmpty()) {
      EXPECT_EQ(Client.ListEtags(Server.Url(Case.Start)).Cards.size(), 1u) << Case.Start.toStdString();
      ASSERT_EQ(Server.Requests.size(), 2u);
      EXPECT_EQ(Server.Requests[1].Target, "/new/");
      // Method, depth and body go along: a PROPFIND stays a PROPFIND.
      EXPECT_EQ(Server.Requests[1].Verb, "PROPFIND");
      EXPECT_EQ(Server.Requests[1].Headers.value("depth"), "1");
      EXPECT_EQ(Server.Requests[1].Body, Server.Requests[0].Body);
    } else {
      const ESyncError Error = ErrorOf([&] { Client.ListEtags(Server.Url(Case.Start)); });
      EXPECT_EQ(Error.Kind, ESyncErrorKind::Server) << Case.Start.toStdString();
      EXPECT_EQ(Error.Message, Case.Problem);
      EXPECT_LE(Server.Requests.size(), 1u + TCardDavClient::MaxRedirects);
    }
  }
}

TEST(FakeServer, SilenceTimesOutAndCancelStopsTheWait) {
  TFakeDavServer Server([](const TFakeRequest&) { return TFakeResponse::Silence(); });
  TCardDavClient Client(Server.Url("/"), "ann", "pw", {}, 300);
  ESyncError Error = ErrorOf([&] { Client.ListEtags(Server.Url("/b/")); });
  EXPECT_EQ(Error.Kind, ESyncErrorKind::TimeOut);
  EXPECT_EQ(Error.Message, QStringLiteral("The server did not answer within 0.3 seconds."));

  // Cancel from the event loop the client waits in, as a window's button
  // would, while several uploads wait.
  TCardDavClient Patient(Server.Url("/"), "ann", "pw", {}, 60000);
  QTimer::singleShot(100, &Patient, [&Patient] { Patient.Cancel(); });
  std::vector<TWriteJob> Jobs(6, {TWriteJob::Put, "/b/2.vcf", "x", {}});
  int Reported = 0;
  Error = ErrorOf([&] { Patient.WriteMany(Jobs, [&](size_t, const TWriteResult&) { ++Reported; }); });
  EXPECT_EQ(Error.Kind, ESyncErrorKind::Cancelled);
  EXPECT_EQ(Error.Message, QStringLiteral("The synchronisation was cancelled."));
  EXPECT_EQ(Reported, 0);
  const size_t Sent = Server.Requests.size();
  EXPECT_LE(Sent, 1u + TCardDavClient::DefaultParallel);
  Error = ErrorOf([&] { Patient.MultiGet(Server.Url("/b/"), {QStringLiteral("/b/1.vcf")}); });
  EXPECT_EQ(Error.Kind, ESyncErrorKind::Cancelled);
  EXPECT_EQ(Server.Requests.size(), Sent);  // nothing more goes out
}

// A server whose root knows no WebDAV, reached through its well-known place.
TEST(FakeServer, DiscoveryThroughTheWellKnownPlace) {
  const QByteArray Principal =
      "<d:response><d:href>/dav/</d:href><d:propstat><d:prop><d:current-user-principal><d:href>principals/ann/"
      "</d:href></d:current-user-principal></d:prop></d:propstat></d:response>";
  const QByteArray Home =
      "<d:response><d:href>/dav/principals/ann/</d:href><d:propstat><d:prop><card:addressbook-home-set>"
      "<d:href>/dav/cards/ann/</d:href></card:addressbook-home-set></d:prop></d:propstat></d:response>";
  const QByteArray Books =
      "<d:response><d:href>/dav/cards/ann/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/>"
      "</d:resourcetype></d:prop></d:propstat></d:response>"
      "<d:response><d:href>/dav/cards/ann/Main%20Book/</d:href><d:propstat><d:prop><d:resourcetype>"
      "<d:collection/><card:addressbook/></d:resourcetype></d:prop></d:propstat></d:response>"
      "<d:response><d:href>shared/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/><card:addressbook/>"
      "</d:resourcetype><d:displayname>Shared</d:displayname></d:prop></d:propstat></d:response>"
      "<d:response><d:href>/dav/cards/ann/cal/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/>"
      "</d:resourcetype></d:prop></d:propstat></d:response>";
  bool KnowsWellKnown = true;
  TFakeDavServer Server([&](const TFakeRequest& Request) {
    if (Request.Target == "/.well-known/carddav" && KnowsWellKnown)
      return TFakeResponse{301, "Moved", {{"Location", "/dav/"}}};
    if (Request.Target == "/dav/") return MultiStatus(Principal);
    if (Request.Target == "/dav/principals/ann/") return MultiStatus(Home);
    if (Request.Target == "/dav/cards/ann/") return MultiStatus(Books);
    return TFakeResponse{Request.Target == "/" ? 405 : 404, "No"};
  });
  TCardDavClient Client(Server.Url("/"), "ann", "pw");
  std::vector<std::string> Found;
  for (const TAddressBookInfo& Book : Client.Discover())
    Found.push_back((Book.Url.path(QUrl::FullyEncoded) + ' ' + Book.DisplayName).toStdString());
  EXPECT_EQ(Found,
            (std::vector<std::string>{"/dav/cards/ann/Main%20Book/ Main Book", "/dav/cards/ann/shared/ Shared"}));
  EXPECT_EQ(Server.Requests[0].Target, "/.well-known/carddav");

  KnowsWellKnown = false;
  const ESyncError Error = ErrorOf([&] { Client.Discover(); });
  EXPECT_EQ(Error.Kind, ESyncErrorKind::NotAddressBook);
  EXPECT_EQ(Error.Message, Server.Url("/").toString() + " is not an address book.");
}

TEST(FakeServer, SyncCollectionAnswersServersGive) {
  const QByteArray Changes =
      "<d:response><d:href>/b/</d:href><d:status>HTTP/1.1 507 Insufficient Storage</d:status></d:response>"
      "<d:response><d:href>a%20b.vcf</d:href><d:propstat><d:prop><d:getetag>\"a1\"</d:getetag></d:prop>"
      "</d:propstat></d:response>"
      "<d:response><d:href>http://127.0.0.1:PORT/b/c.vcf</d:href><d:status>HTTP/1.1 404 Not Found</d:status>"
      "</d:response>"
      "<d:response><d:href>/b/sub/</d:href><d:propstat><d:prop><d:getetag>\"s\"</d:getetag><d:resourcetype>"
      "<d:collection/></d:resourcetype></d:prop></d:propstat></d:response>"
      "<d:response><d:href>/b/ev.ics</d:href><d:propstat><d:prop><d:getetag>\"i\"</d:getetag>"
      "<d:getcontenttype>text/calendar</d:getcontenttype></d:prop></d:propstat></d:response>";
  const QByteArray Rest =
      "<d:response><d:href>/b/c.vcf</d:href><d:propstat><d:prop><d:getetag>\"c2\"</d:getetag></d:prop>"
      "</d:propstat></d:response><d:response><d:href>/b/a%20b.vcf</d:href><d:status>HTTP/1.1 404 Not Found"
      "</d:status></d:response>";
  const QByteArray TokenError = "<?xml version='1.0'?><D:error xmlns:D='DAV:'><D:valid-sync-token/></D:error>";
  struct TCase {
    const char* What;
    TFakeResponse First;
    ESyncOutcome Outcome;
    std::string Summary;  // changed hrefs with ETags, then removed hrefs, then the token
  };
  const std::vector<TCase> Cases = {
      {"in two parts", MultiStatus(Changes, "<d:sync-token>t1</d:sync-token>"), ESyncOutcome::Changes,
       "/b/c.vcf=\"c2\" - /b/a%20b.vcf - t2"},
      {"whole", MultiStatus(Rest, "<d:sync-token>t9</d:sync-token>"), ESyncOutcome::Changes,
       "/b/c.vcf=\"c2\" - /b/a%20b.vcf - t9"},
      {"token forgotten (409)", {409, "Conflict", {}, TokenError}, ESyncOutcome::TokenRejected, " -  - "},
      {"token forgotten (403)", {403, "Forbidden", {}, TokenError}, ESyncOutcome::TokenRejected, " -  - "},
      {"report refused (403)",
       {403, "Forbidden", {}, "<error xmlns='DAV:'><supported-report/></error>"},
       ESyncOutcome::Unsupported,
       " -  - "},
      {"no such report (501)", {501, "Not Implemented"}, ESyncOutcome::Unsupported, " -  - "},
      {"bad request (400)", {400, "Bad Request"}, ESyncOutcome::Unsupported, " -  - "},
      {"a multistatus without token", MultiStatus(Rest), ESyncOutcome::Unsupported, " -  - "},
  };
  for (const TCase& Case : Cases) {
    TFakeDavServer* Self = nullptr;
    TFakeDavServer Server([&](const TFakeRequest& Request) {
      if (Request.Body.contains(">t1<")) return MultiStatus(Rest, "<d:sync-token>t2</d:sync-token>");
      TFakeResponse First = Case.First;
      First.Body.replace("PORT", QByteArray::number(Self->Port()));
      return First;
    });
    Self = &Server;
    TCardDavClient Client(Server.Url("/"), "ann", "pw");
    const TSyncChanges Got = Client.SyncCollection(Server.Url("/b"), QStringLiteral("t0"));
    QStringList Changed;
    for (const TCardVersion& Card : Got.Changed) Changed << Card.Href + '=' + Card.Etag;
    EXPECT_EQ(Got.Outcome, Case.Outcome) << Case.What;
    EXPECT_EQ((Changed.join(' ') + " - " + Got.Removed.join(' ') + " - " + Got.Token).toStdString(), Case.Summary)
        << Case.What;
    ASSERT_FALSE(Server.Requests.empty());
    EXPECT_EQ(Server.Requests[0].Verb, "REPORT");
    EXPECT_EQ(Server.Requests[0].Target, "/b/");
    EXPECT_EQ(Server.Requests[0].Headers.value("depth"), "0");
  }
}

TEST(FakeServer, WritesSendTheirPreconditionsAndReportEachResult) {
  TFakeDavServer Server([](const TFakeRequest& Request) {
    if (Request.Verb == "GET") return TFakeResponse{200, "OK", {{"ETag", "\"v2\""}}, "SERVER TEXT\r\n"};
    if (Request.Target == "/b/bad.vcf") return TFakeResponse{415, "Unsupported Media Type"};
    if (Request.Target == "/b/broken.vcf") return TFakeResponse{500, "Internal Server Error"};
    if (Request.Target == "/b/noetag.vcf") return TFakeResponse{201, "Created"};
    return TFakeResponse{Request.Verb == "PUT" ? 201 : 204, "Done", {{"ETag", "\"" + Request.Target.mid(3) + "\""}}};
  });
  TCardDavClient Client(Server.Url("/"), "ann", "pw");
  Client.SetParallel(1);  // one at a time, so that the order below is the order sent
  const std::vector<TWriteJob> Jobs = {
      {TWriteJob::Put, "/b/new.vcf", "N1\r\n", ""},    {TWriteJob::Put, "/b/old.vcf", "O1\r\n", "\"o0\""},
      {TWriteJob::Put, "/b/noetag.vcf", "X\r\n", ""},  {TWriteJob::Put, "/b/bad.vcf", "B\r\n", ""},
      {TWriteJob::Delete, "/b/del.vcf", {}, "\"d0\""}, {TWriteJob::Put, "/b/broken.vcf", "Z\r\n", ""},
      {TWriteJob::Put, "/b/never.vcf", "Z\r\n", ""},
  };
  std::vector<std::string> Results;
  const ESyncError Error = ErrorOf([&] {
    Client.WriteMany(Jobs, [&](size_t Index, const TWriteResult& R) {
      Results.push_back(std::to_string(Index) + ' ' + std::to_string(int(R.Outcome)) + ' ' + R.Etag.toStdString() +
                        ' ' + R.ServerText.toStdString() + R.Problem.toStdString());
    });
  });
  const QString Port = QString::number(Server.Port());
  EXPECT_EQ(Results, (std::vector<std::string>{"0 0 \"new.vcf\" ", "1 0 \"old.vcf\" ", "2 0 \"v2\" SERVER TEXT\r\n",
                                               ("3 2  The server refused the card http://127.0.0.1:" + Port +
                                                "/b/bad.vcf (415 Unsupported Media Type).")
                                                   .toStdString(),
                                               "4 0  "}));
  EXPECT_EQ(Error.Kind, ESyncErrorKind::Server);
  EXPECT_EQ(Error.Message, QStringLiteral("The server reported an error (500 Internal Server Error)."));

  std::vector<std::string> Sent;
  for (const TFakeRequest& R : Server.Requests)
    Sent.push_back(
        (R.Verb + ' ' + R.Target + ' ' + R.Headers.value("if-match") + R.Headers.value("if-none-match") + ' ' + R.Body)
            .toStdString());
  EXPECT_EQ(Sent,
            (std::vector<std::string>{"PUT /b/new.vcf * N1\r\n", "PUT /b/old.vcf \"o0\" O1\r\n",
                                      "PUT /b/noetag.vcf * X\r\n", "GET /b/noetag.vcf  ", "PUT /b/bad.vcf * B\r\n",
                                      "DELETE /b/del.vcf \"d0\" ", "PUT /b/broken.vcf * Z\r\n"}));
}

// A multiget of more cards than one request holds goes in full batches.
TEST(FakeServer, MultiGetIsSplitIntoFullBatches) {
  const std::vector<std::pair<int, std::vector<int>>> Cases = {
      {1, {1}}, {100, {100}}, {101, {100, 1}}, {250, {100, 100, 50}}};
  for (const auto& [Count, Batches] : Cases) {
    TFakeDavServer Server([](const TFakeRequest&) { return MultiStatus({}); });
    TCardDavClient Client(Server.Url("/"), "ann", "pw");
    QStringList Hrefs;
    for (int I = 0; I < Count; ++I) Hrefs << QStringLiteral("/b/%1.vcf").arg(I);
    EXPECT_TRUE(Client.MultiGet(Server.Url("/b/"), Hrefs).empty());
    std::vector<int> Sent;
    for (const TFakeRequest& R : Server.Requests) {
      EXPECT_EQ(R.Verb, "REPORT");
      Sent.push_back(int(R.Body.count(".vcf<")));
    }
    EXPECT_EQ(Sent, Batches) << Count;
  }
}

}  // namespace
