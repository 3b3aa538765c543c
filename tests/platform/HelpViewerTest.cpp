// The help file and the help viewer: every context number the program hands to the viewer
// has a topic, the contents lead to it, and the viewer lands on it, or on the contents or a
// plain notice when it cannot.
#include "HelpViewer.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <QtTest>

namespace {

struct TContext {
  int Number;
  QString Title;
};

QString ReadText(const QString& Path) {
  QFile file(Path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

QList<TContext> ReadContexts() {
  QList<TContext> result;
  const QStringList lines = ReadText(QStringLiteral(TOBRINEL_HELP_CONTEXTS)).split('\n', Qt::SkipEmptyParts);
  for (const QString& line : lines) {
    const QStringList parts = line.split('\t');
    bool ok = false;
    const int number = parts.value(0).toInt(&ok);
    if (parts.size() != 2 || !ok || parts[1].trimmed().isEmpty())
      return {};  // a malformed line fails the caller's checks
    result.append({number, parts[1]});
  }
  return result;
}

// The cursor just inside the first fragment that carries the named anchor or link.
QTextCursor FindFragment(QTextDocument* Doc, const QString& Name, bool Href) {
  for (QTextBlock block = Doc->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QTextCharFormat format = fragment.charFormat();
      const bool hit = Href ? format.anchorHref() == Name : format.anchorNames().contains(Name);
      if (hit) {
        QTextCursor cursor(Doc);
        cursor.setPosition(fragment.position() + 1);
        return cursor;
      }
    }
  }
  return QTextCursor();
}

}  // namespace

class THelpViewerTest : public QObject {
  Q_OBJECT

private:
  const QString FHelp = QStringLiteral(TOBRINEL_HELP_FILE);

  // The topic's heading is on screen: at the top of the page, or anywhere on the last page
  // when the text ends too soon to bring it to the top.
  void CheckShownAtTop(const QString& Anchor) {
    THelpViewer* viewer = THelpViewer::Instance();
    QVERIFY(viewer);
    QTextBrowser* browser = viewer->Browser();
    const QTextCursor cursor = FindFragment(browser->document(), Anchor, false);
    QVERIFY2(!cursor.isNull(), qPrintable(Anchor));
    const QRect rect = browser->cursorRect(cursor);
    const QScrollBar* bar = browser->verticalScrollBar();
    if (bar->value() < bar->maximum()) {
      QVERIFY2(rect.top() >= -2 && rect.top() <= 40,
               qPrintable(QStringLiteral("%1 at %2").arg(Anchor).arg(rect.top())));
    } else {
      QVERIFY2(browser->viewport()->rect().contains(rect), qPrintable(Anchor));
    }
  }

