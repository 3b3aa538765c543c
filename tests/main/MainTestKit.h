#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Adrbook.h"
#include "Dflttab.h"
#include "FakePlatform.h"
#include "Find.h"
#include "Main.h"
#include "NamesModel.h"

using TNames = std::vector<std::pair<const char*, const char*>>;

// Types text of any script as a keyboard layout does: each character a key
// press carrying it (QTest::keyClicks takes Latin-1 only).
inline void TypeText(QWidget* Widget, const QString& Text) {
  for (const QChar Char : Text)
    QTest::sendKeyEvent(QTest::Click, Widget, Qt::Key_unknown, QString(Char), Qt::NoModifier);
}

// Replaces what the box holds by typing, as the person does.
inline void Type(QLineEdit* Edit, const QString& Text) {
  Edit->selectAll();
  QTest::keyClick(Edit, Qt::Key_Delete);
  QTest::keyClicks(Edit, Text);
}

// Runs Act on the window of type T once it shows (a modal one is shown from
// within the command under test).
template <class T>
void WhenShown(std::function<void(T&)> Act) {
  auto* Timer = new QTimer;
  Timer->setInterval(20);
  QObject::connect(Timer, &QTimer::timeout, [Timer, Act] {
    for (QWidget* Window : QApplication::topLevelWidgets())
      if (auto* Found = qobject_cast<T*>(Window); Found && Found->isVisible()) {
        Timer->stop();
        Timer->deleteLater();
        Act(*Found);
        return;
      }
  });
  Timer->start();
}

// Writes a book of these entries (surname, first name) in the current format.
inline void WriteBook(const QString& Path, const TNames& Names) {
  TAddressBook Book;
  for (const auto& [Surname, FirstName] : Names) {
    auto* Item = new TAddressItem;
    Item->Surname = Surname;
    Item->FirstName = FirstName;
    Book.Items->Add(Item);
  }
  Book.FileName = Path.toStdString();
  Book.SaveToFile();
}

// The main window, the Find dialog and the default tab dialog as the program makes them.
struct TWindows {
  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmFind> Find;
  std::unique_ptr<TfrmDefaultTab> DefaultTab;

  explicit TWindows(const QStringList& Arguments = {}) {
    Main = std::make_unique<TfrmMain>(Arguments);
    Find = std::make_unique<TfrmFind>(Main.get());
    Main->SetFindDialog(Find.get());
    DefaultTab = std::make_unique<TfrmDefaultTab>(Main.get());
    Main->SetDefaultTabDialog(DefaultTab.get());
  }
  ~TWindows() {
    DefaultTab.reset();
    Find.reset();
    Main.reset();
  }
  // Shows and activates the main window, which runs its first activation.
  bool Activate() {
    Main->show();
    QApplication::setActiveWindow(Main.get());
    Main->activateWindow();
    return QTest::qWaitForWindowActive(Main.get());
  }
  TfrmMain& operator*() { return *Main; }
  TfrmMain* operator->() { return Main.get(); }
  QString Cell(int Row, int Column) { return QString::fromUtf8(Main->Names().Cell(Row, Column)); }
  int Rows() { return Main->Names().GridRowCount(); }
};

// A book in the scratch folder of the fake platform, named as the last book.
inline QString BookWithLastUse(TFakePlatform& Platform, const TNames& Names,
                               const QString& Name = QStringLiteral("BOOK.ABK")) {
  const QString Path = Platform.Path(Name);
  WriteBook(Path, Names);
  Platform.WriteSettings(QStringLiteral("[Startup]\nLoadFile=%1\n").arg(Path));
  return Path;
}
