// The sync command of tobrinel-book: a program of its own beside the tool,
// which runs it, because it needs Qt Network.
#include "SyncCommand.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "Adrbook.h"
#include "ConsoleHost.h"
#include "SecretStore.h"
#include "SyncSession.h"
#include "SyncState.h"
#include "ToolStreams.h"

namespace {

struct TOptions {
  std::string Book;
  QString Url;
  QString User;
  bool HasUser = false;
  std::string PasswordFile;
  EConflictRule Rule = EConflictRule::KeepBoth;
  bool DryRun = false;
  bool AllowMassDelete = false;
  QString Trust;
  bool Help = false;
};

int Usage(const std::string& Why) {
  Complain() << Why << "\nusage: tobrinel-book " << SyncUsageLine << "\n";
  return 2;
}

int Failure(const QString& Why) {
  Complain() << Why.toStdString() << "\n";
  return 1;
}

QString Local(const std::string& Text) { return QString::fromLocal8Bit(Text.c_str()); }

// 0 when the words make a command, else the exit status of the usage error.
int Parse(int argc, char** argv, TOptions& Options) {
  std::vector<std::string> Names;
  for (int I = 0; I < argc; ++I) {
    std::string Word = argv[I];
    std::string Value;
    bool HasValue = false;
    if (Word.rfind("--", 0) == 0 && Word.find('=') != std::string::npos) {
      Value = Word.substr(Word.find('=') + 1);
      Word = Word.substr(0, Word.find('='));
      HasValue = true;
    }
    const bool TakesValue = Word == "--user" || Word == "--password-file" || Word == "--prefer" || Word == "--trust";
    if (TakesValue && !HasValue) {
      if (I + 1 >= argc) return Usage(Word + " needs a value");
      Value = argv[++I];
    } else if (!TakesValue && HasValue) {
      return Usage(Word + " takes no value");
    }
    if (Word == "--help" || Word == "-h") {
      Options.Help = true;
      return 0;
    } else if (Word == "--dry-run") {
      Options.DryRun = true;
    } else if (Word == "--allow-mass-delete") {
      Options.AllowMassDelete = true;
    } else if (Word == "--user") {
      Options.User = Local(Value);
      Options.HasUser = true;
    } else if (Word == "--password-file") {
      Options.PasswordFile = Value;
    } else if (Word == "--prefer") {
      if (Value == "both") Options.Rule = EConflictRule::KeepBoth;
      else if (Value == "local") Options.Rule = EConflictRule::PreferLocal;
      else if (Value == "server") Options.Rule = EConflictRule::PreferServer;
      else return Usage("--prefer is both, local or server, not '" + Value + "'");
    } else if (Word == "--trust") {
      Options.Trust = TCardDavClient::NormalFingerprint(Local(Value));
      if (Options.Trust.isEmpty())
        return Usage("--trust needs a SHA-256 fingerprint (64 hex digits), not '" + Value + "'");
    } else if (Word.size() > 1 && Word[0] == '-') {
      return Usage("unknown option " + Word);
    } else {
      Names.push_back(Word);
    }
  }
  if (Names.size() != 2) return Usage("sync needs a book and the URL of a server or an address book");
  Options.Book = Names[0];
  Options.Url = Local(Names[1]);
  const QUrl Url(Options.Url, QUrl::StrictMode);
  if (!Url.isValid() || Url.host().isEmpty() ||
      (Url.scheme() != QLatin1String("http") && Url.scheme() != QLatin1String("https")))
    return Usage("'" + Url.toDisplayString(QUrl::RemoveUserInfo).toStdString() + "' is not an http:// or https:// URL");
  return 0;
}

// The first line of the file, its line end taken off. A pipe will do
// (--password-file <(pass show dav)).
bool ReadPasswordFile(const std::string& Path, QString& Password, QString& Problem) {
  QFile File(Local(Path));
  if (!File.open(QIODevice::ReadOnly)) {
    Problem = QStringLiteral("cannot read %1: %2").arg(Local(Path), File.errorString());
    return false;
  }
  QByteArray Line = File.readLine(64 * 1024);
  while (Line.endsWith('\n') || Line.endsWith('\r')) Line.chop(1);
  Password = QString::fromUtf8(Line);
  return true;
}

// The terminal as it was, for the signal that ends the tool while echo is off.
int TerminalFd = -1;
termios TerminalWas{};

void RestoreTerminal(int Signal) {
  if (TerminalFd >= 0) ::tcsetattr(TerminalFd, TCSAFLUSH, &TerminalWas);
  std::signal(Signal, SIG_DFL);
  std::raise(Signal);
}

// Asks on the controlling terminal, echo off. False when there is no terminal.
bool AskPassword(const QString& Prompt, QString& Password) {
  const int Fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (Fd < 0) return false;
  termios Was{};
  if (::tcgetattr(Fd, &Was) != 0) {
    ::close(Fd);
    return false;
  }
  termios Quiet = Was;
  Quiet.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL);
  Quiet.c_lflag |= ICANON;
  TerminalFd = Fd;
  TerminalWas = Was;
  struct sigaction Restore {
  }, Old[4];
  Restore.sa_handler = RestoreTerminal;
  const int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  for (int I = 0; I < 4; ++I) ::sigaction(Signals[I], &Restore, &Old[I]);
  // Echo off before the prompt: what is typed once it shows is never echoed.
  ::tcsetattr(Fd, TCSAFLUSH, &Quiet);
  const QByteArray Text = Prompt.toLocal8Bit();
  bool Written = ::write(Fd, Text.constData(), size_t(Text.size())) == Text.size();
  std::string Line;
  char C;
  ssize_t Got;
  while ((Got = ::read(Fd, &C, 1)) == 1 && C != '\n') Line += C;
  ::tcsetattr(Fd, TCSAFLUSH, &Was);
  Written = ::write(Fd, "\n", 1) == 1 && Written;
  for (int I = 0; I < 4; ++I) ::sigaction(Signals[I], &Old[I], nullptr);
  TerminalFd = -1;
  ::close(Fd);
  if (Got < 0) return false;
  if (!Line.empty() && Line.back() == '\r') Line.pop_back();
  Password = QString::fromLocal8Bit(Line.c_str());
  return true;
}

