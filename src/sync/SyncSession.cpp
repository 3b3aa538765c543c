#include "SyncSession.h"

#include <malloc.h>

#include <algorithm>

#include "DavXml.h"

#include "Adrbook.h"
#include "SyncState.h"

namespace {

// The server's cards into the engine's listing, each freed as it is taken: a
// first sync lists thousands, and the two forms are not held at once.
void TakeCards(std::vector<TCardVersion>& Cards, TServerListing& Into) {
  Into.Cards.reserve(Into.Cards.size() + Cards.size());
  for (TCardVersion& Card : Cards) {
    Into.Cards.push_back({Card.Href.toStdString(), Card.Etag.toStdString()});
    Card = TCardVersion();
  }
  Cards = std::vector<TCardVersion>();
}

ESyncError CancelledError() {
  return ESyncError(ESyncErrorKind::Cancelled, QStringLiteral("The synchronisation was cancelled."));
}

QUrl Normal(const QUrl& Url) {
  QUrl Out = Url.adjusted(QUrl::NormalizePathSegments | QUrl::StripTrailingSlash | QUrl::RemoveUserInfo |
                          QUrl::RemoveFragment);
  Out.setHost(Out.host().toLower());
  Out.setScheme(Out.scheme().toLower());
  if (Out.port() == (Out.scheme() == QLatin1String("https") ? 443 : 80)) Out.setPort(-1);
  if (Out.path().isEmpty()) Out.setPath(QStringLiteral("/"));
  return Out;
}

QUrl FromState(const std::string& Text) { return QUrl(QString::fromStdString(Text)); }
// No user name or password is ever kept with an address.
std::string ToState(const QUrl& Url) { return Url.toString(QUrl::FullyEncoded | QUrl::RemoveUserInfo).toStdString(); }

QString Shown(const QUrl& Url) { return Url.toDisplayString(QUrl::RemoveUserInfo); }

// The collection's path with its closing slash, where new cards go.
std::string CollectionPath(const QUrl& Book) {
  std::string Path = Book.path(QUrl::FullyEncoded).toStdString();
  if (Path.empty() || Path.back() != '/') Path += '/';
  return Path;
}

QString HostOf(const QUrl& Url) {
  const int Default = Url.scheme() == QLatin1String("https") ? 443 : 80;
  return Url.port(Default) == Default ? Url.host() : QStringLiteral("%1:%2").arg(Url.host()).arg(Url.port());
}

std::string Plural(size_t Count, const char* One, const char* Many) {
  return std::to_string(Count) + ' ' + (Count == 1 ? One : Many);
}

}  // namespace

bool UnreadableCard(const QByteArray& Text) {
  if (Text.isEmpty() || Text.size() > MaxCardBytes || Text.contains('\0')) return true;
  const QByteArray Trimmed = Text.trimmed().toUpper();
  return !Trimmed.startsWith("BEGIN:VCARD") || !Trimmed.endsWith("END:VCARD");
}

std::vector<std::string> TSyncOutcome::Notices() const {
  std::vector<std::string> Out;
  if (Ignored > 0)
    Out.push_back(Plural(size_t(Ignored), "card", "cards") + " outside the address book " +
                  (Ignored == 1 ? "was" : "were") + " ignored");
  if (!Unreadable.empty()) {
    std::string Line = Plural(Unreadable.size(), "card", "cards") + " could not be read and " +
                       (Unreadable.size() == 1 ? "was" : "were") + " left as " +
                       (Unreadable.size() == 1 ? "it is: " : "they are: ");
    for (size_t I = 0; I < Unreadable.size(); ++I) Line += (I ? ", " : "") + Unreadable[I];
    Out.push_back(Line);
  }
  return Out;
}

std::string TSyncOutcome::Line() const {
  std::string Out = Summary.Line();
  for (const std::string& Notice : Notices()) Out += "; " + Notice;
  return Out;
}

bool SameCollection(const QUrl& A, const QUrl& B) { return Normal(A) == Normal(B); }

