#include "SecretStore.h"

#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

const char* const NoSecretStoreText =
    "The desktop's password store cannot be reached, so the password is not remembered.";

namespace {

constexpr auto ServiceName = "Tobrinel";
// A store that exists answers at once; one that is starting may take a moment,
// but the person must never wait long for a password that is only a convenience.
constexpr int TimeLimitMs = 5000;

class TKeychainStore : public ISecretStore {
public:
  TSecret Read(const QString& Server, const QString& User) override {
    TSecret Result;
    if (Unreachable) {
      Result.Status = ESecretStatus::Unavailable;
      return Result;
    }
    auto* Job = new QKeychain::ReadPasswordJob(QLatin1String(ServiceName));
    const QKeychain::Error Error = Run(Job, Server, User, [&Result](QKeychain::Job* Done) {
      Result.Password = static_cast<QKeychain::ReadPasswordJob*>(Done)->textData();
    });
    Result.Status = Error == QKeychain::NoError         ? ESecretStatus::Found
                    : Error == QKeychain::EntryNotFound ? ESecretStatus::NotFound
                                                        : ESecretStatus::Unavailable;
    if (Result.Status != ESecretStatus::Found) Result.Password.clear();
    return Result;
  }

  ESecretStatus Write(const QString& Server, const QString& User, const QString& Password) override {
    if (Unreachable) return ESecretStatus::Unavailable;
    auto* Job = new QKeychain::WritePasswordJob(QLatin1String(ServiceName));
    Job->setTextData(Password);
    return Run(Job, Server, User, nullptr) == QKeychain::NoError ? ESecretStatus::Found : ESecretStatus::Unavailable;
  }

  void Forget(const QString& Server, const QString& User) override {
    if (Unreachable) return;
    Run(new QKeychain::DeletePasswordJob(QLatin1String(ServiceName)), Server, User, nullptr);
  }

private:
  // Runs Job in a local loop, so that windows stay responsive while the store
  // answers. A job that outlives its time limit finishes (and frees itself)
  // later, talking to nobody.
  template <class TOnDone>
  QKeychain::Error Run(QKeychain::Job* Job, const QString& Server, const QString& User, TOnDone&& OnDone) {
    Job->setAutoDelete(true);
    // Never the plain-text file QtKeychain falls back to on request.
    Job->setInsecureFallback(false);
    Job->setKey(SecretKey(Server, User));
    QEventLoop Loop;
    QKeychain::Error Error = QKeychain::OtherError;
    bool Finished = false;
    QObject::connect(Job, &QKeychain::Job::finished, &Loop, [&](QKeychain::Job* Done) {
      Error = Done->error();
      if (Error == QKeychain::NoError) {
        if constexpr (!std::is_same_v<std::decay_t<TOnDone>, std::nullptr_t>) OnDone(Done);
      }
      Finished = true;
      Loop.quit();
    });
    QTimer::singleShot(TimeLimitMs, &Loop, &QEventLoop::quit);
    Job->start();
    if (!Finished) Loop.exec();
    if (!Finished || Error == QKeychain::NoBackendAvailable || Error == QKeychain::OtherError ||
        Error == QKeychain::NotImplemented) {
      // No service, or one that does not answer: asking again this run would
      // only make the person wait again.
      Unreachable = true;
      return QKeychain::NoBackendAvailable;
    }
    return Error;
  }

  bool Unreachable = false;
};

ISecretStore* Installed = nullptr;

}  // namespace

ISecretStore& SecretStore() {
  static TKeychainStore Desktop;
  return Installed ? *Installed : Desktop;
}

void SetSecretStore(ISecretStore* Replacement) { Installed = Replacement; }

QString SecretKey(const QString& Server, const QString& User) { return User + QStringLiteral(" on ") + Server; }
