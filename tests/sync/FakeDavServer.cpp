#include "FakeDavServer.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTcpSocket>

TFakeDavServer::TFakeDavServer(std::function<TFakeResponse(const TFakeRequest&)> AHandler)
    : Handler(std::move(AHandler)) {
  Server.listen(QHostAddress::LocalHost, 0);
  connect(&Server, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* Socket = Server.nextPendingConnection()) {
      Socket->setParent(this);
      connect(Socket, &QTcpSocket::readyRead, this, [this, Socket] { Serve(Socket); });
    }
  });
}

QUrl TFakeDavServer::Url(const QByteArray& Path, const char* Host) const {
  return QUrl::fromEncoded("http://" + QByteArray(Host) + ':' + QByteArray::number(Port()) + Path);
}

void TFakeDavServer::Serve(QTcpSocket* Socket) {
  QByteArray& Buffer = Pending[Socket];
  Buffer += Socket->readAll();
  const qsizetype HeadEnd = Buffer.indexOf("\r\n\r\n");
  if (HeadEnd < 0) return;
  TFakeRequest Request;
  const QList<QByteArray> Lines = Buffer.left(HeadEnd).split('\n');
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
  Pending.remove(Socket);
  Requests.push_back(Request);
  const TFakeResponse Response = Handler(Request);
  if (Response.Silent) return;
  if (Response.Closed) return Socket->abort();
  QByteArray Out = "HTTP/1.1 " + QByteArray::number(Response.Status) + ' ' + Response.Reason + "\r\n";
  for (const auto& [Name, Value] : Response.Headers) Out += Name + ": " + Value + "\r\n";
  Out +=
      "Content-Length: " + QByteArray::number(Response.Body.size()) + "\r\nConnection: close\r\n\r\n" + Response.Body;
  Socket->write(Out);
  Socket->disconnectFromHost();
}

TFakeResponse MultiStatus(const QByteArray& Responses, const QByteArray& After) {
  return {207,
          "Multi-Status",
          {{"Content-Type", "application/xml; charset=utf-8"}},
          "<?xml version=\"1.0\"?><d:multistatus xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\">" +
              Responses + After + "</d:multistatus>"};
}

bool DigestAccepted(const TFakeRequest& Request, const QByteArray& User, const QByteArray& Password,
                    const QByteArray& Nonce) {
  const QByteArray Header = Request.Headers.value("authorization");
  if (!Header.startsWith("Digest ")) return false;
  QMap<QByteArray, QByteArray> Fields;
  static const QRegularExpression Field(QStringLiteral("(\\w+)=(\"([^\"]*)\"|([^,\\s]*))"));
  for (auto It = Field.globalMatch(QString::fromLatin1(Header.mid(7))); It.hasNext();) {
    const auto Match = It.next();
    Fields[Match.captured(1).toLatin1()] =
        (Match.captured(3).isNull() ? Match.captured(4) : Match.captured(3)).toLatin1();
  }
  auto Md5 = [](const QByteArray& Text) { return QCryptographicHash::hash(Text, QCryptographicHash::Md5).toHex(); };
  const QByteArray Ha1 = Md5(User + ':' + Fields.value("realm") + ':' + Password);
  const QByteArray Ha2 = Md5(Request.Verb + ':' + Fields.value("uri"));
  const QByteArray Expected = Md5(Ha1 + ':' + Nonce + ':' + Fields.value("nc") + ':' + Fields.value("cnonce") + ':' +
                                  Fields.value("qop") + ':' + Ha2);
  return Fields.value("username") == User && Fields.value("nonce") == Nonce && Fields.value("response") == Expected;
}
