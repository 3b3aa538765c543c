// The DAV XML and href rules on their own: answers as servers write them,
// without a network.

#include "CardDav.h"
#include "DavXml.h"
#include "Trickle.h"

#include <QIODevice>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

QByteArray Wrap(const QByteArray& AddressData) {
  return "<?xml version=\"1.0\"?>\n<multistatus xmlns=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
         "<response><href>/b/x.vcf</href><propstat><prop><getetag>\"1\"</getetag>"
         "<C:address-data>" +
         AddressData + "</C:address-data></prop><status>HTTP/1.1 200 OK</status></propstat></response></multistatus>";
}

// One line per href: the fields the client reads.
std::string Summary(const TDavResponse& R) {
  return (R.Href + QStringLiteral("|%1|").arg(R.Status) + R.Etag + (R.IsCollection ? "|coll" : "|") +
          (R.IsAddressBook ? "|book|" : "||") + R.ContentType + '|' + R.DisplayName + '|' + R.Principal + '|' +
          R.HomeSets.join(QLatin1Char(',')) + '|' + R.SyncToken)
      .toStdString();
}

TEST(DavXml, CardTextsKeepTheirLineEndsAndCharacters) {
  const std::vector<std::pair<QByteArray, QByteArray>> Cases = {
      {"A\r\nB\r\n", "A\r\nB\r\n"},  // raw CR LF, as Radicale sends it
      {"A\nB\n", "A\nB\n"},
      {"A&#13;\nB&#13;&#10;", "A\r\nB\r\n"},
      {"X-N:a&amp;b&lt;c&gt;\r\n", "X-N:a&b<c>\r\n"},
      {"<![CDATA[X:<y>&\r\nZ\r\n]]>", "X:<y>&\r\nZ\r\n"},
      {"<!-- a\r\nb -->N:Zo\xc3\xab\r\n", "N:Zo\xc3\xab\r\n"},
      {"  FN:A \r\n\r\n", "  FN:A \r\n\r\n"},  // leading and trailing blanks are the card's
  };
  for (const auto& [Sent, Kept] : Cases) {
    TMultiStatus Status;
    QString Problem;
    ASSERT_TRUE(ParseMultiStatus(Wrap(Sent), Status, &Problem)) << Problem.toStdString();
    ASSERT_EQ(Status.Responses.size(), 1u);
    EXPECT_EQ(Status.Responses[0].AddressData, Kept) << Sent.toStdString();
  }
  // A CR inside markup is no text: left as it is, it still parses.
  TMultiStatus Status;
  ASSERT_TRUE(ParseMultiStatus(
      "<d:multistatus\r\n xmlns:d='DAV:'><d:response><d:href\r\n>/a\r\n</d:href></d:response></d:multistatus>",
      Status));
  ASSERT_EQ(Status.Responses.size(), 1u);
  EXPECT_EQ(Status.Responses[0].Href, QStringLiteral("/a"));
}

