#pragma once

#include <string>

#include "OptionsDialog.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The dialling options: the modem or the desktop's telephone application,
// tone or pulse, extensions allowed, speaker off, the country called from.
// The controls hold the options for the whole run; dialling reads them
// directly. Read from the settings at creation, written back at destruction.
class TfrmDiallingOpt : public TOptionsDialog {
  Q_OBJECT
public:
  explicit TfrmDiallingOpt(QWidget* Parent = nullptr);
  ~TfrmDiallingOpt() override;

  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QRadioButton* rdoDialModem = nullptr;
  QRadioButton* rdoDialDesktop = nullptr;
  QRadioButton* rdoToneDial = nullptr;
  QRadioButton* rdoPulseDial = nullptr;
  QCheckBox* chkDialExtensions = nullptr;
  QCheckBox* chkDialSilently = nullptr;
  QLabel* lblCountry = nullptr;
  QComboBox* cboCountry = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

  // Tone or pulse and the speaker are the modem's alone.
  void EnableControls();

  // Calls go to the desktop's telephone application as tel: links.
  bool DialWithDesktop() const;
  // The country called from, ISO 3166 ("GB").
  std::string Country() const;
  void SetCountry(const std::string& Code);

protected:
  void showEvent(QShowEvent* Event) override;
};
