#pragma once

#include "OptionsDialog.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Whether to dial for an outside line first, the digits for it and the pause
// characters after them. Like the dialling options, the controls hold the
// options for the run; read at creation, written at destruction.
class TfrmOutsideLine : public TOptionsDialog {
  Q_OBJECT
public:
  explicit TfrmOutsideLine(QWidget* Parent = nullptr);
  ~TfrmOutsideLine() override;

  QCheckBox* chkDialOutsideLine = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* edtOutsideLineDigit = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* edtPauseChar = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

  void EnableControls();

protected:
  void showEvent(QShowEvent* Event) override;
};
