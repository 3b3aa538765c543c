// File ▸ Synchronize...: the set-up dialog against a real Radicale, the
// progress window's Cancel during a sync, and the conflict window, driven as
// a person drives them, offscreen, against the scripted platform.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "CardDav.h"
#include "CardPatch.h"
#include "FakeDavServer.h"
#include "MainTestKit.h"
#include "RadicaleServer.h"
#include "SyncConflict.h"
#include "SyncFields.h"
#include "SyncProgress.h"
#include "SyncSetup.h"
#include "SyncState.h"

namespace {

QStringList Listed(const QListWidget& List) {
  QStringList Out;
  for (int Row = 0; Row < List.count(); ++Row) Out << List.item(Row)->text();
  return Out;
}

// Runs Act once Ready holds, as the event loop turns, rather than after a
// guessed time: a loaded machine may take longer to get there.
void WhenReady(QObject* Context, std::function<bool()> Ready, std::function<void()> Act) {
  auto* Timer = new QTimer(Context);
  Timer->setInterval(5);
  QObject::connect(Timer, &QTimer::timeout, Context, [Timer, Ready, Act] {
    if (!Ready()) return;
    Timer->stop();
    Timer->deleteLater();
    Act();
  });
  Timer->start();
}

// The server's cards, read as entries: "Surname First home".
QStringList ServerEntries(TRadicaleServer& Server) {
  QStringList Out;
  TCardDavClient Client(Server.Root(), QStringLiteral("tob"), QStringLiteral("secret"));
  const QUrl Book = Server.Url(QStringLiteral("/tob/book/"));
  QStringList Hrefs;
  for (const TCardVersion& Card : Client.ListEtags(Book).Cards) Hrefs << Card.Href;
  for (const TCard& Card : Client.MultiGet(Book, Hrefs))
    if (auto Item = ReadCard(Card.Text.toStdString())) {
      QStringList Parts;
      for (std::string_view Part : {Item->Surname.str(), Item->FirstName.str(), Item->HomeTelephone.str()})
        if (!Part.empty()) Parts << QString::fromUtf8(Part);
      Out << Parts.join(QLatin1Char(' '));
    }
  Out.sort();
  return Out;
}

// A book synchronised before with the address book at Book, its password remembered.
void SyncedBefore(TFakePlatform& Platform, const QString& BookPath, const QUrl& Server, const QUrl& Book) {
  TSyncState State;
  State.ServerUrl = Server.toString().toStdString();
  State.AddressBookUrl = Book.toString().toStdString();
  State.UserName = "tob";
  State.Save(TSyncState::PathFor(BookPath.toStdString()));
  Platform.Secrets.Entries[SecretKey(Server.toString(), QStringLiteral("tob"))] = QStringLiteral("secret");
}

}  // namespace

class TSyncTest : public QObject {
  Q_OBJECT
private slots:
  void SetupListsTheAddressBooksOfARadicale_data();
  void SetupListsTheAddressBooksOfARadicale();
  void SetupForgetsTheListWhenTheServerChanges();
  void SetupCancelStopsDiscoveryAtOnce();
  void SetupAsksBeforeFindingBooksOnAnotherServer();
  void SetupSaysWhyACertificateIsNotTrusted();
  void ConflictShowsBothVersionsAndTakesTheChoice_data();
  void ConflictShowsBothVersionsAndTakesTheChoice();
  void FirstSyncSavesAsksAndRemembers();
  void CancelDuringASyncChangesNothing();
  void AConflictIsSettledInTheConflictWindow();
  void AWrongRememberedPasswordIsForgotten();
  void AServerGoneMidSyncIsToldWhatItMeans();
};

