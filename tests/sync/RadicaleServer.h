#pragma once

// A real CardDAV server for the tests: Debian's radicale on a free local port,
// with its own storage folder and one htpasswd user, optionally over TLS with
// a self-signed certificate. It can be stopped, killed and started again on
// the same port and storage, and it plays "the phone": cards put, changed and
// deleted behind the client's back over plain HTTP requests of its own.
// The server process dies with the fixture, and with the test process.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <utility>
#include <vector>

class QNetworkAccessManager;

struct TRadicaleOptions {
  bool Tls = false;
};

struct THttpReply {
  int Status = 0;  // 0: no answer at all
  QByteArray Body;
  QByteArray Etag;
};

class TRadicaleServer {
public:
  static constexpr const char* User = "tob";
  static constexpr const char* Password = "secret";

  explicit TRadicaleServer(TRadicaleOptions Options = {});
  ~TRadicaleServer();
  TRadicaleServer(const TRadicaleServer&) = delete;
  TRadicaleServer& operator=(const TRadicaleServer&) = delete;

  // Starts the server (on the port it had before, once it has one) and waits
  // until it accepts connections. False with Problem() when it cannot.
  bool Start();
  void Stop();  // SIGTERM, then waits for the process
  void Kill();  // SIGKILL: the server dies as in a crash
  bool Restart() {
    Stop();
    return Start();
  }
  bool IsRunning() const { return Process && Process->state() != QProcess::NotRunning; }
  QString Problem() const { return LastProblem; }

  int Port() const { return PortNumber; }
  QUrl Root() const;                    // http(s)://127.0.0.1:PORT/
  QUrl Url(const QString& Path) const;  // Path from the root, percent-encoded
  QString StorageFolder() const { return Dir.path() + QStringLiteral("/storage"); }
  // SHA-256 of the TLS certificate as openssl prints it (colon hex); empty without TLS.
  QString CertificateFingerprint() const { return Fingerprint; }

  // An address book at /tob/NAME/ made with an extended MKCOL; its URL.
  QUrl MakeAddressBook(const QString& Name, const QString& DisplayName);
  // A calendar (not an address book) at /tob/NAME/.
  QUrl MakeCalendar(const QString& Name);

  // Plain HTTP as the phone sends it, authenticated, certificate errors ignored.
  THttpReply Http(const QByteArray& Verb, const QString& Path, const QByteArray& Body = {},
                  const std::vector<std::pair<QByteArray, QByteArray>>& Headers = {});
  // PUT of a vCard at Path (replacing what is there); its ETag, empty on failure.
  QByteArray PutCard(const QString& Path, const QByteArray& Text);
  THttpReply GetCard(const QString& Path) { return Http("GET", Path); }
  bool DeleteCard(const QString& Path);

private:
  bool MakeCertificate();
  bool WriteConfig();
  bool WaitForPort(int TimeLimitMs);

  TRadicaleOptions Options;
  QTemporaryDir Dir;
  std::unique_ptr<QProcess> Process;
  std::unique_ptr<QNetworkAccessManager> Net;
  int PortNumber = 0;
  QString Fingerprint;
  QString LastProblem;
};

// A vCard 3.0 text with CR LF line ends: UID, FN, N from the name, and the extra lines given.
// One server started for the whole process (benchmarks); throws when it cannot start.
TRadicaleServer& SharedRadicale();

QByteArray MakeCard(const QString& Uid, const QString& Given, const QString& Family, const QByteArray& Extra = {});
