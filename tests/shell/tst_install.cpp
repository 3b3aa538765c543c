// The installed tree, staged in a scratch folder: what a desktop needs to list
// the program, show its icon and open books with it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "Adrbook.h"
#include "Verinfo.h"

class TInstallTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase();
  void ProgramHelpAndIcons();
  void DesktopEntryValidatesAndNamesTheBookType();
  void BooksAreKnownByNameAndContent();

private:
  // Runs a tool; its exit status and everything it printed.
  static std::pair<int, QString> Run(
      const QString& Program, const QStringList& Arguments,
      const QProcessEnvironment& Environment = QProcessEnvironment::systemEnvironment()) {
    QProcess Process;
    Process.setProcessEnvironment(Environment);
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Arguments);
    if (!Process.waitForFinished(120000)) return {-1, QStringLiteral("did not finish")};
    const int Status = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    return {Status, QString::fromUtf8(Process.readAll())};
  }
  QString Installed(const QString& Path) const { return Stage.filePath(QStringLiteral("usr/") + Path); }

  QTemporaryDir Stage;
  QTemporaryDir Scratch;
};

void TInstallTest::initTestCase() {
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("DESTDIR"), Stage.path());
  const auto [Status, Output] = Run(QStringLiteral(CMAKE_COMMAND),
                                    {QStringLiteral("--install"), QStringLiteral(BUILD_DIR), QStringLiteral("--prefix"),
                                     QStringLiteral("/usr"), QStringLiteral("--strip")},
                                    Environment);
  QVERIFY2(Status == 0, qPrintable(Output));
}

void TInstallTest::ProgramHelpAndIcons() {
  const QFileInfo Program(Installed(QStringLiteral("libexec/tobrinel/tobrinel")));
  QVERIFY(Program.isExecutable());
  QVERIFY(QFileInfo(Program.filePath() + QStringLiteral(".HLP")).size() > 0);
  // The program on the path is a link, so it finds its help by its real name.
  const QFileInfo OnPath(Installed(QStringLiteral("bin/tobrinel")));
  QVERIFY(OnPath.isSymLink());
  QCOMPARE(OnPath.canonicalFilePath(), Program.canonicalFilePath());
  TVersionInfo Info(Program.filePath().toStdString());
  QCOMPARE(QString::fromStdString(Info.GetItemText(3)), QStringLiteral("2.0.0.0"));
  for (int Size : {16, 22, 24, 32, 48, 64, 128, 256})
    QCOMPARE(QImage(Installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/tobrinel.png").arg(Size))).size(),
             QSize(Size, Size));
}

void TInstallTest::DesktopEntryValidatesAndNamesTheBookType() {
  const QString Entry = Installed(QStringLiteral("share/applications/tobrinel.desktop"));
  const auto [Status, Output] = Run(QStringLiteral("desktop-file-validate"), {Entry});
  QVERIFY2(Status == 0 && Output.trimmed().isEmpty(), qPrintable(Output));
  QFile File(Entry);
  QVERIFY(File.open(QIODevice::ReadOnly));
  const QStringList Lines = QString::fromUtf8(File.readAll()).split(QLatin1Char('\n'));
  QVERIFY(Lines.contains(QStringLiteral("Exec=tobrinel %f")));
  QVERIFY(Lines.contains(QStringLiteral("Icon=tobrinel")));
  QVERIFY(Lines.contains(QStringLiteral("Categories=Office;ContactManagement;")));

  // The entry opens the type the MIME package defines.
  QFile Package(Installed(QStringLiteral("share/mime/packages/tobrinel.xml")));
  QVERIFY(Package.open(QIODevice::ReadOnly));
  const auto Type =
      QRegularExpression(QStringLiteral("<mime-type type=\"([^\"]+)\"")).match(QString::fromUtf8(Package.readAll()));
  QVERIFY(Type.hasMatch());
  QVERIFY(Lines.contains(QStringLiteral("MimeType=%1;").arg(Type.captured(1))));
}

void TInstallTest::BooksAreKnownByNameAndContent() {
  // A copy of the installed type, compiled as the desktop would, and nothing
  // else of ours on the search path.
  const QString Share = Scratch.filePath(QStringLiteral("share"));
  QVERIFY(QDir().mkpath(Share + QStringLiteral("/mime/packages")));
  QVERIFY(QFile::copy(Installed(QStringLiteral("share/mime/packages/tobrinel.xml")),
                      Share + QStringLiteral("/mime/packages/tobrinel.xml")));
  qputenv("XDG_DATA_HOME", Share.toUtf8());
  qputenv("XDG_DATA_DIRS", "/usr/share");
  const auto [Status, Output] = Run(QStringLiteral("update-mime-database"), {Share + QStringLiteral("/mime")});
  QVERIFY2(Status == 0 && Output.trimmed().isEmpty(), qPrintable(Output));

  TAddressBook Book;
  Book.Items->Add(new TAddressItem);
  Book.FileName = Scratch.filePath(QStringLiteral("book-without-extension")).toStdString();
  Book.SaveToFile();
  QFile Text(Scratch.filePath(QStringLiteral("notes")));
  QVERIFY(Text.open(QIODevice::WriteOnly));
  Text.write("Tobrinel: not a book\n");
  Text.close();

  const QMimeDatabase Types;
  const QString BookType = QStringLiteral("application/x-tobrinel-book");
  QCOMPARE(Types.mimeTypeForFile(QString::fromStdString(Book.FileName)).name(), BookType);
  QVERIFY(Types.mimeTypeForFile(Text.fileName()).name() != BookType);
  QCOMPARE(Types.mimeTypeForFile(QStringLiteral("/nowhere/OLD.ABK"), QMimeDatabase::MatchExtension).name(), BookType);
  QCOMPARE(Types.mimeTypeForFile(QStringLiteral("/nowhere/book.abk"), QMimeDatabase::MatchExtension).name(), BookType);
}

QTEST_GUILESS_MAIN(TInstallTest)
#include "tst_install.moc"
