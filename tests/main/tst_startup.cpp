#include <QShowEvent>
// Start-up, settings, command line and shutdown of the main window.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QMenuBar>
#include <QProcess>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

#include "CommandLine.h"
#include "InstanceLock.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "Olineopt.h"
#include "MainTestKit.h"
#include "Program.h"
#include "Splash.h"

class TStartupTest : public QObject {
  Q_OBJECT
private slots:
  void FirstRunUsesDefaultsAndWritesEveryKey();
  void SplashOffLeavesLowerCaseSectionAndAddsLoadFile();
  void SplashIsHeldThreeSeconds();
  void SecondInstanceEndsAtOnce();
  void CommandLineNames();
  void CommandLineBoxesThenLastBook();
  void CommandLineFileThatIsNoBookOpensTheLastBook();
  void MissingOrDeletedBooksStartUntitled();
  void UnreadableBookStartsUntitledWithTheError();
  void DamagedBookOpensWhatWasRead();
  void MarkerFileRunsDetectionOnce();
  void OffScreenPositionFallsBack();
  void PrinterAndHelpState();
  void StoredSettingsAreRestored();
  void CloseRefusedByCancelKeepsWindow();
  void UnreadableSettingsGiveDefaults();
  void OlderBookAtStartUpSetsTheDefaultTab();
  void FirstEntryShownEvenWithoutActivation();
  void BookNameWithALineBreakIsNotStored();
  void PlaceIsTheClientsEvenAfterABox();
  void GroupCaptionsSitOnAlignedFrames();
};

void TStartupTest::FirstRunUsesDefaultsAndWritesEveryKey() {
  TFakePlatform Platform;
  Platform.Ticks.Step = 1000;
  {
    TProgram Program({});
    Program.CreateWindows();
    QVERIFY(Program.SplashWanted);
    QVERIFY(Program.Splash);
    TfrmMain& Main = *Program.Main;
    QCOMPARE(Main.pos(), QPoint(21, 52));
    QCOMPARE(Main.grdNames->columnWidth(0), 99);
    QCOMPARE(Main.grdNames->columnWidth(1), 99);
    QCOMPARE(Main.ModemPort(), -1);
    QCOMPARE(Program.DefaultTab->Tab(), 0);
    QVERIFY(Program.DiallingOpt->rdoToneDial->isChecked());
    QVERIFY(!Program.DiallingOpt->chkDialExtensions->isChecked());
    QVERIFY(!Program.DiallingOpt->chkDialSilently->isChecked());
    QVERIFY(!Program.OutsideLine->chkDialOutsideLine->isChecked());
    QCOMPARE(Program.OutsideLine->edtPauseChar->text(), QStringLiteral("W"));
    QCOMPARE(Main.windowTitle(), QStringLiteral("Address Book - (Untitled)"));
    QCOMPARE(Main.centralWidget()->size(), QSize(602, 354));
    QVERIFY(Main.close());
  }
  QVERIFY(Platform.Prompter.Boxes.empty());
  const QString Written = Platform.ReadSettings();
  for (const char* Key : {"Top=52", "Left=21", "GridCol_1=99", "GridCol_2=99", "LoadFile=", "Port=-1", "Detected=0",
                          "Tab=0", "[FormPosition]", "[Startup]", "[MODEM]", "[Defaults]", "ToneDial=1", "DialExt=0",
                          "SilentDial=0", "[OutSideLine]", "DialForFirst=0", "DialThisFor=\n", "PauseChar=W"})
    QVERIFY2(Written.contains(QLatin1String(Key)), Key);
  QVERIFY(!Written.contains(QStringLiteral("ShowSplash")));
  QVERIFY(Written.contains(QStringLiteral("LoadFile=\n")));  // untitled: empty
}