void TSyncTest::SetupListsTheAddressBooksOfARadicale_data() {
  QTest::addColumn<QString>("Path");
  QTest::addColumn<QString>("Password");
  QTest::addColumn<QStringList>("Books");
  QTest::addColumn<bool>("OkAtOnce");  // one book is chosen without asking
  QTest::addColumn<QString>("Error");
  QTest::newRow("server") << "/"
                          << "secret" << QStringList{"Family  (/tob/family/)", "Friends  (/tob/book/)"} << false
                          << QString();
  QTest::newRow("one book") << "/tob/book/"
                            << "secret" << QStringList{"Friends  (/tob/book/)"} << true << QString();
  QTest::newRow("wrong password") << "/"
                                  << "wrong" << QStringList{} << false
                                  << "The server refused the user name or password.";
  QTest::newRow("a calendar") << "/tob/dates/"
                              << "secret" << QStringList{} << false << "/tob/dates/ is not an address book.";
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
  QCOMPARE(Setup.btnOK->toolTip(),
           QStringLiteral("Click Find Address Books, then choose the address book to keep this book in."));
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
  if (Books.size() > 1)
    QCOMPARE(Setup.btnOK->toolTip(), QStringLiteral("Choose the address book to keep this book in."));
  if (Books.isEmpty()) return;
  // The person chooses Friends.
  QListWidgetItem* Friends = Setup.lstBooks->findItems(QStringLiteral("Friends"), Qt::MatchStartsWith).value(0);
  QVERIFY(Friends);
  QTest::mouseClick(Setup.lstBooks->viewport(), Qt::LeftButton, {}, Setup.lstBooks->visualItemRect(Friends).center());
  QVERIFY(Setup.btnOK->isEnabled());
  QCOMPARE(Setup.btnOK->toolTip(), QString());
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
  // F1 opens the sync topic, as the menu item does.
  QTest::keyClick(&Setup, Qt::Key_F1);
  QCOMPARE(Platform.Help.Calls, QStringList{"ctx192"});
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
  WhenReady(
      &Setup, [&] { return !Silent.Requests.empty(); },
      [&] {
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

// The principal is on another origin ("localhost" for the same fake server):
// nothing goes there until the person agrees, and a password in the address stays out of it.
void TSyncTest::SetupAsksBeforeFindingBooksOnAnotherServer() {
  TFakePlatform Platform;
  TFakeDavServer* Self = nullptr;
  TFakeDavServer Server([&Self](const TFakeRequest& Request) {
    const QByteArray Elsewhere = Self->Url("/p/", "localhost").toEncoded();
    if (Request.Target == "/" || Request.Target == "/.well-known/carddav")
      return MultiStatus("<d:response><d:href>/</d:href><d:propstat><d:prop><d:current-user-principal><d:href>" +
                         Elsewhere + "</d:href></d:current-user-principal></d:prop></d:propstat></d:response>");
    if (Request.Target == "/p/")
      return MultiStatus(
          "<d:response><d:href>/p/</d:href><d:propstat><d:prop><d:current-user-principal><d:href>/p/"
          "</d:href></d:current-user-principal><card:addressbook-home-set><d:href>/h/</d:href>"
          "</card:addressbook-home-set></d:prop></d:propstat></d:response>");
    return MultiStatus(
        "<d:response><d:href>/h/book/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/>"
        "<card:addressbook/></d:resourcetype></d:prop></d:propstat></d:response>");
  });
  Self = &Server;
  TfrmSyncSetup Setup;
  Setup.show();
  Type(Setup.edtServer, QStringLiteral("http://ann:pw@127.0.0.1:%1/").arg(Server.Port()));
  auto ToLocalhost = [&] {
    int Count = 0;
    for (const TFakeRequest& Request : Server.Requests) Count += Request.Headers.value("host").startsWith("localhost");
    return Count;
  };
  const QString Question = QStringLiteral(
                               "The server at 127.0.0.1:%1 sends you on to localhost:%1 for your address "
                               "books. Send your user name and password there?")
                               .arg(Server.Port());
  Platform.Prompter.Confirms = {false};
  QTest::mouseClick(Setup.btnFind, Qt::LeftButton);
  QCOMPARE(Platform.Prompter.Kinds().value(0), QStringLiteral("confirm"));
  QCOMPARE(Platform.Prompter.Texts().value(0), Question);
  QCOMPARE(ToLocalhost(), 0);
  QCOMPARE(Setup.lstBooks->count(), 0);
  Platform.Prompter.Boxes.clear();
  Platform.Prompter.Confirms = {true};
  QTest::mouseClick(Setup.btnFind, Qt::LeftButton);
  QCOMPARE(Setup.lstBooks->count(), 1);
  QVERIFY(ToLocalhost() > 0);
  QCOMPARE(Setup.AddressBook(), Server.Url("/h/book/", "localhost"));
  QCOMPARE(Setup.Server(), Server.Url("/"));  // no user name or password kept in it
  QCOMPARE(Setup.User(), QStringLiteral("ann"));
  QCOMPARE(Setup.Password(), QStringLiteral("pw"));
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
  QTimer::singleShot(0, &Conflict, [&] { Conflict.findChild<QPushButton*>(Button)->click(); });
  Conflict.ShowVersions(Here, There);
  Shown = Conflict.exec();
  QCOMPARE(Shown, Result);
  if (Result == QDialog::Accepted) QCOMPARE(int(Conflict.Choice()), Choice);
  QCOMPARE(Conflict.MarkedRows(), (std::vector<int>{2, 3, 9}));  // home telephone, home address, notes
  QVERIFY(Conflict.lblQuestion->text().startsWith(QStringLiteral("Bob Baker was changed both")));
  QCOMPARE(Conflict.grdVersions->item(3, 1)->text(), QStringLiteral("1 Hill Road\nLittle Town"));
  QCOMPARE(Conflict.grdVersions->item(3, 2)->text(), QStringLiteral("1 Hill Road\nBig Town"));
  QCOMPARE(Conflict.grdVersions->item(6, 2)->text(), QStringLiteral("0777"));
  // As the sync asks: the home number changed differently, the notes only
  // there and merged into both versions; only the conflict is marked.
  std::unique_ptr<TAddressItem> HereMerged = SyncFields::Clone(Here);
  HereMerged->Notes = There.Notes;
  HereMerged->HomeAddress = There.HomeAddress;
  Conflict.ShowVersions(*HereMerged, There, {sfHomeTelephone}, {}, {sfHomeAddress, sfNotes});
  QCOMPARE(Conflict.MarkedRows(), (std::vector<int>{2}));
  QCOMPARE(Conflict.grdVersions->item(9, 0)->text(), QStringLiteral("Notes (changed on the server)"));
  QCOMPARE(Conflict.grdVersions->item(9, 1)->text(), QStringLiteral("E-mail: bob@example.com"));
  QCOMPARE(Conflict.grdVersions->item(2, 0)->text(), QStringLiteral("Home Telephone"));
  if (!qEnvironmentVariable("TOBRINEL_SHOTS").isEmpty())
    Conflict.grab().save(qEnvironmentVariable("TOBRINEL_SHOTS") + QStringLiteral("/conflict.png"));
}

// An untitled book with an entry typed but not committed: saved first, the
// set-up dialog filled in, the sync, the summary; the next sync goes straight
// on with the remembered password and shows what the phone added.
void TSyncTest::FirstSyncSavesAsksAndRemembers() {
  TFakePlatform Platform;
  TRadicaleServer Server;
  QVERIFY2(Server.Start(), qPrintable(Server.Problem()));
  QVERIFY(Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends")).isValid());
  TWindows W;
  QVERIFY(W.Activate());
  QTest::keyClicks(W->edtSurname, QStringLiteral("Adams"));
  QTest::keyClicks(W->edtHomeTel, QStringLiteral("0123"));
  const QString Path = Platform.Path(QStringLiteral("FRIENDS.ABK"));
  Platform.Dialogs.SaveAnswers = {Path};
  QCOMPARE(W->mnuFSync->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Y));
  QCOMPARE(W->mnuFSync->property("HelpContext").toInt(), 192);
  bool Asked = false;
  WhenShown<TfrmSyncSetup>([&](TfrmSyncSetup& Setup) {
    Asked = true;
    Type(Setup.edtServer, Server.Root().toString());
    Type(Setup.edtUser, QStringLiteral("tob"));
    Type(Setup.edtPassword, QStringLiteral("secret"));
    Setup.chkRemember->setChecked(true);
    QTest::mouseClick(Setup.btnFind, Qt::LeftButton);  // one book: chosen at once
    QTest::mouseClick(Setup.btnOK, Qt::LeftButton);
  });
  W->mnuFSync->trigger();
  QVERIFY(Asked);
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{"information"});
  QVERIFY2(Platform.Prompter.Boxes[0].Text.contains(QStringLiteral("Received: 0\nSent: 1\n")),
           qPrintable(Platform.Prompter.Boxes[0].Text));
  QCOMPARE(ServerEntries(Server), QStringList{"Adams 0123"});
  QCOMPARE(W->Book().FileName, Path.toStdString());
  QVERIFY(!W->Book().Modified);
  QCOMPARE(W->windowTitle(), QStringLiteral("Address Book - FRIENDS.ABK"));
  QCOMPARE(Platform.Secrets.Entries.at(SecretKey(Server.Root().toString(), QStringLiteral("tob"))),
           QStringLiteral("secret"));
  TSyncState State;
  QVERIFY(State.Load(TSyncState::PathFor(Path.toStdString())));
  QCOMPARE(QString::fromStdString(State.AddressBookUrl), Server.Url(QStringLiteral("/tob/book/")).toString());

  // The phone adds Baker and changes Adams; the shown entry stays shown.
  QVERIFY(!Server.PutCard(QStringLiteral("/tob/book/b.vcf"), MakeCard(QStringLiteral("b"), "Bob", "Baker")).isEmpty());
  TCardDavClient Client(Server.Root(), QStringLiteral("tob"), QStringLiteral("secret"));
  for (TCard& Card : Client.MultiGet(Server.Url(QStringLiteral("/tob/book/")),
                                     {QString::fromStdString(std::string(State.Cards.at(0).Href))})) {
    auto Item = ReadCard(Card.Text.toStdString());
    Item->HomeTelephone = "0999";
    Server.PutCard(Card.Href, QByteArray::fromStdString(PatchCard(Card.Text.toStdString(), *Item, nullptr)));
  }
  Platform.Prompter.Boxes.clear();
  QVERIFY(W.Activate());
  QTest::keyClick(W->focusWidget(), Qt::Key_Y, Qt::ControlModifier);
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{"information"});
  QCOMPARE(W.Cell(1, 0), QStringLiteral("Adams"));
  QCOMPARE(W.Cell(2, 0), QStringLiteral("Baker"));
  QCOMPARE(W->SelectedRow(), 1);
  QCOMPARE(W->edtHomeTel->text(), QStringLiteral("0999"));
  QVERIFY(!W->Book().Modified);
}

void TSyncTest::CancelDuringASyncChangesNothing() {
  TFakePlatform Platform;
  TFakeDavServer Silent([](const TFakeRequest&) { return TFakeResponse::Silence(); });
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  SyncedBefore(Platform, Path, Silent.Url("/"), Silent.Url("/tob/book/"));
  const QByteArray StateBefore = [&] {
    QFile File(Path + ".sync");
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  }();
  TWindows W;
  QVERIFY(W.Activate());
  QTest::keyClicks(W->edtFirstName, QStringLiteral("e"));  // an edit not yet saved
  bool Responsive = false;
  WhenShown<TfrmSyncProgress>([&](TfrmSyncProgress& Progress) {
    WhenReady(
        &Progress, [&] { return !Silent.Requests.empty(); },
        [&] {
          // The window answers while the server keeps silent.
          Responsive = Progress.btnCancel->isEnabled() && Progress.isVisible();
          QTest::mouseClick(Progress.btnCancel, Qt::LeftButton);
        });
  });
  W->mnuFSync->trigger();
  QVERIFY(Responsive);
  QCOMPARE(Platform.Prompter.Boxes.size(), size_t(0));  // a cancel is no failure
  QVERIFY(Silent.Requests.size() >= 1);
  QFile State(Path + ".sync");
  QVERIFY(State.open(QIODevice::ReadOnly));
  QCOMPARE(State.readAll(), StateBefore);
  TAddressBook OnDisk;
  OnDisk.LoadFromFile(Path.toStdString());
  QCOMPARE(QString::fromUtf8(OnDisk.Items->Count == 1 ? static_cast<TAddressItem*>(OnDisk.Items->Head)->FirstName.str()
                                                      : std::string_view()),
           QStringLiteral("Ann"));
  QVERIFY(W->Book().Modified);  // the edit is still there, unsaved
  QCOMPARE(W->edtFirstName->text(), QStringLiteral("Anne"));
}

void TSyncTest::AConflictIsSettledInTheConflictWindow() {
  TFakePlatform Platform;
  TRadicaleServer Server;
  QVERIFY2(Server.Start(), qPrintable(Server.Problem()));
  const QUrl Book = Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends"));
  QVERIFY(!Server.PutCard(QStringLiteral("/tob/book/a.vcf"), MakeCard("a", "Ann", "Adams", "TEL;TYPE=HOME:1\r\n"))
               .isEmpty());
  const QString Path = BookWithLastUse(Platform, {});
  SyncedBefore(Platform, Path, Server.Root(), Book);
  TWindows W;
  QVERIFY(W.Activate());
  W->mnuFSync->trigger();
  QCOMPARE(W.Cell(1, 0), QStringLiteral("Adams"));
  // Both sides change the home number.
  Server.PutCard(QStringLiteral("/tob/book/a.vcf"), MakeCard("a", "Ann", "Adams", "TEL;TYPE=HOME:2\r\n"));
  W->SelectRow(1);
  W->grdNamesClick();
  Type(W->edtHomeTel, QStringLiteral("3"));
  QStringList Here, There;
  WhenShown<TfrmSyncConflict>([&](TfrmSyncConflict& Conflict) {
    Here << Conflict.grdVersions->item(2, 1)->text();
    There << Conflict.grdVersions->item(2, 2)->text();
    QTest::mouseClick(Conflict.btnKeepServer, Qt::LeftButton);
  });
  Platform.Prompter.Boxes.clear();
  W->mnuFSync->trigger();
  QCOMPARE(Here, QStringList{"3"});
  QCOMPARE(There, QStringList{"2"});
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{"information"});
  QVERIFY(Platform.Prompter.Boxes[0].Text.contains(QStringLiteral("Conflicts: 1")));
  QCOMPARE(W.Rows(), 3);  // one entry and the new-entry row
  QCOMPARE(W->edtHomeTel->text(), QStringLiteral("2"));
  QCOMPARE(ServerEntries(Server), QStringList{"Adams Ann 2"});
}

