#include "HostileServer.h"

#include <QRegularExpression>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

THostileServer::THostileServer(THandler AHandler, const char* AAddress, const QByteArray& CertificatePem,
                               const QByteArray& KeyPem)
    : Handler(std::move(AHandler)), Address(AAddress), Tls(!CertificatePem.isEmpty()) {
  if (Tls) {
    auto* Secure = new QSslServer(this);
    QSslConfiguration Config = QSslConfiguration::defaultConfiguration();
    Config.setLocalCertificate(QSslCertificate(CertificatePem));
    Config.setPrivateKey(QSslKey(KeyPem, QSsl::Rsa));
    Config.setPeerVerifyMode(QSslSocket::VerifyNone);
    Secure->setSslConfiguration(Config);
    Server = Secure;
  } else {
    Server = new QTcpServer(this);
  }
  Server->listen(QHostAddress(QString::fromLatin1(Address)), 0);
  connect(Server, &QTcpServer::pendingConnectionAvailable, this, [this] {
    while (QTcpSocket* Socket = Server->nextPendingConnection()) {
      Socket->setParent(this);
      connect(Socket, &QTcpSocket::readyRead, this, [this, Socket] { Serve(Socket); });
      if (Socket->bytesAvailable()) Serve(Socket);
    }
  });
}

THostileServer::~THostileServer() {
  for (QObject* Child : children())
    if (auto* Socket = qobject_cast<QTcpSocket*>(Child)) Socket->disconnect(this);
}

int THostileServer::Port() const { return Server->serverPort(); }

QUrl THostileServer::Url(const QByteArray& Path) const {
  return QUrl::fromEncoded((Tls ? "https://" : "http://") + Address + ':' + QByteArray::number(Port()) + Path);
}

std::vector<QByteArray> THostileServer::Lines() const {
  std::vector<QByteArray> Out;
  for (const THostileRequest& R : Requests) Out.push_back(R.Verb + ' ' + R.Target);
  return Out;
}

void THostileServer::Serve(QTcpSocket* Socket) {
  QByteArray& Buffer = Pending[Socket];
  Buffer += Socket->readAll();
  for (;;) {
    const qsizetype HeadEnd = Buffer.indexOf("\r\n\r\n");
    if (HeadEnd < 0) return;
    THostileRequest Request;
    Request.Head = Buffer.left(HeadEnd);
    const QList<QByteArray> Lines = Request.Head.split('\n');
    const QList<QByteArray> First = Lines.first().trimmed().split(' ');
    Request.Verb = First.value(0);
    Request.Target = First.value(1);
    for (qsizetype I = 1; I < Lines.size(); ++I) {
      const qsizetype Colon = Lines[I].indexOf(':');
      if (Colon > 0) Request.Headers[Lines[I].left(Colon).trimmed().toLower()] = Lines[I].mid(Colon + 1).trimmed();
    }
    const qsizetype Length = Request.Headers.value("content-length", "0").toLongLong();
    if (Buffer.size() < HeadEnd + 4 + Length) return;
    Request.Body = Buffer.mid(HeadEnd + 4, Length);
    Buffer.remove(0, HeadEnd + 4 + Length);
    Requests.push_back(Request);
    const THostileAnswer Answer = Handler(Request);
    if (Answer.Silent) return;
    Send(Socket, Answer);
    if (Answer.DripMs > 0 || Answer.CutAt >= 0 || Answer.More) return;  // the connection ends with the answer
  }
}

void THostileServer::Send(QTcpSocket* Socket, const THostileAnswer& Answer) {
  QByteArray Out = "HTTP/1.1 " + QByteArray::number(Answer.Status) + ' ' + Answer.Reason + "\r\n";
  for (const auto& [Name, Value] : Answer.Headers) Out += Name + ": " + Value + "\r\n";
  if (!Answer.More) Out += "Content-Length: " + QByteArray::number(Answer.Body.size()) + "\r\n";
  Out += "Connection: " + QByteArray(Answer.More || Answer.DripMs || Answer.CutAt >= 0 ? "close" : "keep-alive") +
         "\r\n\r\n";
  if (Answer.DripMs > 0) {
    Socket->write(Out);
    auto* Timer = new QTimer(Socket);
    auto Left = std::make_shared<QByteArray>(Answer.Body);
    connect(Timer, &QTimer::timeout, Socket, [Socket, Left, Timer] {
      if (Left->isEmpty()) {
        Timer->stop();
        Socket->disconnectFromHost();
        return;
      }
      Socket->write(Left->left(1));
      Left->remove(0, 1);
    });
    Timer->start(Answer.DripMs);
    return;
  }
  if (Answer.CutAt >= 0) {
    Socket->write(Out + Answer.Body.left(Answer.CutAt));
    Socket->disconnectFromHost();
    return;
  }
  Socket->write(Out + Answer.Body);
  if (!Answer.More) return;
  // The rest as the client takes it, never more than a little ahead.
  auto More = Answer.More;
  auto Feed = [Socket, More] {
    while (Socket->bytesToWrite() < 256 * 1024) {
      const QByteArray Piece = More();
      if (Piece.isEmpty()) {
        Socket->disconnect();
        Socket->disconnectFromHost();
        return;
      }
      Socket->write(Piece);
    }
  };
  connect(Socket, &QTcpSocket::bytesWritten, Socket, Feed);
  Feed();
}

