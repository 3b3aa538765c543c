// File ▸ Import... and Export...: contacts of other programs in and out of the open book.
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QtTest>

#include "Contacts.h"
#include "MainTestKit.h"

namespace {
void WriteText(const QString& Path, const QByteArray& Bytes) {
  QFile File(Path);
  QVERIFY(File.open(QIODevice::WriteOnly));
  File.write(Bytes);
}
}  // namespace

class TContactsTest : public QObject {
  Q_OBJECT
private slots:
  void CommandsFollowSaveAs();
  void ImportAddsShowsTheFirstAndReports();
  void DamagedImportChangesNothing();
  void ExportWritesTheWholeBook();
  void ExportTellsWhatANumberCouldNotKeep();
  void SaveDialogTakesTheChosenTypesExtension();
};

void TContactsTest::CommandsFollowSaveAs() {
  TFakePlatform Platform;
  TWindows W;
  auto* File = W->menuBar()->findChild<QMenu*>(QStringLiteral("mnuFile"));
  QVERIFY(File);
  QStringList Items;
  for (QAction* Action : File->actions()) Items << (Action->isSeparator() ? QStringLiteral("-") : Action->text());
  QCOMPARE(Items,
           (QStringList{"&New", "&Open...", "&Save", "Save &As...", "&Import...", "&Export...", "S&ynchronize...", "-",
                        "Printer Set&up...", "&Print...", "-", "&Dialer...", "-", "E&xit"}));
  QCOMPARE(W->mnuFImport->property("HelpContext").toInt(), 190);
  QCOMPARE(W->mnuFExport->property("HelpContext").toInt(), 191);
}

void TContactsTest::ImportAddsShowsTheFirstAndReports() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Smith", "John"}});
  const QString Cards = Platform.Path(QStringLiteral("phone.vcf"));
  WriteText(Cards,
            "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Zed;Zo=C3=AB\r\n"
            "TEL;CELL:0777\r\nPHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQ\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Baker;Bob;;;\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nCATEGORIES:\r\nEND:VCARD\r\n");
  TWindows W;
  QVERIFY(W.Activate());
  W->edtFirstName->setFocus();
  QTest::keyClicks(W->edtFirstName, QStringLiteral("e"));  // not committed yet
  Platform.Dialogs.OpenAnswers = {Cards};
  W->mnuFImport->trigger();
  QCOMPARE(Platform.Dialogs.OpenCalls.at(0).Title, QStringLiteral("Import"));
  QCOMPARE(Platform.Dialogs.OpenCalls[0].Folder, Platform.Folder.path());
  QCOMPARE(Platform.Prompter.Texts(), QStringList{QStringLiteral("2 entries were imported from phone.vcf.\n\n"
                                                                 "1 photo was not imported.\n"
                                                                 "1 contact that held nothing an entry can show "
                                                                 "was skipped.")});
  QCOMPARE(Platform.Prompter.Boxes[0].Kind, QStringLiteral("information"));
  QVERIFY(W->Book().Modified);
  QCOMPARE(W.Rows(), 6);
  QCOMPARE(W.Cell(1, 1), QStringLiteral("Anne"));
  QCOMPARE(W.Cell(2, 0), QStringLiteral("Baker"));
  QCOMPARE(W.Cell(4, 1), QString::fromUtf8("Zoë"));
  // The first card of the file is the one shown.
  QCOMPARE(W->SelectedRow(), 4);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Zed"));
  QCOMPARE(W->edtMobile->text(), QStringLiteral("0777"));
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);

  // The same file again adds nothing, and says why.
  Platform.Dialogs.OpenAnswers = {Cards};
  W->mnuFImport->trigger();
  QCOMPARE(Platform.Prompter.Texts().last(), QStringLiteral("No entries were found in phone.vcf.\n\n"
                                                            "1 photo was not imported.\n"
                                                            "1 contact that held nothing an entry can show was "
                                                            "skipped.\n"
                                                            "2 were already in the book and were not added again."));
  QCOMPARE(W.Rows(), 6);
}