// The server refuses the remembered password: it is forgotten, so that the
// next sync asks; and a desktop without a password store says so once.
void TSyncTest::AWrongRememberedPasswordIsForgotten() {
  TFakePlatform Platform;
  TRadicaleServer Server;
  QVERIFY2(Server.Start(), qPrintable(Server.Problem()));
  const QUrl Book = Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends"));
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  SyncedBefore(Platform, Path, Server.Root(), Book);
  const QString Key = SecretKey(Server.Root().toString(), QStringLiteral("tob"));
  Platform.Secrets.Entries[Key] = QStringLiteral("old");
  TWindows W;
  QVERIFY(W.Activate());
  W->mnuFSync->trigger();
  QCOMPARE(Platform.Prompter.Texts(), QStringList{"The server refused the user name or password."});
  QVERIFY(Platform.Secrets.Entries.count(Key) == 0);
  // Asked again, with the store gone: remembered nowhere, and said once.
  Platform.Secrets.Available = false;
  for (int Run = 0; Run < 2; ++Run) {
    WhenShown<TfrmSyncSetup>([&](TfrmSyncSetup& Setup) {
      QCOMPARE(Setup.edtUser->text(), QStringLiteral("tob"));
      QVERIFY(Setup.btnOK->isEnabled());      // the book is known; only the password is missing
      QVERIFY(!Setup.grpBooks->isVisible());  // and only the password is asked for
      QVERIFY(Setup.edtServer->isReadOnly() && Setup.edtUser->isReadOnly());
      QVERIFY(Setup.edtPassword->hasFocus());
      if (!qEnvironmentVariable("TOBRINEL_SHOTS").isEmpty())
        Setup.grab().save(qEnvironmentVariable("TOBRINEL_SHOTS") + QStringLiteral("/password-only.png"));
      Type(Setup.edtPassword, QStringLiteral("secret"));
      Setup.chkRemember->setChecked(true);
      QTest::mouseClick(Setup.btnOK, Qt::LeftButton);
    });
    Platform.Prompter.Boxes.clear();
    W->mnuFSync->trigger();
    QCOMPARE(Platform.Prompter.Kinds(),
             Run == 0 ? QStringList({"information", "information"}) : QStringList({"information"}));
    if (Run == 0) QCOMPARE(Platform.Prompter.Boxes[0].Text, QString::fromLatin1(NoSecretStoreText));
  }
  QCOMPARE(ServerEntries(Server), QStringList{"Adams Ann"});
}