THostileAnswer HostileMultiStatus(const QByteArray& Inner) {
  THostileAnswer A;
  A.Status = 207;
  A.Reason = "Multi-Status";
  A.Headers = {{"Content-Type", "application/xml; charset=utf-8"}};
  A.Body = "<?xml version=\"1.0\"?>\r\n<d:multistatus xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\">" +
           Inner + "</d:multistatus>\r\n";
  return A;
}

QByteArray CardText(const QByteArray& Uid, const QByteArray& Family, const QByteArray& Given) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + Uid + "\r\nN:" + Family + ";" + Given + ";;;\r\nFN:" + Given + " " +
         Family + "\r\nEND:VCARD\r\n";
}

void TTinyBook::Put(const QByteArray& Name, const QByteArray& Text, QByteArray Etag) {
  if (Etag.isEmpty()) Etag = "\"" + QByteArray::number(++Version) + "\"";
  Cards[Path + Name] = {Etag, Text};
}

THostileAnswer TTinyBook::Answer(const THostileRequest& Request) {
  if (!User.isEmpty() && Request.Headers.value("authorization") != "Basic " + (User + ':' + Password).toBase64()) {
    THostileAnswer Refused;
    Refused.Status = 401;
    Refused.Reason = "Unauthorized";
    Refused.Headers = {{"WWW-Authenticate", "Basic realm=\"cards\""}};
    return Refused;
  }
  auto Escaped = [](QByteArray Text) { return Text.replace('&', "&amp;").replace('<', "&lt;").replace('\r', "&#13;"); };
  auto CardResponse = [&](const QByteArray& Href, bool WithData) {
    const auto& [Etag, Text] = Cards.at(Href);
    return "<d:response><d:href>" + Href + "</d:href><d:propstat><d:prop><d:getetag>" + Escaped(Etag) + "</d:getetag>" +
           (WithData ? "<card:address-data>" + Escaped(Text) + "</card:address-data>" : QByteArray()) +
           "<d:getcontenttype>text/vcard</d:getcontenttype></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
           "</d:response>";
  };
  const QByteArray BookSelf =
      "<d:response><d:href>" + Path +
      "</d:href><d:propstat><d:prop><d:resourcetype><d:collection/><card:addressbook/>"
      "</d:resourcetype><d:displayname>Friends</d:displayname></d:prop></d:propstat></d:response>";
  const QByteArray Token = "<d:sync-token>http://t/" + QByteArray::number(Version) + "</d:sync-token>";
  const QByteArray& Target = Request.Target;
  if (Request.Verb == "PROPFIND" && Target != Path) {
    if (!Principal.isEmpty() && (Target == "/" || Target == "/.well-known/carddav"))
      return HostileMultiStatus("<d:response><d:href>/</d:href><d:propstat><d:prop><d:current-user-principal><d:href>" +
                                Principal + "</d:href></d:current-user-principal></d:prop></d:propstat></d:response>");
    if (!Home.isEmpty())
      return HostileMultiStatus("<d:response><d:href>" + Target +
                                "</d:href><d:propstat><d:prop><d:resourcetype><d:collection/></d:resourcetype>"
                                "<d:current-user-principal><d:href>" +
                                Target + "</d:href></d:current-user-principal><card:addressbook-home-set><d:href>" +
                                Home + "</d:href></card:addressbook-home-set></d:prop></d:propstat></d:response>" +
                                (Target == Home ? BookSelf : QByteArray()));
    return {404, "Not Found"};
  }
  if (Request.Verb == "PROPFIND") {
    QByteArray Inner = BookSelf;
    if (Request.Headers.value("depth") == "1") {
      Inner.replace("</d:displayname>", "</d:displayname>" + Token);
      for (const auto& [Href, Card] : Cards) Inner += CardResponse(Href, false);
      Inner += ExtraListing;
    }
    return HostileMultiStatus(Inner);
  }
  if (Request.Verb == "REPORT" && Request.Body.contains("sync-collection")) {
    QByteArray Inner;
    for (const auto& [Href, Card] : Cards) Inner += CardResponse(Href, false);
    return HostileMultiStatus(Inner + ExtraListing + Token);
  }
  if (Request.Verb == "REPORT") {
    QByteArray Inner;
    static const QRegularExpression Href(QStringLiteral("<(?:\\w+:)?href>([^<]*)</(?:\\w+:)?href>"));
    for (auto It = Href.globalMatch(QString::fromUtf8(Request.Body)); It.hasNext();) {
      const QByteArray Wanted = It.next().captured(1).toUtf8();
      if (Cards.count(Wanted)) Inner += CardResponse(Wanted, true);
    }
    return HostileMultiStatus(Inner + ExtraMultiget);
  }
  if (Request.Verb == "PUT") {
    Cards[Target] = {"\"" + QByteArray::number(++Version) + "\"", Request.Body};
    return {201, "Created", {{"ETag", Cards[Target].first}}};
  }
  if (Request.Verb == "DELETE") {
    Cards.erase(Target);
    ++Version;
    return {204, "No Content"};
  }
  return {405, "Method Not Allowed"};
}
