// The program on a Wayland desktop: a headless compositor of its own, the
// program's windows made as at start-up, the main window shown by it.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <cstdio>

#include "MainTestKit.h"
#include "Program.h"

namespace {
constexpr int SkipCode = 77;  // the test's SKIP_RETURN_CODE
const char* const Socket = "tobrinel-test-0";
}  // namespace

class TWaylandTest : public QObject {
  Q_OBJECT
private slots:
  void mainWindowShowsUnderWayland() {
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
    TFakePlatform Platform;
    TProgram Program({});
    Program.CreateWindows();
    TfrmMain& Main = *Program.Main;
    Main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Main, 10000));
    QVERIFY(Main.windowHandle()->isExposed());
    QVERIFY(Main.windowHandle()->screen() && !Main.windowHandle()->screen()->geometry().isEmpty());
    QVERIFY(Main.edtSurname->isVisible());
    Main.close();
  }
};

int main(int argc, char** argv) {
  QTemporaryDir Runtime;
  QFile::setPermissions(Runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  QProcess Weston;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime.path());
  Environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  Weston.setProcessEnvironment(Environment);
  Weston.setProcessChannelMode(QProcess::MergedChannels);
  Weston.start(QStringLiteral("weston"),
               {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=") + QLatin1String(Socket),
                QStringLiteral("--idle-time=0")});
  const QString SocketPath = QDir(Runtime.path()).filePath(QLatin1String(Socket));
  bool Up = Weston.waitForStarted(5000);
  for (int Wait = 0; Up && Wait < 100 && !QFileInfo::exists(SocketPath); ++Wait) {
    if (Weston.waitForFinished(100)) Up = false;  // it gave up
  }
  if (!Up || !QFileInfo::exists(SocketPath)) {
    std::printf("SKIP: the Wayland compositor (weston --backend=headless-backend.so) cannot start here: %s\n",
                Weston.readAll().constData());
    return SkipCode;
  }
  qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
  qputenv("WAYLAND_DISPLAY", Socket);
  qputenv("QT_QPA_PLATFORM", "wayland");
  int Result;
  {
    QApplication App(argc, argv);
    TWaylandTest Test;
    Result = QTest::qExec(&Test, argc, argv);
  }
  Weston.terminate();
  if (!Weston.waitForFinished(3000)) Weston.kill();
  return Result;
}

#include "tst_wayland.moc"
