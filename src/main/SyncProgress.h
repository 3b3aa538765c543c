#pragma once

#include <functional>

#include "FixedDialog.h"

class QLabel;
class QProgressBar;
class QPushButton;

// Shown while a sync runs: what it is doing, how far it is, and Cancel. The
// sync runs in the client's local event loops, so the window stays
// responsive and Cancel reaches it at once.
class TfrmSyncProgress : public TFixedDialog {
  Q_OBJECT
public:
  explicit TfrmSyncProgress(QWidget* Parent = nullptr);

  // What Cancel stops; set by whoever runs the sync.
  std::function<void()> OnCancel;

  // Stage: "Sending changes"; Total 0 shows a busy bar without a count.
  void ShowProgress(const QString& Stage, int Done, int Total);
  void EnableControls();
  void btnCancelClick();
  bool CancelRequested() const { return FCancelled; }

  QLabel* lblStage = nullptr;
  QLabel* lblCount = nullptr;
  QProgressBar* barProgress = nullptr;
  QPushButton* btnCancel = nullptr;

protected:
  void reject() override;  // Escape and the close button cancel too
  void closeEvent(QCloseEvent* Event) override;

private:
  bool FCancelled = false;
};
