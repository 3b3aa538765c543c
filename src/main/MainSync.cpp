// The main window: File > Synchronize, the book kept in step with an address
// book on a CardDAV server.

#include "Main.h"

#include <QLineEdit>
#include <QTableView>

#include "MainShared.h"
#include "NamesModel.h"
#include "Prompter.h"
#include "SecretStore.h"
#include "SyncConflict.h"
#include "SyncProgress.h"
#include "SyncSession.h"
#include "SyncSetup.h"
#include "SyncState.h"

using namespace MainWindow;

QString SyncSummaryText(const TSyncSummary& Summary, const std::vector<std::string>& Skipped) {
  QString Text = QStringLiteral(
                     "The synchronization has finished.\n\n"
                     "Received: %1\nSent: %2\nDeleted here: %3\nDeleted on the server: %4\n"
                     "Merged: %5\nConflicts: %6")
                     .arg(Summary.Received)
                     .arg(Summary.Sent)
                     .arg(Summary.DeletedHere)
                     .arg(Summary.DeletedThere)
                     .arg(Summary.Merged)
                     .arg(Summary.Conflicts);
  if (Summary.GroupsLeft > 0)
    Text += QStringLiteral("\nContact groups left on the server as they are: %1").arg(Summary.GroupsLeft);
  if (!Skipped.empty()) {
    Text += QStringLiteral("\n\nLeft for the next synchronization:");
    constexpr size_t Shown = 5;
    for (size_t I = 0; I < Skipped.size() && I < Shown; ++I) Text += QLatin1Char('\n') + Q(Skipped[I]);
    if (Skipped.size() > Shown) Text += QStringLiteral("\n(and %1 more)").arg(Skipped.size() - Shown);
  }
  return Text;
}

namespace {

QString StageText(ESyncStage Stage) {
  switch (Stage) {
    case ESyncStage::Connecting:
      return QStringLiteral("Connecting to the server...");
    case ESyncStage::Listing:
      return QStringLiteral("Asking the server for its changes...");
    case ESyncStage::Fetching:
      return QStringLiteral("Receiving cards...");
    case ESyncStage::Sending:
      return QStringLiteral("Sending changes...");
    case ESyncStage::Saving:
      return QStringLiteral("Saving the book...");
  }
  return {};
}

// The program's side of a sync: the progress window, the conflict window and
// the questions in boxes.
class TWindowHost : public ISyncHost {
public:
  explicit TWindowHost(TfrmSyncProgress& AWindow) : Window(AWindow) {}
  void Progress(ESyncStage Stage, int Done, int Total) override {
    Window.ShowProgress(StageText(Stage), Done, Total);
    // Cards are fetched or sent only after the server has listed its own.
    if (Stage == ESyncStage::Fetching || Stage == ESyncStage::Sending) Answered = true;
  }
  bool Answered = false;  // the server answered once: a failure now is one in the middle
  EConflictRule AskConflict(const TConflictQuestion& Question) override {
    TfrmSyncConflict Conflict(&Window);
    Conflict.ShowVersions(Question.Local, Question.Server, Question.Fields, Question.FromHere, Question.FromServer);
    if (Conflict.exec() != QDialog::Accepted) {
      // The session stops at once, with nothing changed.
      Window.btnCancelClick();
      return EConflictRule::KeepBoth;
    }
    switch (Conflict.Choice()) {
      case ESyncChoice::KeepLocal:
        return EConflictRule::PreferLocal;
      case ESyncChoice::KeepServer:
        return EConflictRule::PreferServer;
      case ESyncChoice::KeepBoth:
        break;
    }
    return EConflictRule::KeepBoth;
  }
  bool ConfirmMassDelete(const QString& Text) override {
    return Prompter().Confirm(&Window, Text + QStringLiteral("\n\nDo you want to go on and delete them?"));
  }
  bool TrustCertificate(const QUrl& Server, const QString& Fingerprint, const QString& Why) override {
    return Prompter().Confirm(&Window, TrustCertificateText(Server, Fingerprint, Why));
  }
  bool AllowOtherServer(const QUrl& From, const QUrl& To) override {
    return Prompter().Confirm(&Window, OtherServerText(From, To));
  }

private:
  TfrmSyncProgress& Window;
};

}  // namespace

