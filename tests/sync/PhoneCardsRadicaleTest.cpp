// Cards as phones write them, through a real Radicale: taken in, edited here
// and sent back, each as the texts expected.

#include <gtest/gtest.h>

#include "PhoneCards.h"
#include "SyncRig.h"

namespace {

// The REV a sync gave, as the tests' own, so that texts compare.
std::string SameRev(std::string Card) {
  size_t Rev = Card.find("\nREV:");
  if (Rev == std::string::npos) return Card;
  size_t End = Card.find_first_of("\r\n", Rev + 1);
  return Card.replace(Rev + 5, End - Rev - 5, TestRevision);
}

}  // namespace

TEST(PhoneCardsRadicale, EditedHereAndSentBack) {
  using namespace PhoneCards;
  TSyncRig Rig;
  ASSERT_TRUE(Rig.Start()) << Rig.Problem().toStdString();
  // One edit of each kind of card, all in one book; an iPhone's card as a
  // server keeps it has a UID.
  const std::string Ios1 = Replaced(Ios, {{"N:Kraus", "UID:ios-1\r\nN:Kraus"}});
  struct TOne {
    std::string Href, Card;
    const char* Case;
  } const Ones[] = {{"ios.vcf", Ios1, "iOS: the work e-mail's line edited"},
                    {"davx4.vcf", Davx4, "DAVx5 4.0: the home box"},
                    {"davx3.vcf", Davx3, "DAVx5 3.0: the second work address's line edited"},
                    {"org.vcf", OrgOnly, "ORG only: the work box"}};
  for (const TOne& One : Ones)
    Rig.Server.PutCard(QStringLiteral("/tob/book/") + QString::fromStdString(One.Href),
                       QByteArray::fromStdString(One.Card));
  Rig.Server.PutCard(QStringLiteral("/tob/book/team.vcf"), QByteArray::fromStdString(Group4));
  Rig.Server.PutCard(QStringLiteral("/tob/book/friends.vcf"), QByteArray::fromStdString(GroupApple));
  EXPECT_EQ(Rig.Sync(),
            "received 4, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0, groups left on the server 2");
  auto CaseNamed = [](const char* Name) -> const TCase& {
    for (const TCase& C : Cases())
      if (std::string(C.Name) == Name) return C;
    throw std::logic_error(Name);
  };
  Rig.EditBook([&](TAddressBook& Book) {
    for (const char* Surname : {"Kraus", "Lee", "Berg", "Acme GmbH"}) {
      TAddressItem* Entry = EntryNamed(Book, Surname);
      ASSERT_TRUE(Entry) << Surname;
      const TOne& One = Ones[Surname == std::string("Kraus")  ? 0
                             : Surname == std::string("Lee")  ? 1
                             : Surname == std::string("Berg") ? 2
                                                              : 3];
      CaseNamed(One.Case).Edit(*Entry);
    }
  });
  EXPECT_EQ(Rig.Sync(), "received 0, sent 4, deleted here 0, deleted there 0, merged 0, conflicts 0");
  // Radicale writes each card again in its own order and spelling: the
  // texts expected go through it too, into a book of their own.
  auto Get = [&](const QString& Path) { return SameRev(Rig.Server.GetCard(Path).Body.toStdString()); };
  ASSERT_TRUE(Rig.Server.MakeAddressBook(QStringLiteral("expected"), QStringLiteral("Expected")).isValid());
  for (const TOne& One : Ones) {
    SCOPED_TRACE(One.Case);
    const TCase& Case = CaseNamed(One.Case);
    QString Href = QString::fromStdString(One.Href);
    Rig.Server.PutCard(
        QStringLiteral("/tob/expected/") + Href,
        QByteArray::fromStdString(Expected({Case.Name, One.Card, Case.Edit, Case.Changes}, TestRevision)));
    std::string Sent = Get(QStringLiteral("/tob/book/") + Href);
    EXPECT_NE(Sent.find("REV:"), std::string::npos);
    EXPECT_EQ(Sent, Get(QStringLiteral("/tob/expected/") + Href));
  }
  for (const char* Group : {"team.vcf", "friends.vcf"}) {
    Rig.Server.PutCard(QStringLiteral("/tob/expected/") + QLatin1String(Group),
                       QByteArray::fromStdString(Group == std::string("team.vcf") ? Group4 : GroupApple));
    EXPECT_EQ(Get(QStringLiteral("/tob/book/") + QLatin1String(Group)),
              Get(QStringLiteral("/tob/expected/") + QLatin1String(Group)));
  }
  EXPECT_EQ(Rig.Sync(), "received 0, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0");
}