TEST(DavXml, MultiStatusAnswersAsServersWriteThem) {
  struct TCase {
    const char* What;
    QByteArray Xml;
    std::vector<std::string> Responses;
    QString SyncToken;
  };
  const std::vector<TCase> Cases = {
      {"prefixed, failed propstat ignored",
       "<D:multistatus xmlns:D='DAV:' xmlns:C='urn:ietf:params:xml:ns:carddav'><D:response><D:href>/b/</D:href>"
       "<D:propstat><D:prop><D:resourcetype><D:collection/><C:addressbook/></D:resourcetype>"
       "<D:displayname> Friends </D:displayname></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
       "<D:propstat><D:prop><D:getetag>\"no\"</D:getetag></D:prop><D:status>HTTP/1.1 404 Not Found</D:status>"
       "</D:propstat></D:response></D:multistatus>",
       {"/b/|0||coll|book||Friends|||"},
       {}},
      {"removed member, several hrefs, top-level token",
       "<multistatus xmlns='DAV:'><response><href>/b/1.vcf</href><href>/b/2.vcf</href>"
       "<status>HTTP/1.1 404 Not Found</status></response><response><href>/b/3.vcf</href><propstat><prop>"
       "<getetag>\"e3\"</getetag><getcontenttype>text/vcard</getcontenttype><resourcetype/></prop></propstat>"
       "</response><sync-token>tok-2</sync-token></multistatus>",
       {"/b/1.vcf|404||||||||", "/b/2.vcf|404||||||||", "/b/3.vcf|0|\"e3\"|||text/vcard||||"},
       QStringLiteral("tok-2")},
      {"principal and home sets; unknown elements skipped",
       "<x:multistatus xmlns:x='DAV:' xmlns:c='urn:ietf:params:xml:ns:carddav' xmlns:o='urn:other'><x:response>"
       "<x:href>/</x:href><x:propstat><x:prop><o:resourcetype><x:collection/></o:resourcetype>"
       "<x:current-user-principal><x:href>/p/ann/</x:href></x:current-user-principal>"
       "<c:addressbook-home-set><x:href>/h/1/</x:href><x:href>/h/2/</x:href></c:addressbook-home-set>"
       "<x:sync-token>t</x:sync-token></x:prop><x:status>HTTP/1.1 200 OK</x:status></x:propstat>"
       "<o:extra><x:href>/ignored</x:href></o:extra></x:response></x:multistatus>",
       {"/|0||||||/p/ann/|/h/1/,/h/2/|t"},
       {}},
      // What follows the root is never read, so bytes there that are not
      // UTF-8 cannot fail the answer only when they arrive with its end.
      {"a second answer glued on, badly encoded",
       "<d:multistatus xmlns:d='DAV:'><d:response><d:href>/b/</d:href></d:response></d:multistatus>\r\n"
       "<?xml version=\"1.0\"?><d:multistatus xmlns:d='DAV:'><d:response><d:href>\xa5</d:href></d:response>"
       "</d:multistatus>",
       {"/b/|0||||||||"},
       {}},
      {"an empty root, then bytes that are not UTF-8", "<multistatus xmlns='DAV:'/>\xfd\xa5", {}, {}},
      // In pieces, one of them holds only the first byte of the href's second character.
      {"a piece that ends inside a character",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<d:multistatus xmlns:d=\"DAV:\" xml=\"f:\"><d:response>"
       "<d:href>/davok\xd8\x9cG</d:href></d:response></d:multistatus>",
       {"/davok\u061cG|0||||||||"},
       {}},
  };
  // Read whole and as it arrives, an answer reads the same.
  for (const bool Pieced : {false, true}) {
    auto Read = [Pieced](const QByteArray& Xml, QString& Token, std::vector<std::string>& Got, QString& Problem) {
      const auto Take = [&Got](TDavResponse& R) { Got.push_back(Summary(R)); };
      TTrickle Device(Xml);
      return Pieced ? ParseMultiStatus(Device, Token, Take, &Problem) : ParseMultiStatus(Xml, Token, Take, &Problem);
    };
    const char* How = Pieced ? " (in pieces)" : " (whole)";
    for (const TCase& Case : Cases) {
      QString Token, Problem;
      std::vector<std::string> Got;
      ASSERT_TRUE(Read(Case.Xml, Token, Got, Problem)) << Case.What << How << ": " << Problem.toStdString();
      EXPECT_EQ(Got, Case.Responses) << Case.What << How;
      EXPECT_EQ(Token, Case.SyncToken) << Case.What << How;
    }
    for (const QByteArray& Bad : {QByteArray("Internal error"), QByteArray("<error xmlns='DAV:'/>"),
                                  QByteArray("<multistatus xmlns='DAV:'><response>"),
                                  QByteArray("<multistatus xmlns='DAV:'><response><href>\xa5</href></response>"
                                             "</multistatus>"),
                                  // Cut short where Qt's reader would read on at the next call.
                                  QByteArray("\n<d:multistatus xmlns:d=\"DAV:\" xrd=\"s:dav\"><dse><d:href>\xd8\x9b"
                                             "</d:href>"),
                                  QByteArray("<?xml version=\"1.0\" encoding=\"utf-7\"?>\r\n<d:multistatus "
                                             "xmlns:d=\"DAV:\" xmlns:card=\"urn:\"><d:g><card:address-data>+\n"
                                             "</card:address-data>")}) {
      QString Token, Problem;
      std::vector<std::string> Got;
      EXPECT_FALSE(Read(Bad, Token, Got, Problem)) << Bad.toStdString() << How;
      EXPECT_FALSE(Problem.isEmpty());
    }
  }
}

TEST(DavXml, PreconditionsAndRequestBodies) {
  EXPECT_TRUE(
      HasDavCondition("<?xml version='1.0'?><error xmlns='DAV:'><valid-sync-token /></error>", u"valid-sync-token"));
  EXPECT_TRUE(HasDavCondition("<D:error xmlns:D='DAV:'><D:valid-sync-token/></D:error>", u"valid-sync-token"));
  EXPECT_FALSE(HasDavCondition("<error xmlns='DAV:'><number-of-matches-within-limits/></error>", u"valid-sync-token"));
  EXPECT_FALSE(HasDavCondition("<error xmlns='urn:x'><valid-sync-token/></error>", u"valid-sync-token"));
  EXPECT_FALSE(HasDavCondition("Forbidden", u"valid-sync-token"));

  // What goes out reads back as it was given: tokens and hrefs are never re-encoded.
  auto Texts = [](const QByteArray& Xml, const char* Name) {
    QStringList Found;
    QXmlStreamReader Reader(Xml);
    while (!Reader.atEnd())
      if (Reader.readNext() == QXmlStreamReader::StartElement && Reader.name() == QLatin1String(Name) &&
          Reader.namespaceUri() == QLatin1String("DAV:"))
        Found << Reader.readElementText();
    EXPECT_FALSE(Reader.hasError()) << Reader.errorString().toStdString();
    return Found;
  };
  EXPECT_EQ(Texts(SyncCollectionBody(QStringLiteral("http://x/?a=1&b=<2>")), "sync-token"),
            QStringList{QStringLiteral("http://x/?a=1&b=<2>")});
  EXPECT_EQ(Texts(SyncCollectionBody({}), "sync-level"), QStringList{QStringLiteral("1")});
  const QStringList Hrefs = {QStringLiteral("/b/a%20b.vcf"), QStringLiteral("/b/%7Ez&.vcf")};
  EXPECT_EQ(Texts(MultiGetBody(Hrefs), "href"), Hrefs);
  EXPECT_EQ(
      Texts(PropfindBody({{DavNamespace, "getetag"}, {CardDavNamespace, "addressbook-home-set"}}), "getetag").size(),
      1);
}

