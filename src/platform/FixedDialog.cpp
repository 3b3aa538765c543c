#include "FixedDialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>

#include "HelpService.h"
#include "ProgramPaths.h"

TFixedDialog::TFixedDialog(const char* Name, const QString& Caption, QSize Client, int HelpContext, QWidget* Parent)
    : QDialog(Parent), FHelpContext(HelpContext) {
  setObjectName(QLatin1String(Name));
  setWindowTitle(Caption);
  // A dialog frame: a title and a close button, nothing to resize, minimise or maximise.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  QFont Font = QApplication::font();
  Font.setPointSize(8);
  setFont(Font);
  setFixedSize(Client);
  setProperty("HelpContext", HelpContext);
  if (QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->geometry().center() - QPoint(width() / 2, height() / 2));
}

void TFixedDialog::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_F1 && Event->modifiers() == Qt::NoModifier) {
    HelpService().ShowContext(HelpFileName(), FHelpContext);
    return;
  }
  QDialog::keyPressEvent(Event);
}

void TFixedDialog::setVisible(bool Visible) {
  if (Visible && !isVisible()) FCaller = QApplication::activeWindow();
  const bool WasVisible = isVisible();
  QDialog::setVisible(Visible);
  // Closed right after a message box of its own, a dialog leaves no window
  // active under some window managers: the keys go back where they were.
  if (!Visible && WasVisible && !QApplication::activeWindow() && FCaller && FCaller != this && FCaller->isVisible())
    FCaller->activateWindow();
}