void TStartupTest::SplashOffLeavesLowerCaseSectionAndAddsLoadFile() {
  TFakePlatform Platform;
  Platform.WriteSettings(QStringLiteral("[startup]\nShowSplash=0\n"));
  {
    TProgram Program({});
    Program.CreateWindows();
    QVERIFY(!Program.SplashWanted);
    QVERIFY(!Program.Splash);
    Program.HoldSplash();
    QCOMPARE(Platform.Ticks.Paused, 0u);  // no waiting at all
  }
  const QString Written = Platform.ReadSettings();
  QVERIFY(Written.startsWith(QStringLiteral("[startup]")));
  QVERIFY(!Written.contains(QStringLiteral("[Startup]")));
  const qsizetype Section = Written.indexOf(QStringLiteral("[startup]"));
  const qsizetype Next = Written.indexOf(QLatin1Char('['), Section + 1);
  QVERIFY(Written.mid(Section, Next - Section).contains(QStringLiteral("LoadFile=")));
}

void TStartupTest::SplashIsHeldThreeSeconds() {
  TFakePlatform Platform;
  TProgram Program({});
  Program.CreateWindows();
  QVERIFY(Program.Splash && Program.Splash->isVisible());
  const uint32_t Start = Program.SplashStart;
  Program.HoldSplash();
  QVERIFY(Platform.Ticks.Value - Start >= 3000);
  QVERIFY(Platform.Ticks.Value - Start < 3100);
  QVERIFY(!Program.Splash->isVisible());

  // Loading slower than the hold: no extra wait.
  TFakePlatform Late;
  TProgram Slow({});
  Slow.CreateWindows();
  Late.Ticks.Value = Slow.SplashStart + 5000;
  Slow.HoldSplash();
  QCOMPARE(Late.Ticks.Paused, 0u);

  // The tick counter wraps at 32 bits.
  TFakePlatform Wrap;
  Wrap.Ticks.Value = 0xFFFFFF00u;
  TProgram Wrapped({});
  Wrapped.CreateWindows();
  Wrapped.HoldSplash();
  QVERIFY(Wrap.Ticks.Paused >= 3000 && Wrap.Ticks.Paused < 3100);
}

void TStartupTest::SecondInstanceEndsAtOnce() {
  QTemporaryDir Runtime;
  qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
  TInstanceLock First;
  QVERIFY(First.Acquire("TOBRINEL"));
  QProcess Second;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime.path());
  // No display at all: the second copy must end before it needs one.
  Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  Environment.remove(QStringLiteral("DISPLAY"));
  Environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  Second.setProcessEnvironment(Environment);
  Second.start(QStringLiteral(TOBRINEL_EXE), {QStringLiteral("ignored.abk")});
  QVERIFY(Second.waitForFinished(10000));
  QCOMPARE(Second.exitStatus(), QProcess::NormalExit);
  QCOMPARE(Second.exitCode(), 0);
  QVERIFY(First.Held());
  qunsetenv("XDG_RUNTIME_DIR");
}