TEST(DavXml, HrefsResolvedAgainstTheirRequest) {
  const QUrl Base = QUrl::fromEncoded("http://h:8/a/b/");
  const std::vector<std::pair<QString, QString>> Cases = {
      {"/x/y.vcf", "/x/y.vcf"},
      {"c%20d.vcf", "/a/b/c%20d.vcf"},
      {"%7Eann%2fx.vcf", "/a/b/%7Eann%2fx.vcf"},  // percent-encoding as the server wrote it
      {"../c.vcf", "/a/c.vcf"},
      {"./../../../c", "/c"},
      {"/a/./b/../c#frag", "/a/c"},
      {"http://h:8/a/b/e%41.vcf", "/a/b/e%41.vcf"},
      {"HTTP://H:8/q", "/q"},
      {"//h:8/z", "/z"},
      {"http://h:8", "/"},
      {"http://other:8/e.vcf", "http://other:8/e.vcf"},
      {"http://h:9/e.vcf", "http://h:9/e.vcf"},
      {"https://h:8/e.vcf", "https://h:8/e.vcf"},
  };
  for (const auto& [Href, Resolved] : Cases) EXPECT_EQ(ResolveHref(Base, Href), Resolved) << Href.toStdString();
  EXPECT_EQ(ResolveHref(QUrl::fromEncoded("http://h/a/b"), QStringLiteral("c")), QStringLiteral("/a/c"));
  EXPECT_EQ(ResolveHref(QUrl::fromEncoded("http://h"), QStringLiteral("c")), QStringLiteral("/c"));

  const std::vector<std::tuple<QString, QString, bool>> Same = {
      {"/a/b%20c/", "/a/b c", true}, {"/a/%7E", "/a/~", true}, {"/a/b", "/a/c", false},
      {"/a/b/", "/a/b", true},       {"/", "/", true},         {"/a/b%2Fc", "/a/b/d", false},
  };
  for (const auto& [A, B, Equal] : Same) EXPECT_EQ(SameHref(A, B), Equal) << A.toStdString() << " " << B.toStdString();
}

TEST(DavXml, StatusLinesFingerprintsAndMemberHrefs) {
  const std::vector<std::pair<QString, int>> Lines = {
      {"HTTP/1.1 200 OK", 200}, {"HTTP/1.1  507 Insufficient Storage", 507}, {"HTTP/1.1", 0}, {"garbage here", 0}};
  for (const auto& [Line, Code] : Lines) EXPECT_EQ(StatusLineCode(Line), Code) << Line.toStdString();

  const QString Colon =
      "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
  const std::vector<std::pair<QString, QString>> Prints = {
      {Colon, Colon},
      {Colon.toLower().remove(':'), Colon},
      {" " + Colon.toLower() + " ", Colon},
      {Colon.left(Colon.size() - 3), ""},  // one byte short
      {Colon + ":00", ""},
      {QString(Colon).replace(0, 1, "G"), ""},
      {"", ""},
  };
  for (const auto& [Given, Normal] : Prints)
    EXPECT_EQ(TCardDavClient::NormalFingerprint(Given), Normal) << Given.toStdString();

  EXPECT_EQ(TCardDavClient::MemberHref(QUrl::fromEncoded("http://h/tob/book/"), "0f3c-a.vcf"), "/tob/book/0f3c-a.vcf");
  EXPECT_EQ(TCardDavClient::MemberHref(QUrl::fromEncoded("http://h/tob/my%20book"), "a b/c.vcf"),
            "/tob/my%20book/a%20b%2Fc.vcf");
}

// A status line without its reason phrase keeps its code, alone and inside a
// multistatus answer.
TEST(DavXml, StatusLinesWithoutAReason) {
  const std::vector<std::pair<QString, int>> Lines = {
      {"HTTP/1.1 200", 200}, {"HTTP/1.1 404", 404}, {"HTTP/1.1 404 ", 404}, {"HTTP/1.1 x", 0}};
  for (const auto& [Line, Code] : Lines) EXPECT_EQ(StatusLineCode(Line), Code) << Line.toStdString();
  TMultiStatus Status;
  ASSERT_TRUE(
      ParseMultiStatus("<d:multistatus xmlns:d='DAV:'><d:response><d:href>/a.vcf</d:href>"
                       "<d:status>HTTP/1.1 404</d:status></d:response></d:multistatus>",
                       Status));
  ASSERT_EQ(Status.Responses.size(), 1u);
  EXPECT_EQ(Status.Responses[0].Status, 404);
}

}  // namespace
