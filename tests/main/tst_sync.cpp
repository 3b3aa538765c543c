// File ▸ Synchronize...: the set-up dialog against a real Radicale, the
// progress window's Cancel during a sync, and the conflict window, driven as
// a person drives them, offscreen, against the scripted platform.
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "FakeDavServer.h"
#include "MainTestKit.h"
#include "RadicaleServer.h"
#include "SyncConflict.h"
#include "SyncSetup.h"

namespace {

QStringList Listed(const QListWidget& List) {
  QStringList Out;
  for (int Row = 0; Row < List.count(); ++Row) Out << List.item(Row)->text();
  return Out;
}

void Type(QLineEdit* Edit, const QString& Text) {
  Edit->selectAll();
  QTest::keyClick(Edit, Qt::Key_Delete);
  QTest::keyClicks(Edit, Text);
}

}  // namespace

class TSyncTest : public QObject {
  Q_OBJECT
private slots:
  void SetupListsTheAddressBooksOfARadicale_data();
  void SetupListsTheAddressBooksOfARadicale();
  void SetupForgetsTheListWhenTheServerChanges();
  void SetupCancelStopsDiscoveryAtOnce();
  void ConflictShowsBothVersionsAndTakesTheChoice_data();
  void ConflictShowsBothVersionsAndTakesTheChoice();
};

void TSyncTest::SetupListsTheAddressBooksOfARadicale_data() {
  QTest::addColumn<QString>("Path");
  QTest::addColumn<QString>("Password");
  QTest::addColumn<QStringList>("Books");
  QTest::addColumn<bool>("OkAtOnce");  // one book is chosen without asking
  QTest::addColumn<QString>("Error");
  QTest::newRow("server") << "/" << "secret" << QStringList{"Family  (/tob/family/)", "Friends  (/tob/book/)"}
                          << false << QString();
  QTest::newRow("one book") << "/tob/book/" << "secret" << QStringList{"Friends  (/tob/book/)"} << true
                            << QString();
  QTest::newRow("wrong password") << "/" << "wrong" << QStringList{} << false
                                  << "The server refused the user name or password.";
  QTest::newRow("a calendar") << "/tob/dates/" << "secret" << QStringList{} << false
                              << "/tob/dates/ is not an address book.";
}

