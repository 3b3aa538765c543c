#pragma once

// A book in a scratch folder and a real Radicale with one address book, for
// whole syncs as the tool and the program run them; the server also plays
// the phone that changes cards behind the book's back.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "CardDav.h"
#include "CardPatch.h"
#include "RadicaleServer.h"
#include "SyncSession.h"
#include "SyncState.h"
#include "SyncTestKit.h"

// Answers the session's questions from a script and records them.
class TScriptedHost : public ISyncHost {
public:
  std::function<void(ESyncStage, int Done, int Total)> OnProgress;
  EConflictRule ConflictAnswer = EConflictRule::KeepBoth;
  std::vector<std::string> Conflicts;  // "local | server"
  bool MassDeleteAnswer = false;
  int MassDeleteQuestions = 0;
  bool TrustAnswer = false;
  QStringList TrustQuestions;  // the fingerprints shown, each with why it was refused

  void Progress(ESyncStage Stage, int Done, int Total) override {
    if (OnProgress) OnProgress(Stage, Done, Total);
  }
  EConflictRule AskConflict(const TConflictQuestion& Q) override {
    Conflicts.push_back(Short(Q.Local) + " | " + Short(Q.Server));
    return ConflictAnswer;
  }
  bool ConfirmMassDelete(const QString&) override {
    ++MassDeleteQuestions;
    return MassDeleteAnswer;
  }
  bool TrustCertificate(const QUrl&, const QString& Fingerprint, const QString& Why) override {
    TrustQuestions << Fingerprint + " " + Why;
    return TrustAnswer;
  }
};

class TSyncRig {
public:
  explicit TSyncRig(TRadicaleOptions Options = {}) : Server(Options) {}

  // False with Problem() when the server cannot be started.
  bool Start() {
    if (!Server.Start()) return false;
    BookUrl = Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends"));
    return BookUrl.isValid();
  }
  QString Problem() const { return Server.Problem(); }

  QString BookPath() const { return Dir.filePath(QStringLiteral("B.ABK")); }
  QString StatePath() const { return BookPath() + QStringLiteral(".sync"); }

  void WriteBook(std::vector<std::unique_ptr<TAddressItem>> Entries) {
    TAddressBook Book;
    for (auto& Entry : Entries) Book.Items->Add(Entry.release());
    Book.FileName = BookPath().toStdString();
    Book.SaveToFile();
  }
  // Loads the book, lets Change edit it, saves it.
  void EditBook(const std::function<void(TAddressBook&)>& Change) {
    TAddressBook Book;
    Book.LoadFromFile(BookPath().toStdString());
    Change(Book);
    Book.SaveToFile();
  }
  std::string Here() const {
    if (!QFile::exists(BookPath())) return "(no book)";
    TAddressBook Book;
    Book.LoadFromFile(BookPath().toStdString());
    return BookText(Book);
  }

  // The server's cards, fetched with a client of their own.
  std::vector<TCard> Cards() {
    TCardDavClient Client(BookUrl, QString::fromLatin1(TRadicaleServer::User),
                          QString::fromLatin1(TRadicaleServer::Password), Server.CertificateFingerprint());
    QStringList Hrefs;
    for (const TCardVersion& Card : Client.ListEtags(BookUrl).Cards) Hrefs << Card.Href;
    return Client.MultiGet(BookUrl, Hrefs);
  }
  std::string There() {
    std::vector<std::string> Items;
    for (const TCard& Card : Cards()) {
      auto Read = ReadCard(Card.Text.toStdString());
      Items.push_back(Read ? Short(*Read) : "(unreadable)");
    }
    return Joined(Items);
  }
  // The phone: a card put, or one changed with its other lines kept.
  void PutCard(const QString& Uid, const QString& Given, const QString& Family, const QByteArray& Extra = {}) {
    Server.PutCard(QStringLiteral("/tob/book/%1.vcf").arg(Uid), MakeCard(Uid, Given, Family, Extra));
  }
  QString HrefOf(const std::string& Surname) {
    for (const TCard& Card : Cards())
      if (auto Read = ReadCard(Card.Text.toStdString()); Read && Read->Surname == Surname) return Card.Href;
    return {};
  }
  void EditCard(const std::string& Surname, const std::function<void(TAddressItem&)>& Change) {
    for (const TCard& Card : Cards()) {
      auto Read = ReadCard(Card.Text.toStdString());
      if (!Read || Read->Surname != Surname) continue;
      Change(*Read);
      Server.PutCard(Card.Href, QByteArray::fromStdString(PatchCard(Card.Text.toStdString(), *Read, nullptr)));
    }
  }
  void DeleteCard(const std::string& Surname) { Server.DeleteCard(HrefOf(Surname)); }

  TSyncRequest Request() const {
    TSyncRequest R;
    R.Url = BookUrl;
    R.User = QString::fromLatin1(TRadicaleServer::User);
    R.Password = QString::fromLatin1(TRadicaleServer::Password);
    return R;
  }
  // One sync of the book on disk (created when missing), as the tool runs
  // it: the summary line, or "refused: ..." or "error: ..." with the message.
  std::string Sync(TSyncRequest R, ISyncHost& Host) {
    TAddressBook Book;
    if (QFile::exists(BookPath())) {
      Book.LoadFromFile(BookPath().toStdString());
    } else {
      Book.FileName = BookPath().toStdString();
      Book.Modified = true;
    }
    TSyncSession Session(Book, Host);
    Running = &Session;
    struct TClear {
      TSyncSession*& Running;
      ~TClear() { Running = nullptr; }
    } Clear{Running};
    try {
      return Session.Run(R).Summary.Line();
    } catch (const ESyncRefused& Refused) {
      return "refused: " + Refused.Message.toStdString();
    } catch (const ESyncError& Error) {
      return "error: " + Error.Message.toStdString();
    }
  }
  std::string Sync(EConflictRule Rule = EConflictRule::KeepBoth) {
    TScriptedHost Host;
    TSyncRequest R = Request();
    R.Rule = Rule;
    return Sync(R, Host);
  }

  static QByteArray Bytes(const QString& Path) {
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray("(missing)");
  }

  TRadicaleServer Server;
  QUrl BookUrl;
  QTemporaryDir Dir;
  TSyncSession* Running = nullptr;  // while Sync runs
};
