// New, Open, Save, Save As, the save-changes prompt, read-only books and drops.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QTabWidget>
#include <QtTest>
#include <sys/stat.h>

#include "CommandLine.h"
#include "MainTestKit.h"

namespace {
void MakeReadOnly(const QString& Path) { ::chmod(Path.toLocal8Bit().constData(), 0444); }
QString Question(const QString& Name) { return QStringLiteral("Save changes to\n\n") + Name; }
QString NotABook(const QString& Name) { return Name + QStringLiteral("\n\n") + QString::fromLatin1(NotABookText); }
}  // namespace

class TFileCommandsTest : public QObject {
  Q_OBJECT
private slots:
  void NewAskedYesThenSaveCancelledKeepsAll();
  void NewEmptiesAndResetsTheDefaultTab();
  void ReadOnlyBookOnCloseAndOnSave();
  void UncommittedFirstNameIsCaughtByOpen();
  void OpenChecksTheExtension();
  void OpenLoadsAndShowsTheFirstEntry();
  void OpenOlderFormatWarnsWithHelp();
  void UnreadableOpenKeepsTheOpenBook();
  void DamagedOpenWarnsWithCount();
  void TwoDroppedFilesUseTheFirst();
  void DroppedLowerCaseExtensionOpens();
  void TextFileDroppedOnModifiedBook();
  void SaveWritesEvenWhenUnchanged();
  void SaveAsRenamesAndIsRemembered();
  void FailedSaveKeepsModifiedAndWindowOpen();
  void FileThatIsNoBookIsRefusedKeepingTheOpenBook();
};

void TFileCommandsTest::NewAskedYesThenSaveCancelledKeepsAll() {
  TFakePlatform Platform;
  TWindows W;
  QVERIFY(W.Activate());
  QTest::keyClicks(W->edtSurname, QStringLiteral("Lee"));
  Platform.Prompter.Answers = {EAnswer::Yes};
  W->mnuFNew->trigger();  // the save dialog is cancelled (nothing scripted)
  QCOMPARE(Platform.Prompter.Texts(), QStringList{Question(QStringLiteral("(Untitled)"))});
  QCOMPARE(Platform.Dialogs.SaveCalls.size(), size_t(1));
  const TFileDialogOptions& Save = Platform.Dialogs.SaveCalls[0];
  QCOMPARE(Save.Title, QStringLiteral("Save as..."));
  QCOMPARE(Save.DefaultExt, QStringLiteral("ABK"));
  QCOMPARE(Save.Filter, QStringLiteral("Tobrinel Data Files (*.ABK);;All Files (*)"));
  QCOMPARE(Save.Folder, Platform.Folder.path());
  QCOMPARE(W->Book().Items->Count, 1);
  QVERIFY(W->Book().Modified);
  QVERIFY(W->Book().FileName.empty());

  // Yes and a name: saved, then emptied.
  Platform.Prompter.Answers = {EAnswer::Yes};
  const QString Chosen = Platform.Path(QStringLiteral("NEW.ABK"));
  Platform.Dialogs.SaveAnswers = {Chosen};
  W->mnuFNew->trigger();
  QVERIFY(QFile::exists(Chosen));
  QCOMPARE(W->Book().Items->Count, 0);
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - (Untitled)"));
  TAddressBook Saved;
  Saved.LoadFromFile(Chosen.toStdString());
  QCOMPARE(Saved.Items->Count, 1);
}

void TFileCommandsTest::NewEmptiesAndResetsTheDefaultTab() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  W.DefaultTab->SetTab(1);
  QVERIFY(W.Activate());
  W->mnuFNew->trigger();
  QVERIFY(Platform.Prompter.Boxes.empty());  // nothing to save
  QCOMPARE(W.DefaultTab->Tab(), 0);
  QCOMPARE(W->tabDetails->currentIndex(), 0);
  QCOMPARE(W.Rows(), 2);
  QVERIFY(!W->Book().Modified);
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - (Untitled)"));
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);
  QVERIFY(QFile::exists(Path));
}