void TStartupTest::CommandLineNames() {
  QTemporaryDir Folder;
  QFile(Folder.filePath(QStringLiteral("book.abk"))).open(QIODevice::WriteOnly);

  QVERIFY(ChooseCommandLineBook({}, Folder.path()).FileName.isEmpty());

  // No folder, no extension: the current folder, ".ABK", any case on disk.
  TCommandLineBook Bare = ChooseCommandLineBook({QStringLiteral("book")}, Folder.path());
  QVERIFY(Bare.Errors.isEmpty());
  QCOMPARE(Bare.FileName, Folder.filePath(QStringLiteral("book.abk")));
  QCOMPARE(ChooseCommandLineBook({QStringLiteral("BOOK.ABK")}, Folder.path()).FileName,
           Folder.filePath(QStringLiteral("book.abk")));

  TCommandLineBook Text = ChooseCommandLineBook({QStringLiteral("/some/where/book.txt")}, Folder.path());
  QVERIFY(Text.FileName.isEmpty());
  QCOMPARE(Text.Errors,
           QStringList{QStringLiteral("book.txt\n\nThis is not a valid Tobrinel address book file so the last used "
                                      "address book will be opened instead.")});

  TCommandLineBook Two = ChooseCommandLineBook({QStringLiteral("book"), QStringLiteral("other")}, Folder.path());
  QCOMPARE(Two.Errors, QStringList{QString::fromLatin1(MoreThanOneFileText)});
  QCOMPARE(Two.FileName, Folder.filePath(QStringLiteral("book.abk")));

  // A dot alone is an extension, and not ".ABK"; only the last dot counts.
  QVERIFY(ChooseCommandLineBook({QStringLiteral("book.")}, Folder.path()).FileName.isEmpty());
  QCOMPARE(ChooseCommandLineBook({QStringLiteral("my.book.abk")}, Folder.path()).FileName,
           Folder.filePath(QStringLiteral("my.book.abk")));
  TCommandLineBook Dotted = ChooseCommandLineBook({QStringLiteral("book.abk.txt")}, Folder.path());
  QVERIFY(Dotted.FileName.isEmpty());
  QVERIFY(Dotted.Errors.value(0).startsWith(QStringLiteral("book.abk.txt\n\n")));
  QVERIFY(HasBookExtension(QStringLiteral("/a.b/my.book.ABK")));
  QVERIFY(!HasBookExtension(QStringLiteral("/x.abk/book")));
  // A name that names nothing is passed on as it is; the window falls back.
  QCOMPARE(ChooseCommandLineBook({QStringLiteral("none")}, Folder.path()).FileName,
           Folder.filePath(QStringLiteral("none.ABK")));
}

void TStartupTest::CommandLineBoxesThenLastBook() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Last", "Used"}});
  const QString Named = Platform.Path(QStringLiteral("NAMED.ABK"));
  WriteBook(Named, {{"Named", "One"}});

  {
    TWindows W({Platform.Path(QStringLiteral("book.txt"))});
    QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(Platform.Prompter.Boxes[0].Text.startsWith(QStringLiteral("book.txt\n\n")));
    QCOMPARE(W.Cell(1, 0), QStringLiteral("Last"));
  }
  Platform.Prompter.Boxes.clear();
  {
    TWindows W({Named, Platform.Path(QStringLiteral("x.ABK"))});
    QCOMPARE(Platform.Prompter.Texts(), QStringList{QString::fromLatin1(MoreThanOneFileText)});
    QCOMPARE(W.Cell(1, 0), QStringLiteral("Named"));
    QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - NAMED.ABK"));
  }
  Platform.Prompter.Boxes.clear();
  {
    // The previous run left NAMED.ABK as the last book.
    TWindows W({Platform.Path(QStringLiteral("absent"))});
    QVERIFY(Platform.Prompter.Boxes.empty());
    QCOMPARE(W->Book().FileName, Named.toStdString());
  }
}

void TStartupTest::CommandLineFileThatIsNoBookOpensTheLastBook() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Last", "Used"}});
  QFile Text(Platform.Path(QStringLiteral("NOTES.ABK")));
  QVERIFY(Text.open(QIODevice::WriteOnly));
  Text.write("Shopping list\r\nMilk\r\n");
  Text.close();
  TWindows W({Platform.Path(QStringLiteral("notes"))});
  QCOMPARE(Platform.Prompter.Texts(),
           QStringList{QStringLiteral("NOTES.ABK\n\nThis is not a valid Tobrinel address book file so the "
                                      "last used address book will be opened instead.")});
  QCOMPARE(W.Cell(1, 0), QStringLiteral("Last"));
  QVERIFY(!QFile::exists(Platform.Path(QStringLiteral("NOTES.OLD"))));
}

void TStartupTest::MissingOrDeletedBooksStartUntitled() {
  TFakePlatform Platform;
  const QString Last = BookWithLastUse(Platform, {{"Gone", "Soon"}});
  QFile::remove(Last);
  TWindows W({Platform.Path(QStringLiteral("missing.ABK"))});
  QVERIFY(Platform.Prompter.Boxes.empty());
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - (Untitled)"));
  QCOMPARE(W.Rows(), 2);
  QVERIFY(W->Book().FileName.empty());
}