// The tool asks nobody: the options say it all.
class TToolHost : public ISyncHost {
public:
  void Progress(ESyncStage, int, int) override {}
  EConflictRule AskConflict(const TConflictQuestion&) override { return EConflictRule::KeepBoth; }
  bool ConfirmMassDelete(const QString&) override { return false; }
  bool TrustCertificate(const QUrl&, const QString&, const QString&) override { return false; }
};

// The address the program kept the password under: the state's server, when
// this sync goes to the state's address book.
QString PasswordServer(const TSyncState& State, const QString& Url) {
  const QString Server = QString::fromStdString(State.ServerUrl);
  const QString Book = QString::fromStdString(State.AddressBookUrl);
  if (!Server.isEmpty() && (Url == Server || Url == Book)) return Server;
  return Url;
}

}  // namespace

int SyncCommand(int argc, char** argv) {
  TOptions Options;
  if (const int Status = Parse(argc, argv, Options)) return Status;
  if (Options.Help) {
    std::cout << "usage: tobrinel-book " << SyncUsageLine << "\n\n" << SyncAbout;
    return 0;
  }
  // Qt's own notices are no business of the tool's caller; the tool reports
  // its own failures.
  qInstallMessageHandler([](QtMsgType Type, const QMessageLogContext&, const QString& Message) {
    if (Type == QtFatalMsg) std::cerr << Message.toStdString() << "\n";
  });
  int QtArgc = 1;
  char Name[] = "tobrinel-book";
  char* QtArgv[] = {Name, nullptr};
  QCoreApplication App(QtArgc, QtArgv);

  // A dry run leaves nothing behind, not even the copy kept of an older book.
  TConsoleHost::OnlyReads = Options.DryRun;
  TConsoleHost BookHost;
  TAddressBook Book(&BookHost);
  try {
    if (QFileInfo::exists(Local(Options.Book))) {
      // Found out at the end, the server would be changed and the book not.
      if (!Options.DryRun && IsFileReadOnly(Options.Book))
        return Failure(QStringLiteral("%1 is read-only; it is not synchronised").arg(Local(Options.Book)));
      const TLoadResult Loaded = Book.LoadFromFile(Options.Book);
      // Entries missing from a damaged book would be deleted on the server.
      if (Loaded.Damaged)
        return Failure(QStringLiteral("%1 is damaged (%2 entries could be read); it is not synchronised")
                           .arg(Local(Options.Book))
                           .arg(Loaded.EntriesRead));
    } else {
      Book.FileName = Options.Book;
      Book.Modified = true;  // written at the end, even when the server has no cards
    }
  } catch (const EFileError& Error) {
    return Failure(QString::fromStdString(Error.what()));
  }

  TToolHost Host;
  TSyncSession Session(Book, Host);
  try {
    const TSyncState& State = Session.State();
    TSyncRequest Request;
    // A password in the URL is for this run: the session keeps neither it nor the user name in it.
    const QUrl Given(Options.Url);
    Request.Url = Given.adjusted(QUrl::RemoveUserInfo);
    Options.Url = Request.Url.toString();
    // clang-format off
    Request.User = Options.HasUser          ? Options.User
                   : !Given.userName().isEmpty() ? Given.userName()
                                                 : QString::fromStdString(State.UserName);
    // clang-format on
    Request.Password = Given.password();
    Request.Trusted = Options.Trust;
    Request.Rule = Options.Rule;
    Request.DryRun = Options.DryRun;
    Request.AllowMassDelete = Options.AllowMassDelete;
    if (!Options.PasswordFile.empty() && Request.Password.isEmpty()) {
      QString Problem;
      if (!ReadPasswordFile(Options.PasswordFile, Request.Password, Problem)) return Failure(Problem);
    } else if (!Request.User.isEmpty() && Request.Password.isEmpty()) {
      const TSecret Kept = SecretStore().Read(PasswordServer(State, Options.Url), Request.User);
      if (Kept.Status == ESecretStatus::Found) {
        Request.Password = Kept.Password;
      } else if (!AskPassword(QStringLiteral("Password for %1 at %2: ").arg(Request.User, Request.Url.host()),
                              Request.Password)) {
        return Failure(QStringLiteral("no password for %1: give --password-file FILE (there is no terminal to "
                                      "ask on)")
                           .arg(Request.User));
      }
    }
    const TSyncOutcome Outcome = Session.Run(Request);
    for (const std::string& Line : Outcome.Skipped) Complain() << Line << "\n";
    if (Options.DryRun) {
      for (const std::string& Line : Outcome.Actions) std::cout << Line << "\n";
      std::cout << "dry run, nothing changed: ";
    }
    if (!Outcome.MassDelete.empty()) Complain() << "a real run would stop: " << Outcome.MassDelete << "\n";
    std::cout << Outcome.Line() << std::endl;
    return 0;
  } catch (const ESyncRefused& Refused) {
    if (Refused.Reason == ESyncRefused::SeveralAddressBooks) {
      Complain() << Refused.Message.toStdString() << "\n";
      for (const TAddressBookInfo& Found : Refused.Books)
        std::cerr << "  " << Found.Url.toDisplayString(QUrl::RemoveUserInfo).toStdString() << "  ("
                  << Found.DisplayName.toStdString() << ")\n";
      return 1;
    }
    if (Refused.Reason == ESyncRefused::MassDelete)
      return Failure(Refused.Message +
                     QStringLiteral(" Nothing was changed; run again with --allow-mass-delete to go on."));
    return Failure(Refused.Message);
  } catch (const ESyncError& Error) {
    return Failure(Error.Message);
  } catch (const ESyncStateError& Error) {
    return Failure(QString::fromStdString(Error.what()));
  } catch (const EFileError& Error) {
    return Failure(QString::fromStdString(Error.what()));
  }
}

// Run by tobrinel-book for its sync command, with the words after "sync".
int main(int argc, char** argv) { return SyncCommand(argc - 1, argv + 1); }
