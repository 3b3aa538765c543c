// The splash and the About box with the texts read at start-up.
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "About.h"
#include "MainTestKit.h"
#include "Program.h"
#include "Splash.h"
#include "Verinfo.h"

class TShellTest : public QObject {
  Q_OBJECT
private slots:
  void SplashShowsTheProgramFilesTexts();
  void AboutBoxIsBuiltForEachUse();
};

namespace {

// Every line is drawn whole inside its label.
void CheckLinesFit(const QList<QLabel*>& Labels) {
  for (QLabel* Label : Labels) {
    QVERIFY2(Label->fontMetrics().horizontalAdvance(Label->text()) <= Label->width(), qPrintable(Label->text()));
    QVERIFY2(Label->fontMetrics().height() <= Label->height(), qPrintable(Label->objectName()));
    QVERIFY(Label->parentWidget()->rect().contains(Label->geometry()));
  }
}

}  // namespace

void TShellTest::SplashShowsTheProgramFilesTexts() {
  // This test's own file carries the items its build gave it (shell.cmake).
  TFakePlatform Platform;
  Platform.Ticks.Step = 1000;
  VersionText = CopyrightText = "left from before";
  {
    // No program file at the program's path: empty items, no message.
    TProgram Program({});
    Program.CreateWindows();
    QVERIFY(Program.Splash);
    QCOMPARE(Program.Splash->lblVersion->text(), QStringLiteral("Version - "));
    QCOMPARE(Program.Splash->lblCopyright->text(), QStringLiteral(" "));
    QVERIFY(Program.Main->close());
  }
  QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), Platform.Path(QStringLiteral("tobrinel"))));
  TProgram Program({});
  Program.CreateWindows();
  TfrmSplash& Splash = *Program.Splash;
  QVERIFY(Splash.isVisible());
  QCOMPARE(Splash.lblProduct->text(), QStringLiteral("Tobrinel Address Manager"));
  QCOMPARE(Splash.lblVersion->text(), QStringLiteral("Version - 9.8.7.6"));
  QCOMPARE(Splash.lblCopyright->text(), QStringLiteral("(c) 1997 Test Firm Ltd"));
  QVERIFY(Splash.lblProduct->font().bold());
  QCOMPARE(Splash.width(), 376);
  QVERIFY(Splash.windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
  QVERIFY((Splash.geometry().center() - QGuiApplication::primaryScreen()->geometry().center()).manhattanLength() <= 1);
  CheckLinesFit({Splash.lblProduct, Splash.lblVersion, Splash.lblCopyright});
  Program.HoldSplash();
  QVERIFY(!Splash.isVisible());
  QVERIFY(Program.Main->close());
  QVERIFY(Platform.Prompter.Boxes.empty());
}

void TShellTest::AboutBoxIsBuiltForEachUse() {
  TFakePlatform Platform;
  VersionText = "2.0.0.0";
  CopyrightText = "Copyright \u00a9 2026 The Tobrinel developers";
  TWindows W;
  QVERIFY(W.Activate());
  QTest::keyClicks(W->edtSurname, QStringLiteral("Adams"));

  struct TSeen {
    QPointer<TfrmAbout> Box;
    QStringList Texts;
  };
  std::vector<TSeen> Seen;
  for (int Use = 0; Use < 2; ++Use) {
    QTimer::singleShot(0, W.Main.get(), [&, Use] {
      auto* Box = qobject_cast<TfrmAbout*>(QApplication::activeModalWidget());
      QVERIFY(Box);
      Seen.push_back(
          {Box, {Box->windowTitle(), Box->lblProduct->text(), Box->lblVersion->text(), Box->lblCopyright->text()}});
      QCOMPARE(Box->size(), QSize(330, 121));
      QCOMPARE(Box->minimumSize(), Box->maximumSize());
      QCOMPARE(Box->Image1->pixmap().size(), QSize(32, 32));
      QVERIFY(Box->Button1->isDefault());
      CheckLinesFit({Box->lblProduct, Box->lblVersion, Box->lblCopyright});
      QVERIFY((Box->geometry().center() - W->geometry().center()).manhattanLength() <= 2);
      // OK closes it, and so does Enter on the default button.
      if (Use == 0) Box->Button1->click();
      else QTest::keyClick(Box, Qt::Key_Return);
    });
    W->mnuHAbout->trigger();
    QCOMPARE(Seen.size(), size_t(Use + 1));
    QVERIFY(Seen.back().Box.isNull());  // destroyed when it closed
  }
  QCOMPARE(Seen[0].Texts, (QStringList{QStringLiteral("About"), QStringLiteral("Tobrinel Address Manager"),
                                       QStringLiteral("Version - 2.0.0.0"),
                                       QStringLiteral("Copyright \u00a9 2026 The Tobrinel developers")}));
  QCOMPARE(Seen[1].Texts, Seen[0].Texts);
  // The entry typed before was committed first.
  QCOMPARE(W->Book().Items->Count, 1);
  Platform.Prompter.Answers.push_back(EAnswer::No);
  QVERIFY(W->close());
}

QTEST_MAIN(TShellTest)
#include "tst_shell.moc"