void TStartupTest::UnreadableBookStartsUntitledWithTheError() {
  TFakePlatform Platform;
  // A folder of that name exists but cannot be read as a book.
  QDir(Platform.Folder.path()).mkdir(QStringLiteral("BROKEN.ABK"));
  const QString Broken = Platform.Path(QStringLiteral("BROKEN.ABK"));
  Platform.WriteSettings(QStringLiteral("[Startup]\nLoadFile=%1\n").arg(Broken));
  TWindows W;
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
  QVERIFY(Platform.Prompter.Boxes[0].Text.contains(Broken));
  QVERIFY(W->Book().FileName.empty());
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - (Untitled)"));
  QCOMPARE(W.Rows(), 2);
}

void TStartupTest::DamagedBookOpensWhatWasRead() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Able", "A"}, {"Baker", "B"}, {"Cole", "C"}});
  QFile File(Path);
  QVERIFY(File.open(QIODevice::ReadWrite));
  File.resize(File.size() - 3);  // the last record is cut short
  File.close();
  TWindows W;
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("warning")});
  QCOMPARE(Platform.Prompter.Boxes[0].Text, DamagedBookText(Path, 2));
  QVERIFY(Platform.Prompter.Boxes[0].Text.contains(QStringLiteral("2 entries")));
  QCOMPARE(W.Rows(), 4);
  QCOMPARE(W->Book().FileName, Path.toStdString());
}

void TStartupTest::MarkerFileRunsDetectionOnce() {
  TFakePlatform Platform;
  QFile(Platform.Path(QStringLiteral("TOBRINEL.NEW"))).open(QIODevice::WriteOnly);
  TWindows W;
  QVERIFY(W->FirstRun());
  QVERIFY(!QFile::exists(Platform.Path(QStringLiteral("TOBRINEL.NEW"))));
  // With no port to find, each run ends in the no-modem box.
  TfrmMODEMDetect Detect(W.Main.get());
  W->SetModemDetection(&Detect);
  auto Detections = [&Platform] {
    return Platform.Prompter.Texts().filter(QStringLiteral("There are no MODEMS")).size();
  };
  QVERIFY(W.Activate());
  QCOMPARE(Detections(), 1);
  QVERIFY(W->Activated());
  // Coming back to the window later repeats nothing.
  QWidget Other;
  Other.show();
  QApplication::setActiveWindow(&Other);
  QVERIFY(QTest::qWaitForWindowActive(&Other));
  QVERIFY(W.Activate());
  QCOMPARE(Detections(), 1);

  // Without the marker, only the auto-detect tick runs it.
  TFakePlatform Quiet;
  TWindows Plain;
  QVERIFY(!Plain->FirstRun());
  TfrmMODEMDetect PlainDetect(Plain.Main.get());
  Plain->SetModemDetection(&PlainDetect);
  QVERIFY(Plain.Activate());
  QVERIFY(Quiet.Prompter.Boxes.empty());
}

void TStartupTest::OffScreenPositionFallsBack() {
  TFakePlatform Platform;
  Platform.WriteSettings(QStringLiteral("[FormPosition]\nTop=-5000\nLeft=90000\n"));
  TWindows W;
  QCOMPARE(W->pos(), QPoint(21, 52));
}