void TContactsTest::DamagedImportChangesNothing() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  const QString Bad = Platform.Path(QStringLiteral("bad.csv"));
  WriteText(Bad, "First Name,Last Name\r\nAnn,\"Open\r\n");
  const QString Empty = Platform.Path(QStringLiteral("empty.vcf"));
  WriteText(Empty, "");
  TWindows W;
  QVERIFY(W.Activate());
  Platform.Dialogs.OpenAnswers = {Bad, Empty, Platform.Path(QStringLiteral("gone.vcf"))};
  for (int I = 0; I < 3; ++I) W->mnuFImport->trigger();
  QCOMPARE(Platform.Prompter.Kinds(), (QStringList{"error", "information", "error"}));
  QCOMPARE(Platform.Prompter.Boxes[0].Text,
           QStringLiteral("bad.csv\n\nLine 2: a quoted field is not closed.\n\nNothing was imported."));
  QCOMPARE(Platform.Prompter.Boxes[1].Text, QStringLiteral("No entries were found in empty.vcf."));
  QVERIFY(Platform.Prompter.Boxes[2].Text.contains(QStringLiteral("No such file")));
  QCOMPARE(W->Book().Items->Count, 1);
  QVERIFY(!W->Book().Modified);
}

void TContactsTest::ExportWritesTheWholeBook() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Smith", "John"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->edtHomeTel->setFocus();
  QTest::keyClicks(W->edtHomeTel, QStringLiteral("0123"));  // committed by the command
  const QString Csv = Platform.Path(QStringLiteral("out.csv")), Vcf = Platform.Path(QStringLiteral("out"));
  Platform.Dialogs.SaveAnswers = {Csv, Vcf, Path};
  for (int I = 0; I < 3; ++I) W->mnuFExport->trigger();
  const TFileDialogOptions& Options = Platform.Dialogs.SaveCalls.at(0);
  QCOMPARE(Options.Title, QStringLiteral("Export"));
  QCOMPARE(Options.Filter, QStringLiteral("vCard Files (*.vcf);;CSV Files (*.csv)"));
  QCOMPARE(Options.DefaultExt, QStringLiteral("vcf"));
  for (const auto& [File, Format] : {std::pair{Csv, EContactFormat::Csv}, std::pair{Vcf, EContactFormat::VCard}}) {
    TImported Back = ImportContactsFile(File.toStdString(), Format);
    QCOMPARE(Back.Items.size(), size_t(2));
    QCOMPARE(Back.Items[0]->HomeTelephone.str(), std::string("0123"));
    QCOMPARE(Back.Items[1]->Surname.str(), std::string("Smith"));
  }
  // The book's own file is refused and left as it was.
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
  TAddressBook Saved;
  Saved.LoadFromFile(Path.toStdString());
  QCOMPARE(Saved.Items->Count, 2);
  QVERIFY(W->Book().Modified);
}

void TContactsTest::ExportTellsWhatANumberCouldNotKeep() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->edtHomeTel->setFocus();
  QTest::keyClicks(W->edtHomeTel, QStringLiteral("01\\23"));
  // CSV keeps a number as it stands; a card cannot hold the backslash.
  Platform.Dialogs.SaveAnswers = {Platform.Path(QStringLiteral("out.csv")), Platform.Path(QStringLiteral("out.vcf"))};
  W->mnuFExport->trigger();
  W->mnuFExport->trigger();
  QCOMPARE(
      Platform.Prompter.Texts(),
      QStringList{QStringLiteral("out.vcf was written.\n\n1 character that cannot stand in a phone number (a "
                                 "backslash, a line break or another control character) was left out of 1 number.")});
  QCOMPARE(Platform.Prompter.Boxes[0].Kind, QStringLiteral("information"));
  TImported Back = ImportContactsFile(Platform.Path(QStringLiteral("out.vcf")).toStdString(), std::nullopt);
  QCOMPARE(Back.Items.at(0)->HomeTelephone.str(), std::string("0123"));
}

void TContactsTest::SaveDialogTakesTheChosenTypesExtension() {
  TFakePlatform Platform;
  SetFileDialogs(nullptr);  // the real dialog
  QString Suffix;
  QTimer::singleShot(0, [&] {
    auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!Dialog) return;
    if (auto* Types = Dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
      QTest::keyClick(Types, Qt::Key_Down);  // "CSV Files"
    }
    Suffix = Dialog->defaultSuffix();
    Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("contacts"));
    QMetaObject::invokeMethod(Dialog, "accept");
  });
  const TFileDialogOptions Options{QStringLiteral("Export"), QStringLiteral("vCard Files (*.vcf);;CSV Files (*.csv)"),
                                   QStringLiteral("vcf"), Platform.Folder.path()};
  QCOMPARE(FileDialogs().SaveFile(nullptr, Options), Platform.Path(QStringLiteral("contacts.csv")));
  QCOMPARE(Suffix, QStringLiteral("csv"));
}

QTEST_MAIN(TContactsTest)
#include "tst_contacts.moc"