TSyncSession::TSyncSession(TAddressBook& ABook, ISyncHost& AHost) : Book(ABook), Host(AHost) {}

TSyncSession::~TSyncSession() = default;

const TSyncState& TSyncSession::State() {
  if (!HasLoaded) {
    const std::string Path = TSyncState::PathFor(Book.FileName);
    Existed = Loaded.Load(Path);
    HasLoaded = true;
    // Cards outside the recorded address book would be written or deleted
    // there: such a file was edited or damaged, and is not used.
    const QUrl BookUrl = FromState(Loaded.AddressBookUrl);
    auto Damaged = [&](const std::string& Why) {
      Loaded = TSyncState();
      HasLoaded = false;
      throw ESyncStateError(Path + ": " + Why + " (the file is damaged)");
    };
    for (const std::string* Url : {&Loaded.ServerUrl, &Loaded.AddressBookUrl}) {
      const QUrl U = FromState(*Url);
      if (!Url->empty() && (!U.isValid() || U.host().isEmpty() ||
                            (U.scheme() != QLatin1String("http") && U.scheme() != QLatin1String("https"))))
        Damaged("\"" + *Url + "\" is not the address of a server");
    }
    for (const TSyncCard& Card : Loaded.Cards)
      if (BookUrl.isEmpty() ||
          !InsideCollection(BookUrl, QString::fromUtf8(Card.Href.data(), qsizetype(Card.Href.size()))))
        Damaged("the card " + std::string(Card.Href) + " lies outside the address book " + Loaded.AddressBookUrl);
  }
  return Loaded;
}

void TSyncSession::Cancel() {
  Cancelled = true;
  if (Client) Client->Cancel();
}

void TSyncSession::ThrowIfCancelled() const {
  if (Cancelled) throw CancelledError();
}

TSyncOutcome TSyncSession::Run(const TSyncRequest& Request) {
  State();
  const std::string StatePath = TSyncState::PathFor(Book.FileName);
  // The state goes to the engine rather than a copy (10,000 cards would cost
  // a megabyte): a session runs once. Its settings as the file had them:
  const std::string Was[] = {Loaded.ServerUrl, Loaded.AddressBookUrl, Loaded.UserName, Loaded.TrustedCertificate};
  TSyncState Start = std::move(Loaded);
  const QUrl StateBook = FromState(Start.AddressBookUrl).adjusted(QUrl::RemoveUserInfo);
  const QUrl StateServer = FromState(Start.ServerUrl).adjusted(QUrl::RemoveUserInfo);
  // A user name and password written into the address serve this run only.
  TSyncRequest Given = Request;
  Given.Url = Request.Url.adjusted(QUrl::RemoveUserInfo);
  Given.AddressBook = Request.AddressBook.adjusted(QUrl::RemoveUserInfo);
  for (const QUrl& Url : {Request.AddressBook, Request.Url}) {
    if (Given.User.isEmpty() && !Url.userName().isEmpty()) Given.User = Url.userName();
    if (Given.Password.isEmpty() && !Url.password().isEmpty()) Given.Password = Url.password();
  }
  return Run(Given, Start, StatePath, StateBook, StateServer, Was);
}

