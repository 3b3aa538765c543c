#pragma once

// A tiny HTTP server on a local port for what Radicale cannot show: Digest
// authentication, redirects, silence, odd answers. Each request is answered by
// the test's handler on the test's own thread, one request a connection.

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <functional>
#include <vector>

struct TFakeRequest {
  QByteArray Verb;
  QByteArray Target;                     // the request line's target, as sent
  QMap<QByteArray, QByteArray> Headers;  // names in lower case
  QByteArray Body;
};

struct TFakeResponse {
  using THeaders = std::vector<std::pair<QByteArray, QByteArray>>;
  TFakeResponse(int AStatus = 200, QByteArray AReason = "OK", THeaders AHeaders = {}, QByteArray ABody = {})
      : Status(AStatus), Reason(std::move(AReason)), Headers(std::move(AHeaders)), Body(std::move(ABody)) {}
  static TFakeResponse Silence() {
    TFakeResponse Response;
    Response.Silent = true;
    return Response;
  }
  static TFakeResponse Hangup() {
    TFakeResponse Response;
    Response.Closed = true;
    return Response;
  }
  int Status;
  QByteArray Reason;
  THeaders Headers;
  QByteArray Body;
  bool Silent = false;  // never answer
  bool Closed = false;  // close the connection without an answer
};

class TFakeDavServer : public QObject {
public:
  explicit TFakeDavServer(std::function<TFakeResponse(const TFakeRequest&)> Handler);
  int Port() const { return Server.serverPort(); }
  QUrl Url(const QByteArray& Path, const char* Host = "127.0.0.1") const;
  std::vector<TFakeRequest> Requests;

private:
  void Serve(class QTcpSocket* Socket);
  QTcpServer Server;
  QHash<class QTcpSocket*, QByteArray> Pending;  // requests still coming in
  std::function<TFakeResponse(const TFakeRequest&)> Handler;
};

TFakeResponse MultiStatus(const QByteArray& Responses, const QByteArray& After = {});
// True when the request carries a Digest answer for User and Password to Nonce.
bool DigestAccepted(const TFakeRequest& Request, const QByteArray& User, const QByteArray& Password,
                    const QByteArray& Nonce);