  // The help used as a user would while a dialog waits beneath it: its button
  // clicked, its keys pressed, all through the window system, where a window
  // that a modal dialog blocks gets nothing.
  void UseHelpOver(QWidget* Beneath) {
    THelpViewer* viewer = THelpViewer::Instance();
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("ctx177"));
    QPushButton* contents = viewer->ContentsButton();
    QTest::mouseClick(viewer->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      contents->mapTo(viewer, contents->rect().center()));
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("contents"));
    viewer->activateWindow();  // as the window manager does on that click
    QTest::keyClick(viewer->windowHandle(), Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("ctx177"));
    QTest::keyClick(viewer->windowHandle(), Qt::Key_Escape);
    QVERIFY(!viewer->isVisible());
    QVERIFY(Beneath->isVisible());
    QCOMPARE(QApplication::activeModalWidget(), Beneath);
  }

  static void CloseModals() {
    while (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
  }

private slots:
  void usableWhileADialogWaits_data() {
    QTest::addColumn<QString>("order");
    QTest::newRow("asked for from the dialog") << QStringLiteral("from dialog");
    QTest::newRow("open before the dialog") << QStringLiteral("before");
    QTest::newRow("asked for from a box over the dialog") << QStringLiteral("from box");
  }

  void usableWhileADialogWaits() {
    QFETCH(QString, order);
    if (THelpViewer::Instance()) THelpViewer::Instance()->close();
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Find"));
    dialog.resize(240, 120);
    bool used = false;
    if (order == QLatin1String("before")) THelpViewer::ShowContext(FHelp, 177);
    QTimer::singleShot(0, [&] {
      if (order == QLatin1String("from box")) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Box"), QStringLiteral("Over the dialog"),
                        QMessageBox::Ok, &dialog);
        QTimer::singleShot(0, [&] {
          THelpViewer::ShowContext(FHelp, 177);
          UseHelpOver(&box);
          used = !QTest::currentTestFailed();
          CloseModals();
        });
        box.exec();
        return;
      }
      if (order == QLatin1String("from dialog")) THelpViewer::ShowContext(FHelp, 177);
      UseHelpOver(&dialog);
      used = !QTest::currentTestFailed();
      CloseModals();
    });
    dialog.exec();
    QVERIFY(used);
  }

  void contextsListedHaveTopicsAndContentsLinks() {
    const QList<TContext> contexts = ReadContexts();
    QVERIFY2(contexts.size() >= 30, "contexts.txt is missing or malformed");
    const QString html = ReadText(FHelp);
    QVERIFY(!html.isEmpty());

    const qsizetype contentsAt = html.indexOf(QStringLiteral("<a name=\"contents\"></a>"));
    const qsizetype firstTopicAt = html.indexOf(QStringLiteral("<h2><a name=\"ctx"));
    QVERIFY(contentsAt >= 0 && firstTopicAt > contentsAt);
    const QString contents = html.mid(contentsAt, firstTopicAt - contentsAt);

    QSet<int> listed;
    for (const TContext& context : contexts) {
      QVERIFY2(!listed.contains(context.Number), qPrintable(QString::number(context.Number)));
      listed.insert(context.Number);
      const QString anchor = QStringLiteral("ctx%1").arg(context.Number);
      const QRegularExpression topic(
          QStringLiteral("<h2><a name=\"%1\"></a>%2</h2>").arg(anchor, QRegularExpression::escape(context.Title)));
      QVERIFY2(topic.match(html).hasMatch(), qPrintable(anchor + " heading " + context.Title));
      const QString link = QStringLiteral("<a href=\"#%1\">%2</a>").arg(anchor, context.Title);
      QVERIFY2(contents.contains(link), qPrintable("contents lack " + link));
    }

    // No topic outside the list, and no link that leads nowhere.
    const QRegularExpression named(QStringLiteral("<a name=\"ctx(\\d+)\">"));
    for (auto it = named.globalMatch(html); it.hasNext();) {
      const int number = it.next().captured(1).toInt();
      QVERIFY2(listed.contains(number), qPrintable(QString::number(number)));
    }
    const QRegularExpression href(QStringLiteral("href=\"#([^\"]+)\""));
    for (auto it = href.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      QVERIFY2(html.contains(QStringLiteral("<a name=\"%1\">").arg(target)), qPrintable(target));
    }

    // Written for users: no names from inside the program.
    const QRegularExpression inside(QStringLiteral("\\b(mnu|edt|btn|chk|rdo|Tfrm|spdbtn|grd|mem)[A-Z]"));
    const QRegularExpressionMatch leak = inside.match(html);
    QVERIFY2(!leak.hasMatch(), qPrintable(leak.captured(0)));

    // Qt keeps every empty anchor, so the viewer can reach each topic.
    THelpViewer::ShowContents(FHelp);
    THelpViewer* viewer = THelpViewer::Instance();
    QVERIFY(viewer && viewer->FileLoaded());
    QVERIFY(viewer->HasAnchor(QStringLiteral("contents")));
    for (const TContext& context : contexts)
      QVERIFY2(viewer->HasAnchor(THelpViewer::ContextAnchor(context.Number)), qPrintable(context.Title));
  }

  void showContextScrollsToEachTopic() {
    const QList<TContext> contexts = ReadContexts();
    QVERIFY(!contexts.isEmpty());
    int previous = -1;
    int moves = 0;
    for (const TContext& context : contexts) {
      THelpViewer::ShowContext(FHelp, context.Number);
      THelpViewer* viewer = THelpViewer::Instance();
      QVERIFY(viewer->isVisible());
      QCOMPARE(viewer->windowTitle(), QStringLiteral("Tobrinel Help"));
      QCOMPARE(viewer->CurrentAnchor(), THelpViewer::ContextAnchor(context.Number));
      CheckShownAtTop(THelpViewer::ContextAnchor(context.Number));
      if (QTest::currentTestFailed()) return;
      const int value = viewer->Browser()->verticalScrollBar()->value();
      if (value != previous) ++moves;
      previous = value;
    }
    // Topics lie at different places, so the page really moved between them.
    QVERIFY(moves > contexts.size() / 2);
  }

  void oneWindowWithContentsBackForwardAndLinks() {
    THelpViewer::ShowContext(FHelp, 177);
    THelpViewer* viewer = THelpViewer::Instance();
    QTextBrowser* browser = viewer->Browser();
    QVERIFY(browser->verticalScrollBar()->value() > 0);

    THelpViewer::ShowContents(FHelp);
    QCOMPARE(THelpViewer::Instance(), viewer);
    int viewers = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) viewers += qobject_cast<THelpViewer*>(widget) != nullptr;
    QCOMPARE(viewers, 1);
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("contents"));
    QCOMPARE(browser->verticalScrollBar()->value(), 0);

    // Clicking the contents link to Find opens that topic.
    const QTextCursor link = FindFragment(browser->document(), QStringLiteral("#ctx24"), true);
    QVERIFY(!link.isNull());
    const QPoint at = browser->cursorRect(link).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("ctx24"));
    CheckShownAtTop(QStringLiteral("ctx24"));

    QVERIFY(viewer->BackButton()->isEnabled());
    viewer->BackButton()->click();
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("contents"));
    QCOMPARE(browser->verticalScrollBar()->value(), 0);
    QVERIFY(viewer->ForwardButton()->isEnabled());
    viewer->ForwardButton()->click();
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("ctx24"));
    CheckShownAtTop(QStringLiteral("ctx24"));
    QVERIFY(!viewer->ForwardButton()->isEnabled());

    viewer->ContentsButton()->click();
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("contents"));
    QCOMPARE(browser->verticalScrollBar()->value(), 0);

    // A closed window comes back when help is asked for again.
    viewer->close();
    QVERIFY(!viewer->isVisible());
    THelpViewer::ShowContext(FHelp, 9);
    QCOMPARE(THelpViewer::Instance(), viewer);
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("ctx9"));
  }

  void unknownContextOpensContents() {
    for (int number : {9999, 0, -1}) {
      THelpViewer::ShowContext(FHelp, 177);  // far from the top first
      THelpViewer::ShowContext(FHelp, number);
      THelpViewer* viewer = THelpViewer::Instance();
      QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("contents"));
      QCOMPARE(viewer->Browser()->verticalScrollBar()->value(), 0);
    }
  }

  void missingFileShowsNoticeUntilTheFileAppears() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tobrinel.HLP"));

    THelpViewer::ShowContext(path, 9);
    THelpViewer* viewer = THelpViewer::Instance();
    QVERIFY(viewer->isVisible());
    QVERIFY(!viewer->FileLoaded());
    QCOMPARE(viewer->CurrentAnchor(), QString());
    const QString notice = viewer->Browser()->toPlainText();
    QVERIFY2(notice.contains(QStringLiteral("could not be found")), qPrintable(notice));
    QVERIFY2(notice.contains(path), qPrintable(notice));
    QVERIFY(!viewer->ContentsButton()->isEnabled());
    QVERIFY(!viewer->BackButton()->isEnabled());
    viewer->ContentsButton()->click();  // must stay harmless
    THelpViewer::ShowContents(path);
    QVERIFY(viewer->Browser()->toPlainText().contains(QStringLiteral("could not be found")));

    // Once the file is there, the next request reads it.
    QVERIFY(QFile::copy(FHelp, path));
    THelpViewer::ShowContext(path, 24);
    QVERIFY(viewer->FileLoaded());
    QCOMPARE(viewer->CurrentAnchor(), QStringLiteral("ctx24"));
    QVERIFY(!viewer->Browser()->toPlainText().contains(QStringLiteral("could not be found")));
    CheckShownAtTop(QStringLiteral("ctx24"));

    // And a file that goes away again is reported again, not shown from memory.
    QVERIFY(QFile::remove(path));
    THelpViewer::ShowContents(path);
    QVERIFY(!viewer->FileLoaded());
    QVERIFY(viewer->Browser()->toPlainText().contains(QStringLiteral("could not be found")));
  }
};

QTEST_MAIN(THelpViewerTest)
#include "HelpViewerTest.moc"
