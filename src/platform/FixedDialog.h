#pragma once

#include <QDialog>
#include <QPointer>

// What the dialogs share: a fixed client area, the program's 8-point
// font, a place in the middle of the screen, and F1 for their help topic.
class TFixedDialog : public QDialog {
  Q_OBJECT
public:
  TFixedDialog(const char* Name, const QString& Caption, QSize Client, int HelpContext, QWidget* Parent);

  int HelpContext() const { return FHelpContext; }
  void setVisible(bool Visible) override;

protected:
  void keyPressEvent(QKeyEvent* Event) override;

private:
  int FHelpContext;
  QPointer<QWidget> FCaller;  // the window that was active when this one opened
};
