#include "RadicaleServer.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>
#include <stdexcept>
#include <sys/prctl.h>

namespace {

int FreePort() {
  QTcpServer Probe;
  if (!Probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return Probe.serverPort();
}

QString Tail(const QString& Path) {
  QFile Log(Path);
  if (!Log.open(QIODevice::ReadOnly)) return {};
  const QByteArray Text = Log.readAll();
  return QString::fromUtf8(Text.right(600)).simplified();
}

}  // namespace

TRadicaleServer::TRadicaleServer(TRadicaleOptions AOptions)
    : Options(AOptions), Net(std::make_unique<QNetworkAccessManager>()) {
  if (!Dir.isValid()) {
    LastProblem = QStringLiteral("no temporary folder");
    return;
  }
  QFile Users(Dir.filePath(QStringLiteral("users")));
  if (Users.open(QIODevice::WriteOnly)) Users.write(QByteArray(User) + ':' + Password + '\n');
  if (Options.Tls) MakeCertificate();
}

TRadicaleServer::~TRadicaleServer() { Kill(); }

bool TRadicaleServer::MakeCertificate() {
  QProcess OpenSsl;
  OpenSsl.setWorkingDirectory(Dir.path());
  OpenSsl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                            "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-days", "2", "-subj",
                                            "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"});
  if (!OpenSsl.waitForFinished(30000) || OpenSsl.exitCode() != 0) {
    LastProblem = QStringLiteral("openssl req failed: ") + QString::fromUtf8(OpenSsl.readAllStandardError());
    return false;
  }
  OpenSsl.start(QStringLiteral("openssl"), {"x509", "-in", "cert.pem", "-noout", "-fingerprint", "-sha256"});
  if (!OpenSsl.waitForFinished(30000) || OpenSsl.exitCode() != 0) return false;
  // "sha256 Fingerprint=AB:CD:..."
  const QString Line = QString::fromUtf8(OpenSsl.readAllStandardOutput()).trimmed();
  Fingerprint = Line.mid(Line.indexOf(QLatin1Char('=')) + 1).toUpper();
  return !Fingerprint.isEmpty();
}

bool TRadicaleServer::WriteConfig() {
  QString Config = QStringLiteral(
                       "[server]\nhosts = 127.0.0.1:%1\n"
                       "[auth]\ntype = htpasswd\nhtpasswd_filename = %2/users\nhtpasswd_encryption = plain\ndelay = 0\n"
                       "[rights]\ntype = owner_only\n"
                       "[storage]\nfilesystem_folder = %2/storage\n"
                       "[web]\ntype = none\n"
                       "[logging]\nlevel = warning\n")
                       .arg(PortNumber)
                       .arg(Dir.path());
  if (Options.Tls)
    Config.replace(QStringLiteral("[auth]"),
                   QStringLiteral("ssl = True\ncertificate = %1/cert.pem\nkey = %1/key.pem\n[auth]").arg(Dir.path()));
  QFile File(Dir.filePath(QStringLiteral("config")));
  return File.open(QIODevice::WriteOnly | QIODevice::Truncate) && File.write(Config.toUtf8()) > 0;
}

bool TRadicaleServer::Start() {
  if (!LastProblem.isEmpty() && !Dir.isValid()) return false;
  if (Options.Tls && Fingerprint.isEmpty()) return false;
  const QString Program = QStandardPaths::findExecutable(QStringLiteral("radicale"));
  if (Program.isEmpty()) {
    LastProblem = QStringLiteral("radicale is not installed (scripts/setup.sh installs it)");
    return false;
  }
  if (IsRunning()) return true;
  const bool FirstStart = PortNumber == 0;
  // A fresh port can be taken by another test between the probe and the start: then another one.
  for (int Attempt = 0; Attempt < (FirstStart ? 5 : 1); ++Attempt) {
    if (FirstStart) PortNumber = FreePort();
    if (!WriteConfig()) {
      LastProblem = QStringLiteral("cannot write the server's configuration");
      return false;
    }
    Process = std::make_unique<QProcess>();
    Process->setProgram(Program);
    Process->setArguments({QStringLiteral("-C"), Dir.filePath(QStringLiteral("config"))});
    Process->setStandardOutputFile(Dir.filePath(QStringLiteral("log")), QIODevice::Append);
    Process->setStandardErrorFile(Dir.filePath(QStringLiteral("log")), QIODevice::Append);
    // The server must not outlive a test process that crashes or is killed.
    Process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    Process->start();
    if (Process->waitForStarted(10000) && WaitForPort(20000)) {
      LastProblem.clear();
      return true;
    }
    LastProblem = QStringLiteral("radicale did not start: ") + Tail(Dir.filePath(QStringLiteral("log")));
    Kill();
  }
  return false;
}

