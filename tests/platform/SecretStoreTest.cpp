// The desktop's secret store on a desktop that has none: each call says so
// without hanging, and the password goes into no file. Run twice, as
// "no-bus" (no session bus at all) and "bus" (a session bus of its own
// without any secret service, as on a desktop without a keyring).

#include <QCoreApplication>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "SecretStore.h"

namespace {

QTemporaryDir* Home = nullptr;

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

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const bool OwnBus = argc > 1 && std::strcmp(argv[1], "bus") == 0;
  // Whatever might be written lands in this home, where the test looks.
  QTemporaryDir Scratch;
  Home = &Scratch;
  qputenv("HOME", Scratch.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (Scratch.path() + "/.config").toLocal8Bit());
  qputenv("XDG_DATA_HOME", (Scratch.path() + "/.local/share").toLocal8Bit());
  std::unique_ptr<QProcess> Bus;
  if (OwnBus) {
    Bus = std::make_unique<QProcess>();
    Bus->start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                               QStringLiteral("--print-address=1")});
    if (!Bus->waitForReadyRead(10000)) {
      std::fprintf(stderr, "dbus-daemon did not start\n");
      return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", Bus->readLine().trimmed());
  } else {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  }
  QCoreApplication App(argc, argv);
  const int Status = RUN_ALL_TESTS();
  if (Bus) {
    Bus->terminate();
    Bus->waitForFinished();
  }
  return Status;
}