TSyncOutcome TSyncSession::Run(const TSyncRequest& Request, TSyncState& Start, const std::string& StatePath,
                               const QUrl& StateBook, const QUrl& StateServer, const std::string (&Was)[4]) {
  const QString User = Request.User.isEmpty() ? QString::fromStdString(Start.UserName) : Request.User;
  QString Trusted = Request.Trusted.isEmpty() ? QString::fromStdString(Start.TrustedCertificate)
                                              : TCardDavClient::NormalFingerprint(Request.Trusted);
  // clang-format off
  QUrl Where = !Request.AddressBook.isEmpty() ? Request.AddressBook
               : !Request.Url.isEmpty()       ? Request.Url
                                              : StateBook;
  // clang-format on
  if (Where.isEmpty())
    throw ESyncRefused(ESyncRefused::NoAddressBook, QStringLiteral("No address book has been chosen for this book."));

  auto Connect = [&] {
    ThrowIfCancelled();
    Client = std::make_unique<TCardDavClient>(Where, User, Request.Password, Trusted, Request.TimeLimitMs);
  };
  // The first request to a server may meet a certificate the system does not
  // trust: the person may trust that one, and the request goes again.
  auto Trusting = [&](auto&& Do) {
    for (;;) {
      try {
        return Do();
      } catch (const ESyncError& Error) {
        if (Error.Kind != ESyncErrorKind::Tls || Error.Fingerprint.isEmpty() || Error.Fingerprint == Trusted ||
            Cancelled || !Host.TrustCertificate(Where, Error.Fingerprint, Error.Why))
          throw;
        Trusted = Error.Fingerprint;
        Connect();
      }
    }
  };

  Host.Progress(ESyncStage::Connecting, 0, 0);
  Connect();
  QUrl BookUrl;
  if (!Request.AddressBook.isEmpty()) {
    BookUrl = Request.AddressBook;
  } else if (!StateBook.isEmpty() && (Request.Url.isEmpty() || SameCollection(Request.Url, StateBook) ||
                                      SameCollection(Request.Url, StateServer))) {
    BookUrl = StateBook;
  } else {
    // Discovery stays on the server named, unless the person lets it go on.
    std::vector<TAddressBookInfo> Found;
    QUrl Asked = Request.Url;
    for (int Hop = 0;; ++Hop) {
      try {
        Found = Trusting([&] { return Client->Discover(Asked); });
        break;
      } catch (const ESyncError& Error) {
        if (Error.Kind != ESyncErrorKind::OtherServer) throw;
        if (Hop >= 3 || Cancelled || !Host.AllowOtherServer(Where, Error.Elsewhere))
          throw ESyncRefused(ESyncRefused::OtherServer,
                             QStringLiteral("The server at %1 sends you on to %2 for your address books; nothing was "
                                            "sent there. To synchronise with an address book at %2, give that address "
                                            "book's URL.")
                                 .arg(HostOf(Where), HostOf(Error.Elsewhere)),
                             {}, Error.Elsewhere);
        // A certificate trusted for one host says nothing about another.
        if (Error.Elsewhere.host().compare(Where.host(), Qt::CaseInsensitive) != 0) Trusted.clear();
        Where = Asked = Error.Elsewhere;
        Connect();
      }
    }
    if (Found.empty())
      throw ESyncRefused(ESyncRefused::NoAddressBook,
                         QStringLiteral("There are no address books at %1.").arg(Shown(Request.Url)));
    if (Found.size() > 1)
      throw ESyncRefused(ESyncRefused::SeveralAddressBooks,
                         QStringLiteral("%1 has %2 address books; give the URL of the one to synchronise with.")
                             .arg(Shown(Request.Url))
                             .arg(Found.size()),
                         Found);
    BookUrl = Found.front().Url;
  }
  // The state's cards are that address book's: they say nothing of another.
  if (!StateBook.isEmpty() && !SameCollection(BookUrl, StateBook))
    throw ESyncRefused(ESyncRefused::OtherAddressBook,
                       QStringLiteral("%1 is synchronised with %2, not with %3; remove %4 to start again with "
                                      "another address book.")
                           .arg(QString::fromStdString(Book.FileName), Shown(StateBook), Shown(BookUrl),
                                QString::fromStdString(StatePath)));
  if (!SameCollection(Where, BookUrl)) {
    Where = BookUrl;
    Connect();
  }

  // What the server has changed since the last sync; every card when there
  // was none, or when it no longer knows the token.
  Host.Progress(ESyncStage::Listing, 0, 0);
  TServerListing Listing;
  bool Listed = false;
  if (!Start.SyncToken.empty()) {
    TSyncChanges Changes =
        Trusting([&] { return Client->SyncCollection(BookUrl, QString::fromStdString(Start.SyncToken)); });
    if (Changes.Outcome == ESyncOutcome::Changes) {
      Listing.Full = false;
      TakeCards(Changes.Changed, Listing);
      for (const QString& Href : Changes.Removed) Listing.Deleted.push_back(Href.toStdString());
      Listing.SyncToken = Changes.Token.toStdString();
      Listed = true;
    }
  }
  if (!Listed) {
    Listing.Full = true;
    TSyncChanges All = Trusting([&] { return Client->SyncCollection(BookUrl, QString()); });
    if (All.Outcome == ESyncOutcome::Changes) {
      TakeCards(All.Changed, Listing);
      Listing.SyncToken = All.Token.toStdString();
    } else {
      TEtagListing Etags = Client->ListEtags(BookUrl);
      TakeCards(Etags.Cards, Listing);
      Listing.SyncToken = Etags.SyncToken.toStdString();
    }
  }

  // The settings go into the state before the engine takes it, so that the
  // journal and the final state carry them.
  Start.ServerUrl =
      !StateServer.isEmpty() ? ToState(StateServer) : ToState(Request.Url.isEmpty() ? BookUrl : Request.Url);
  Start.AddressBookUrl = ToState(BookUrl);
  Start.UserName = User.toStdString();
  Start.TrustedCertificate = Trusted.toStdString();
  const bool SettingsChanged = !Existed || Start.ServerUrl != Was[0] || Start.AddressBookUrl != Was[1] ||
                               Start.UserName != Was[2] || Start.TrustedCertificate != Was[3];

  // Gone once the plan is made: the plan keeps its own copies of what it
  // needs, and the cards fetched are megabytes in a large first sync.
  auto Engine = std::make_unique<TSyncEngine>(std::move(Start));
  // The texts wait for the plan beside the book, where its state goes.
  const size_t Slash = Book.FileName.rfind('/');
  Engine->SetScratchFolder(Slash == std::string::npos ? std::string(".")
                                                      : Book.FileName.substr(0, std::max<size_t>(Slash, 1)));
  std::vector<std::string> Unreadable;
  QStringList Hrefs;
  {
    const std::vector<std::string> Wanted = Engine->Listing(Listing);
    Listing = TServerListing();  // the engine has what it needs of it
    Hrefs.reserve(qsizetype(Wanted.size()));
    for (const std::string& Href : Wanted) Hrefs << QString::fromStdString(Href);
  }
  // The listing of a whole address book was tens of thousands of small
  // blocks, now free: their pages go back before the cards arrive.
  malloc_trim(0);
  if (!Hrefs.isEmpty()) {
    const int Total = int(Hrefs.size());
    int Fetched = 0;
    Host.Progress(ESyncStage::Fetching, 0, Total);
    Client->MultiGet(BookUrl, Hrefs, [&](TCard&& Card) {
      // A card that cannot be read stays on the server as it is: the engine
      // never gets it, so it is neither taken nor deleted.
      if (Card.TooLarge || UnreadableCard(Card.Text)) Unreadable.push_back(Card.Href.toStdString());
      else
        Engine->AddCard(Card.Href.toStdString(), Card.Etag.toStdString(),
                        std::string_view(Card.Text.constData(), size_t(Card.Text.size())));
      Host.Progress(ESyncStage::Fetching, ++Fetched, Total);
    });
    Hrefs = QStringList();
    malloc_trim(0);  // the addresses asked for: the plan's large blocks do not reuse their room
  }
  ThrowIfCancelled();

  TSyncOptions Options;
  Options.Rule = Request.Rule;
  Options.Ask = [this](const TConflictQuestion& Question) {
    const EConflictRule Answer = Host.AskConflict(Question);
    ThrowIfCancelled();
    return Answer;
  };
  Options.CollectionHref = CollectionPath(BookUrl);
  TSyncPlan Plan = Engine->Plan(*Book.Items, Options);
  Engine.reset();
  // The cards fetched were thousands of small blocks: give their pages back
  // before the state, whose index is written in large ones, is saved.
  malloc_trim(0);
  ThrowIfCancelled();

  TSyncOutcome Outcome;
  Outcome.Ignored = Client->IgnoredCount();
  Outcome.Unreadable = std::move(Unreadable);
  for (const std::string& Line : Plan.Skipped)
    if (std::none_of(Outcome.Unreadable.begin(), Outcome.Unreadable.end(),
                     [&](const std::string& Href) { return Line.rfind(Href + ": ", 0) == 0; }))
      Outcome.Skipped.push_back(Line);
  if (Request.DryRun) {
    Outcome.Actions = Plan.Actions();
    Outcome.Summary = Plan.Summary;
    if (Plan.MassDelete && !Request.AllowMassDelete) Outcome.MassDelete = Plan.MassDeleteText;
    return Outcome;
  }
  if (Plan.MassDelete && !Request.AllowMassDelete &&
      !Host.ConfirmMassDelete(QString::fromStdString(Plan.MassDeleteText)))
    throw ESyncRefused(ESyncRefused::MassDelete, QString::fromStdString(Plan.MassDeleteText));
  ThrowIfCancelled();

  // A new card's address and UID are on disk before it is sent, so that a
  // run cut off after the PUT finds it on the server instead of sending it again.
  if (Plan.NeedsJournal()) Plan.JournalState().Save(StatePath);

  std::vector<TWriteJob> Jobs;
  Jobs.reserve(Plan.Puts.size() + Plan.ServerDeletes.size());
  auto Q = [](std::string_view Text) { return QString::fromUtf8(Text.data(), qsizetype(Text.size())); };
  for (const TCardPut& Put : Plan.Puts)
    Jobs.push_back(
        {TWriteJob::Put, Q(Put.Href), QByteArray(Put.Text.data(), qsizetype(Put.Text.size())), Q(Put.IfMatch)});
  for (const TCardDelete& Delete : Plan.ServerDeletes)
    Jobs.push_back({TWriteJob::Delete, Q(Delete.Href), {}, Q(Delete.IfMatch)});
  if (!Jobs.empty()) {
    const int Total = int(Jobs.size());
    int Sent = 0;
    Host.Progress(ESyncStage::Sending, 0, Total);
    Client->WriteMany(Jobs, [&](size_t Index, const TWriteResult& Result) {
      const bool Done = Result.Outcome == EWriteOutcome::Done;
      std::string_view Name;
      if (Index < Plan.Puts.size()) {
        TCardPut& Put = Plan.Puts[Index];
        Put.Result = Done ? EOpResult::Done : EOpResult::Failed;
        Put.ETag = Result.Etag.toStdString();
        Name = Put.Name;
      } else {
        TCardDelete& Delete = Plan.ServerDeletes[Index - Plan.Puts.size()];
        Delete.Result = Done ? EOpResult::Done : EOpResult::Failed;
        Name = Delete.Name;
      }
      // The summary tells what was done: what failed is left for the next run.
      if (!Done) --(Index < Plan.Puts.size() ? Plan.Summary.Sent : Plan.Summary.DeletedThere);
      if (Result.Outcome == EWriteOutcome::Conflict)
        Outcome.Skipped.push_back(std::string(Name) + ": changed on the server meanwhile; left for the next run");
      else if (Result.Outcome == EWriteOutcome::Refused)
        Outcome.Skipped.push_back(std::string(Name) + ": " + Result.Problem.toStdString());
      Host.Progress(ESyncStage::Sending, ++Sent, Total);
    });
  }
  ThrowIfCancelled();

  // The book first: a state that ran ahead of its book would take the older
  // entries on disk for edits made here.
  Host.Progress(ESyncStage::Saving, 0, 0);
  Touched = true;
  Outcome.BookChanged = Plan.ApplyToBook(Book);
  // The name order's keys of every entry, now free.
  malloc_trim(0);
  if (Book.Modified) Book.SaveToFile();
  if (Plan.StateChanged() || SettingsChanged) Plan.FinalState().Save(StatePath);
  Outcome.Summary = Plan.Summary;
  Client.reset();
  return Outcome;
}
