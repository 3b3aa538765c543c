// The platform layer: the instance lock, the tick counter, paths beside the program.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

#include <QFile>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QListWidget>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <sys/stat.h>

#include "FakePlatform.h"
#include "FileDialogs.h"
#include "FontDialogs.h"
#include "InstanceLock.h"
#include "PrinterInfo.h"
#include "ProgramPaths.h"
#include "TickCounter.h"

class TPlatformTest : public QObject {
  Q_OBJECT
private slots:
  void LockIsExclusiveUntilReleased();
  void LockFolderWithoutRuntimeDir();
  void TickDifferencesWrap();
  void PathsFollowTheProgram();
  void SaveDialogRefusesReadOnlyFiles();
  void OpenDialogListsAnyCase();
  void LockFallsBackWhenTheRuntimeFolderCannotHoldIt();
  void MessageBoxIsWideEnoughForItsTitle();
  void FileDialogsAreCentredOnTheirWindow();
  void FontDialogOffersOnlyTheSizesUsed_data();
  void FontDialogOffersOnlyTheSizesUsed();
  void UnreachablePrintServiceIsNamed();
};

namespace {

QStringList ItemTexts(const QListWidget* List) {
  QStringList Texts;
  for (int Row = 0; Row < List->count(); ++Row) Texts << List->item(Row)->text();
  return Texts;
}

}  // namespace

// The header and footer font dialogs: sizes up to 16 pt only, the start font
// chosen as near as they allow, no colour or effects; used by key and click.
void TPlatformTest::FontDialogOffersOnlyTheSizesUsed_data() {
  QTest::addColumn<QString>("family");
  QTest::addColumn<double>("startSize");
  QTest::addColumn<bool>("bold");
  QTest::addColumn<QString>("pick");  // a size clicked, or "" to keep the one chosen
  QTest::addColumn<QString>("shownSize");
  QTest::addColumn<int>("resultSize");  // 0: cancelled
  QTest::newRow("header font, kept") << "Liberation Sans" << 16.0 << true << ""
                                     << "16" << 16;
  QTest::newRow("too large a start") << "Liberation Serif" << 28.0 << false << ""
                                     << "16" << 16;
  QTest::newRow("a size clicked") << "Liberation Sans" << 10.0 << true << "12"
                                  << "10" << 12;
  QTest::newRow("between sizes") << "Liberation Sans" << 13.0 << false << ""
                                 << "12" << 12;
  QTest::newRow("cancelled") << "Liberation Sans" << 10.0 << true << "14"
                             << "10" << 0;
}

