// The desktop's secret store on a desktop that has none: each call says so
// without hanging, and the password goes into no file. Run twice, as
// "no-bus" (no session bus at all) and "bus" (a session bus of its own
// without any secret service, as on a desktop without a keyring). Run as
// "keyring", the same bus has a GNOME Keyring with an empty test keyring, and
// a remembered password is kept, read back and forgotten.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "SecretStore.h"

namespace {

QTemporaryDir* Home = nullptr;
QString Mode;          // "no-bus", "bus" or "keyring"
QString NoKeyring;     // keyring: why none could be started

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
  EXPECT_EQ(FilesHolding(Home->path(), Password), QStringList());
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

// A GNOME Keyring on the test's own bus whose login keyring is made empty
// and unlocked with the password it is given, so that nothing asks; its
// files go under the test's home. Empty when it runs, else why not.
QString StartKeyring(QProcess& Keyring) {
  const QString Program = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
  if (Program.isEmpty()) return QStringLiteral("gnome-keyring-daemon is not installed (package gnome-keyring)");
  Keyring.start(Program, {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                          QStringLiteral("--components=secrets")});
  if (!Keyring.waitForStarted(10000)) return QStringLiteral("gnome-keyring-daemon did not start");
  Keyring.write("test");  // the login keyring's password: it is made with it, unlocked
  Keyring.closeWriteChannel();
  // It is there once it answers; a store that cannot be reached yet says Unavailable.
  QElapsedTimer Waited;
  Waited.start();
  while (Waited.elapsed() < 20000) {
    if (Keyring.state() != QProcess::Running)
      return QStringLiteral("gnome-keyring-daemon ended: ") + QString::fromLocal8Bit(Keyring.readAllStandardError());
    if (SecretStore().Read(QStringLiteral("probe"), QStringLiteral("probe")).Status != ESecretStatus::Unavailable)
      return {};
    QThread::msleep(100);
  }
  return QStringLiteral("gnome-keyring-daemon did not answer on the session bus");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  Mode = QString::fromLocal8Bit(argc > 1 ? argv[1] : "no-bus");
  const bool OwnBus = Mode == QLatin1String("bus") || Mode == QLatin1String("keyring");
  // Whatever might be written lands in this home, where the test looks.
  QTemporaryDir Scratch;
  Home = &Scratch;
  qputenv("HOME", Scratch.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (Scratch.path() + "/.config").toLocal8Bit());
  qputenv("XDG_DATA_HOME", (Scratch.path() + "/.local/share").toLocal8Bit());
  if (Mode == QLatin1String("keyring")) {  // the keyring's control socket
    QDir(Scratch.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(Scratch.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", (Scratch.path() + "/run").toLocal8Bit());
  }
  std::unique_ptr<QProcess> Bus;
  if (OwnBus) {
    Bus = std::make_unique<QProcess>();
    // Without a keyring, a session bus that starts no service by itself:
    // where a secret service is installed, the standard one would start it
    // on the first call.
    QFile Config(Scratch.path() + "/bus.conf");
    if (!Config.open(QIODevice::WriteOnly) ||
        Config.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
                     "<policy context='default'><allow send_destination='*' eavesdrop='true'/>"
                     "<allow eavesdrop='true'/><allow own='*'/></policy></busconfig>\n") < 0)
      return 1;
    Config.close();
    const QString Kind = Mode == QLatin1String("keyring") ? QStringLiteral("--session")
                                                          : QStringLiteral("--config-file=") + Config.fileName();
    Bus->start(QStringLiteral("dbus-daemon"), {Kind, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!Bus->waitForReadyRead(10000)) {
      std::fprintf(stderr, "dbus-daemon did not start\n");
      return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", Bus->readLine().trimmed());
  } else {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  }
  QCoreApplication App(argc, argv);
  QProcess Keyring;
  if (Mode == QLatin1String("keyring")) NoKeyring = StartKeyring(Keyring);
  const int Status = RUN_ALL_TESTS();
  if (Keyring.state() != QProcess::NotRunning) {
    Keyring.terminate();
    Keyring.waitForFinished();
  }
  if (Bus) {
    Bus->terminate();
    Bus->waitForFinished();
  }
  return Status;
}
