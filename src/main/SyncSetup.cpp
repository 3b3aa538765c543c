#include "SyncSetup.h"
#include "TabFocus.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "CardDav.h"
#include "GroupFrame.h"
#include "Prompter.h"
#include "WaitCursor.h"

const char* const NoAddressBooksText = "No address books were found for this user on the server.";

QUrl ServerUrlFromText(const QString& Text) {
  const QString Trimmed = Text.trimmed();
  if (Trimmed.isEmpty()) return {};
  const bool HasScheme = Trimmed.contains(QLatin1String("://"));
  return QUrl(HasScheme ? Trimmed : QStringLiteral("https://") + Trimmed, QUrl::TolerantMode);
}

QString TrustCertificateText(const QUrl& Server, const QString& Fingerprint, const QString& Why) {
  return QStringLiteral(
             "The certificate of %1 is not trusted by this computer%3.\n\nSHA-256 fingerprint:\n%2\n\n"
             "Trust this certificate for this address book from now on?")
      .arg(Server.host(), Fingerprint, Why.isEmpty() ? QString() : QStringLiteral(": ") + Why);
}

QString OtherServerText(const QUrl& From, const QUrl& To) {
  auto Host = [](const QUrl& Url) {
    const int Default = Url.scheme() == QLatin1String("https") ? 443 : 80;
    return Url.port(Default) == Default ? Url.host() : QStringLiteral("%1:%2").arg(Url.host()).arg(Url.port());
  };
  return QStringLiteral(
             "The server at %1 sends you on to %2 for your address books. Send your user name and password "
             "there?")
      .arg(Host(From), Host(To));
}

namespace {

QLineEdit* AddEdit(QWidget* Parent, const char* Name, const QString& Caption, int Top) {
  auto* Label = new QLabel(Caption, Parent);
  Label->setGeometry(8, Top, 78, 21);
  Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* Edit = new QLineEdit(Parent);
  Edit->setObjectName(QLatin1String(Name));
  Edit->setGeometry(90, Top, 236, 21);
  Label->setBuddy(Edit);
  return Edit;
}

QPushButton* AddButton(QWidget* Parent, const char* Name, const QString& Caption, const QRect& Place) {
  auto* Button = new QPushButton(Caption, Parent);
  Button->setObjectName(QLatin1String(Name));
  Button->setGeometry(Place);
  Button->setAutoDefault(false);
  return Button;
}

}  // namespace

TfrmSyncSetup::TfrmSyncSetup(QWidget* Parent)
    : TFixedDialog("frmSyncSetup", QStringLiteral("Synchronize"), QSize(436, 268), SyncHelpContext, Parent) {
  grpServer = new TGroupFrame(QStringLiteral(" Server "), this);
  grpServer->setGeometry(8, 4, 336, 128);
  edtServer = AddEdit(grpServer, "edtServer", QStringLiteral("&Address :"), 18);
  edtServer->setPlaceholderText(QStringLiteral("https://example.com/"));
  edtUser = AddEdit(grpServer, "edtUser", QStringLiteral("&User name :"), 45);
  edtPassword = AddEdit(grpServer, "edtPassword", QStringLiteral("&Password :"), 72);
  edtPassword->setEchoMode(QLineEdit::Password);
  chkRemember = new QCheckBox(QStringLiteral("&Remember password"), grpServer);
  chkRemember->setObjectName(QStringLiteral("chkRemember"));
  chkRemember->setGeometry(90, 99, 236, 19);

  grpBooks = new TGroupFrame(QStringLiteral(" Address Books "), this);
  grpBooks->setGeometry(8, 136, 336, 124);
  btnFind = AddButton(grpBooks, "btnFind", QStringLiteral("&Find Address Books"), QRect(10, 18, 150, 25));
  lstBooks = new QListWidget(grpBooks);
  lstBooks->setObjectName(QStringLiteral("lstBooks"));
  lstBooks->setGeometry(10, 49, 316, 65);
  lstBooks->setStyleSheet(ScaledFrameStyle(QStringLiteral("QListWidget")));

  btnOK = AddButton(this, "btnOK", QStringLiteral("OK"), QRect(353, 10, 75, 25));
  btnOK->setDefault(true);
  btnCancel = AddButton(this, "btnCancel", QStringLiteral("Cancel"), QRect(353, 41, 75, 25));

  connect(edtServer, &QLineEdit::textEdited, this, &TfrmSyncSetup::ServerChanged);
  connect(edtUser, &QLineEdit::textEdited, this, &TfrmSyncSetup::ServerChanged);
  connect(edtServer, &QLineEdit::textChanged, this, &TfrmSyncSetup::EnableControls);
  connect(lstBooks, &QListWidget::itemSelectionChanged, this, &TfrmSyncSetup::EnableControls);
  connect(lstBooks, &QListWidget::itemDoubleClicked, this, [this] {
    if (btnOK->isEnabled()) accept();
  });
  connect(btnFind, &QPushButton::clicked, this, &TfrmSyncSetup::btnFindClick);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmSyncSetup::reject);
  EnableControls();
}

TfrmSyncSetup::~TfrmSyncSetup() = default;

