#include "CardDav.h"

#include "DavXml.h"

#include <QAuthenticator>
#include <QHash>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>
#include <optional>

using THeaders = std::vector<std::pair<QByteArray, QByteArray>>;

struct TCardDavClient::TAnswer {
  int Status = 0;
  QByteArray Reason;
  QByteArray Body;
  QByteArray Etag;
  QUrl Url;  // where it came from, after redirects
};

// One request on its way, through redirects, with its own time limit.
struct TCardDavClient::TExchange {
  QByteArray Verb;
  QUrl Url;
  QUrl FirstUrl;
  QByteArray Body;
  THeaders Headers;
  std::function<void()> OnDone;

  std::function<void()> OnReady;  // Stream: the 207's head is in

  QNetworkReply* Reply = nullptr;
  QNetworkReply* Rest = nullptr;           // Stream: a finished 207 whose body is still being read
  QTimer Timer;                            // silence
  QTimer Pace;                             // bytes in each time limit
  qint64 WindowBytes = 0, Downloaded = 0;  // of the answer
  int Hops = 0;
  int AuthTries = 0;
  bool TimedOut = false;
  bool TooSlow = false;
  bool TooLarge = false;
  bool Abandoned = false;  // Stream: the reader stopped before the end
  bool Stream = false;     // a 207's body is read by the caller as it arrives
  bool Ready = false;      // Stream: the 207's head is in
  bool Done = false;
  QString Fingerprint;
  QString TlsProblem;    // the trusted certificate fails a check that trust does not lift
  QString Why;           // of a refused certificate, in words
  bool Liftable = true;  // trusting the refused certificate would let it through
  TAnswer Answer;
  std::optional<ESyncError> Error;

  ~TExchange() {
    for (QNetworkReply* R : {Reply, Rest}) {
      if (!R) continue;
      R->disconnect();
      R->abort();
      R->deleteLater();
    }
  }
};

namespace {

const QByteArray XmlType = "application/xml; charset=utf-8";

QString Shown(const QUrl& Url) { return Url.toDisplayString(QUrl::RemoveUserInfo); }

bool Success(int Status) { return Status >= 200 && Status <= 299; }

bool IsVCardType(const QString& ContentType) {
  const QString Type = ContentType.trimmed().toLower();
  return Type.isEmpty() || Type.startsWith(QLatin1String("text/vcard")) ||
         Type.startsWith(QLatin1String("text/x-vcard")) || Type.startsWith(QLatin1String("text/directory"));
}

// A collection's URL ends with a slash, so that relative hrefs resolve inside it.
QUrl CollectionUrl(QUrl Url) {
  const QString Path = Url.path(QUrl::FullyEncoded);
  if (!Path.endsWith(QLatin1Char('/'))) Url.setPath(Path + QLatin1Char('/'), QUrl::TolerantMode);
  return Url;
}

// What a pinned certificate is excused from: that no authority the system
// knows vouches for it. Host name, dates and revocation are still checked.
bool TrustLifts(QSslError::SslError Error) {
  switch (Error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::InvalidCaCertificate:
    case QSslError::UnableToDecryptCertificateSignature:
    case QSslError::CertificateRejected:
    case QSslError::PathLengthExceeded:
    case QSslError::InvalidPurpose:
      return true;
    default:
      return false;
  }
}

}  // namespace

QString CertificateProblems(const QList<QSslError>& Errors, const QSslCertificate& Certificate, const QString& Host) {
  auto Day = [](const QDateTime& When) { return When.toUTC().date().toString(Qt::ISODate); };
  QStringList Names = Certificate.subjectAlternativeNames().values();
  if (Names.isEmpty()) Names = Certificate.subjectInfo(QSslCertificate::CommonName);
  // What trust cannot lift comes first: it decides.
  QStringList Why, Lifted;
  for (const QSslError& Error : Errors) {
    QString Reason;
    switch (Error.error()) {
      case QSslError::SelfSignedCertificate:
        Reason = QStringLiteral("it is self-signed");
        break;
      case QSslError::SelfSignedCertificateInChain:
      case QSslError::UnableToGetIssuerCertificate:
      case QSslError::UnableToGetLocalIssuerCertificate:
      case QSslError::UnableToVerifyFirstCertificate:
        Reason = QStringLiteral("it was issued by an authority this computer does not know");
        break;
      case QSslError::CertificateExpired:
        Reason = QStringLiteral("it expired on %1").arg(Day(Certificate.expiryDate()));
        break;
      case QSslError::CertificateNotYetValid:
        Reason = QStringLiteral("it is not valid before %1").arg(Day(Certificate.effectiveDate()));
        break;
      case QSslError::HostNameMismatch:
        Reason = Names.isEmpty()
                     ? QStringLiteral("it was issued for another name than %1").arg(Host)
                     : QStringLiteral("it was issued for %1, not %2").arg(Names.join(QLatin1String(", ")), Host);
        break;
      case QSslError::CertificateRevoked:
        Reason = QStringLiteral("it has been revoked");
        break;
      default:
        Reason = Error.errorString();
        break;
    }
    QStringList& Into = TrustLifts(Error.error()) ? Lifted : Why;
    if (!Into.contains(Reason)) Into << Reason;
  }
  return (Why + Lifted).join(QLatin1String("; "));
}