void TStartupTest::PrinterAndHelpState() {
  TFakePlatform Platform;
  Platform.Printers.Available = false;
  {
    TWindows W;
    QVERIFY(W.Activate());
    QVERIFY(!W->mnuFPrinterSetup->isEnabled());
    QVERIFY(!W->mnuFPrint->isEnabled());
    QVERIFY(!W->mnuHContents->isEnabled());
  }
  Platform.Printers.Available = true;
  Platform.CreateHelpFile();
  BookWithLastUse(Platform, {{"Lee", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  QVERIFY(W->mnuFPrinterSetup->isEnabled());
  QVERIFY(W->mnuFPrint->isEnabled());
  QVERIFY(W->mnuHContents->isEnabled());
  W->mnuHContents->trigger();
  QCOMPARE(Platform.Help.Calls, QStringList{QStringLiteral("contents")});
  QTest::keyClick(W.Main.get(), Qt::Key_F1);
  QCOMPARE(Platform.Help.Calls.last(), QStringLiteral("ctx9"));
}

void TStartupTest::StoredSettingsAreRestored() {
  TFakePlatform Platform;
  Platform.WriteSettings(
      QStringLiteral("[FormPosition]\nTop=80\nLeft=60\nGridCol_1=120\nGridCol_2=70\n[MODEM]\nPort=3\nDetected=1\n"));
  {
    TWindows W;
    QCOMPARE(W->pos(), QPoint(60, 80));
    QCOMPARE(W->grdNames->columnWidth(0), 120);
    QCOMPARE(W->grdNames->columnWidth(1), 70);
    QCOMPARE(W->ModemPort(), 3);
    QVERIFY(W->mnuOAutoDetectMODEMS->isChecked());
    W->grdNames->setColumnWidth(0, 110);
    W->SetModemPort(-1);
    W->mnuOAutoDetectMODEMS->trigger();
    QVERIFY(!W->mnuOAutoDetectMODEMS->isChecked());
  }
  const QString Written = Platform.ReadSettings();
  QVERIFY(Written.contains(QStringLiteral("GridCol_1=110")));
  QVERIFY(Written.contains(QStringLiteral("Port=-1")));
  QVERIFY(Written.contains(QStringLiteral("Detected=0")));
}

void TStartupTest::CloseRefusedByCancelKeepsWindow() {
  TFakePlatform Platform;
  TWindows W;
  QVERIFY(W.Activate());
  W->edtSurname->setText(QStringLiteral("Lee"));
  Platform.Prompter.Answers = {EAnswer::Cancel};
  QVERIFY(!W->close());
  QVERIFY(W->isVisible());
  QCOMPARE(Platform.Prompter.Texts(), QStringList{QStringLiteral("Save changes to\n\n(Untitled)")});
  // The close committed the typed name into a new entry first.
  QCOMPARE(W.Cell(1, 0), QStringLiteral("Lee"));
  Platform.Prompter.Answers = {EAnswer::No};
  QVERIFY(W->close());
}

void TStartupTest::UnreadableSettingsGiveDefaults() {
  TFakePlatform Platform;
  QDir(Platform.Folder.path()).mkdir(QStringLiteral("tobrinel.INI"));
  {
    TProgram Program({});
    Program.CreateWindows();
    QCOMPARE(Program.Main->pos(), QPoint(21, 52));
    QVERIFY(Program.SplashWanted);
    QVERIFY(Program.Main->close());
  }
  QVERIFY(QFileInfo(Platform.SettingsFile()).isDir());
  QVERIFY(Platform.Prompter.Boxes.empty());
}

void TStartupTest::OlderBookAtStartUpSetsTheDefaultTab() {
  TFakePlatform Platform;
  Platform.WriteSettings(
      QStringLiteral("[Defaults]\nTab=0\n[Startup]\nLoadFile=%1\n").arg(Platform.Path(QStringLiteral("OLD.ABK"))));
  QFile File(Platform.Path(QStringLiteral("OLD.ABK")));
  QVERIFY(File.open(QIODevice::WriteOnly));
  File.write("[Settings]\r\nDefaultTab=1\r\n[Items]\r\nNumberOfItems=0\r\n");
  File.close();
  // The book is read before the dialog exists; the dialog still gets its page.
  TWindows W;
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("warning")});
  QCOMPARE(Platform.Prompter.Boxes[0].HelpContext, 177);
  QCOMPARE(W.DefaultTab->Tab(), 1);
  QVERIFY(W.Activate());
  QCOMPARE(W->tabDetails->currentIndex(), 1);
}

void TStartupTest::FirstEntryShownEvenWithoutActivation() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}});
  TWindows W;
  // Some window managers never activate the window: all it gets is shown.
  QShowEvent Shown;
  QApplication::sendEvent(W.Main.get(), &Shown);
  QVERIFY(!W->isActiveWindow());
  QTRY_COMPARE(W->edtSurname->text(), QStringLiteral("Adams"));
  QCOMPARE(W->edtFirstName->text(), QStringLiteral("Ann"));
  // Typing now changes the shown entry, not a new one.
  W->edtFirstName->setText(QStringLiteral("Anne"));
  W->UpdateCurrent();
  QCOMPARE(W->Book().Items->Count, 2);
  QCOMPARE(static_cast<TAddressItem*>(W->Book().Items->Head)->FirstName.str(), std::string("Anne"));
}

