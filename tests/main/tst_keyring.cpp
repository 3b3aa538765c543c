// "Remember password" against the desktop's own password store: a GNOME
// Keyring on a session bus of the test's own, and a real Radicale. Skipped
// only where the bus or the keyring cannot be started.
#include <QCheckBox>
#include <QPushButton>
#include <QtTest>

#include "MainTestKit.h"
#include "PrivateSession.h"
#include "RadicaleServer.h"
#include "SecretStore.h"
#include "SyncSetup.h"

class TKeyringTest : public QObject {
  Q_OBJECT
public:
  explicit TKeyringTest(QString ANoKeyring) : NoKeyring(std::move(ANoKeyring)) {}
private slots:
  void TheNextSyncTakesTheRememberedPassword();

private:
  QString NoKeyring;
};

// The person syncs once with the box ticked. At the next start of the program
// the sync asks nothing, unless the keyring no longer holds the password.
void TKeyringTest::TheNextSyncTakesTheRememberedPassword() {
  if (!NoKeyring.isEmpty()) QSKIP(qPrintable(NoKeyring));
  TFakePlatform Platform;
  SetSecretStore(nullptr);  // the desktop's store, on this test's bus
  TRadicaleServer Server;
  QVERIFY2(Server.Start(), qPrintable(Server.Problem()));
  QVERIFY(Server.MakeAddressBook(QStringLiteral("book"), QStringLiteral("Friends")).isValid());
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  int Asked = 0;
  {
    TWindows W;
    QVERIFY(W.Activate());
    WhenShown<TfrmSyncSetup>([&](TfrmSyncSetup& Setup) {
      ++Asked;
      Type(Setup.edtServer, Server.Root().toString());
      Type(Setup.edtUser, QStringLiteral("tob"));
      Type(Setup.edtPassword, QStringLiteral("secret"));
      QTest::mouseClick(Setup.chkRemember, Qt::LeftButton);
      QTest::mouseClick(Setup.btnFind, Qt::LeftButton);  // one book: chosen at once
      QTest::mouseClick(Setup.btnOK, Qt::LeftButton);
    });
    W->mnuFSync->trigger();
    QCOMPARE(Asked, 1);
    QCOMPARE(Platform.Prompter.Kinds(), QStringList{"information"});  // the summary, no word of the store
    QVERIFY2(Platform.Prompter.Boxes[0].Text.contains(QStringLiteral("Sent: 1\n")),
             qPrintable(Platform.Prompter.Boxes[0].Text));
  }
  const TSecret Kept = SecretStore().Read(Server.Root().toString(), QStringLiteral("tob"));
  QCOMPARE(int(Kept.Status), int(ESecretStatus::Found));
  QCOMPARE(Kept.Password, QStringLiteral("secret"));

  // The phone adds an entry between the runs; each run is a new start of the program.
  QVERIFY(!Server.PutCard(QStringLiteral("/tob/book/b.vcf"), MakeCard(QStringLiteral("b"), "Bob", "Baker")).isEmpty());
  int AskedAgain = 0;
  WhenShown<TfrmSyncSetup>([&](TfrmSyncSetup& Setup) {
    ++AskedAgain;
    QTest::mouseClick(Setup.btnCancel, Qt::LeftButton);
  });
  for (const bool Forgotten : {false, true}) {
    if (Forgotten) SecretStore().Forget(Server.Root().toString(), QStringLiteral("tob"));
    Platform.Prompter.Boxes.clear();
    TWindows W;
    QVERIFY(W.Activate());
    W->mnuFSync->trigger();
    QCOMPARE(AskedAgain, Forgotten ? 1 : 0);
    QCOMPARE(Platform.Prompter.Kinds(), Forgotten ? QStringList() : QStringList{"information"});
    QCOMPARE(W.Cell(2, 0), QStringLiteral("Baker"));  // synced the first time round, and kept
  }
}

int main(int argc, char** argv) {
  TPrivateSession Session;
  const QString NoBus = Session.StartBus(true);
  QApplication App(argc, argv);
  TKeyringTest Test(NoBus.isEmpty() ? Session.StartKeyring() : NoBus);
  const int Status = QTest::qExec(&Test, argc, argv);
  Session.Stop();
  return Status;
}

#include "tst_keyring.moc"
