#pragma once

// The CardDAV client: finds a user's address books, asks one for its changes
// since a sync token, lists, fetches and writes its cards. Every call waits
// for its answers in a local event loop, so a window stays responsive while it
// waits and its Cancel reaches the requests in flight. Qt Core and Network only.
//
// Hrefs are the paths the server gives (from the root, percent-encoding as the
// server wrote it; relative ones made absolute); Put, Delete and WriteMany
// resolve them against the server URL the client was made with.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QSet>
#include <QUrl>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <vector>

class QIODevice;
class QNetworkAccessManager;
class QSslCertificate;
class QSslError;

// OtherServer: discovery leads to another server (Elsewhere), where nothing
// was sent; the person may choose to go on there.
enum class ESyncErrorKind { Auth, NotFound, NotAddressBook, Server, TimeOut, Tls, Network, Cancelled, OtherServer };

// Every failure of the client: a one-line message for people and its kind.
class ESyncError : public std::runtime_error {
public:
  ESyncError(ESyncErrorKind AKind, const QString& AMessage, int AHttpStatus = 0, const QString& AFingerprint = {})
      : std::runtime_error(AMessage.toStdString()),
        Kind(AKind),
        Message(AMessage),
        HttpStatus(AHttpStatus),
        Fingerprint(AFingerprint) {}
  ESyncErrorKind Kind;
  QString Message;
  int HttpStatus;       // 0 when no HTTP answer came with it
  QString Fingerprint;  // Tls: SHA-256 of the refused certificate, colon hex, for the person to trust
  QString Why;          // Tls: what is wrong with it, for the question ("it is self-signed")
  QUrl Elsewhere;       // OtherServer: where discovery leads
};

// What is wrong with a refused certificate, in words ("it is self-signed;
// it expired on 2026-01-31"), for the person deciding whether to trust it.
QString CertificateProblems(const QList<QSslError>& Errors, const QSslCertificate& Certificate, const QString& Host);

struct TAddressBookInfo {
  QUrl Url;
  QString DisplayName;  // the last part of its path when the server gives none
};

struct TCardVersion {
  QString Href;
  QString Etag;  // with its quotes, as the server gave it
};

struct TCard {
  QString Href;
  QString Etag;
  QByteArray Text;        // byte for byte as the server holds it
  bool TooLarge = false;  // over MaxCardBytes: Text is empty, the card was not read
};

// Changes: the lists and the new token hold. TokenRejected and Unsupported:
// the lists are empty and the caller lists the whole book instead.
enum class ESyncOutcome { Changes, TokenRejected, Unsupported };

struct TSyncChanges {
  ESyncOutcome Outcome = ESyncOutcome::Changes;
  std::vector<TCardVersion> Changed;  // new or changed cards
  QStringList Removed;
  QString Token;
};

struct TEtagListing {
  std::vector<TCardVersion> Cards;
  QString SyncToken;  // empty when the server keeps none
};

struct TWriteJob {
  enum EKind { Put, Delete } Kind = Put;
  QString Href;
  QByteArray Text;  // Put only
  QString Etag;     // Put: empty for a new card (If-None-Match: *), else If-Match; Delete: If-Match when given
};

// Done: written, or for a Delete gone already. Conflict: 412, the card
// changed (or came into being) on the server meanwhile. Refused: the server
// turned down this one card (4xx); Problem says why.
enum class EWriteOutcome { Done, Conflict, Refused };

struct TWriteResult {
  EWriteOutcome Outcome = EWriteOutcome::Done;
  QString Etag;           // Put Done: the card's new ETag (empty only when the server gives none at all)
  QByteArray ServerText;  // Put Done: the card as the server now holds it, when it gave no ETag to the PUT
  int HttpStatus = 0;
  QString Problem;
};

class TCardDavClient : public QObject {
  Q_OBJECT
public:
  static constexpr int DefaultTimeLimitMs = 30000;
  static constexpr int MultiGetBatch = 100;
  static constexpr int DefaultParallel = 4;
  static constexpr int MaxRedirects = 5;
  // A reply that brings less than this in a time limit is given up.
  static constexpr qint64 MinBytesPerTimeLimit = 1024;