void TPlatformTest::FontDialogOffersOnlyTheSizesUsed() {
  QFETCH(QString, family);
  QFETCH(double, startSize);
  QFETCH(bool, bold);
  QFETCH(QString, pick);
  QFETCH(QString, shownSize);
  QFETCH(int, resultSize);
  QFont Font(family);
  Font.setPointSizeF(startSize);
  Font.setBold(bold);
  TFontDialogOptions Options;
  Options.Title = QStringLiteral("Header Font");
  Options.ScalableOnly = true;
  Options.MaxPointSize = 16;
  bool Seen = false;
  QTimer::singleShot(0, [&] {
    QWidget* Dialog = QApplication::activeModalWidget();
    QVERIFY(Dialog);
    // A failed check must not leave the dialog waiting for a hand.
    const struct TCloser {
      QWidget* Open;
      ~TCloser() {
        if (QTest::currentTestFailed()) Open->close();
      }
    } Closer{Dialog};
    auto* Sizes = Dialog->findChild<QListWidget*>(QStringLiteral("lstSize"));
    auto* Families = Dialog->findChild<QListWidget*>(QStringLiteral("lstFamily"));
    auto* Styles = Dialog->findChild<QListWidget*>(QStringLiteral("lstStyle"));
    QVERIFY(Sizes && Families && Styles);
    QCOMPARE(Dialog->windowTitle(), QStringLiteral("Header Font"));
    QCOMPARE(ItemTexts(Sizes), QStringList({"6", "7", "8", "9", "10", "11", "12", "14", "16"}));
    QCOMPARE(Sizes->currentItem()->text(), shownSize);
    QCOMPARE(Families->currentItem()->text(), family);
    QCOMPARE(Styles->currentItem()->text(), bold ? QStringLiteral("Bold") : QStringLiteral("Regular"));
    // Nothing that would be dropped: no colour, no underline or strike-out.
    QVERIFY(Dialog->findChildren<QCheckBox*>().isEmpty());
    QVERIFY(Dialog->findChildren<QComboBox*>().isEmpty());
    for (QListWidget* List : {Families, Styles, Sizes})
      QVERIFY(!QAccessible::queryAccessibleInterface(List)->text(QAccessible::Name).isEmpty());
    if (!pick.isEmpty()) {
      QListWidgetItem* Item = Sizes->findItems(pick, Qt::MatchExactly).value(0);
      QVERIFY(Item);
      QTest::mouseClick(Sizes->viewport(), Qt::LeftButton, Qt::NoModifier, Sizes->visualItemRect(Item).center());
      QCOMPARE(Sizes->currentItem()->text(), pick);
    }
    Seen = true;
    QTest::keyClick(Dialog, resultSize ? Qt::Key_Return : Qt::Key_Escape);
  });
  const bool Accepted = FontDialogs().ChooseFont(nullptr, Font, Options);
  QVERIFY(Seen);
  QCOMPARE(Accepted, resultSize != 0);
  QCOMPARE(Font.family(), family);
  QCOMPARE(Font.pointSizeF(), resultSize ? double(resultSize) : startSize);
  QCOMPARE(Font.bold(), bold);
}

void TPlatformTest::LockIsExclusiveUntilReleased() {
  QTemporaryDir Runtime;
  qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
  QCOMPARE(QString::fromStdString(TInstanceLock::LockPath("TOBRINEL")), Runtime.filePath(QStringLiteral("TOBRINEL")));
  {
    TInstanceLock First, Second;
    QVERIFY(First.Acquire());
    QVERIFY(!Second.Acquire());  // a second holder, even in the same process, is refused
    QVERIFY(!Second.Held());
    First.Release();
    QVERIFY(Second.Acquire());
  }
  // Released by destruction as well.
  TInstanceLock Third;
  QVERIFY(Third.Acquire());
  qunsetenv("XDG_RUNTIME_DIR");
}

void TPlatformTest::LockFolderWithoutRuntimeDir() {
  qunsetenv("XDG_RUNTIME_DIR");
  const QString Expected = QStringLiteral("/tmp/TOBRINEL-%1/TOBRINEL").arg(getuid());
  QCOMPARE(QString::fromStdString(TInstanceLock::LockPath("TOBRINEL")), Expected);
  QVERIFY(QDir(QStringLiteral("/tmp/TOBRINEL-%1").arg(getuid())).exists());
}