void TFileCommandsTest::ReadOnlyBookOnCloseAndOnSave() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->edtHomeTel->setText(QStringLiteral("555"));
  MakeReadOnly(Path);
  Platform.Prompter.Answers = {EAnswer::Yes};
  QVERIFY(!W->close());  // the save dialog is cancelled: the program stays
  QCOMPARE(Platform.Prompter.Kinds(), (QStringList{QStringLiteral("question"), QStringLiteral("warning")}));
  QCOMPARE(Platform.Prompter.Boxes[1].Text,
           QStringLiteral("This is a read-only file.  Please save to a different file name."));
  QCOMPARE(Platform.Dialogs.SaveCalls.size(), size_t(1));
  QVERIFY(W->isVisible());
  QVERIFY(W->Book().Modified);

  // Save goes the same way, without asking first.
  Platform.Prompter.Boxes.clear();
  const QString Copy = Platform.Path(QStringLiteral("COPY.ABK"));
  Platform.Dialogs.SaveAnswers = {Copy};
  W->mnuFSave->trigger();
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("warning")});
  QCOMPARE(W->Book().FileName, Copy.toStdString());
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - COPY.ABK"));
  QVERIFY(!W->Book().Modified);
  QVERIFY(W->close());
}

void TFileCommandsTest::UncommittedFirstNameIsCaughtByOpen() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->edtFirstName->setFocus();
  QTest::keyClicks(W->edtFirstName, QStringLiteral("e"));
  Platform.Prompter.Answers = {EAnswer::Cancel};
  W->mnuFOpen->trigger();
  QCOMPARE(Platform.Prompter.Texts(), QStringList{Question(Platform.Path(QStringLiteral("BOOK.ABK")))});
  QVERIFY(Platform.Dialogs.OpenCalls.empty());
  QCOMPARE(W->Book().Current->FirstName.str(), std::string("Anne"));
}

void TFileCommandsTest::OpenChecksTheExtension() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  const QString Text = Platform.Path(QStringLiteral("notes.txt"));
  QFile(Text).open(QIODevice::WriteOnly);
  TWindows W;
  QVERIFY(W.Activate());
  Platform.Dialogs.OpenAnswers = {Text};
  W->mnuFOpen->trigger();
  QCOMPARE(Platform.Dialogs.OpenCalls[0].Filter, QStringLiteral("Tobrinel Data File (*.ABK)"));
  QCOMPARE(Platform.Dialogs.OpenCalls[0].DefaultExt, QStringLiteral("ABK"));
  QVERIFY(Platform.Dialogs.OpenCalls[0].Title.isEmpty());
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
  QCOMPARE(Platform.Prompter.Boxes[0].Text, NotABook(QStringLiteral("notes.txt")));
  QCOMPARE(W->Book().FileName, Path.toStdString());
  QCOMPARE(W.Rows(), 3);
  // A cancelled dialog changes nothing either.
  W->mnuFOpen->trigger();
  QCOMPARE(W->Book().FileName, Path.toStdString());
}

void TFileCommandsTest::OpenLoadsAndShowsTheFirstEntry() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  const QString Other = Platform.Path(QStringLiteral("other.abk"));
  WriteBook(Other, {{"Young", "Yan"}, {"Baker", "Bob"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->SelectRow(2);
  W->grdNamesClick();
  Platform.Dialogs.OpenAnswers = {Other};
  W->mnuFOpen->trigger();
  QVERIFY(Platform.Prompter.Boxes.empty());
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - other.abk"));
  QCOMPARE(W->SelectedRow(), 1);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Baker"));
  QCOMPARE(W.Rows(), 4);
}

void TFileCommandsTest::OpenOlderFormatWarnsWithHelp() {
  TFakePlatform Platform;
  const QString Old = Platform.Path(QStringLiteral("OLD.ABK"));
  QFile File(Old);
  QVERIFY(File.open(QIODevice::WriteOnly));
  File.write(
      "[Settings]\r\nDefaultTab=2\r\n[Items]\r\nNumberOfItems=1\r\n1=E1\r\n[E1]\r\nSurname=Lee\r\nFirstName=Ann\r\n");
  File.close();
  TWindows W;
  QVERIFY(W.Activate());
  Platform.Dialogs.OpenAnswers = {Old};
  W->mnuFOpen->trigger();
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("warning")});
  QCOMPARE(Platform.Prompter.Boxes[0].HelpContext, 177);
  QCOMPARE(Platform.Prompter.Boxes[0].Text, QString::fromStdString(OldFormatWarningText(Old.toStdString())));
  QCOMPARE(W.DefaultTab->Tab(), 2);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Lee"));
}

void TFileCommandsTest::UnreadableOpenKeepsTheOpenBook() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  QDir(Platform.Folder.path()).mkdir(QStringLiteral("BAD.ABK"));
  const QString Bad = Platform.Path(QStringLiteral("BAD.ABK"));
  TWindows W;
  QVERIFY(W.Activate());
  Platform.Dialogs.OpenAnswers = {Bad};
  W->mnuFOpen->trigger();
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
  QVERIFY(Platform.Prompter.Boxes[0].Text.contains(Bad));
  QCOMPARE(W->Book().FileName, Path.toStdString());
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - BOOK.ABK"));
  QCOMPARE(W.Rows(), 3);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Adams"));
  // Editing and saving still goes to the book that was open.
  W->edtHomeTel->setText(QStringLiteral("1"));
  W->mnuFSave->trigger();
  TAddressBook Saved;
  Saved.LoadFromFile(Path.toStdString());
  QCOMPARE(static_cast<TAddressItem*>(Saved.Items->Head)->HomeTelephone.str(), std::string("1"));
}