  // TrustedSha256: a certificate fingerprint in any hex form, or empty.
  // TimeLimitMs: how long a request may go without any answer.
  TCardDavClient(const QUrl& Server, const QString& User, const QString& Password, const QString& TrustedSha256 = {},
                 int TimeLimitMs = DefaultTimeLimitMs, QObject* Parent = nullptr);
  ~TCardDavClient() override;

  // The address books at Url (the server URL when empty): Url itself when it
  // is one, else those of the user found from it. May be empty.
  std::vector<TAddressBookInfo> Discover(const QUrl& Url = {});
  // One sync-collection request (more only when the server splits its answer).
  TSyncChanges SyncCollection(const QUrl& Book, const QString& Token);
  // Every card of the book with its ETag, and the book's sync token.
  TEtagListing ListEtags(const QUrl& Book);
  // The cards of Hrefs, MultiGetBatch to a request, each handed to OnCard as it
  // is read; hrefs the server no longer has are left out.
  void MultiGet(const QUrl& Book, const QStringList& Hrefs, const std::function<void(TCard&&)>& OnCard);
  std::vector<TCard> MultiGet(const QUrl& Book, const QStringList& Hrefs);
  TWriteResult Put(const QString& Href, const QByteArray& Text, const QString& Etag);
  TWriteResult Delete(const QString& Href, const QString& Etag);
  // Runs the jobs with up to Parallel() requests at once and reports each
  // result as it comes. After a failure no further job starts; those in
  // flight still report, then the first failure is thrown.
  void WriteMany(const std::vector<TWriteJob>& Jobs,
                 const std::function<void(size_t Index, const TWriteResult& Result)>& OnResult);

  // Aborts the requests in flight; this call and every later one throw
  // ESyncError Cancelled. Safe from any thread.
  void Cancel();
  bool IsCancelled() const { return Cancelled; }

  int Parallel() const { return MaxParallel; }
  void SetParallel(int Count) { MaxParallel = Count < 1 ? 1 : Count; }
  // HTTP requests sent so far, redirect hops included (authentication
  // retries inside Qt are not).
  int RequestCount() const { return Requests; }
  // The fingerprint of the last certificate refused, empty when none.
  QString RefusedFingerprint() const { return LastRefusedFingerprint; }
  // Members of listings and multigets whose href lies outside the address
  // book (or holds control characters): never handed on. Distinct hrefs.
  int IgnoredCount() const { return int(Ignored.size()); }
  // Host and port of the server this client may talk to, for messages.
  QString ServerName() const;

  // The href of a new card named FileName (percent-encoded) in Book.
  static QString MemberHref(const QUrl& Book, const QString& FileName);
  // SHA-256 as colon hex in capitals ("AB:01:..."); NormalFingerprint takes any
  // hex form to that one, and anything else to empty.
  static QString CertificateFingerprint(const QSslCertificate& Certificate);
  static QString NormalFingerprint(const QString& Text);

private:
  struct TExchange;
  struct TAnswer;

  using TReadBody = std::function<void(const TAnswer& Head, QIODevice& Body)>;
  // Read (when given) reads a 207 answer's body as it arrives; any other
  // answer's body is kept in the answer, up to a limit.
  TAnswer Request(const QByteArray& Verb, const QUrl& Url, const QByteArray& Body,
                  const std::vector<std::pair<QByteArray, QByteArray>>& Headers, const TReadBody& Read = {});
  TAnswer Propfind(const QUrl& Url, const char* Depth, const QByteArray& Body, const TReadBody& Read = {});
  // Throws unless Url is on the server this client was made for.
  void CheckOrigin(const QUrl& Url) const;
  bool Ours(const QUrl& Url) const;
  void Ignore(const QString& Href);
  // Lists X for Cancel and the password question, and arms its time limit.
  void Track(TExchange& X);
  void Launch(TExchange& X);
  void Finished(TExchange& X);
  void ThrowIfCancelled() const;
  QUrl UrlOf(const QString& Href) const;
  QString TimeLimitText() const;

  QNetworkAccessManager* Net;
  QUrl Server;
  QString User;
  QString Password;
  QString Trusted;
  int TimeLimitMs;
  int MaxParallel = DefaultParallel;
  int Requests = 0;
  std::atomic<bool> Cancelled{false};
  QString LastRefusedFingerprint;
  std::vector<TExchange*> Live;
  QSet<QString> Ignored;
};
