#pragma once

#include <cstdint>
#include <string>

#include "FixedDialog.h"
#include "ModemExchange.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;
class TSerialPortDriver;

// Finds the serial port of a Hayes modem and records it as ModemPort(). It
// owns the program's one serial port and the command exchange that every
// modem command goes through (Exchange). Shown modally; its only result is
// the new ModemPort().
class TfrmMODEMDetect : public TFixedDialog {
  Q_OBJECT
public:
  explicit TfrmMODEMDetect(QWidget* Parent = nullptr);
  ~TfrmMODEMDetect() override;

  // Controls, named as in the design.
  TSerialPortDriver* cp = nullptr;
  QPushButton* btnOK = nullptr;
  // The caption again, in the window: a title bar may be too narrow for it.
  QLabel* lblProgress = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QListWidget* lstMODEMS = nullptr;
  QTimer* tmrTimer = nullptr;

  // The command exchange on cp, with CommandBusy, CommandTimeout and
  // CommandTimedOut; it shows the hourglass while it runs.
  TModemExchange Exchange;

  bool OpenModemPort(uint16_t N) { return Exchange.OpenModemPort(N); }
  bool WaitForText(std::string_view Expected, uint32_t TimeLimitMs) {
    return Exchange.WaitForText(Expected, TimeLimitMs);
  }
  bool ProbePort(uint16_t N) { return Exchange.ProbePort(N); }
  void SendModemCommand(int Port, std::string_view Command, std::string& Reply) {
    Exchange.SendModemCommand(Port, Command, Reply);
  }

  // The detection run: the last known port first, else COM1 to COM9.
  void tmrTimerTimer();
  void btnOKClick();

  void reject() override;

protected:
  void showEvent(QShowEvent* Event) override;

private:
  void SetCaption(const QString& Caption);
  void ShowProgress(const QString& Caption);

  bool FScanning = false;
  int FExposeWaits = 0;  // the run serves no input, the close button included
};