void TFileCommandsTest::DamagedOpenWarnsWithCount() {
  TFakePlatform Platform;
  const QString Cut = Platform.Path(QStringLiteral("CUT.ABK"));
  WriteBook(Cut, {{"Able", "A"}, {"Baker", "B"}});
  QFile File(Cut);
  QVERIFY(File.open(QIODevice::ReadWrite));
  File.resize(File.size() - 1);
  File.close();
  BookWithLastUse(Platform, {{"Old", "1"}, {"Old", "2"}, {"Old", "3"}});
  TWindows W;
  QVERIFY(W.Activate());
  // While the warning is up the index already lists the new book, not the freed one.
  QStringList Listed;
  Platform.Prompter.WhileShown = [&](const TFakeBox&) {
    for (int Row = 1; Row <= W->Names().EntryCount(); ++Row) Listed << W.Cell(Row, 0);
  };
  Platform.Dialogs.OpenAnswers = {Cut};
  W->mnuFOpen->trigger();
  QCOMPARE(Listed, QStringList{QStringLiteral("Able")});
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("warning")});
  QCOMPARE(Platform.Prompter.Boxes[0].Text, DamagedBookText(Cut, 1));
  QCOMPARE(W.Rows(), 3);
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - CUT.ABK"));
}

void TFileCommandsTest::TwoDroppedFilesUseTheFirst() {
  TFakePlatform Platform;
  const QString First = Platform.Path(QStringLiteral("FIRST.ABK"));
  const QString Second = Platform.Path(QStringLiteral("SECOND.ABK"));
  WriteBook(First, {{"First", "One"}});
  WriteBook(Second, {{"Second", "Two"}});
  TWindows W;
  QVERIFY(W.Activate());
  QMimeData Data;
  Data.setUrls(
      {QUrl::fromLocalFile(First), QUrl(QStringLiteral("https://example.org/x.ABK")), QUrl::fromLocalFile(Second)});
  QCOMPARE(DroppedFiles(Data), (QStringList{First, Second}));
  W->DropFiles(DroppedFiles(Data));
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - FIRST.ABK"));
  QCOMPARE(Platform.Prompter.Texts(), QStringList{QString::fromLatin1(MoreThanOneFileText)});
  QCOMPARE(W->edtSurname->text(), QStringLiteral("First"));
}

void TFileCommandsTest::DroppedLowerCaseExtensionOpens() {
  TFakePlatform Platform;
  const QString Lower = Platform.Path(QStringLiteral("lower.abk"));
  WriteBook(Lower, {{"Lower", "Case"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->DropFiles({Lower});
  QVERIFY(Platform.Prompter.Boxes.empty());
  QCOMPARE(W->Book().FileName, Lower.toStdString());
}

void TFileCommandsTest::TextFileDroppedOnModifiedBook() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  const QString Text = Platform.Path(QStringLiteral("notes.txt"));
  QFile(Text).open(QIODevice::WriteOnly);
  TWindows W;
  QVERIFY(W.Activate());
  W->edtHomeTel->setText(QStringLiteral("777"));
  Platform.Prompter.Answers = {EAnswer::No};
  W->DropFiles({Text});
  QCOMPARE(Platform.Prompter.Texts(), (QStringList{Question(Path), NotABook(QStringLiteral("notes.txt"))}));
  QCOMPARE(W->Book().FileName, Path.toStdString());
  QCOMPARE(W->Book().Current->HomeTelephone.str(), std::string("777"));
  QVERIFY(W->Book().Modified);

  // Cancel in the prompt: the extension is not even looked at.
  Platform.Prompter.Boxes.clear();
  Platform.Prompter.Answers = {EAnswer::Cancel};
  W->DropFiles({Text});
  QCOMPARE(Platform.Prompter.Texts(), QStringList{Question(Path)});
}

void TFileCommandsTest::SaveWritesEvenWhenUnchanged() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  const QString Backup = Platform.Path(QStringLiteral("BOOK.~abk"));
  QFile::remove(Backup);
  TWindows W;
  QVERIFY(W.Activate());
  QVERIFY(!W->Book().Modified);
  W->mnuFSave->trigger();
  QVERIFY(QFile::exists(Backup));  // the file was written again, its old self backed up
  QVERIFY(Platform.Prompter.Boxes.empty());
  QVERIFY(Platform.Dialogs.SaveCalls.empty());
}

void TFileCommandsTest::SaveAsRenamesAndIsRemembered() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  const QString Renamed = Platform.Path(QStringLiteral("RENAMED.ABK"));
  {
    TWindows W;
    QVERIFY(W.Activate());
    Platform.Dialogs.SaveAnswers = {Renamed};
    W->mnuFSaveAs->trigger();
    QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - RENAMED.ABK"));
    QVERIFY(QFile::exists(Renamed));
    // Cancelling Save As changes nothing.
    W->mnuFSaveAs->trigger();
    QCOMPARE(W->Book().FileName, Renamed.toStdString());
    QVERIFY(W->close());
  }
  QVERIFY(Platform.ReadSettings().contains(QStringLiteral("LoadFile=") + Renamed));
}

