#pragma once

#include "FixedDialog.h"

class QCheckBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

// The dialling options: tone or pulse, extensions allowed, speaker off. The
// controls hold the options for the whole run; dialling reads them directly.
// Read from the settings at creation, written back at destruction.
class TfrmDiallingOpt : public TFixedDialog {
  Q_OBJECT
public:
  explicit TfrmDiallingOpt(QWidget* Parent = nullptr);
  ~TfrmDiallingOpt() override;

  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QRadioButton* rdoToneDial = nullptr;
  QRadioButton* rdoPulseDial = nullptr;
  QCheckBox* chkDialExtensions = nullptr;
  QCheckBox* chkDialSilently = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

  // Cancel and Escape: the options as they were when the window was shown.
  void btnCancelClick();
  void reject() override;

protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

private:
  bool FTone = true, FExtensions = false, FSilent = false;  // as shown
  bool FClosing = false;  // the title-bar close keeps what was chosen
};
