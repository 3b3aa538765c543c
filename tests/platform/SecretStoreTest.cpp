// The desktop's secret store on a desktop that has none: each call says so
// without hanging, and the password goes into no file. Run twice, as
// "no-bus" (no session bus at all) and "bus" (a session bus of its own
// without any secret service, as on a desktop without a keyring). Run as
// "keyring", the same bus has a GNOME Keyring with an empty test keyring, and
// a remembered password is kept, read back and forgotten.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <cstdio>

#include <gtest/gtest.h>

#include "PrivateSession.h"
#include "SecretStore.h"

namespace {

QString HomeFolder;
QString Mode;       // "no-bus", "bus" or "keyring"
QString NoKeyring;  // keyring: why none could be started

// Files under Folder that hold Text.
QStringList FilesHolding(const QString& Folder, const QByteArray& Text) {
  QStringList Found;
  QDirIterator It(Folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (It.hasNext()) {
    QFile File(It.next());
    if (File.open(QIODevice::ReadOnly) && File.readAll().contains(Text)) Found << File.fileName();
  }
  return Found;
}

TEST(SecretStore, WithoutASecretServiceNothingIsKeptAndEachCallSaysSo) {
  if (Mode == QLatin1String("keyring")) GTEST_SKIP() << "this bus has a secret service";
  const QString Server = QStringLiteral("https://dav.example.com/");
  const QByteArray Password = "s3cret-Tobrinel-password";
  ISecretStore& Store = SecretStore();
  EXPECT_EQ(Store.Read(Server, QStringLiteral("ann")).Status, ESecretStatus::Unavailable);
  EXPECT_EQ(Store.Write(Server, QStringLiteral("ann"), QString::fromLatin1(Password)), ESecretStatus::Unavailable);
  Store.Forget(Server, QStringLiteral("ann"));
  const TSecret Again = Store.Read(Server, QStringLiteral("ann"));
  EXPECT_EQ(Again.Status, ESecretStatus::Unavailable);
  EXPECT_TRUE(Again.Password.isEmpty());
  EXPECT_EQ(FilesHolding(HomeFolder, Password), QStringList());
}

// "Remember password" with a secret service there: kept for its server and
// user alone, read back, and forgotten.
TEST(SecretStore, WithASecretServiceThePasswordIsKeptAndForgotten) {
  if (Mode != QLatin1String("keyring")) GTEST_SKIP() << "runs as: secret_store_test keyring";
  if (!NoKeyring.isEmpty()) GTEST_SKIP() << NoKeyring.toStdString();
  const QString Server = QStringLiteral("https://dav.example.com/");
  ISecretStore& Store = SecretStore();
  EXPECT_EQ(Store.Read(Server, QStringLiteral("ann")).Status, ESecretStatus::NotFound);
  ASSERT_EQ(Store.Write(Server, QStringLiteral("ann"), QStringLiteral("pa:ss w\u00F6rd")), ESecretStatus::Found);
  ASSERT_EQ(Store.Write(Server, QStringLiteral("bob"), QStringLiteral("other")), ESecretStatus::Found);
  const struct {
    const char* Server;
    const char* User;
    ESecretStatus Status;
    const char* Password;
  } Cases[] = {
      {"https://dav.example.com/", "ann", ESecretStatus::Found, "pa:ss w\u00F6rd"},
      {"https://dav.example.com/", "bob", ESecretStatus::Found, "other"},
      {"https://dav.example.com/", "Ann", ESecretStatus::NotFound, ""},
      {"https://other.example.com/", "ann", ESecretStatus::NotFound, ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.User) + " on " + Case.Server);
    const TSecret Got = Store.Read(QString::fromUtf8(Case.Server), QString::fromUtf8(Case.User));
    EXPECT_EQ(Got.Status, Case.Status);
    EXPECT_EQ(Got.Password, QString::fromUtf8(Case.Password));
  }
  ASSERT_EQ(Store.Write(Server, QStringLiteral("ann"), QStringLiteral("new")), ESecretStatus::Found);
  EXPECT_EQ(Store.Read(Server, QStringLiteral("ann")).Password, QStringLiteral("new"));
  Store.Forget(Server, QStringLiteral("ann"));
  EXPECT_EQ(Store.Read(Server, QStringLiteral("ann")).Status, ESecretStatus::NotFound);
  EXPECT_EQ(Store.Read(Server, QStringLiteral("bob")).Password, QStringLiteral("other"));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  Mode = QString::fromLocal8Bit(argc > 1 ? argv[1] : "no-bus");
  // Whatever might be written lands in this home, where the test looks.
  TPrivateSession Session;
  HomeFolder = Session.Home();
  if (Mode == QLatin1String("bus") || Mode == QLatin1String("keyring")) {
    // Without a keyring, a session bus that starts no service by itself:
    // where a secret service is installed, the standard one would start it
    // on the first call.
    const QString NoBus = Session.StartBus(Mode == QLatin1String("keyring"));
    if (!NoBus.isEmpty()) {
      std::fprintf(stderr, "%s\n", qPrintable(NoBus));
      return 1;
    }
  } else {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  }
  QCoreApplication App(argc, argv);
  if (Mode == QLatin1String("keyring")) NoKeyring = Session.StartKeyring();
  const int Status = RUN_ALL_TESTS();
  Session.Stop();
  return Status;
}
