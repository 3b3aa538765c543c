#pragma once

// Passwords kept in the desktop's secret store (GNOME Keyring, KWallet and the
// like, through QtKeychain), one for each server address and user name. Never
// in a file of ours: without a secret service nothing is remembered.

#include <QString>

enum class ESecretStatus { Found, NotFound, Unavailable };

struct TSecret {
  ESecretStatus Status = ESecretStatus::NotFound;
  QString Password;  // Found only
};

class ISecretStore {
public:
  virtual ~ISecretStore() = default;
  virtual TSecret Read(const QString& Server, const QString& User) = 0;
  // Found once it is kept; Unavailable when there is no store to keep it in.
  virtual ESecretStatus Write(const QString& Server, const QString& User, const QString& Password) = 0;
  virtual void Forget(const QString& Server, const QString& User) = 0;
};

ISecretStore& SecretStore();
// Installs another store (tests); nullptr restores the desktop's.
void SetSecretStore(ISecretStore* Replacement);

// The name of an entry in the store: "USER on SERVER" (a URL holds no space,
// so no two pairs share a name).
QString SecretKey(const QString& Server, const QString& User);

// Said once to the person when the store cannot be reached.
extern const char* const NoSecretStoreText;
