#pragma once

// Small servers on loopback that misbehave on purpose: each listens on an
// address of its own (127.0.0.2 stands for another host), logs every request
// it receives byte for byte, and answers through the test's handler, which
// may trickle, cut off, or send a body of any length a piece at a time.
// TTinyBook answers like a plain CardDAV address book, so that a handler
// only changes what the test is about.

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QUrl>

#include <functional>
#include <map>
#include <vector>

struct THostileRequest {
  QByteArray Verb;
  QByteArray Target;
  QMap<QByteArray, QByteArray> Headers;  // names in lower case
  QByteArray Head;                       // the request line and headers as they came
  QByteArray Body;
};

struct THostileAnswer {
  using THeaders = std::vector<std::pair<QByteArray, QByteArray>>;
  THostileAnswer(int AStatus = 200, QByteArray AReason = "OK", THeaders AHeaders = {}, QByteArray ABody = {})
      : Status(AStatus), Reason(std::move(AReason)), Headers(std::move(AHeaders)), Body(std::move(ABody)) {}
  int Status;
  QByteArray Reason;
  THeaders Headers;
  QByteArray Body;
  bool Silent = false;  // never answer
  int DripMs = 0;       // the body a byte at a time, this far apart
  qint64 CutAt = -1;    // the connection closed after this many bytes of the body
  // After Body, pieces until an empty one; the body then ends with the connection.
  std::function<QByteArray()> More;
};

class THostileServer : public QObject {
public:
  using THandler = std::function<THostileAnswer(const THostileRequest&)>;
  // Certificate and Key given: TLS.
  explicit THostileServer(THandler Handler, const char* Address = "127.0.0.1", const QByteArray& CertificatePem = {},
                          const QByteArray& KeyPem = {});
  ~THostileServer() override;
  QUrl Url(const QByteArray& Path) const;
  int Port() const;
  std::vector<THostileRequest> Requests;
  // "VERB target" of each request, for compact asserts.
  std::vector<QByteArray> Lines() const;
  THandler Handler;

private:
  void Serve(class QTcpSocket* Socket);
  void Send(class QTcpSocket* Socket, const THostileAnswer& Answer);
  QTcpServer* Server;
  QByteArray Address;
  bool Tls;
  QHash<class QTcpSocket*, QByteArray> Pending;
};

THostileAnswer HostileMultiStatus(const QByteArray& Inner);

// One address book at Path ("/dav/ann/book/") with its cards, answering
// PROPFIND, sync-collection, multiget, PUT and DELETE; Extra* are put into
// the answers as they are, for members a hostile server makes up.
class TTinyBook {
public:
  explicit TTinyBook(QByteArray APath = "/dav/ann/book/") : Path(std::move(APath)) {}
  THostileAnswer Answer(const THostileRequest& Request);
  void Put(const QByteArray& Name, const QByteArray& Text, QByteArray Etag = {});

  QByteArray Path;
  std::map<QByteArray, std::pair<QByteArray, QByteArray>> Cards;  // href: ETag, text
  QByteArray ExtraListing;    // more responses in PROPFIND and sync-collection answers
  QByteArray ExtraMultiget;   // more responses in multiget answers
  QByteArray Principal;       // current-user-principal of "/", when not empty
  QByteArray Home;            // addressbook-home-set of the principal
  QByteArray User, Password;  // Basic authentication required when User is set
  int Version = 0;
};

QByteArray CardText(const QByteArray& Uid, const QByteArray& Family, const QByteArray& Given = "Ann");