bool TRadicaleServer::WaitForPort(int TimeLimitMs) {
  const QDeadlineTimer Deadline(TimeLimitMs);
  while (!Deadline.hasExpired()) {
    QTcpSocket Socket;
    Socket.connectToHost(QHostAddress::LocalHost, PortNumber);
    if (Socket.waitForConnected(200)) return true;
    // Also notices a server that ended, which a plain sleep would not.
    if (Process->state() == QProcess::NotRunning || Process->waitForFinished(50)) return false;
  }
  return false;
}

void TRadicaleServer::Stop() {
  if (!Process) return;
  if (Process->state() != QProcess::NotRunning) {
    Process->terminate();
    if (!Process->waitForFinished(10000)) {
      Process->kill();
      Process->waitForFinished(5000);
    }
  }
  Process.reset();
}

void TRadicaleServer::Kill() {
  if (!Process) return;
  if (Process->state() != QProcess::NotRunning) {
    Process->kill();
    Process->waitForFinished(5000);
  }
  Process.reset();
}

QUrl TRadicaleServer::Root() const { return Url(QStringLiteral("/")); }

QUrl TRadicaleServer::Url(const QString& Path) const {
  return QUrl::fromEncoded(
      QStringLiteral("%1://127.0.0.1:%2").arg(Options.Tls ? "https" : "http").arg(PortNumber).toUtf8() + Path.toUtf8());
}

THttpReply TRadicaleServer::Http(const QByteArray& Verb, const QString& Path, const QByteArray& Body,
                                 const std::vector<std::pair<QByteArray, QByteArray>>& Headers) {
  QNetworkRequest Request(Url(Path));
  Request.setRawHeader("Authorization", "Basic " + (QByteArray(User) + ':' + Password).toBase64());
  for (const auto& [Name, Value] : Headers) Request.setRawHeader(Name, Value);
  QNetworkReply* Reply = Net->sendCustomRequest(Request, Verb, Body);
  Reply->ignoreSslErrors();
  QEventLoop Loop;
  QObject::connect(Reply, &QNetworkReply::finished, &Loop, &QEventLoop::quit);
  QTimer::singleShot(20000, &Loop, [Reply] { Reply->abort(); });
  if (!Reply->isFinished()) Loop.exec();
  THttpReply Out;
  Out.Status = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  Out.Body = Reply->readAll();
  Out.Etag = Reply->rawHeader("ETag");
  Reply->deleteLater();
  return Out;
}

QUrl TRadicaleServer::MakeAddressBook(const QString& Name, const QString& DisplayName) {
  const QString Path = QStringLiteral("/%1/%2/").arg(User, Name);
  const QByteArray Body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<D:mkcol xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:set><D:prop>"
      "<D:resourcetype><D:collection/><C:addressbook/></D:resourcetype>"
      "<D:displayname>" +
      DisplayName.toHtmlEscaped().toUtf8() + "</D:displayname></D:prop></D:set></D:mkcol>";
  const THttpReply Reply = Http("MKCOL", Path, Body, {{"Content-Type", "application/xml; charset=utf-8"}});
  if (Reply.Status != 201) {
    LastProblem = QStringLiteral("MKCOL %1 answered %2").arg(Path).arg(Reply.Status);
    return {};
  }
  return Url(Path);
}

QUrl TRadicaleServer::MakeCalendar(const QString& Name) {
  const QString Path = QStringLiteral("/%1/%2/").arg(User, Name);
  const QByteArray Body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<C:mkcalendar xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:set><D:prop>"
      "<D:displayname>Dates</D:displayname></D:prop></D:set></C:mkcalendar>";
  const THttpReply Reply = Http("MKCALENDAR", Path, Body, {{"Content-Type", "application/xml; charset=utf-8"}});
  return Reply.Status == 201 ? Url(Path) : QUrl();
}

QByteArray TRadicaleServer::PutCard(const QString& Path, const QByteArray& Text) {
  const THttpReply Reply = Http("PUT", Path, Text, {{"Content-Type", "text/vcard; charset=utf-8"}});
  return Reply.Status == 201 || Reply.Status == 204 || Reply.Status == 200 ? Reply.Etag : QByteArray();
}

bool TRadicaleServer::DeleteCard(const QString& Path) {
  const int Status = Http("DELETE", Path).Status;
  return Status == 200 || Status == 204;
}

QByteArray MakeCard(const QString& Uid, const QString& Given, const QString& Family, const QByteArray& Extra) {
  QByteArray Card = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + Uid.toUtf8() + "\r\nFN:" + Given.toUtf8() + ' ' +
                    Family.toUtf8() + "\r\nN:" + Family.toUtf8() + ';' + Given.toUtf8() + ";;;\r\n";
  Card += Extra;
  Card += "END:VCARD\r\n";
  return Card;
}

TRadicaleServer& SharedRadicale() {
  static TRadicaleServer Radicale;
  static const bool Started = [] {
    if (!Radicale.Start()) throw std::runtime_error(Radicale.Problem().toStdString());
    return true;
  }();
  (void)Started;
  return Radicale;
}
