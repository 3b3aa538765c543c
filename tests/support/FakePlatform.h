#pragma once

#include <QFont>
#include <QPrinter>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "FileDialogs.h"
#include "FontDialogs.h"
#include "HelpService.h"
#include "PrinterInfo.h"
#include "PrinterSetup.h"
#include "Prompter.h"
#include "SecretStore.h"
#include "TickCounter.h"

// Every box the program raised, in order.
struct TFakeBox {
  QString Kind;  // "error", "information", "notice", "warning", "question", "confirm"
  QString Text;
  int HelpContext = 0;
};

// Answers boxes from a script and records them; a question with nothing
// scripted fails the test rather than guessing.
class TFakePrompter : public IPrompter {
public:
  std::vector<TFakeBox> Boxes;
  std::deque<EAnswer> Answers;
  bool Unscripted = false;  // a question arrived with no answer left
  // Runs while a box is "up", as the window would be repainted under a real one.
  std::function<void(const TFakeBox&)> WhileShown;

  void Error(QWidget*, const QString& Text) override { Record({"error", Text, 0}); }
  void Information(QWidget*, const QString& Text) override { Record({"information", Text, 0}); }
  void Notice(QWidget*, const QString& Text) override { Record({"notice", Text, 0}); }
  void Warning(QWidget*, const QString& Text, int HelpContext) override { Record({"warning", Text, HelpContext}); }
  EAnswer Question(QWidget*, const QString& Text) override {
    Record({"question", Text, 0});
    if (Answers.empty()) {
      Unscripted = true;
      return EAnswer::Cancel;
    }
    const EAnswer Answer = Answers.front();
    Answers.pop_front();
    return Answer;
  }
  void Record(const TFakeBox& Box) {
    Boxes.push_back(Box);
    if (WhileShown) WhileShown(Box);
  }
  std::deque<bool> Confirms;
  bool Confirm(QWidget*, const QString& Text) override {
    Record({"confirm", Text, 0});
    if (Confirms.empty()) {
      Unscripted = true;
      return false;
    }
    const bool Answer = Confirms.front();
    Confirms.pop_front();
    return Answer;
  }
  int Beeps = 0;  // beeps without a box
  void Beep() override { ++Beeps; }
  QStringList Texts() const {
    QStringList Result;
    for (const auto& Box : Boxes) Result << Box.Text;
    return Result;
  }
  QStringList Kinds() const {
    QStringList Result;
    for (const auto& Box : Boxes) Result << Box.Kind;
    return Result;
  }
};

// Returns scripted file names; an empty name (or none left) is a cancel.
class TFakeFileDialogs : public IFileDialogs {
public:
  std::deque<QString> OpenAnswers, SaveAnswers;
  std::vector<TFileDialogOptions> OpenCalls, SaveCalls;

  QString OpenFile(QWidget*, const TFileDialogOptions& Options) override {
    OpenCalls.push_back(Options);
    return Next(OpenAnswers);
  }
  QString SaveFile(QWidget*, const TFileDialogOptions& Options) override {
    SaveCalls.push_back(Options);
    return Next(SaveAnswers);
  }

private:
  static QString Next(std::deque<QString>& Answers) {
    if (Answers.empty()) return {};
    QString Answer = Answers.front();
    Answers.pop_front();
    return Answer;
  }
};

class TFakeHelp : public IHelpService {
public:
  QStringList Calls;  // "contents" or "ctxN"
  void ShowContents(const QString&) override { Calls << QStringLiteral("contents"); }
  void ShowContext(const QString&, int Context) override { Calls << QStringLiteral("ctx%1").arg(Context); }
};

// A clock that moves only when asked to, or by Step on every reading.
class TFakeTicks : public ITickCounter {
public:
  uint32_t Value = 0;
  uint32_t Step = 0;
  uint32_t Paused = 0;  // total time waited through Pause
  uint32_t Now() override {
    const uint32_t Result = Value;
    Value += Step;
    return Result;
  }
  void Pause(uint32_t Milliseconds) override {
    Value += Milliseconds;
    Paused += Milliseconds;
  }
};