void TfrmMain::mnuFSyncClick() {
  UpdateCurrent();
  // The state lives beside the book, so the book needs a name first.
  if (FBook->FileName.empty() && !SaveAs()) return;
  // The sync ends by saving the book; a file that cannot take it would leave
  // the server changed and the book not.
  if (IsFileReadOnly(FBook->FileName)) {
    Prompter().Warning(this, QString::fromLatin1(ReadOnlyText));
    if (!SaveAs()) return;
  }

  TfrmSyncProgress ProgressWindow(this);
  TWindowHost Host(ProgressWindow);
  TSyncSession Session(*FBook, Host);
  const TSyncState* State = nullptr;
  try {
    State = &Session.State();
  } catch (const ESyncStateError& Error) {
    Prompter().Error(this, Q(Error.what()));
    return;
  } catch (const EFileError& Error) {
    Prompter().Error(this, Q(Error.what()));
    return;
  }

  TSyncRequest Request;
  Request.Rule = EConflictRule::Ask;
  const QUrl StateServer(Q(State->ServerUrl));
  const QUrl StateBook(Q(State->AddressBookUrl));
  bool Remember = false;
  bool FromStore = false;
  QUrl SecretServer = StateServer;
  QString User = Q(State->UserName);
  QString Password;
  if (!StateBook.isEmpty() && !User.isEmpty()) {
    const TSecret Kept = SecretStore().Read(StateServer.toString(), User);
    if (Kept.Status == ESecretStatus::Found) {
      Password = Kept.Password;
      FromStore = true;
    }
  }
  if (StateBook.isEmpty() || (!User.isEmpty() && !FromStore)) {
    // The first time, or a book whose password is not remembered.
    TfrmSyncSetup Setup(this);
    if (StateBook.isEmpty()) Setup.Prefill(FLastSyncServer, FLastSyncUser, QUrl(), QString());
    else Setup.Prefill(StateServer.toString(), User, StateBook, Q(State->TrustedCertificate)), Setup.PasswordOnly();
    if (Setup.exec() != QDialog::Accepted) return;
    Request.Url = Setup.Server();
    Request.AddressBook = Setup.AddressBook();
    Request.Trusted = Setup.Trusted();
    User = Setup.User();
    Password = Setup.Password();
    Remember = Setup.RememberPassword() && !User.isEmpty();
    SecretServer = StateBook.isEmpty() ? Request.Url : StateServer;
    // Never a password typed into the address.
    FLastSyncServer = ServerUrlFromText(Setup.edtServer->text()).userInfo().isEmpty() ? Setup.edtServer->text()
                                                                                      : Setup.Server().toString();
    FLastSyncUser = User;
  } else {
    Request.Url = StateServer;
    Request.AddressBook = StateBook;
  }
  Request.User = User;
  Request.Password = Password;

  ProgressWindow.OnCancel = [&Session] { Session.Cancel(); };
  ProgressWindow.setWindowModality(Qt::ApplicationModal);
  ProgressWindow.show();
  const int ShownRow = FSelectedRow;
  const bool ShowingNewRow = FBook->Current == nullptr;
  TSyncOutcome Outcome;
  QString Failure;
  bool WrongPassword = false;
  try {
    Outcome = Session.Run(Request);
  } catch (const ESyncError& Error) {
    if (Error.Kind != ESyncErrorKind::Cancelled) Failure = Error.Message;
    // A server gone in the middle of a sync: what that means for the book.
    if ((Error.Kind == ESyncErrorKind::Network || Error.Kind == ESyncErrorKind::TimeOut) && Host.Answered)
      Failure = QStringLiteral("The server at %1 stopped answering. Nothing was lost; synchronise again to finish.")
                    .arg(Request.Url.host());
    WrongPassword = Error.Kind == ESyncErrorKind::Auth && Error.HttpStatus == 401;
  } catch (const ESyncRefused& Refused) {
    Failure = Refused.Message;
  } catch (const ESyncStateError& Error) {
    Failure = Q(Error.what());
  } catch (const EFileError& Error) {
    Failure = Q(Error.what());
  }
  ProgressWindow.hide();

  if (Session.BookTouched()) {
    // Entries may have gone: nothing may point into them any more.
    FSearch.ListReplaced();
    // The entry shown stays shown where it still exists, filled again with
    // what the server changed; one deleted gives way to its neighbour.
    TAddressItem* Shown = FBook->Current;
    BuildNamesList();
    SelectRow(Shown ? FBook->Items->IndexOf(Shown) + 1 : ShowingNewRow ? FNames->NewEntryRow() : ShownRow);
    grdNamesClick();
  }
  if (WrongPassword && FromStore) SecretStore().Forget(SecretServer.toString(), User);
  if (Remember && !WrongPassword &&
      SecretStore().Write(SecretServer.toString(), User, Password) == ESecretStatus::Unavailable &&
      !FSecretStoreNoticeShown) {
    FSecretStoreNoticeShown = true;
    Prompter().Information(this, QString::fromLatin1(NoSecretStoreText));
  }
  if (!Failure.isEmpty()) {
    Prompter().Error(this, Failure);
    return;
  }
  if (ProgressWindow.CancelRequested()) return;
  QString Text = SyncSummaryText(Outcome.Summary, Outcome.Skipped);
  for (const std::string& Notice : Outcome.Notices()) Text += QStringLiteral("\n\n") + Q(Notice) + QLatin1Char('.');
  Prompter().Information(this, Text);
}
