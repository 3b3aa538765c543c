#pragma once

#include <QUrl>
#include <memory>
#include <vector>

#include "FixedDialog.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class TCardDavClient;
struct TAddressBookInfo;

// What the set-up dialog asks the first time a book is synchronised: the
// server, the user and password, and which of the user's address books to use.
class TfrmSyncSetup : public TFixedDialog {
  Q_OBJECT
public:
  explicit TfrmSyncSetup(QWidget* Parent = nullptr);
  ~TfrmSyncSetup() override;

  // Fills the controls for a book synchronised before: its address book is
  // listed and chosen, so that only the password is missing.
  void Prefill(const QString& Server, const QString& User, const QUrl& AddressBook, const QString& Trusted);

  // For a book synchronised before whose password is not remembered: the
  // server and user are shown as they are and only the password is asked for.
  void PasswordOnly();

  void EnableControls();
  // Discovery through the CardDAV client; the books found fill the list.
  void btnFindClick();

  QUrl Server() const;
  QString User() const;
  QString Password() const;
  bool RememberPassword() const;
  QUrl AddressBook() const;  // the one chosen, empty when none
  // SHA-256 of a certificate the person agreed to trust while finding the books.
  QString Trusted() const { return FTrusted; }
  // How long one request to the server may stay unanswered (tests shorten it).
  int TimeLimitMs = 30000;

  QGroupBox* grpServer = nullptr;
  QGroupBox* grpBooks = nullptr;
  QLineEdit* edtServer = nullptr;
  QLineEdit* edtUser = nullptr;
  QLineEdit* edtPassword = nullptr;
  QCheckBox* chkRemember = nullptr;
  QPushButton* btnFind = nullptr;
  QListWidget* lstBooks = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

protected:
  void reject() override;
  void showEvent(QShowEvent* Event) override;

private:
  void ServerChanged();
  void Fill(const std::vector<TAddressBookInfo>& Books);

  QString FTrusted;
  TCardDavClient* FClient = nullptr;  // while discovery runs
};

// The server address as typed, "https://" put in front when it names no scheme.
QUrl ServerUrlFromText(const QString& Text);
// The question when a server's certificate is not trusted by the system.
QString TrustCertificateText(const QUrl& Server, const QString& Fingerprint, const QString& Why);
// The question when discovery leads to another server.
QString OtherServerText(const QUrl& From, const QUrl& To);
extern const char* const NoAddressBooksText;

constexpr int SyncHelpContext = 192;
