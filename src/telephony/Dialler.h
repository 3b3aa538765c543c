#pragma once

#include <array>
#include <functional>

#include "DialRequest.h"
#include "FixedDialog.h"

class QAbstractButton;
class QFrame;
class QLineEdit;
class QPushButton;
class QToolButton;
class TMultiLineButton;

// The dial pad: a telephone keypad for any number, clicked or typed.
class TfrmDialler : public TFixedDialog {
  Q_OBJECT
public:
  explicit TfrmDialler(QWidget* Parent = nullptr);

  // Whether "Dial for an Outside Line" is ticked.
  std::function<bool()> OutsideLineTicked;
  TDialFunction ShowDial;

  void btn1Click(int Tag);
  void btnStarClick();
  void btnHashClick();
  void btnDialClick();
  void btnClearClick();
  void btnCloseClick();
  void EnableControls();

  QFrame* Panel1 = nullptr;
  QFrame* Panel2 = nullptr;
  QLineEdit* edtDialledNo = nullptr;
  std::array<TMultiLineButton*, 10> btnDigits{};  // btn0 to btn9, by their tag
  QToolButton* btnStar = nullptr;
  QToolButton* btnHash = nullptr;
  QPushButton* btnDial = nullptr;
  QPushButton* btnClose = nullptr;

protected:
  void showEvent(QShowEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  bool FormKeyDown(QKeyEvent* Event);
  bool FormKeyPress(QKeyEvent* Event);
  // A key typed on the keyboard: acts as its button and shows it pressed a moment.
  void Press(QAbstractButton* Key);
  void Append(const QString& Key);
};

extern const char* const OutsideLineQuestion;
