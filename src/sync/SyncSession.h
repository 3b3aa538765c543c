#pragma once

// One synchronisation of a book with its address book on a CardDAV server,
// driven the same way by the command-line tool and by the program: the state
// opened (or begun), the server asked for its changes since the last sync
// (every card when it forgot the token), the changed cards fetched in
// batches, the engine's plan, the person asked where the plan needs it, the
// new cards recorded in the state before they are sent, the writes, and at
// the end the book saved and the state written. Anything that stops a sync
// before that end leaves the book and the state as they were (but for that
// record of new cards, which lets the next run finish the job without
// duplicates). Qt Core and Network, no windows.

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CardDav.h"
#include "SyncEngine.h"

class TAddressBook;

enum class ESyncStage { Connecting, Listing, Fetching, Sending, Saving };

// What the tool and the program do for a sync while it runs.
class ISyncHost {
public:
  virtual ~ISyncHost() = default;
  // Done of Total cards fetched or changes sent; Total 0 when not counted.
  virtual void Progress(ESyncStage Stage, int Done, int Total) = 0;
  // Rule Ask: how to settle this entry. Throwing ESyncError Cancelled stops the sync.
  virtual EConflictRule AskConflict(const TConflictQuestion& Question) = 0;
  // More than half of one side's entries would go; true to go on.
  virtual bool ConfirmMassDelete(const QString& Text) = 0;
  // The server's certificate is not trusted by the system (Why says what is
  // wrong with it); true to trust this one (it is then kept in the state).
  virtual bool TrustCertificate(const QUrl& Server, const QString& Fingerprint, const QString& Why) = 0;
  // Discovery at From leads to another server: true to send the user name
  // and password on to To. Nothing goes there unless this says so.
  virtual bool AllowOtherServer(const QUrl& From, const QUrl& To) {
    (void)From, (void)To;
    return false;
  }
};

struct TSyncRequest {
  // The server address or the address book's URL as given; empty: the state's.
  // A user name and password in it are taken for this run (when User and
  // Password are empty) and never kept.
  QUrl Url;
  // The address book chosen (in the set-up dialog); empty: the state's, or
  // the only one discovery finds at Url.
  QUrl AddressBook;
  QString User;  // empty: the state's
  QString Password;
  QString Trusted;  // a certificate fingerprint the person trusts (--trust); empty: the state's
  EConflictRule Rule = EConflictRule::KeepBoth;
  bool DryRun = false;
  bool AllowMassDelete = false;
  int TimeLimitMs = TCardDavClient::DefaultTimeLimitMs;
};

struct TSyncOutcome {
  TSyncSummary Summary;
  std::vector<std::string> Actions;     // a dry run: a line per thing it would do
  std::vector<std::string> Skipped;     // cards left for the next run, with why
  std::string MassDelete;               // a dry run that a real run would stop for: why
  bool BookChanged = false;             // entries added, changed or deleted here
  int Ignored = 0;                      // members the server listed outside the address book
  std::vector<std::string> Unreadable;  // hrefs of cards that could not be read, left as they are
  // The summary's own line and what it adds: "2 cards outside the address
  // book were ignored", "1 card could not be read and was left as it is: /x.vcf".
  std::vector<std::string> Notices() const;
  std::string Line() const;
};

// A sync the session refuses to start or to finish, with its one-line reason.
class ESyncRefused : public std::runtime_error {
public:
  enum EReason { MassDelete, OtherAddressBook, SeveralAddressBooks, NoAddressBook, OtherServer };
  ESyncRefused(EReason AReason, const QString& AMessage, std::vector<TAddressBookInfo> ABooks = {},
               QUrl AElsewhere = {})
      : std::runtime_error(AMessage.toStdString()),
        Reason(AReason),
        Message(AMessage),
        Books(std::move(ABooks)),
        Elsewhere(std::move(AElsewhere)) {}
  EReason Reason;
  QString Message;
  std::vector<TAddressBookInfo> Books;  // SeveralAddressBooks: the ones to choose from
  QUrl Elsewhere;                       // OtherServer: where discovery led
};

class TSyncSession {
public:
  // Book must have a file name: the state lives beside it.
  TSyncSession(TAddressBook& Book, ISyncHost& Host);
  ~TSyncSession();

  // The book's state as the last sync left it (empty before the first);
  // loaded on first use, given to the engine by Run. Throws ESyncStateError
  // and EFileError.
  const TSyncState& State();
  // Throws ESyncError (the server), ESyncRefused, ESyncStateError (the state
  // file) and EFileError (the book or the state cannot be written). Once only.
  TSyncOutcome Run(const TSyncRequest& Request);
  // From the host while Run waits on the server or on the person: Run then
  // throws ESyncError Cancelled. Nothing is written but the record of new
  // cards whose sending may have begun.
  void Cancel();
  // The book's entries were changed (and may have been freed) by Run, even
  // when it failed after that.
  bool BookTouched() const { return Touched; }

private:
  struct TRun;
  void ThrowIfCancelled() const;
  TSyncOutcome Run(const TSyncRequest& Request, TSyncState& Start, const std::string& StatePath, const QUrl& StateBook,
                   const QUrl& StateServer, const std::string (&Was)[4]);

  TAddressBook& Book;
  ISyncHost& Host;
  TSyncState Loaded;
  bool HasLoaded = false;
  bool Existed = false;                    // the state file was there
  std::unique_ptr<TCardDavClient> Client;  // of the run in progress
  bool Cancelled = false;
  bool Touched = false;
};

// A card's text that is no card at all (empty, a NUL in it, not one
// BEGIN:VCARD ... END:VCARD) or longer than the card readers take.
bool UnreadableCard(const QByteArray& Text);

// Two addresses of the same collection (a trailing slash, case of the host and
// default ports aside).
bool SameCollection(const QUrl& A, const QUrl& B);