void TfrmSyncSetup::EnableControls() {
  const bool Idle = FClient == nullptr;
  for (QWidget* Control :
       {static_cast<QWidget*>(edtServer), static_cast<QWidget*>(edtUser), static_cast<QWidget*>(edtPassword),
        static_cast<QWidget*>(chkRemember), static_cast<QWidget*>(lstBooks)})
    Control->setEnabled(Idle);
  btnFind->setEnabled(Idle && !edtServer->text().trimmed().isEmpty());
  btnOK->setEnabled(Idle && !AddressBook().isEmpty());
  // A grey OK says what it waits for.
  btnOK->setToolTip(btnOK->isEnabled() ? QString()
                    : lstBooks->count() == 0
                        ? QStringLiteral("Click Find Address Books, then choose the address book to keep this book in.")
                        : QStringLiteral("Choose the address book to keep this book in."));
}

void TfrmSyncSetup::ServerChanged() {
  // The books listed were another server's or another user's.
  lstBooks->clear();
  FTrusted.clear();
  EnableControls();
}

void TfrmSyncSetup::Prefill(const QString& ServerText, const QString& UserName, const QUrl& Book,
                            const QString& TrustedSha256) {
  edtServer->setText(ServerText);
  edtUser->setText(UserName);
  edtPassword->clear();
  lstBooks->clear();
  FTrusted = TrustedSha256;
  if (!Book.isEmpty()) {
    auto* Item = new QListWidgetItem(Book.toDisplayString(QUrl::RemoveUserInfo), lstBooks);
    Item->setData(Qt::UserRole, Book);
    lstBooks->setCurrentItem(Item);
  }
  EnableControls();
}

void TfrmSyncSetup::PasswordOnly() {
  edtServer->setReadOnly(true);
  edtUser->setReadOnly(true);
  grpBooks->hide();
  setFixedSize(width(), grpServer->geometry().bottom() + 9);
  edtPassword->setFocus();
}

void TfrmSyncSetup::btnFindClick() {
  if (FClient || edtServer->text().trimmed().isEmpty()) return;
  QUrl Url = Server();
  for (;;) {
    TCardDavClient Client(Url, User(), Password(), FTrusted, TimeLimitMs);
    std::vector<TAddressBookInfo> Found;
    FClient = &Client;
    EnableControls();
    try {
      TWaitCursor Hourglass;
      Found = Client.Discover(Url);
    } catch (const ESyncError& Error) {
      FClient = nullptr;
      EnableControls();
      if (Error.Kind == ESyncErrorKind::Cancelled) return;
      if (Error.Kind == ESyncErrorKind::Tls && !Error.Fingerprint.isEmpty() && Error.Fingerprint != FTrusted &&
          Prompter().Confirm(this, TrustCertificateText(Url, Error.Fingerprint, Error.Why))) {
        FTrusted = Error.Fingerprint;
        continue;
      }
      if (Error.Kind == ESyncErrorKind::OtherServer &&
          Prompter().Confirm(this, OtherServerText(Url, Error.Elsewhere))) {
        if (Error.Elsewhere.host() != Url.host()) FTrusted.clear();
        Url = Error.Elsewhere;
        continue;
      }
      Prompter().Error(this, Error.Message);
      return;
    }
    FClient = nullptr;
    Fill(Found);
    EnableControls();
    if (Found.empty()) Prompter().Information(this, QString::fromLatin1(NoAddressBooksText));
    return;
  }
}

void TfrmSyncSetup::Fill(const std::vector<TAddressBookInfo>& Books) {
  lstBooks->clear();
  for (const TAddressBookInfo& Book : Books) {
    auto* Item = new QListWidgetItem(
        QStringLiteral("%1  (%2)").arg(Book.DisplayName, Book.Url.path(QUrl::FullyDecoded)), lstBooks);
    Item->setData(Qt::UserRole, Book.Url);
    Item->setToolTip(Book.Url.toDisplayString(QUrl::RemoveUserInfo));
  }
  // One book needs no choosing.
  if (lstBooks->count() == 1) lstBooks->setCurrentRow(0);
  if (lstBooks->count() > 0) lstBooks->setFocus();
}

void TfrmSyncSetup::reject() {
  // Cancel while the books are being found stops that first; the dialog
  // closes once the client has let go.
  if (FClient) FClient->Cancel();
  QDialog::reject();
}

void TfrmSyncSetup::showEvent(QShowEvent* Event) {
  TFixedDialog::showEvent(Event);
  QLineEdit* First = edtServer->text().isEmpty() ? edtServer : edtUser->text().isEmpty() ? edtUser : edtPassword;
  First->setFocus();
}

// A user name and password typed into the address are taken from it, never kept in it.
QUrl TfrmSyncSetup::Server() const { return ServerUrlFromText(edtServer->text()).adjusted(QUrl::RemoveUserInfo); }
QString TfrmSyncSetup::User() const {
  const QString Typed = edtUser->text().trimmed();
  return Typed.isEmpty() ? ServerUrlFromText(edtServer->text()).userName() : Typed;
}
QString TfrmSyncSetup::Password() const {
  return edtPassword->text().isEmpty() ? ServerUrlFromText(edtServer->text()).password() : edtPassword->text();
}
bool TfrmSyncSetup::RememberPassword() const { return chkRemember->isChecked(); }

QUrl TfrmSyncSetup::AddressBook() const {
  const QList<QListWidgetItem*> Chosen = lstBooks->selectedItems();
  return Chosen.isEmpty() ? QUrl() : Chosen.first()->data(Qt::UserRole).toUrl();
}