void TSyncTest::SetupListsTheAddressBooksOfARadicale() {
  QFETCH(QString, Path);
  QFETCH(QString, Password);
  QFETCH(QStringList, Books);
  QFETCH(bool, OkAtOnce);
  QFETCH(QString, Error);
  TFakePlatform Platform;
  TRadicaleServer Server;
  QVERIFY2(Server.Start(), qPrintable(Server.Problem()));
  QVERIFY(Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends")).isValid());
  QVERIFY(Server.MakeAddressBook(QStringLiteral("family"), QStringLiteral("Family")).isValid());
  QVERIFY(Server.MakeCalendar(QStringLiteral("dates")).isValid());

  TfrmSyncSetup Setup;
  Setup.show();
  QVERIFY(!Setup.btnFind->isEnabled());  // nothing to ask yet
  QVERIFY(!Setup.btnOK->isEnabled());
  Type(Setup.edtServer, QStringLiteral("http://127.0.0.1:%1%2").arg(Server.Port()).arg(Path));
  Type(Setup.edtUser, QString::fromLatin1(TRadicaleServer::User));
  Type(Setup.edtPassword, Password);
  QVERIFY(Setup.btnFind->isEnabled());
  QTest::mouseClick(Setup.btnFind, Qt::LeftButton);

  QStringList Shown = Listed(*Setup.lstBooks);
  Shown.sort();
  QCOMPARE(Shown, Books);
  if (Error.isEmpty()) {
    QCOMPARE(Platform.Prompter.Boxes.size(), size_t(0));
  } else {
    QCOMPARE(Platform.Prompter.Kinds(), QStringList{"error"});
    QVERIFY2(Platform.Prompter.Boxes[0].Text.endsWith(Error), qPrintable(Platform.Prompter.Boxes[0].Text));
  }
  QCOMPARE(Setup.btnOK->isEnabled(), OkAtOnce);
  if (Books.isEmpty()) return;
  // The person chooses Friends.
  QListWidgetItem* Friends = Setup.lstBooks->findItems(QStringLiteral("Friends"), Qt::MatchStartsWith).value(0);
  QVERIFY(Friends);
  QTest::mouseClick(Setup.lstBooks->viewport(), Qt::LeftButton, {},
                    Setup.lstBooks->visualItemRect(Friends).center());
  QVERIFY(Setup.btnOK->isEnabled());
  QCOMPARE(Setup.AddressBook(), Server.Url(QStringLiteral("/tob/book/")));
  QCOMPARE(Setup.User(), QStringLiteral("tob"));
  QCOMPARE(Setup.Password(), Password);
  QTest::mouseClick(Setup.btnOK, Qt::LeftButton);
  QCOMPARE(Setup.result(), int(QDialog::Accepted));
}

void TSyncTest::SetupForgetsTheListWhenTheServerChanges() {
  TFakePlatform Platform;
  TfrmSyncSetup Setup;
  Setup.Prefill(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("tob"),
                QUrl(QStringLiteral("http://127.0.0.1:1/tob/book/")), QString());
  Setup.show();
  QVERIFY(Setup.btnOK->isEnabled());  // a book synchronised before needs only its password
  QCOMPARE(Setup.focusWidget(), Setup.edtPassword);
  // Books of another server, or another user, are not this one's.
  for (QLineEdit* Edit : {Setup.edtServer, Setup.edtUser}) {
    Setup.Prefill(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("tob"),
                  QUrl(QStringLiteral("http://127.0.0.1:1/tob/book/")), QString());
    QTest::keyClicks(Edit, QStringLiteral("x"));
    QCOMPARE(Setup.lstBooks->count(), 0);
    QVERIFY(!Setup.btnOK->isEnabled());
    QVERIFY(Setup.AddressBook().isEmpty());
  }
  // The password is not part of the choice.
  Setup.Prefill(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("tob"),
                QUrl(QStringLiteral("http://127.0.0.1:1/tob/book/")), QString());
  QTest::keyClicks(Setup.edtPassword, QStringLiteral("x"));
  QVERIFY(Setup.btnOK->isEnabled());
  // Without a scheme the address is taken as https.
  Type(Setup.edtServer, QStringLiteral("dav.example.com/remote.php/dav"));
  QCOMPARE(Setup.Server(), QUrl(QStringLiteral("https://dav.example.com/remote.php/dav")));
}

void TSyncTest::SetupCancelStopsDiscoveryAtOnce() {
  TFakePlatform Platform;
  TFakeDavServer Silent([](const TFakeRequest&) { return TFakeResponse::Silence(); });
  TfrmSyncSetup Setup;
  Setup.TimeLimitMs = 60000;  // longer than the test may run: only Cancel can end it
  Setup.show();
  Type(Setup.edtServer, Silent.Url("/").toString());
  bool WasBusy = false;
  QTimer::singleShot(200, &Setup, [&] {
    // The dialog answers while the server keeps silent: the controls wait, Cancel works.
    WasBusy = !Setup.btnFind->isEnabled() && !Setup.edtServer->isEnabled() && Setup.btnCancel->isEnabled();
    QTest::mouseClick(Setup.btnCancel, Qt::LeftButton);
  });
  QTest::mouseClick(Setup.btnFind, Qt::LeftButton);
  QVERIFY(WasBusy);
  QCOMPARE(Setup.result(), int(QDialog::Rejected));
  QVERIFY(!Setup.isVisible());
  QCOMPARE(Platform.Prompter.Boxes.size(), size_t(0));  // a cancel is no error
  QCOMPARE(Setup.lstBooks->count(), 0);
}

void TSyncTest::ConflictShowsBothVersionsAndTakesTheChoice_data() {
  QTest::addColumn<QString>("Button");
  QTest::addColumn<int>("Result");
  QTest::addColumn<int>("Choice");
  QTest::newRow("both") << "btnKeepBoth" << int(QDialog::Accepted) << int(ESyncChoice::KeepBoth);
  QTest::newRow("local") << "btnKeepLocal" << int(QDialog::Accepted) << int(ESyncChoice::KeepLocal);
  QTest::newRow("server") << "btnKeepServer" << int(QDialog::Accepted) << int(ESyncChoice::KeepServer);
  QTest::newRow("cancel") << "btnCancel" << int(QDialog::Rejected) << int(ESyncChoice::KeepBoth);
}

void TSyncTest::ConflictShowsBothVersionsAndTakesTheChoice() {
  QFETCH(QString, Button);
  QFETCH(int, Result);
  QFETCH(int, Choice);
  TFakePlatform Platform;
  TAddressItem Here, There;
  Here.Surname = There.Surname = "Baker";
  Here.FirstName = There.FirstName = "Bob";
  Here.HomeTelephone = "0123";
  There.HomeTelephone = "0999";
  Here.BusMobile = There.BusMobile = "0777";
  Here.HomeAddress.SetText("1 Hill Road\nLittle Town");
  There.HomeAddress.SetText("1 Hill Road\nBig Town");
  There.Notes.SetText("E-mail: bob@example.com");
  TfrmSyncConflict Conflict;
  int Shown = -1;
  QTimer::singleShot(0, &Conflict, [&] {
    Conflict.findChild<QPushButton*>(Button)->click();
  });
  Conflict.ShowVersions(Here, There);
  Shown = Conflict.exec();
  QCOMPARE(Shown, Result);
  if (Result == QDialog::Accepted) QCOMPARE(int(Conflict.Choice()), Choice);
  QCOMPARE(Conflict.MarkedRows(), (std::vector<int>{2, 3, 9}));  // home telephone, home address, notes
  QVERIFY(Conflict.lblQuestion->text().startsWith(QStringLiteral("Bob Baker was changed both")));
  QCOMPARE(Conflict.grdVersions->item(3, 1)->text(), QStringLiteral("1 Hill Road\nLittle Town"));
  QCOMPARE(Conflict.grdVersions->item(3, 2)->text(), QStringLiteral("1 Hill Road\nBig Town"));
  QCOMPARE(Conflict.grdVersions->item(6, 2)->text(), QStringLiteral("0777"));
}

QTEST_MAIN(TSyncTest)
#include "tst_sync.moc"