class TFakePrinters : public IPrinterInfo {
public:
  bool Available = true;
  QString Reason = QStringLiteral("no printer is set up on this computer");  // while not Available
  QString Unavailable(const QString&) override { return Available ? QString() : Reason; }
};

// Answers font dialogs from a script: a font accepts, nullopt (or none left) cancels.
class TFakeFontDialogs : public IFontDialogs {
public:
  std::deque<std::optional<QFont>> Answers;
  std::vector<std::pair<QFont, TFontDialogOptions>> Calls;  // the font each dialog started with
  bool ChooseFont(QWidget*, QFont& Font, const TFontDialogOptions& Options) override {
    Calls.emplace_back(Font, Options);
    if (Answers.empty() || !Answers.front()) {
      if (!Answers.empty()) Answers.pop_front();
      return false;
    }
    Font = *Answers.front();
    Answers.pop_front();
    return true;
  }
};

// No printer until a test asks for one; the one it gets writes a PDF file.
class TFakePrinterSetup : public IPrinterSetup {
public:
  int SetupCalls = 0;
  std::unique_ptr<QPrinter> Chosen;
  void Setup(QWidget*) override { ++SetupCalls; }
  QPrinter* Printer() override { return Chosen.get(); }
  QString Unavailable() override { return Chosen ? QString() : PrinterInfo().Unavailable(QString()); }
  void PrintToPdf(const QString& Path) {
    Chosen = std::make_unique<QPrinter>(QPrinter::HighResolution);
    Chosen->setOutputFormat(QPrinter::PdfFormat);
    Chosen->setOutputFileName(Path);
  }
};

// The desktop's password store in memory; Available false plays a desktop
// without one (nothing is kept, and every call says so).
class TFakeSecretStore : public ISecretStore {
public:
  bool Available = true;
  std::map<QString, QString> Entries;  // by SecretKey
  QStringList Calls;                   // "read KEY", "write KEY", "forget KEY"
  TSecret Read(const QString& Server, const QString& User) override {
    const QString Key = SecretKey(Server, User);
    Calls << QStringLiteral("read ") + Key;
    if (!Available) return {ESecretStatus::Unavailable, {}};
    const auto Found = Entries.find(Key);
    if (Found == Entries.end()) return {ESecretStatus::NotFound, {}};
    return {ESecretStatus::Found, Found->second};
  }
  ESecretStatus Write(const QString& Server, const QString& User, const QString& Password) override {
    const QString Key = SecretKey(Server, User);
    Calls << QStringLiteral("write ") + Key;
    if (!Available) return ESecretStatus::Unavailable;
    Entries[Key] = Password;
    return ESecretStatus::Found;
  }
  void Forget(const QString& Server, const QString& User) override {
    const QString Key = SecretKey(Server, User);
    Calls << QStringLiteral("forget ") + Key;
    if (Available) Entries.erase(Key);
  }
};

// Installs every fake for its lifetime, and a scratch program folder so that
// settings, help and marker files are the test's own. Serial ports are only
// those linked as ports/COM<n> in that folder; no other number has a device.
class TFakePlatform {
public:
  TFakePlatform();
  ~TFakePlatform();
  TFakePlatform(const TFakePlatform&) = delete;
  TFakePlatform& operator=(const TFakePlatform&) = delete;

  TFakePrompter Prompter;
  TFakeFileDialogs Dialogs;
  TFakeHelp Help;
  TFakeTicks Ticks;
  TFakePrinters Printers;
  TFakeFontDialogs Fonts;
  TFakePrinterSetup PrinterChoice;
  TFakeSecretStore Secrets;
  QTemporaryDir Folder;

  QString Path(const QString& Name) const { return Folder.filePath(Name); }
  QString SettingsFile() const;
  // Puts the settings file in place with this content.
  void WriteSettings(const QString& Content) const;
  QString ReadSettings() const;
  // Creates an empty help file beside the fake program.
  void CreateHelpFile() const;
};