void TStartupTest::BookNameWithALineBreakIsNotStored() {
  TFakePlatform Platform;
  const QString Odd = Platform.Path(QStringLiteral("two\rlines.ABK"));
  WriteBook(Odd, {{"Adams", "Ann"}});
  {
    TWindows W({Odd});
    QCOMPARE(W->Book().FileName, Odd.toStdString());
    QVERIFY(W->close());
  }
  const QString Written = Platform.ReadSettings();
  QVERIFY(Written.contains(QStringLiteral("LoadFile=\n")));
  QVERIFY(Written.contains(QStringLiteral("Port=-1")));  // the rest is still written
}

void TStartupTest::PlaceIsTheClientsEvenAfterABox() {
  TFakePlatform Platform;
  Platform.WriteSettings(QStringLiteral("[FormPosition]\nTop=80\nLeft=60\n"));
  {
    TWindows W({Platform.Path(QStringLiteral("book.txt"))});  // a box before the window
    QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(W.Activate());
    QCOMPARE(W->geometry().topLeft(), QPoint(60, 80));
    QVERIFY(W->frameGeometry().top() < 80);  // the frame is outside the stored place
    QVERIFY(W->close());
  }
  const QString Written = Platform.ReadSettings();
  QVERIFY(Written.contains(QStringLiteral("Top=80")));
  QVERIFY(Written.contains(QStringLiteral("Left=60")));
}

namespace {
// Rows of a grabbed box where its frame's top edge and its caption's ink are.
int FrameTop(const QImage& Image) {
  const QColor Background = Image.pixelColor(Image.width() - 3, Image.height() / 2);
  for (int Y = 0; Y < Image.height(); ++Y)
    if (Image.pixelColor(Image.width() - 6, Y) != Background) return Y;
  return -1;
}
QPair<int, int> CaptionRows(const QImage& Image, int Width) {
  int First = -1, Last = -1;
  for (int Y = 0; Y < Image.height() / 2; ++Y)
    for (int X = 10; X < Width; ++X)
      if (qGray(Image.pixel(X, Y)) < 96) {
        if (First < 0) First = Y;
        Last = Y;
        break;
      }
  return {First, Last};
}
}  // namespace

void TStartupTest::GroupCaptionsSitOnAlignedFrames() {
  TFakePlatform Platform;
  TWindows W;
  QVERIFY(W.Activate());
  const int Top = FrameTop(W->GroupBox3->grab().toImage());
  QVERIFY(Top >= 0);
  for (QGroupBox* Box : {W->GroupBox2, W->GroupBox1}) {
    const QImage Image = Box->grab().toImage();
    QCOMPARE(FrameTop(Image), Top);
    const auto [First, Last] = CaptionRows(Image, QFontMetrics(Box->font()).horizontalAdvance(Box->title()));
    QVERIFY2(First >= 0 && First < Top && Last > Top, qPrintable(Box->title()));  // the line runs through it
  }
}

QTEST_MAIN(TStartupTest)
#include "tst_startup.moc"