void TFileCommandsTest::FailedSaveKeepsModifiedAndWindowOpen() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->edtHomeTel->setText(QStringLiteral("555"));
  // The book's folder goes away underneath it.
  const QString Gone = Platform.Path(QStringLiteral("gone/BOOK.ABK"));
  W->Book().FileName = Gone.toStdString();
  W->mnuFSave->trigger();
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
  QVERIFY(Platform.Prompter.Boxes[0].Text.contains(Gone));
  QVERIFY(W->Book().Modified);

  Platform.Prompter.Boxes.clear();
  Platform.Prompter.Answers = {EAnswer::Yes};
  QVERIFY(!W->close());
  QCOMPARE(Platform.Prompter.Kinds(), (QStringList{QStringLiteral("question"), QStringLiteral("error")}));
  QVERIFY(W->isVisible());

  // A failed Save As keeps the name the book had.
  Platform.Prompter.Boxes.clear();
  W->Book().FileName = Path.toStdString();
  Platform.Dialogs.SaveAnswers = {Platform.Path(QStringLiteral("nowhere/NEW.ABK"))};
  W->mnuFSaveAs->trigger();
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
  QCOMPARE(W->Book().FileName, Path.toStdString());
  QVERIFY(W->Book().Modified);
  Platform.Prompter.Answers = {EAnswer::No};
  QVERIFY(W->close());
}

QTEST_MAIN(TFileCommandsTest)
#include "tst_filecommands.moc"

void TFileCommandsTest::FileThatIsNoBookIsRefusedKeepingTheOpenBook() {
  // A vCard given a book's name: opened by menu, dropped, and named as the
  // last book at start; each time the open book (or none) stays as it was.
  const QByteArray VCard = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nEND:VCARD\r\n";
  for (const char* Way : {"open", "drop", "last book"}) {
    const QString How = QString::fromLatin1(Way);
    TFakePlatform Platform;
    const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
    const QString Contacts = Platform.Path(QStringLiteral("CONTACTS.ABK"));
    QFile File(Contacts);
    QVERIFY(File.open(QIODevice::WriteOnly));
    File.write(VCard);
    File.close();
    if (How == QLatin1String("last book"))
      Platform.WriteSettings(QStringLiteral("[Startup]\nLoadFile=%1\n").arg(Contacts));
    TWindows W;
    QVERIFY2(W.Activate(), Way);
    W->edtHomeTel->setText(QStringLiteral("777"));
    Platform.Prompter.Answers = {EAnswer::No};
    if (How == QLatin1String("open")) {
      Platform.Dialogs.OpenAnswers = {Contacts};
      W->mnuFOpen->trigger();
    } else if (How == QLatin1String("drop")) {
      W->DropFiles({Contacts});
    }
    QCOMPARE(Platform.Prompter.Boxes.back().Kind, QStringLiteral("error"));
    QCOMPARE(Platform.Prompter.Boxes.back().Text, NotABook(QStringLiteral("CONTACTS.ABK")));
    QFile Read(Contacts);
    QVERIFY(Read.open(QIODevice::ReadOnly));
    QCOMPARE(Read.readAll(), VCard);
    QVERIFY2(!QFile::exists(Platform.Path(QStringLiteral("CONTACTS.OLD"))), Way);
    if (How == QLatin1String("last book")) {
      QVERIFY(W->Book().FileName.empty());
      continue;
    }
    QCOMPARE(W->Book().FileName, Path.toStdString());
    QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - BOOK.ABK"));
    QCOMPARE(W->edtHomeTel->text(), QStringLiteral("777"));
    QVERIFY(W->Book().Modified);
  }
}