namespace {

// The kind of password check a 401's challenges ask for when Qt offers none
// of them ("Digest SHA-256"); empty when one of them will do.
QString UnsupportedChallenge(const QByteArray& Header) {
  static const QByteArrayList Schemes = {"basic", "digest", "ntlm", "negotiate", "bearer"};
  const QByteArray Lower = Header.toLower();
  struct TFound {
    QByteArray Scheme;
    qsizetype At;
  };
  std::vector<TFound> Found;
  for (const QByteArray& Scheme : Schemes)
    for (qsizetype At = Lower.indexOf(Scheme); At >= 0; At = Lower.indexOf(Scheme, At + 1)) {
      const bool Starts = At == 0 || Lower[At - 1] == ' ' || Lower[At - 1] == ',' || Lower[At - 1] == '\n';
      const qsizetype End = At + Scheme.size();
      if (Starts && (End == Lower.size() || Lower[End] == ' ')) Found.push_back({Scheme, At});
    }
  if (Found.empty()) return {};
  std::sort(Found.begin(), Found.end(), [](const TFound& A, const TFound& B) { return A.At < B.At; });
  QString First;
  for (size_t I = 0; I < Found.size(); ++I) {
    const QByteArray& Scheme = Found[I].Scheme;
    if (Scheme == "basic" || Scheme == "ntlm") return {};
    QString Kind =
        Scheme == "digest" ? QStringLiteral("Digest") : QString::fromLatin1(Header.mid(Found[I].At, Scheme.size()));
    if (Scheme == "digest") {
      const qsizetype End = I + 1 < Found.size() ? Found[I + 1].At : Lower.size();
      const QByteArray Params = Lower.mid(Found[I].At, End - Found[I].At);
      const qsizetype Alg = Params.indexOf("algorithm=");
      QByteArray Algorithm;
      if (Alg >= 0) {
        Algorithm = Header.mid(Found[I].At + Alg + 10, End - Found[I].At - Alg - 10);
        Algorithm = Algorithm.left(Algorithm.indexOf(',') < 0 ? Algorithm.size() : Algorithm.indexOf(','));
        Algorithm = Algorithm.trimmed();
        if (Algorithm.startsWith('"')) Algorithm = Algorithm.mid(1, Algorithm.size() - 2);
      }
      const QByteArray A = Algorithm.toLower();
      if (A.isEmpty() || A == "md5" || A == "md5-sess") return {};
      Kind += QLatin1Char(' ') + QString::fromLatin1(Algorithm.left(40));
    }
    if (First.isEmpty()) First = Kind;
  }
  return First;
}

bool SameServer(const QUrl& A, const QUrl& B) {
  const int DefaultA = A.scheme() == QLatin1String("https") ? 443 : 80;
  const int DefaultB = B.scheme() == QLatin1String("https") ? 443 : 80;
  return A.scheme().compare(B.scheme(), Qt::CaseInsensitive) == 0 &&
         A.host().compare(B.host(), Qt::CaseInsensitive) == 0 && A.port(DefaultA) == B.port(DefaultB);
}

// True when Path is Target or one of the folders above it.
bool IsAtOrAbove(const QString& Path, const QString& Target) {
  QString Folder = QUrl::fromPercentEncoding(Path.toUtf8());
  const QString Inside = QUrl::fromPercentEncoding(Target.toUtf8());
  if (!Folder.endsWith(QLatin1Char('/'))) Folder += QLatin1Char('/');
  return Inside.startsWith(Folder) || SameHref(Path, Target);
}

QString LastSegment(const QString& Path) {
  QString Trimmed = QUrl::fromPercentEncoding(Path.toUtf8());
  while (Trimmed.endsWith(QLatin1Char('/'))) Trimmed.chop(1);
  return Trimmed.mid(Trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QString StatusText(int Status, const QByteArray& Reason) {
  QString Text = QString::number(Status);
  if (!Reason.isEmpty()) Text += QLatin1Char(' ') + QString::fromUtf8(Reason);
  return Text;
}

// An ETag with a line break in it can never go back in an If-Match: the card
// is taken as having none, so it is fetched each time.
QString UsableEtag(const TDavResponse& Response) {
  return HasControlCharacter(Response.Etag) ? QString() : Response.Etag;
}

ESyncError NotAddressBook(const QUrl& Url) {
  return ESyncError(ESyncErrorKind::NotAddressBook, QStringLiteral("%1 is not an address book.").arg(Shown(Url)));
}

ESyncError NoAddressBookAt(const QUrl& Url, int Status) {
  return ESyncError(ESyncErrorKind::NotFound, QStringLiteral("There is no address book at %1.").arg(Shown(Url)),
                    Status);
}

ESyncError Unreadable(const QString& Problem) {
  return ESyncError(ESyncErrorKind::Server,
                    QStringLiteral("The server sent an answer that cannot be read (%1).").arg(Problem));
}

ESyncError WrongPassword() {
  return ESyncError(ESyncErrorKind::Auth, QStringLiteral("The server refused the user name or password."), 401);
}

ESyncError TooSlowError(const QUrl& Url) {
  return ESyncError(ESyncErrorKind::TimeOut,
                    QStringLiteral("The server at %1 is answering too slowly; nothing was changed.").arg(Url.host()));
}

ESyncError TooLargeError(const QUrl& Url) {
  return ESyncError(ESyncErrorKind::Server,
                    QStringLiteral("The server sent an answer too large to be read (%1).").arg(Shown(Url)));
}

QString HostName(const QUrl& Url) {
  const int Default = Url.scheme() == QLatin1String("https") ? 443 : 80;
  return Url.port(Default) == Default ? Url.host() : QStringLiteral("%1:%2").arg(Url.host()).arg(Url.port());
}

ESyncError OtherServerError(const QUrl& From, const QUrl& To) {
  ESyncError Error(ESyncErrorKind::OtherServer,
                   QStringLiteral("The server at %1 sends you on to %2 for your address books; nothing was sent there.")
                       .arg(HostName(From), HostName(To)));
  Error.Elsewhere = To.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
  return Error;
}

// The body of an answer that is not read as it arrives: a card, or a few
// lines of error.
constexpr qint64 BodyLimit = MaxCardBytes + 1024 * 1024;

ESyncError CancelledError() {
  return ESyncError(ESyncErrorKind::Cancelled, QStringLiteral("The synchronisation was cancelled."));
}

// What an unwanted HTTP status means for a request about Subject.
ESyncError StatusError(int Status, const QByteArray& Reason, const QUrl& Subject) {
  switch (Status) {
    case 401:
      return WrongPassword();
    case 403:
      return ESyncError(ESyncErrorKind::Auth,
                        QStringLiteral("The server does not allow this user to use %1.").arg(Shown(Subject)), 403);
    case 404:
    case 410:
      return NoAddressBookAt(Subject, Status);
    default:
      return ESyncError(ESyncErrorKind::Server,
                        QStringLiteral("The server reported an error (%1).").arg(StatusText(Status, Reason)), Status);
  }
}

}  // namespace

TCardDavClient::TCardDavClient(const QUrl& AServer, const QString& AUser, const QString& APassword,
                               const QString& TrustedSha256, int ATimeLimitMs, QObject* Parent)
    : QObject(Parent),
      Net(new QNetworkAccessManager(this)),
      Server(AServer),
      User(AUser),
      Password(APassword),
      Trusted(NormalFingerprint(TrustedSha256)),
      TimeLimitMs(ATimeLimitMs > 0 ? ATimeLimitMs : DefaultTimeLimitMs) {
  // Qt asks again when the credentials it was given failed: that second
  // question for the same request is a wrong password, not a reason to loop.
  connect(Net, &QNetworkAccessManager::authenticationRequired, this,
          [this](QNetworkReply* Reply, QAuthenticator* Authenticator) {
            const auto It = std::find_if(Live.begin(), Live.end(), [Reply](TExchange* X) { return X->Reply == Reply; });
            // The password is the chosen server's: another origin asking for it gets nothing.
            if (It == Live.end() || (*It)->AuthTries++ > 0 || this->User.isEmpty() || !Ours(Reply->url())) return;
            Authenticator->setUser(this->User);
            Authenticator->setPassword(this->Password);
          });
}

TCardDavClient::~TCardDavClient() = default;

void TCardDavClient::Cancel() {
  Cancelled = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        const std::vector<TExchange*> Running = Live;
        for (TExchange* X : Running)
          if (X->Reply) X->Reply->abort();
      },
      QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

void TCardDavClient::ThrowIfCancelled() const {
  if (Cancelled) throw CancelledError();
}

QString TCardDavClient::TimeLimitText() const {
  if (TimeLimitMs == 1000) return QStringLiteral("1 second");
  if (TimeLimitMs % 1000 == 0) return QStringLiteral("%1 seconds").arg(TimeLimitMs / 1000);
  return QStringLiteral("%1 seconds").arg(TimeLimitMs / 1000.0, 0, 'g', 3);
}

QString TCardDavClient::ServerName() const { return HostName(Server); }

bool TCardDavClient::Ours(const QUrl& Url) const { return SameServer(Url, Server); }

void TCardDavClient::CheckOrigin(const QUrl& Url) const {
  if (!Ours(Url))
    throw ESyncError(
        ESyncErrorKind::Server,
        QStringLiteral("%1 is not on the server %2, so nothing is sent there.").arg(Shown(Url), ServerName()));
}

void TCardDavClient::Ignore(const QString& Href) { Ignored.insert(HrefKey(Href)); }

QUrl TCardDavClient::UrlOf(const QString& Href) const {
  if (!Href.startsWith(QLatin1Char('/'))) return QUrl::fromEncoded(Href.toUtf8());
  return QUrl::fromEncoded(
      Server.toEncoded(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::StripTrailingSlash) +
      Href.toUtf8());
}

void TCardDavClient::Track(TExchange& X) {
  Live.push_back(&X);
  connect(&X.Timer, &QTimer::timeout, this, [&X] {
    X.TimedOut = true;
    if (X.Reply) X.Reply->abort();
  });
  // Silence has its own limit; a trickle that keeps it at bay is given up too.
  connect(&X.Pace, &QTimer::timeout, this, [&X] {
    const qint64 Got = X.WindowBytes;
    X.WindowBytes = 0;
    if (!X.Reply || Got == 0 || Got >= MinBytesPerTimeLimit) return;
    X.TooSlow = true;
    X.Reply->abort();
  });
}

void TCardDavClient::Launch(TExchange& X) {
  QNetworkRequest Request(X.Url);
  Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  Request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Tobrinel"));
  for (const auto& [Name, Value] : X.Headers) Request.setRawHeader(Name, Value);
  X.AuthTries = 0;
  X.Ready = false;
  X.Answer.Body.clear();
  X.Downloaded = X.WindowBytes = 0;
  X.Reply = Net->sendCustomRequest(Request, X.Verb, X.Body);
  ++Requests;
  X.Timer.setSingleShot(true);
  X.Timer.start(TimeLimitMs);
  X.Pace.start(TimeLimitMs);
  QNetworkReply* Reply = X.Reply;
  // A listing is read as it comes: what is not read yet waits at the server.
  if (X.Stream) Reply->setReadBufferSize(256 * 1024);
  // The limit is on silence: a long answer that keeps coming is no time-out.
  connect(Reply, &QNetworkReply::downloadProgress, Reply, [&X](qint64 Received, qint64) {
    X.Timer.start();
    X.WindowBytes += std::max<qint64>(0, Received - X.Downloaded);
    X.Downloaded = Received;
  });
  connect(Reply, &QNetworkReply::uploadProgress, Reply, [&X](qint64, qint64) { X.Timer.start(); });
  connect(Reply, &QNetworkReply::readyRead, Reply, [this, &X, Reply] {
    const int Status = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (X.Stream && Status == 207) {
      if (!X.Ready) {
        X.Ready = true;
        X.Answer.Status = Status;
        X.Answer.Reason = Reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
        X.Answer.Etag = Reply->rawHeader("ETag");
        X.Answer.Url = X.Url;
      }
      if (X.OnReady) X.OnReady();
      return;
    }
    X.Answer.Body += Reply->readAll();
    if (X.Answer.Body.size() > BodyLimit) {
      X.TooLarge = true;
      X.Answer.Body.clear();
      Reply->abort();
    }
  });
  connect(Reply, &QNetworkReply::sslErrors, Reply, [this, &X, Reply](const QList<QSslError>& Errors) {
    QSslCertificate Certificate = Reply->sslConfiguration().peerCertificate();
    if (Certificate.isNull() && !Errors.isEmpty()) Certificate = Errors.first().certificate();
    X.Fingerprint = CertificateFingerprint(Certificate);
    const bool Pinned = !Trusted.isEmpty() && X.Fingerprint == Trusted;
    // A pinned certificate stands for the chosen server only, and only in place of an authority.
    const auto Kept =
        std::find_if(Errors.begin(), Errors.end(), [](const QSslError& E) { return !TrustLifts(E.error()); });
    if (Pinned && Ours(Reply->url()) && Kept == Errors.end()) {
      Reply->ignoreSslErrors(Errors);
      return;
    }
    LastRefusedFingerprint = X.Fingerprint;
    X.Why = CertificateProblems(Errors, Certificate, Reply->url().host());
    X.Liftable = Kept == Errors.end();
    if (Pinned && Kept != Errors.end()) X.TlsProblem = Kept->errorString();
  });
  connect(Reply, &QNetworkReply::finished, this, [this, &X] { Finished(X); });
}

void TCardDavClient::Finished(TExchange& X) {
  QNetworkReply* Reply = X.Reply;
  if (!Reply) return;
  X.Timer.stop();
  X.Pace.stop();
  X.Reply = nullptr;
  const int Status = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  // A 207 being read as it comes keeps its reply for the reader.
  const bool Streamed =
      X.Stream && Status == 207 && Reply->error() == QNetworkReply::NoError && !X.TimedOut && !X.TooSlow && !Cancelled;
  if (Streamed) X.Rest = Reply;
  else Reply->deleteLater();
  const QString Where = X.Url.port() > 0 ? QStringLiteral("%1:%2").arg(X.Url.host()).arg(X.Url.port()) : X.Url.host();
  auto Fail = [&X](ESyncError Error) {
    X.Error = std::move(Error);
    X.Done = true;
    if (X.OnDone) X.OnDone();
  };
  const ESyncError TimeOut(ESyncErrorKind::TimeOut,
                           QStringLiteral("The server did not answer within %1.").arg(TimeLimitText()));
  if (X.TimedOut) return Fail(TimeOut);
  if (X.TooSlow) return Fail(TooSlowError(X.Url));
  if (Cancelled) return Fail(CancelledError());
  if (X.TooLarge) return Fail(TooLargeError(X.Url));
  if (X.Abandoned) {
    X.Done = true;
    if (X.OnDone) X.OnDone();
    return;
  }
  if (Status == 0) {
    switch (Reply->error()) {
      case QNetworkReply::ConnectionRefusedError:
        return Fail(
            ESyncError(ESyncErrorKind::Network, QStringLiteral("The server at %1 refused the connection.").arg(Where)));
      case QNetworkReply::HostNotFoundError:
        return Fail(
            ESyncError(ESyncErrorKind::Network, QStringLiteral("The server %1 was not found.").arg(X.Url.host())));
      case QNetworkReply::TimeoutError:
        return Fail(TimeOut);
      case QNetworkReply::SslHandshakeFailedError:
        if (!X.TlsProblem.isEmpty())
          return Fail(ESyncError(ESyncErrorKind::Tls,
                                 QStringLiteral("The certificate of %1 is the one trusted, but it fails a check that "
                                                "trusting it does not lift (%2).")
                                     .arg(Where, X.TlsProblem)));
        if (!Ours(X.Url))
          return Fail(
              ESyncError(ESyncErrorKind::Tls,
                         QStringLiteral("The secure connection to %1 failed (%2).").arg(Where, Reply->errorString())));
        // Trusting an expired certificate, or one issued for another name,
        // would not let it through: the person is not asked.
        if (!X.Fingerprint.isEmpty() && X.Fingerprint != Trusted && !X.Liftable)
          return Fail(ESyncError(ESyncErrorKind::Tls,
                                 QStringLiteral("The certificate of %1 cannot be trusted: %2.").arg(Where, X.Why)));
        if (!X.Fingerprint.isEmpty() && X.Fingerprint != Trusted) {
          ESyncError Untrusted(
              ESyncErrorKind::Tls,
              X.Why.isEmpty() ? QStringLiteral("The server's certificate is not trusted (SHA-256 fingerprint %1).")
                                    .arg(X.Fingerprint)
                              : QStringLiteral("The server's certificate is not trusted: %2 (SHA-256 fingerprint %1).")
                                    .arg(X.Fingerprint, X.Why),
              0, X.Fingerprint);
          Untrusted.Why = X.Why;
          return Fail(std::move(Untrusted));
        }
        return Fail(
            ESyncError(ESyncErrorKind::Tls,
                       QStringLiteral("The secure connection to %1 failed (%2).").arg(Where, Reply->errorString())));
      default:
        return Fail(ESyncError(ESyncErrorKind::Network,
                               QStringLiteral("The connection to %1 failed (%2).").arg(Where, Reply->errorString())));
    }
  }
  const QByteArray Location = Reply->rawHeader("Location");
  if ((Status == 301 || Status == 302 || Status == 303 || Status == 307 || Status == 308) && !Location.isEmpty()) {
    const QUrl Target = X.Url.resolved(QUrl::fromEncoded(Location));
    if (!SameServer(Target, X.Url) || !Ours(Target))
      return Fail(ESyncError(ESyncErrorKind::Server,
                             QStringLiteral("The server sent %1 on to another server (%2), which is not followed.")
                                 .arg(Shown(X.FirstUrl), Shown(Target)),
                             Status));
    if (++X.Hops > MaxRedirects)
      return Fail(ESyncError(ESyncErrorKind::Server,
                             QStringLiteral("The server sent %1 round too many redirections.").arg(Shown(X.FirstUrl)),
                             Status));
    // The same method and body go to the new place: a PROPFIND must not turn into a GET.
    X.Url = Target;
    Launch(X);
    return;
  }
  if (Status == 401) {
    const QString Kind = UnsupportedChallenge(Reply->rawHeader("WWW-Authenticate"));
    if (!Kind.isEmpty())
      return Fail(ESyncError(
          ESyncErrorKind::Auth,
          QStringLiteral("The server asks for a kind of password check Tobrinel does not support (%1).").arg(Kind)));
    return Fail(WrongPassword());
  }
  // A 207 cut off in the middle is no answer.
  // (Told as the reader tells a document that ends too soon, whichever notices first.)
  if (Reply->error() != QNetworkReply::NoError && Success(Status))
    return Fail(Unreadable(QStringLiteral("the answer is cut short")));
  X.Answer.Status = Status;
  X.Answer.Reason = Reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
  if (!Streamed) {
    X.Answer.Body += Reply->read(BodyLimit + 1 - X.Answer.Body.size());
    if (X.Answer.Body.size() > BodyLimit) return Fail(TooLargeError(X.Url));
  }
  X.Answer.Etag = Reply->rawHeader("ETag");
  X.Answer.Url = X.Url;
  X.Done = true;
  if (X.OnDone) X.OnDone();
}

namespace {

// The body of a 207 as it arrives, waiting in a local event loop for more.
class TReplyDevice : public QIODevice {
public:
  TReplyDevice(QNetworkReply*& ARunning, QNetworkReply*& AFinished, const bool& ADone, std::function<void()>& AWake)
      : Running(ARunning), Finished(AFinished), Done(ADone), Wake(AWake) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }
  bool isSequential() const override { return true; }

protected:
  qint64 readData(char* Data, qint64 MaxSize) override {
    for (;;) {
      QNetworkReply* Reply = Running ? Running : Finished;
      if (Reply && Reply->bytesAvailable() > 0) return Reply->read(Data, MaxSize);
      if (Done || !Running) return -1;
      QEventLoop Loop;
      Wake = [&Loop] { Loop.quit(); };
      const auto Connection = QObject::connect(Running, &QIODevice::readyRead, &Loop, &QEventLoop::quit);
      Loop.exec();
      QObject::disconnect(Connection);
      Wake = nullptr;
    }
  }
  qint64 writeData(const char*, qint64) override { return -1; }

private:
  QNetworkReply*& Running;
  QNetworkReply*& Finished;
  const bool& Done;
  std::function<void()>& Wake;
};

}  // namespace

TCardDavClient::TAnswer TCardDavClient::Request(const QByteArray& Verb, const QUrl& Url, const QByteArray& Body,
                                                const THeaders& Headers, const TReadBody& Read) {
  ThrowIfCancelled();
  CheckOrigin(Url);
  TExchange X;
  X.Verb = Verb;
  X.Url = X.FirstUrl = Url;
  X.Body = Body;
  X.Headers = Headers;
  X.Stream = bool(Read);
  struct TUntrack {
    std::vector<TExchange*>& Live;
    TExchange* X;
    ~TUntrack() { std::erase(Live, X); }
  } Untrack{Live, &X};
  QEventLoop Loop;
  X.OnDone = X.OnReady = [&Loop] { Loop.quit(); };
  Track(X);
  Launch(X);
  if (!X.Done && !X.Ready) Loop.exec();
  if (!X.Error && X.Stream && (X.Ready || (X.Done && X.Answer.Status == 207))) {
    std::function<void()> Wake;
    X.OnDone = [&Wake] {
      if (Wake) Wake();
    };
    X.OnReady = [&Wake] {
      if (Wake) Wake();
    };
    X.Answer.Status = 207;
    TReplyDevice Device(X.Reply, X.Rest, X.Done, Wake);
    Read(X.Answer, Device);
    X.OnDone = X.OnReady = nullptr;
    if (!X.Done && X.Reply) {
      // The reader has what it wants (or gave up): the rest is not waited for.
      X.Abandoned = true;
      X.Reply->abort();
    }
  }
  if (X.Error) throw *X.Error;
  return X.Answer;
}

TCardDavClient::TAnswer TCardDavClient::Propfind(const QUrl& Url, const char* Depth, const QByteArray& Body,
                                                 const TReadBody& Read) {
  return Request("PROPFIND", Url, Body, {{"Depth", Depth}, {"Content-Type", XmlType}}, Read);
}

std::vector<TAddressBookInfo> TCardDavClient::Discover(const QUrl& Given) {
  const QUrl Url = Given.isEmpty() ? Server : Given;
  const QString UrlPath = Url.path(QUrl::FullyEncoded);
  const bool Root = UrlPath.isEmpty() || UrlPath == QLatin1String("/");
  QString Principal;
  QStringList Homes;
  QUrl Base = Url;  // what Principal and Homes are relative to
  // The first response of a PROPFIND's answer; the rest are not kept.
  QString Problem;  // of the last answer First could not read
  auto First = [this, &Problem](const QUrl& At, const char* Depth, const QByteArray& Body, TDavResponse& Into,
                                bool& Have) {
    Have = false;
    Problem.clear();
    QString NoToken;
    return Propfind(At, Depth, Body, [&](const TAnswer&, QIODevice& Device) {
      bool Taken = false;
      const bool Read = ParseMultiStatus(
          Device, NoToken,
          [&](TDavResponse& R) {
            if (!Taken) Into = std::move(R);
            Taken = true;
          },
          &Problem);
      if (Read) Problem.clear();
      Have = Read && Taken;
    });
  };
  // Where a principal, a home or a book found is: on this server, or the
  // person is asked before anything goes there.
  auto Here = [this](const QString& Resolved) {
    if (Resolved.startsWith(QLatin1Char('/'))) return UrlOf(Resolved);
    const QUrl Target = QUrl::fromEncoded(Resolved.toUtf8());
    if (!Ours(Target)) throw OtherServerError(Server, Target);
    return Target;
  };

  if (Root) {
    // A server address: its well-known place leads to the user's principal.
    QUrl WellKnown = Url;
    WellKnown.setPath(QStringLiteral("/.well-known/carddav"));
    try {
      TDavResponse Found;
      bool Have = false;
      const TAnswer Answer =
          First(WellKnown, "0", PropfindBody({{DavNamespace, "current-user-principal"}}), Found, Have);
      if (Have && !Found.Principal.isEmpty()) {
        Principal = Found.Principal;
        Base = Answer.Url;
      }
    } catch (const ESyncError& Error) {
      if (Error.Kind != ESyncErrorKind::Server) throw;  // a redirect elsewhere: try the address itself
    }
  }

  TDavResponse Self;
  bool HaveSelf = false;
  if (Principal.isEmpty()) {
    const TAnswer Answer = First(Url, "0",
                                 PropfindBody({{DavNamespace, "resourcetype"},
                                               {DavNamespace, "displayname"},
                                               {DavNamespace, "current-user-principal"},
                                               {CardDavNamespace, "addressbook-home-set"}}),
                                 Self, HaveSelf);
    if ((Answer.Status == 404 || Answer.Status == 410) && !Root) throw NoAddressBookAt(Url, Answer.Status);
    // A server in trouble says nothing about what the address is.
    if (Answer.Status == 403 || Answer.Status >= 500) throw StatusError(Answer.Status, Answer.Reason, Url);
    // An answer that cannot be read says nothing about what the address is.
    if (Answer.Status == 207 && !Problem.isEmpty()) throw Unreadable(Problem);
    if (!HaveSelf) throw NotAddressBook(Url);
    if (Self.IsAddressBook)
      return {{CollectionUrl(Url), Self.DisplayName.isEmpty() ? LastSegment(UrlPath) : Self.DisplayName}};
    Principal = Self.Principal;
    Homes = Self.HomeSets;
    Base = Answer.Url;
  }
  for (QString& Home : Homes) Home = ResolveHref(Base, Home);

  QString PrincipalPath;
  if (!Principal.isEmpty()) {
    PrincipalPath = ResolveHref(Base, Principal);
    if (Homes.isEmpty()) {
      TDavResponse Found;
      bool Have = false;
      const TAnswer Answer =
          First(Here(PrincipalPath), "0", PropfindBody({{CardDavNamespace, "addressbook-home-set"}}), Found, Have);
      if (Have)
        for (const QString& Home : Found.HomeSets) Homes << ResolveHref(Answer.Url, Home);
    }
  }

  if (!Root && !Homes.isEmpty()) {
    // A collection elsewhere (a calendar, a plain folder) does not stand for the whole account.
    bool Above = !PrincipalPath.isEmpty() && IsAtOrAbove(UrlPath, PrincipalPath);
    for (const QString& Home : Homes) Above = Above || IsAtOrAbove(UrlPath, Home);
    if (!Above) throw NotAddressBook(Url);
  }
  const bool OwnChildren = Homes.isEmpty();
  if (OwnChildren) {
    // No principal to ask: a collection may still hold address books itself.
    if (!HaveSelf || !Self.IsCollection) throw NotAddressBook(Url);
    Homes << UrlPath;
  }

  std::vector<TAddressBookInfo> Books;
  std::optional<QUrl> Away;  // the first book found on another server
  // Homes elsewhere are asked about before any request goes there.
  std::vector<QUrl> HomeUrls;
  for (const QString& Home : Homes) HomeUrls.push_back(Here(Home));
  for (const QUrl& HomeUrl : HomeUrls) {
    QString NoToken;
    bool Read = false;
    const TAnswer Answer = Propfind(
        HomeUrl, "1", PropfindBody({{DavNamespace, "resourcetype"}, {DavNamespace, "displayname"}}),
        [&](const TAnswer& Head, QIODevice& Device) {
          Read = ParseMultiStatus(
              Device, NoToken,
              [&](TDavResponse& Response) {
                if (!Response.IsAddressBook || HasControlCharacter(Response.Href)) return;
                const QString Path = ResolveHref(Head.Url, Response.Href);
                const QUrl BookUrl =
                    CollectionUrl(Path.startsWith(QLatin1Char('/')) ? UrlOf(Path) : QUrl::fromEncoded(Path.toUtf8()));
                if (!Ours(BookUrl)) {
                  if (!Away) Away = BookUrl;
                  return;
                }
                if (std::any_of(Books.begin(), Books.end(),
                                [&](const TAddressBookInfo& B) { return B.Url == BookUrl; }))
                  return;
                Books.push_back({BookUrl, Response.DisplayName.isEmpty() ? LastSegment(Path) : Response.DisplayName});
              },
              &Problem);
        });
    if (Answer.Status != 207) throw StatusError(Answer.Status, Answer.Reason, HomeUrl);
    if (!Read) throw Unreadable(Problem);
  }
  if (Books.empty() && Away) throw OtherServerError(Server, *Away);
  if (OwnChildren && Books.empty()) throw NotAddressBook(Url);
  return Books;
}

TSyncChanges TCardDavClient::SyncCollection(const QUrl& BookUrl, const QString& Token) {
  const QUrl Book = CollectionUrl(BookUrl);
  const QString BookPath = Book.path(QUrl::FullyEncoded);
  TSyncChanges Out;
  QString Current = Token;
  // A later answer about a card replaces an earlier one. Looked up by key, as
  // a first sync lists thousands: emptied entries are dropped at the end.
  const QString BookKey = HrefKey(BookPath);
  QHash<QString, qsizetype> ChangedAt, RemovedAt;
  auto Drop = [](QHash<QString, qsizetype>& At, const QString& Key, auto& List, auto Clear) {
    if (const auto It = At.constFind(Key); It != At.constEnd()) {
      Clear(List[*It]);
      At.erase(It);
    }
  };
  // A server may answer in parts (507 on the book itself): ask on from each new token.
  for (int Part = 0; Part < 100; ++Part) {
    bool More = false;
    QString NextToken, Problem;
    bool Read = false;
    // Each response is taken as it is read; a listing of thousands is not kept twice.
    auto Take = [&](const TAnswer& Head, const TDavResponse& Response) {
      if (HasControlCharacter(Response.Href)) return Ignore(Response.Href);
      const QString Path = ResolveHref(Head.Url, Response.Href);
      const QString Key = HrefKey(Path);
      if (Path == BookPath || Key == BookKey || Key == HrefKey(Head.Url.path(QUrl::FullyEncoded))) {
        More = More || Response.Status == 507;
        return;
      }
      // Only the chosen address book's own cards are this book's.
      if (!InsideCollection(Book, Path) && !InsideCollection(CollectionUrl(Head.Url), Path)) return Ignore(Path);
      if (Response.Status == 404 || Response.Status == 410) {
        Drop(ChangedAt, Key, Out.Changed, [](TCardVersion& Card) { Card.Href.clear(); });
        if (!RemovedAt.contains(Key)) {
          RemovedAt.insert(Key, Out.Removed.size());
          Out.Removed << Path;
        }
        return;
      }
      if ((Response.Status != 0 && !Success(Response.Status)) || Response.IsCollection ||
          !IsVCardType(Response.ContentType))
        return;
      Drop(RemovedAt, Key, Out.Removed, [](QString& Href) { Href.clear(); });
      Drop(ChangedAt, Key, Out.Changed, [](TCardVersion& Card) { Card.Href.clear(); });
      ChangedAt.insert(Key, qsizetype(Out.Changed.size()));
      Out.Changed.push_back({Path, UsableEtag(Response)});
    };
    const TAnswer Answer =
        Request("REPORT", Book, SyncCollectionBody(Current), {{"Depth", "0"}, {"Content-Type", XmlType}},
                [&](const TAnswer& Head, QIODevice& Device) {
                  Read = ParseMultiStatus(
                      Device, NextToken, [&](TDavResponse& R) { Take(Head, R); }, &Problem);
                });
    if (Answer.Status == 404 || Answer.Status == 410) throw NoAddressBookAt(Book, Answer.Status);
    if (Answer.Status == 207 && !Read) throw Unreadable(Problem);
    // A token that could not be sent back is no token.
    if (HasControlCharacter(NextToken)) NextToken.clear();
    if (Answer.Status != 207 || NextToken.isEmpty()) {
      const bool TokenRefused =
          (Answer.Status == 403 || Answer.Status == 409) && HasDavCondition(Answer.Body, u"valid-sync-token");
      // A server in trouble is told, not taken for one without the report.
      if (Answer.Status >= 500 && Answer.Status != 501) throw StatusError(Answer.Status, Answer.Reason, Book);
      return {TokenRefused ? ESyncOutcome::TokenRejected : ESyncOutcome::Unsupported, {}, {}, {}};
    }
    Current = NextToken;
    if (!More) break;
  }
  std::erase_if(Out.Changed, [](const TCardVersion& Card) { return Card.Href.isEmpty(); });
  Out.Removed.removeIf([](const QString& Href) { return Href.isEmpty(); });
  Out.Token = Current;
  return Out;
}

TEtagListing TCardDavClient::ListEtags(const QUrl& BookUrl) {
  const QUrl Book = CollectionUrl(BookUrl);
  TEtagListing Out;
  const QString BookPath = Book.path(QUrl::FullyEncoded);
  QString Problem, NoToken;
  bool Read = false;
  const TAnswer Answer =
      Propfind(Book, "1",
               PropfindBody({{DavNamespace, "resourcetype"},
                             {DavNamespace, "getetag"},
                             {DavNamespace, "getcontenttype"},
                             {DavNamespace, "sync-token"}}),
               [&](const TAnswer& Head, QIODevice& Device) {
                 Read = ParseMultiStatus(
                     Device, NoToken,
                     [&](const TDavResponse& Response) {
                       if (HasControlCharacter(Response.Href)) return Ignore(Response.Href);
                       const QString Path = ResolveHref(Head.Url, Response.Href);
                       if (SameHref(Path, BookPath) || SameHref(Path, Head.Url.path(QUrl::FullyEncoded))) {
                         if (Response.HasResourceType && !Response.IsAddressBook) throw NotAddressBook(Book);
                         Out.SyncToken = HasControlCharacter(Response.SyncToken) ? QString() : Response.SyncToken;
                         return;
                       }
                       if (!InsideCollection(Book, Path) && !InsideCollection(CollectionUrl(Head.Url), Path))
                         return Ignore(Path);
                       if ((Response.Status != 0 && !Success(Response.Status)) || Response.IsCollection ||
                           !IsVCardType(Response.ContentType))
                         return;
                       Out.Cards.push_back({Path, UsableEtag(Response)});
                     },
                     &Problem);
               });
  if (Answer.Status == 405 || Answer.Status == 501) throw NotAddressBook(Book);
  if (Answer.Status != 207) throw StatusError(Answer.Status, Answer.Reason, Book);
  if (!Read) throw Unreadable(Problem);
  return Out;
}

void TCardDavClient::MultiGet(const QUrl& BookUrl, const QStringList& Hrefs,
                              const std::function<void(TCard&&)>& OnCard) {
  const QUrl Book = CollectionUrl(BookUrl);
  for (qsizetype First = 0; First < Hrefs.size(); First += MultiGetBatch) {
    QString Problem, NoToken;
    bool Read = false;
    const TAnswer Answer =
        Request("REPORT", Book, MultiGetBody(Hrefs.mid(First, MultiGetBatch)), {{"Content-Type", XmlType}},
                [&](const TAnswer& Head, QIODevice& Device) {
                  Read = ParseMultiStatus(
                      Device, NoToken,
                      [&](TDavResponse& Response) {
                        if (HasControlCharacter(Response.Href)) return Ignore(Response.Href);
                        if (!Response.HasAddressData || (Response.Status != 0 && !Success(Response.Status))) return;
                        const QString Path = ResolveHref(Head.Url, Response.Href);
                        if (!InsideCollection(Book, Path) && !InsideCollection(CollectionUrl(Head.Url), Path))
                          return Ignore(Path);
                        TCard Card{Path, Response.Etag, std::move(Response.AddressData)};
                        Card.TooLarge = Response.TooLarge;
                        // Not whole: handed on empty, which reads as no card.
                        if (Response.BadCharacter) Card.Text = QByteArray();
                        OnCard(std::move(Card));
                      },
                      &Problem);
                });
    if (Answer.Status != 207) throw StatusError(Answer.Status, Answer.Reason, Book);
    if (!Read) throw Unreadable(Problem);
  }
}

std::vector<TCard> TCardDavClient::MultiGet(const QUrl& Book, const QStringList& Hrefs) {
  std::vector<TCard> Cards;
  MultiGet(Book, Hrefs, [&Cards](TCard&& Card) { Cards.push_back(std::move(Card)); });
  return Cards;
}

TWriteResult TCardDavClient::Put(const QString& Href, const QByteArray& Text, const QString& Etag) {
  TWriteResult Out;
  WriteMany({{TWriteJob::Put, Href, Text, Etag}}, [&Out](size_t, const TWriteResult& Result) { Out = Result; });
  return Out;
}

TWriteResult TCardDavClient::Delete(const QString& Href, const QString& Etag) {
  TWriteResult Out;
  WriteMany({{TWriteJob::Delete, Href, {}, Etag}}, [&Out](size_t, const TWriteResult& Result) { Out = Result; });
  return Out;
}

void TCardDavClient::WriteMany(const std::vector<TWriteJob>& Jobs,
                               const std::function<void(size_t, const TWriteResult&)>& OnResult) {
  ThrowIfCancelled();
  struct TSlot {
    TExchange X;
    bool Fetching = false;  // the GET after a PUT that gave no ETag
    TWriteResult Result;
  };
  std::vector<std::unique_ptr<TSlot>> Slots(Jobs.size());
  size_t Next = 0;
  int InFlight = 0;
  std::exception_ptr Failure;
  QEventLoop Loop;
  std::function<void()> Pump;

  auto Start = [&](size_t Index, const QByteArray& Verb, const QByteArray& Body, THeaders Headers) {
    TSlot& Slot = *Slots[Index];
    Slot.X.Verb = Verb;
    Slot.X.Url = Slot.X.FirstUrl = UrlOf(Jobs[Index].Href);
    Slot.X.Body = Body;
    Slot.X.Headers = std::move(Headers);
    Slot.X.Hops = 0;
    Slot.X.Done = false;
    ++InFlight;
    Launch(Slot.X);
  };
  auto Report = [&](size_t Index) {
    try {
      OnResult(Index, Slots[Index]->Result);
    } catch (...) {
      if (!Failure) Failure = std::current_exception();
    }
  };
  // What the answer to job Index means; true when the job is over.
  auto Settle = [&](size_t Index) {
    TSlot& Slot = *Slots[Index];
    const TWriteJob& Job = Jobs[Index];
    const TAnswer& Answer = Slot.X.Answer;
    const QUrl Card = UrlOf(Job.Href);
    TWriteResult& Result = Slot.Result;
    Result.HttpStatus = Answer.Status;
    if (Slot.Fetching) {
      if (Answer.Status != 404 && !Success(Answer.Status)) throw StatusError(Answer.Status, Answer.Reason, Card);
      Result.Etag = QString::fromUtf8(Answer.Etag);
      Result.ServerText = Answer.Body;
      return true;
    }
    const bool Gone = Answer.Status == 404 || Answer.Status == 410;
    if (Success(Answer.Status) || (Gone && Job.Kind == TWriteJob::Delete)) {
      Result.Outcome = EWriteOutcome::Done;
      if (Job.Kind == TWriteJob::Delete) return true;
      Result.Etag = QString::fromUtf8(Answer.Etag);
      if (!Result.Etag.isEmpty()) return true;
      // No ETag: the server may have changed the card, so its own text is fetched.
      Slot.Fetching = true;
      Start(Index, "GET", {}, {});
      return false;
    }
    if (Answer.Status == 412) {
      Result.Outcome = EWriteOutcome::Conflict;
      return true;
    }
    if (Gone) {
      QUrl Book = Card.adjusted(QUrl::RemoveFilename);
      throw NoAddressBookAt(Book, Answer.Status);
    }
    if (Answer.Status >= 400 && Answer.Status <= 499) {
      Result.Outcome = EWriteOutcome::Refused;
      Result.Problem = QStringLiteral("The server refused the card %1 (%2).")
                           .arg(Shown(Card), StatusText(Answer.Status, Answer.Reason));
      return true;
    }
    throw StatusError(Answer.Status, Answer.Reason, Card);
  };
  auto Finish = [&](size_t Index) {
    --InFlight;
    TSlot& Slot = *Slots[Index];
    if (Slot.X.Error) {
      if (!Failure) Failure = std::make_exception_ptr(*Slot.X.Error);
    } else {
      try {
        if (Settle(Index)) Report(Index);
      } catch (...) {
        if (!Failure) Failure = std::current_exception();
      }
    }
    Pump();
  };
  Pump = [&] {
    while (!Failure && !Cancelled && InFlight < MaxParallel && Next < Jobs.size()) {
      const size_t Index = Next++;
      Slots[Index] = std::make_unique<TSlot>();
      TSlot& Slot = *Slots[Index];
      const TWriteJob& Job = Jobs[Index];
      // Nothing goes to another server, and nothing a server gave with a line
      // break in it goes into a header.
      const QUrl Card = UrlOf(Job.Href);
      const bool Elsewhere = !Ours(Card) || HasControlCharacter(Job.Href);
      if (Elsewhere || HasControlCharacter(Job.Etag)) {
        Slot.Result.Outcome = EWriteOutcome::Refused;
        Slot.Result.Problem =
            Elsewhere
                ? QStringLiteral("The card %1 is not on the server %2; it was not written.")
                      .arg(Shown(Card), ServerName())
                : QStringLiteral("The server gave the card %1 an ETag that cannot be sent back; it was not written.")
                      .arg(Shown(Card));
        Report(Index);
        continue;
      }
      Slot.X.OnDone = [&Finish, Index] { Finish(Index); };
      Track(Slot.X);
      THeaders Headers;
      if (Job.Kind == TWriteJob::Put) {
        Headers.push_back({"Content-Type", "text/vcard; charset=utf-8"});
        if (Job.Etag.isEmpty()) Headers.push_back({"If-None-Match", "*"});
        else Headers.push_back({"If-Match", Job.Etag.toUtf8()});
        Start(Index, "PUT", Job.Text, std::move(Headers));
      } else {
        if (!Job.Etag.isEmpty()) Headers.push_back({"If-Match", Job.Etag.toUtf8()});
        Start(Index, "DELETE", {}, std::move(Headers));
      }
    }
    if (InFlight == 0) Loop.quit();
  };

  Pump();
  if (InFlight > 0) Loop.exec();
  for (const auto& Slot : Slots)
    if (Slot) std::erase(Live, &Slot->X);
  if (Failure) std::rethrow_exception(Failure);
  ThrowIfCancelled();
}

QString TCardDavClient::MemberHref(const QUrl& Book, const QString& FileName) {
  QString Path = Book.path(QUrl::FullyEncoded);
  if (!Path.endsWith(QLatin1Char('/'))) Path += QLatin1Char('/');
  return Path + QString::fromLatin1(QUrl::toPercentEncoding(FileName));
}

QString TCardDavClient::CertificateFingerprint(const QSslCertificate& Certificate) {
  if (Certificate.isNull()) return {};
  return QString::fromLatin1(Certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

QString TCardDavClient::NormalFingerprint(const QString& Text) {
  QString Hex;
  for (const QChar C : Text) {
    if (C.isSpace() || C == QLatin1Char(':')) continue;
    if (!std::isxdigit(C.unicode() < 128 ? C.toLatin1() : 'x')) return {};
    Hex += C.toUpper();
  }
  if (Hex.size() != 64) return {};
  QString Out;
  for (int I = 0; I < 64; I += 2) {
    if (I) Out += QLatin1Char(':');
    Out += Hex.mid(I, 2);
  }
  return Out;
}
