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

  QNetworkReply* Reply = nullptr;
  QTimer Timer;
  int Hops = 0;
  int AuthTries = 0;
  bool TimedOut = false;
  bool Done = false;
  QString Fingerprint;
  TAnswer Answer;
  std::optional<ESyncError> Error;

  ~TExchange() {
    if (Reply) {
      Reply->disconnect();
      Reply->abort();
      Reply->deleteLater();
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
            if (It == Live.end() || (*It)->AuthTries++ > 0 || this->User.isEmpty()) return;
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

QUrl TCardDavClient::UrlOf(const QString& Href) const {
  if (!Href.startsWith(QLatin1Char('/'))) return QUrl::fromEncoded(Href.toUtf8());
  return QUrl::fromEncoded(Server.toEncoded(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                                            QUrl::StripTrailingSlash) +
                           Href.toUtf8());
}

void TCardDavClient::Track(TExchange& X) {
  Live.push_back(&X);
  connect(&X.Timer, &QTimer::timeout, this, [&X] {
    X.TimedOut = true;
    if (X.Reply) X.Reply->abort();
  });
}

void TCardDavClient::Launch(TExchange& X) {
  QNetworkRequest Request(X.Url);
  Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  Request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Tobrinel"));
  for (const auto& [Name, Value] : X.Headers) Request.setRawHeader(Name, Value);
  X.AuthTries = 0;
  X.Reply = Net->sendCustomRequest(Request, X.Verb, X.Body);
  ++Requests;
  X.Timer.setSingleShot(true);
  X.Timer.start(TimeLimitMs);
  QNetworkReply* Reply = X.Reply;
  // The limit is on silence: a long answer that keeps coming is no time-out.
  connect(Reply, &QNetworkReply::downloadProgress, Reply, [&X] { X.Timer.start(); });
  connect(Reply, &QNetworkReply::uploadProgress, Reply, [&X] { X.Timer.start(); });
  connect(Reply, &QNetworkReply::sslErrors, Reply, [this, &X, Reply](const QList<QSslError>& Errors) {
    QSslCertificate Certificate = Reply->sslConfiguration().peerCertificate();
    if (Certificate.isNull() && !Errors.isEmpty()) Certificate = Errors.first().certificate();
    X.Fingerprint = CertificateFingerprint(Certificate);
    if (!Trusted.isEmpty() && X.Fingerprint == Trusted)
      Reply->ignoreSslErrors(Errors);
    else
      LastRefusedFingerprint = X.Fingerprint;
  });
  connect(Reply, &QNetworkReply::finished, this, [this, &X] { Finished(X); });
}

void TCardDavClient::Finished(TExchange& X) {
  QNetworkReply* Reply = X.Reply;
  if (!Reply) return;
  X.Timer.stop();
  X.Reply = nullptr;
  Reply->deleteLater();
  const int Status = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const QString Where = X.Url.port() > 0 ? QStringLiteral("%1:%2").arg(X.Url.host()).arg(X.Url.port()) : X.Url.host();
  auto Fail = [&X](ESyncError Error) {
    X.Error = std::move(Error);
    X.Done = true;
    if (X.OnDone) X.OnDone();
  };
  const ESyncError TimeOut(ESyncErrorKind::TimeOut,
                           QStringLiteral("The server did not answer within %1.").arg(TimeLimitText()));
  if (X.TimedOut) return Fail(TimeOut);
  if (Cancelled) return Fail(CancelledError());
  if (Status == 0) {
    switch (Reply->error()) {
      case QNetworkReply::ConnectionRefusedError:
        return Fail(ESyncError(ESyncErrorKind::Network,
                               QStringLiteral("The server at %1 refused the connection.").arg(Where)));
      case QNetworkReply::HostNotFoundError:
        return Fail(ESyncError(ESyncErrorKind::Network, QStringLiteral("The server %1 was not found.").arg(X.Url.host())));
      case QNetworkReply::TimeoutError:
        return Fail(TimeOut);
      case QNetworkReply::SslHandshakeFailedError:
        if (!X.Fingerprint.isEmpty() && X.Fingerprint != Trusted)
          return Fail(ESyncError(ESyncErrorKind::Tls,
                                 QStringLiteral("The server's certificate is not trusted (SHA-256 fingerprint %1).")
                                     .arg(X.Fingerprint),
                                 0, X.Fingerprint));
        return Fail(ESyncError(ESyncErrorKind::Tls, QStringLiteral("The secure connection to %1 failed (%2).")
                                                        .arg(Where, Reply->errorString())));
      default:
        return Fail(ESyncError(ESyncErrorKind::Network,
                               QStringLiteral("The connection to %1 failed (%2).").arg(Where, Reply->errorString())));
    }
  }
  const QByteArray Location = Reply->rawHeader("Location");
  if ((Status == 301 || Status == 302 || Status == 303 || Status == 307 || Status == 308) && !Location.isEmpty()) {
    const QUrl Target = X.Url.resolved(QUrl::fromEncoded(Location));
    if (!SameServer(Target, X.Url))
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
  if (Status == 401) return Fail(WrongPassword());
  X.Answer.Status = Status;
  X.Answer.Reason = Reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
  X.Answer.Body = Reply->readAll();
  X.Answer.Etag = Reply->rawHeader("ETag");
  X.Answer.Url = X.Url;
  X.Done = true;
  if (X.OnDone) X.OnDone();
}

TCardDavClient::TAnswer TCardDavClient::Request(const QByteArray& Verb, const QUrl& Url, const QByteArray& Body,
                                                const THeaders& Headers) {
  ThrowIfCancelled();
  TExchange X;
  X.Verb = Verb;
  X.Url = X.FirstUrl = Url;
  X.Body = Body;
  X.Headers = Headers;
  QEventLoop Loop;
  X.OnDone = [&Loop] { Loop.quit(); };
  Track(X);
  Launch(X);
  if (!X.Done) Loop.exec();
  std::erase(Live, &X);
  if (X.Error) throw *X.Error;
  return X.Answer;
}

TCardDavClient::TAnswer TCardDavClient::Propfind(const QUrl& Url, const char* Depth, const QByteArray& Body) {
  return Request("PROPFIND", Url, Body, {{"Depth", Depth}, {"Content-Type", XmlType}});
}

std::vector<TAddressBookInfo> TCardDavClient::Discover(const QUrl& Given) {
  const QUrl Url = Given.isEmpty() ? Server : Given;
  const QString UrlPath = Url.path(QUrl::FullyEncoded);
  const bool Root = UrlPath.isEmpty() || UrlPath == QLatin1String("/");
  QString Principal;
  QStringList Homes;
  QUrl Base = Url;  // what Principal and Homes are relative to
  auto FirstOf = [](const TAnswer& Answer, TDavResponse& Into) {
    TMultiStatus Status;
    if (Answer.Status != 207 || !ParseMultiStatus(Answer.Body, Status) || Status.Responses.empty()) return false;
    Into = Status.Responses.front();
    return true;
  };

  if (Root) {
    // A server address: its well-known place leads to the user's principal.
    QUrl WellKnown = Url;
    WellKnown.setPath(QStringLiteral("/.well-known/carddav"));
    try {
      const TAnswer Answer =
          Propfind(WellKnown, "0", PropfindBody({{DavNamespace, "current-user-principal"}}));
      TDavResponse Found;
      if (FirstOf(Answer, Found) && !Found.Principal.isEmpty()) {
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
    const TAnswer Answer = Propfind(Url, "0",
                                    PropfindBody({{DavNamespace, "resourcetype"},
                                                  {DavNamespace, "displayname"},
                                                  {DavNamespace, "current-user-principal"},
                                                  {CardDavNamespace, "addressbook-home-set"}}));
    if ((Answer.Status == 404 || Answer.Status == 410) && !Root) throw NoAddressBookAt(Url, Answer.Status);
    // A server in trouble says nothing about what the address is.
    if (Answer.Status == 403 || Answer.Status >= 500) throw StatusError(Answer.Status, Answer.Reason, Url);
    HaveSelf = FirstOf(Answer, Self);
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
      const TAnswer Answer = Propfind(UrlOf(PrincipalPath), "0", PropfindBody({{CardDavNamespace, "addressbook-home-set"}}));
      TDavResponse Found;
      if (FirstOf(Answer, Found))
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
  for (const QString& Home : Homes) {
    const TAnswer Answer =
        Propfind(UrlOf(Home), "1", PropfindBody({{DavNamespace, "resourcetype"}, {DavNamespace, "displayname"}}));
    if (Answer.Status != 207) throw StatusError(Answer.Status, Answer.Reason, UrlOf(Home));
    TMultiStatus Status;
    QString Problem;
    if (!ParseMultiStatus(Answer.Body, Status, &Problem)) throw Unreadable(Problem);
    for (const TDavResponse& Response : Status.Responses) {
      if (!Response.IsAddressBook) continue;
      const QString Path = ResolveHref(Answer.Url, Response.Href);
      const QUrl BookUrl = CollectionUrl(Path.startsWith(QLatin1Char('/')) ? UrlOf(Path) : QUrl::fromEncoded(Path.toUtf8()));
      if (std::any_of(Books.begin(), Books.end(), [&](const TAddressBookInfo& B) { return B.Url == BookUrl; })) continue;
      Books.push_back({BookUrl, Response.DisplayName.isEmpty() ? LastSegment(Path) : Response.DisplayName});
    }
  }
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
    const TAnswer Answer = Request("REPORT", Book, SyncCollectionBody(Current), {{"Depth", "0"}, {"Content-Type", XmlType}});
    if (Answer.Status == 404 || Answer.Status == 410) throw NoAddressBookAt(Book, Answer.Status);
    bool More = false;
    QString NextToken;
    // Each response is taken as it is read; a listing of thousands is not kept twice.
    auto Take = [&](const TDavResponse& Response) {
      const QString Path = ResolveHref(Answer.Url, Response.Href);
      const QString Key = HrefKey(Path);
      if (Path == BookPath || Key == BookKey) {
        More = More || Response.Status == 507;
        return;
      }
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
      Out.Changed.push_back({Path, Response.Etag});
    };
    if (Answer.Status != 207 || !ParseMultiStatus(Answer.Body, NextToken, Take) || NextToken.isEmpty()) {
      const bool TokenRefused = (Answer.Status == 403 || Answer.Status == 409) &&
                                HasDavCondition(Answer.Body, u"valid-sync-token");
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
  const TAnswer Answer = Propfind(Book, "1",
                                  PropfindBody({{DavNamespace, "resourcetype"},
                                                {DavNamespace, "getetag"},
                                                {DavNamespace, "getcontenttype"},
                                                {DavNamespace, "sync-token"}}));
  if (Answer.Status == 405 || Answer.Status == 501) throw NotAddressBook(Book);
  if (Answer.Status != 207) throw StatusError(Answer.Status, Answer.Reason, Book);
  TEtagListing Out;
  const QString BookPath = Book.path(QUrl::FullyEncoded);
  QString Problem, NoToken;
  const bool Read = ParseMultiStatus(
      Answer.Body, NoToken,
      [&](const TDavResponse& Response) {
        const QString Path = ResolveHref(Answer.Url, Response.Href);
        if (SameHref(Path, BookPath)) {
          if (Response.HasResourceType && !Response.IsAddressBook) throw NotAddressBook(Book);
          Out.SyncToken = Response.SyncToken;
          return;
        }
        if ((Response.Status != 0 && !Success(Response.Status)) || Response.IsCollection ||
            !IsVCardType(Response.ContentType))
          return;
        Out.Cards.push_back({Path, Response.Etag});
      },
      &Problem);
  if (!Read) throw Unreadable(Problem);
  return Out;
}

void TCardDavClient::MultiGet(const QUrl& BookUrl, const QStringList& Hrefs, const std::function<void(TCard&&)>& OnCard) {
  const QUrl Book = CollectionUrl(BookUrl);
  for (qsizetype First = 0; First < Hrefs.size(); First += MultiGetBatch) {
    const TAnswer Answer = Request("REPORT", Book, MultiGetBody(Hrefs.mid(First, MultiGetBatch)),
                                   {{"Content-Type", XmlType}});
    if (Answer.Status != 207) throw StatusError(Answer.Status, Answer.Reason, Book);
    TMultiStatus Status;
    QString Problem;
    if (!ParseMultiStatus(Answer.Body, Status, &Problem)) throw Unreadable(Problem);
    for (TDavResponse& Response : Status.Responses) {
      if (!Response.HasAddressData || (Response.Status != 0 && !Success(Response.Status))) continue;
      OnCard({ResolveHref(Answer.Url, Response.Href), Response.Etag, std::move(Response.AddressData)});
    }
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
      Slot.X.OnDone = [&Finish, Index] { Finish(Index); };
      Track(Slot.X);
      const TWriteJob& Job = Jobs[Index];
      THeaders Headers;
      if (Job.Kind == TWriteJob::Put) {
        Headers.push_back({"Content-Type", "text/vcard; charset=utf-8"});
        if (Job.Etag.isEmpty())
          Headers.push_back({"If-None-Match", "*"});
        else
          Headers.push_back({"If-Match", Job.Etag.toUtf8()});
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
