#include "SyncProgress.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

TfrmSyncProgress::TfrmSyncProgress(QWidget* Parent)
    : TFixedDialog("frmSyncProgress", QStringLiteral("Synchronizing"), QSize(336, 112), 192, Parent) {
  lblStage = new QLabel(this);
  lblStage->setObjectName(QStringLiteral("lblStage"));
  lblStage->setGeometry(12, 10, 312, 17);
  barProgress = new QProgressBar(this);
  barProgress->setObjectName(QStringLiteral("barProgress"));
  barProgress->setGeometry(12, 32, 312, 18);
  barProgress->setTextVisible(false);
  lblCount = new QLabel(this);
  lblCount->setObjectName(QStringLiteral("lblCount"));
  lblCount->setGeometry(12, 52, 312, 17);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(130, 78, 75, 25);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmSyncProgress::btnCancelClick);
  ShowProgress(QStringLiteral("Connecting to the server..."), 0, 0);
}

void TfrmSyncProgress::ShowProgress(const QString& Stage, int Done, int Total) {
  if (!FCancelled) lblStage->setText(Stage);
  barProgress->setRange(0, Total > 0 ? Total : 0);
  if (Total > 0) barProgress->setValue(Done < Total ? Done : Total);
  lblCount->setText(Total > 0 ? QStringLiteral("%1 of %2").arg(Done).arg(Total) : QString());
}

void TfrmSyncProgress::EnableControls() { btnCancel->setEnabled(!FCancelled); }

void TfrmSyncProgress::btnCancelClick() {
  if (FCancelled) return;
  FCancelled = true;
  lblStage->setText(QStringLiteral("Cancelling..."));
  EnableControls();
  if (OnCancel) OnCancel();
}

void TfrmSyncProgress::reject() { btnCancelClick(); }

void TfrmSyncProgress::closeEvent(QCloseEvent* Event) {
  // The window goes when the sync has stopped, not before.
  Event->ignore();
  btnCancelClick();
}
