#pragma once

#include "DialRequest.h"
#include "FixedDialog.h"

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

// Quick Dial: the shown entry's four numbers, each dialled with a single key
// (H, W, X, M, with or without Alt) or with Enter on its field.
class TfrmQuickDial : public TFixedDialog {
  Q_OBJECT
public:
  explicit TfrmQuickDial(QWidget* Parent = nullptr);

  // Set with the four fields before each showing: the entry's name as the
  // main window shows it, and the details page it was last seen on.
  QString DialName;
  int TabPage = 0;
  TDialFunction ShowDial;

  QLabel* Label1 = nullptr;
  QLineEdit* edtHomeNo = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* edtWorkNo = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* edtExtension = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* edtMobile = nullptr;
  QPushButton* btnClose = nullptr;

  // The four fields in their order: home, business, extension, mobile.
  QLineEdit* Field(int Kind) const;

protected:
  void showEvent(QShowEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  bool FormKeyPress(QKeyEvent* Event);
  // The kind a letter key names (H, W, X, M), or -1.
  static int KindOfKey(int Key);
  void Dial(int Kind);
};
