#include "PrivateSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include "SecretStore.h"

TPrivateSession::TPrivateSession() {
  qputenv("HOME", Folder.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (Folder.path() + "/.config").toLocal8Bit());
  qputenv("XDG_DATA_HOME", (Folder.path() + "/.local/share").toLocal8Bit());
}

TPrivateSession::~TPrivateSession() { Stop(); }

QString TPrivateSession::StartBus(bool Services) {
  QString Kind = QStringLiteral("--session");
  if (Services) {
    // The keyring's control socket goes here. A keyring the bus starts on a
    // call that comes before ours is up finds ours by it and leaves the bus to it.
    const QString Runtime = Folder.filePath(QStringLiteral("run"));
    QDir().mkpath(Runtime);
    QFile::setPermissions(Runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", Runtime.toLocal8Bit());
  } else {
    QFile Config(Folder.filePath(QStringLiteral("bus.conf")));
    if (!Config.open(QIODevice::WriteOnly) ||
        Config.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
                     "<policy context='default'><allow send_destination='*' eavesdrop='true'/>"
                     "<allow eavesdrop='true'/><allow own='*'/></policy></busconfig>\n") < 0)
      return QStringLiteral("the bus configuration could not be written");
    Kind = QStringLiteral("--config-file=") + Config.fileName();
  }
  Bus.start(QStringLiteral("dbus-daemon"), {Kind, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
  if (!Bus.waitForReadyRead(10000)) return QStringLiteral("dbus-daemon did not start");
  qputenv("DBUS_SESSION_BUS_ADDRESS", Bus.readLine().trimmed());
  return {};
}

QString TPrivateSession::StartKeyring() {
  const QString Program = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
  if (Program.isEmpty()) return QStringLiteral("gnome-keyring-daemon is not installed (package gnome-keyring)");
  Keyring.start(Program,
                {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
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

void TPrivateSession::Stop() {
  for (QProcess* Process : {&Keyring, &Bus}) {
    if (Process->state() == QProcess::NotRunning) continue;
    Process->terminate();
    Process->waitForFinished();
  }
}
