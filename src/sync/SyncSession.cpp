#include "SyncSession.h"

#include <malloc.h>

#include "Adrbook.h"
#include "SyncState.h"

namespace {

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
std::string ToState(const QUrl& Url) { return Url.toString(QUrl::FullyEncoded).toStdString(); }

QString Shown(const QUrl& Url) { return Url.toDisplayString(QUrl::RemoveUserInfo); }

// The collection's path with its closing slash, where new cards go.
std::string CollectionPath(const QUrl& Book) {
  std::string Path = Book.path(QUrl::FullyEncoded).toStdString();
  if (Path.empty() || Path.back() != '/') Path += '/';
  return Path;
}

}  // namespace

bool SameCollection(const QUrl& A, const QUrl& B) { return Normal(A) == Normal(B); }

TSyncSession::TSyncSession(TAddressBook& ABook, ISyncHost& AHost) : Book(ABook), Host(AHost) {}

TSyncSession::~TSyncSession() = default;

const TSyncState& TSyncSession::State() {
  if (!HasLoaded) {
    Existed = Loaded.Load(TSyncState::PathFor(Book.FileName));
    HasLoaded = true;
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
  const QUrl StateBook = FromState(Start.AddressBookUrl);
  const QUrl StateServer = FromState(Start.ServerUrl);
  const QString User = Request.User.isEmpty() ? QString::fromStdString(Start.UserName) : Request.User;
  QString Trusted = Request.Trusted.isEmpty() ? QString::fromStdString(Start.TrustedCertificate)
                                              : TCardDavClient::NormalFingerprint(Request.Trusted);
  QUrl Where = !Request.AddressBook.isEmpty() ? Request.AddressBook
               : !Request.Url.isEmpty()       ? Request.Url
                                              : StateBook;
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
            Cancelled || !Host.TrustCertificate(Where, Error.Fingerprint))
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
  } else if (!StateBook.isEmpty() &&
             (Request.Url.isEmpty() || SameCollection(Request.Url, StateBook) ||
              SameCollection(Request.Url, StateServer))) {
    BookUrl = StateBook;
  } else {
    const std::vector<TAddressBookInfo> Found = Trusting([&] { return Client->Discover(Request.Url); });
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
      for (const TCardVersion& Card : Changes.Changed)
        Listing.Cards.push_back({Card.Href.toStdString(), Card.Etag.toStdString()});
      for (const QString& Href : Changes.Removed) Listing.Deleted.push_back(Href.toStdString());
      Listing.SyncToken = Changes.Token.toStdString();
      Listed = true;
    }
  }
  if (!Listed) {
    Listing.Full = true;
    TSyncChanges All = Trusting([&] { return Client->SyncCollection(BookUrl, QString()); });
    if (All.Outcome == ESyncOutcome::Changes) {
      for (const TCardVersion& Card : All.Changed) Listing.Cards.push_back({Card.Href.toStdString(), Card.Etag.toStdString()});
      Listing.SyncToken = All.Token.toStdString();
    } else {
      const TEtagListing Etags = Client->ListEtags(BookUrl);
      for (const TCardVersion& Card : Etags.Cards) Listing.Cards.push_back({Card.Href.toStdString(), Card.Etag.toStdString()});
      Listing.SyncToken = Etags.SyncToken.toStdString();
    }
  }

  // The settings go into the state before the engine takes it, so that the
  // journal and the final state carry them.
  Start.ServerUrl = !StateServer.isEmpty() ? Start.ServerUrl : ToState(Request.Url.isEmpty() ? BookUrl : Request.Url);
  Start.AddressBookUrl = ToState(BookUrl);
  Start.UserName = User.toStdString();
  Start.TrustedCertificate = Trusted.toStdString();
  const bool SettingsChanged = !Existed || Start.ServerUrl != Was[0] || Start.AddressBookUrl != Was[1] ||
                               Start.UserName != Was[2] || Start.TrustedCertificate != Was[3];

  // Gone once the plan is made: the plan keeps its own copies of what it
  // needs, and the cards fetched are megabytes in a large first sync.
  auto Engine = std::make_unique<TSyncEngine>(std::move(Start));
  QStringList Hrefs;
  {
    const std::vector<std::string> Wanted = Engine->Listing(Listing);
    Listing = TServerListing();  // the engine has what it needs of it
    Hrefs.reserve(qsizetype(Wanted.size()));
    for (const std::string& Href : Wanted) Hrefs << QString::fromStdString(Href);
  }
  if (!Hrefs.isEmpty()) {
    const int Total = int(Hrefs.size());
    int Fetched = 0;
    Host.Progress(ESyncStage::Fetching, 0, Total);
    Client->MultiGet(BookUrl, Hrefs, [&](TCard&& Card) {
      Engine->AddCard(Card.Href.toStdString(), Card.Etag.toStdString(), Card.Text.toStdString());
      Host.Progress(ESyncStage::Fetching, ++Fetched, Total);
    });
    Hrefs = QStringList();
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
  Outcome.Skipped = Plan.Skipped;
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
    Jobs.push_back({TWriteJob::Put, Q(Put.Href), QByteArray(Put.Text.data(), qsizetype(Put.Text.size())), Q(Put.IfMatch)});
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
  if (Book.Modified) Book.SaveToFile();
  if (Plan.StateChanged() || SettingsChanged) Plan.FinalState().Save(StatePath);
  Outcome.Summary = Plan.Summary;
  Client.reset();
  return Outcome;
}
