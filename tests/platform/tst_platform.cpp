// The platform layer: the instance lock, the tick counter, paths beside the program.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

#include "InstanceLock.h"
#include "ProgramPaths.h"
#include "TickCounter.h"

class TPlatformTest : public QObject {
  Q_OBJECT
private slots:
  void LockIsExclusiveUntilReleased();
  void LockFolderWithoutRuntimeDir();
  void TickDifferencesWrap();
  void PathsFollowTheProgram();
};

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

QTEST_MAIN(TPlatformTest)
#include "tst_platform.moc"