void TPlatformTest::TickDifferencesWrap() {
  QCOMPARE(TicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
  QCOMPARE(TicksSince(100u, 3100u), 3000u);
  const uint32_t Before = GetTickCount32();
  QTest::qWait(20);
  const uint32_t Elapsed = TicksSince(Before, GetTickCount32());
  QVERIFY(Elapsed >= 15 && Elapsed < 5000);
}

void TPlatformTest::PathsFollowTheProgram() {
  SetProgramPathOverride(QStringLiteral("/opt/x/tobrinel"));
  QCOMPARE(ProgramFolder(), QStringLiteral("/opt/x"));
  QCOMPARE(SettingsFileName(), QStringLiteral("/opt/x/tobrinel.INI"));
  QCOMPARE(HelpFileName(), QStringLiteral("/opt/x/tobrinel.HLP"));
  QCOMPARE(MarkerFileName(), QStringLiteral("/opt/x/TOBRINEL.NEW"));
  SetProgramPathOverride(QString());
  QCOMPARE(ProgramPath(), QCoreApplication::applicationFilePath());
  QCOMPARE(HelpFileName(), QCoreApplication::applicationFilePath() + QStringLiteral(".HLP"));
}

namespace {
// Runs Step on the file dialog as soon as it is up.
void WhenDialogUp(std::function<void(QFileDialog*)> Step) {
  QTimer::singleShot(0, [Step] {
    auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    QVERIFY(Dialog);
    Step(Dialog);
  });
}
// Types a name into the dialog's file name box, as the user would.
void TypeName(QFileDialog* Dialog, const QString& Name) {
  auto* Edit = Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(Edit);
  Edit->setText(Name);
}
}  // namespace

void TPlatformTest::SaveDialogRefusesReadOnlyFiles() {
  TFakePlatform Platform;
  SetFileDialogs(nullptr);  // the real dialogs, with the fake boxes
  const QString Locked = Platform.Path(QStringLiteral("LOCKED.ABK"));
  QFile(Locked).open(QIODevice::WriteOnly);
  ::chmod(Locked.toLocal8Bit().constData(), 0444);
  const QString Existing = Platform.Path(QStringLiteral("THERE.ABK"));
  QFile(Existing).open(QIODevice::WriteOnly);
  Platform.Prompter.Confirms = {false};
  TFileDialogOptions Options{QStringLiteral("Save as..."), QStringLiteral("Tobrinel Data Files (*.ABK);;All Files (*)"),
                             QStringLiteral("ABK"), Platform.Folder.path()};
  WhenDialogUp([&](QFileDialog* Dialog) {
    QCOMPARE(Dialog->windowTitle(), QStringLiteral("Save as..."));
    QCOMPARE(Dialog->defaultSuffix(), QStringLiteral("ABK"));
    QCOMPARE(Dialog->nameFilters().size(), 2);
    TypeName(Dialog, QStringLiteral("LOCKED.ABK"));
    QMetaObject::invokeMethod(Dialog, "accept");
    // Refused: the dialog comes back; an existing file, not to be replaced.
    WhenDialogUp([&](QFileDialog* Again) {
      TypeName(Again, QStringLiteral("THERE.ABK"));
      QMetaObject::invokeMethod(Again, "accept");
      // Back once more.
      WhenDialogUp([&](QFileDialog* Last) { Last->reject(); });
    });
  });
  QVERIFY(FileDialogs().SaveFile(nullptr, Options).isEmpty());
  QCOMPARE(Platform.Prompter.Kinds(), (QStringList{QStringLiteral("warning"), QStringLiteral("confirm")}));
  QVERIFY(Platform.Prompter.Boxes[0].Text.startsWith(QStringLiteral("LOCKED.ABK")));
  QCOMPARE(Platform.Prompter.Boxes[1].Text, QStringLiteral("THERE.ABK already exists.\nDo you want to replace it?"));

  // Replacing an existing file when the user says so.
  Platform.Prompter.Confirms = {true};
  WhenDialogUp([&](QFileDialog* Dialog) {
    TypeName(Dialog, QStringLiteral("THERE"));  // the default extension is added
    QMetaObject::invokeMethod(Dialog, "accept");
  });
  QCOMPARE(FileDialogs().SaveFile(nullptr, Options), Existing);
}

void TPlatformTest::OpenDialogListsAnyCase() {
  TFakePlatform Platform;
  SetFileDialogs(nullptr);
  TFileDialogOptions Options{
      {}, QStringLiteral("Tobrinel Data File (*.ABK)"), QStringLiteral("ABK"), Platform.Folder.path()};
  QStringList Filters;
  WhenDialogUp([&](QFileDialog* Dialog) {
    Filters = Dialog->nameFilters();
    QCOMPARE(Dialog->fileMode(), QFileDialog::ExistingFile);
    Dialog->reject();
  });
  QVERIFY(FileDialogs().OpenFile(nullptr, Options).isEmpty());
  QCOMPARE(Filters, QStringList{QStringLiteral("Tobrinel Data File (*.[Aa][Bb][Kk])")});
}

void TPlatformTest::LockFallsBackWhenTheRuntimeFolderCannotHoldIt() {
  QTemporaryDir Scratch;
  const QString File = Scratch.filePath(QStringLiteral("file"));
  QFile(File).open(QIODevice::WriteOnly);
  // A name of this run's own, so that no other copy's lock is met in /tmp.
  const std::string Name = "TOBRINEL-test-" + std::to_string(getpid());
  const std::string Fallback = TInstanceLock::FallbackPath(Name);
  for (const QString& Runtime : {Scratch.filePath(QStringLiteral("missing")), File}) {
    qputenv("XDG_RUNTIME_DIR", Runtime.toLocal8Bit());
    TInstanceLock First, Second;
    QCOMPARE(First.TryAcquire(Name), TInstanceLock::EResult::Acquired);
    QCOMPARE(First.HeldPath(), Fallback);
    QCOMPARE(Second.TryAcquire(Name), TInstanceLock::EResult::HeldByAnother);
  }
  qunsetenv("XDG_RUNTIME_DIR");
  ::unlink(Fallback.c_str());
}

void TPlatformTest::MessageBoxIsWideEnoughForItsTitle() {
  TFakePlatform Platform;
  SetPrompter(nullptr);  // the real boxes
  const QString Title = QStringLiteral("Tobrinel Address Manager and Phone Dialler");
  SetApplicationTitle(Title);
  QFont Bold = QApplication::font();
  Bold.setBold(true);
  const int Needed = QFontMetrics(Bold).horizontalAdvance(Title);
  int Width = 0;
  QTimer::singleShot(0, [&] {
    auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(Box);
    QCOMPARE(Box->windowTitle(), Title);
    Width = Box->width();
    Box->button(QMessageBox::Cancel)->click();
  });
  QCOMPARE(Prompter().Question(nullptr, QStringLiteral("Save changes to\n\n(Untitled)")), EAnswer::Cancel);
  // Beside the title, the title bar holds the window's icon and three buttons.
  QVERIFY2(Width >= Needed + 4 * 20, qPrintable(QStringLiteral("%1 < %2").arg(Width).arg(Needed)));
  SetApplicationTitle(QStringLiteral("Tobrinel"));
}

void TPlatformTest::FileDialogsAreCentredOnTheirWindow() {
  TFakePlatform Platform;
  SetFileDialogs(nullptr);
  QMainWindow Window;
  Window.setFixedSize(602, 380);
  Window.move(120, 90);
  Window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&Window));
  const TFileDialogOptions Options{
      {}, QStringLiteral("Tobrinel Data File (*.ABK)"), QStringLiteral("ABK"), Platform.Folder.path()};
  for (const bool Open : {true, false}) {
    QRect Place;
    WhenDialogUp([&](QFileDialog* Dialog) {
      Place = Dialog->frameGeometry();
      Dialog->reject();
    });
    if (Open) FileDialogs().OpenFile(&Window, Options);
    else FileDialogs().SaveFile(&Window, Options);
    // Readable however small the window is, and still on the screen.
    QVERIFY2(Place.width() >= 720 && Place.height() >= 460, Open ? "open" : "save");
    QVERIFY(Window.screen()->availableGeometry().contains(Place));
    QVERIFY((Place.center() - Window.geometry().center()).manhattanLength() <= 4);
  }
}

QTEST_MAIN(TPlatformTest)
#include "tst_platform.moc"

// With the print service out of reach no printer is listed, and the reason
// given for it says so.
void TPlatformTest::UnreachablePrintServiceIsNamed() {
  QTemporaryDir Dir;
  // The print system looks no further than this server, which is not there.
  qputenv("CUPS_SERVER", Dir.filePath(QStringLiteral("cups.sock")).toLocal8Bit());
  QVERIFY(!PrinterInfo().PrinterAvailable());
  for (const QString& Printer : {QString(), QStringLiteral("TobPDF")})
    QCOMPARE(PrinterInfo().Unavailable(Printer), QStringLiteral("the print service (CUPS) cannot be reached"));
  QCOMPARE(NothingPrintedText(PrinterInfo().Unavailable(QString())),
           QStringLiteral("Nothing was printed: the print service (CUPS) cannot be reached.  Preview can save the "
                          "list as a PDF file instead."));
  qunsetenv("CUPS_SERVER");
}
