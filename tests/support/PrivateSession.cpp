#include "PrivateSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

// Runs a keyring job to its end (or five seconds); true when it did its work.
bool RunProbe(QKeychain::Job* Job) {
  Job->setAutoDelete(true);
  Job->setInsecureFallback(false);
  Job->setKey(QStringLiteral("probe"));
  if (auto* Write = qobject_cast<QKeychain::WritePasswordJob*>(Job)) Write->setTextData(QStringLiteral("probe"));
  QEventLoop Loop;
  bool Finished = false;
  bool Done = false;
  QObject::connect(Job, &QKeychain::Job::finished, &Loop, [&](QKeychain::Job* Ended) {
    Done = Ended->error() == QKeychain::NoError;
    Finished = true;
    Loop.quit();
  });
  QTimer::singleShot(5000, &Loop, &QEventLoop::quit);
  Job->start();
  if (!Finished) Loop.exec();
  return Done;
}

}  // namespace

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
  // It is there once a password can be kept. Until a first call has the bus
  // start its helper, it is not on the bus at all; the first write makes the
  // login keyring. Under load that write can leave the default keyring naming
  // one that is never made, and the daemon stays so: then it starts afresh.
  // The store takes a failed write for a service that is gone, so the probe
  // writes past the store.
  for (int Attempt = 0; Attempt < 3; ++Attempt) {
    if (Keyring.state() != QProcess::NotRunning) {
      Keyring.terminate();
      Keyring.waitForFinished();
    }
    QDir(Folder.filePath(QStringLiteral(".local/share/keyrings"))).removeRecursively();
    Keyring.start(Program,
                  {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!Keyring.waitForStarted(10000)) return QStringLiteral("gnome-keyring-daemon did not start");
    Keyring.write("test");  // the login keyring's password: it is made with it, unlocked
    Keyring.closeWriteChannel();
    QElapsedTimer Waited;
    Waited.start();
    while (Waited.elapsed() < 10000) {
      if (Keyring.state() != QProcess::Running)
        return QStringLiteral("gnome-keyring-daemon ended: ") + QString::fromLocal8Bit(Keyring.readAllStandardError());
      if (RunProbe(new QKeychain::WritePasswordJob(QStringLiteral("tobrinel-probe")))) {
        RunProbe(new QKeychain::DeletePasswordJob(QStringLiteral("tobrinel-probe")));
        return {};
      }
      QThread::msleep(100);
    }
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
