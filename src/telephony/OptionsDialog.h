#pragma once

#include <QString>
#include <vector>

#include "FixedDialog.h"

class QAbstractButton;
class QComboBox;
class QLineEdit;

// An options window whose controls hold the options for the whole run: OK
// keeps what was chosen, Cancel and Escape put back what the controls held
// when the window was shown, the title-bar close keeps the choice.
class TOptionsDialog : public TFixedDialog {
  Q_OBJECT
public:
  using TFixedDialog::TFixedDialog;

  void btnCancelClick();
  void reject() override;

protected:
  // Remembers every check box, radio button, edit and list of the window.
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

private:
  std::vector<std::pair<QAbstractButton*, bool>> FChecks;
  std::vector<std::pair<QLineEdit*, QString>> FTexts;
  std::vector<std::pair<QComboBox*, int>> FChoices;
  bool FClosing = false;
};