// The server lists its cards, then hangs up while they are fetched.
void TSyncTest::AServerGoneMidSyncIsToldWhatItMeans() {
  TFakePlatform Platform;
  TFakeDavServer Server([](const TFakeRequest& Request) {
    if (Request.Body.contains("addressbook-multiget")) return TFakeResponse::Hangup();
    return MultiStatus(
        "<d:response><d:href>/tob/book/a.vcf</d:href><d:propstat><d:prop><d:getetag>\"1\"</d:getetag>"
        "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>",
        "<d:sync-token>t1</d:sync-token>");
  });
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}});
  SyncedBefore(Platform, Path, Server.Url("/"), Server.Url("/tob/book/"));
  TWindows W;
  QVERIFY(W.Activate());
  W->mnuFSync->trigger();
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{"error"});
  QCOMPARE(Platform.Prompter.Boxes[0].Text,
           QStringLiteral("The server at 127.0.0.1 stopped answering. Nothing was lost; synchronise again to finish."));
  QCOMPARE(W.Cell(1, 0), QStringLiteral("Adams"));
}

// A server of the person's own with a self-made certificate: the question
// says why, and a yes finds the books over it.
void TSyncTest::SetupSaysWhyACertificateIsNotTrusted() {
  TFakePlatform Platform;
  TRadicaleServer Server(TRadicaleOptions{true});
  QVERIFY2(Server.Start(), qPrintable(Server.Problem()));
  QVERIFY(Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends")).isValid());
  TfrmSyncSetup Setup;
  Setup.show();
  Type(Setup.edtServer, Server.Root().toString());
  Type(Setup.edtUser, QString::fromLatin1(TRadicaleServer::User));
  Type(Setup.edtPassword, QString::fromLatin1(TRadicaleServer::Password));
  Platform.Prompter.Confirms = {true};
  QTest::mouseClick(Setup.btnFind, Qt::LeftButton);
  QCOMPARE(
      Platform.Prompter.Texts(),
      QStringList{"The certificate of 127.0.0.1 is not trusted by this computer: it is self-signed.\n\n"
                  "SHA-256 fingerprint:\n" +
                  Server.CertificateFingerprint() + "\n\nTrust this certificate for this address book from now on?"});
  QCOMPARE(Listed(*Setup.lstBooks).size(), 1);
  QCOMPARE(Setup.Trusted(), Server.CertificateFingerprint());
}

QTEST_MAIN(TSyncTest)
#include "tst_sync.moc"
