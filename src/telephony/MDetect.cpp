#include "MDetect.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

#include "Prompter.h"
#include "SerialDrv.h"
#include "GroupFrame.h"

namespace {

// cp must exist before the exchange that talks through it.
TSerialPortDriver* NewModemPort(QObject* Owner) {
  auto* Port = new TSerialPortDriver(Owner);
  Port->setObjectName(QStringLiteral("cp"));
  ConfigureModemPort(*Port);
  return Port;
}

}  // namespace

TfrmMODEMDetect::TfrmMODEMDetect(QWidget* Parent)
    : TFixedDialog("frmMODEMDetect", QString(), QSize(249, 181), 47, Parent), cp(NewModemPort(this)), Exchange(*cp) {
  lblProgress = new QLabel(this);
  lblProgress->setObjectName(QStringLiteral("lblProgress"));
  lblProgress->setGeometry(8, 4, 233, 17);
  GroupBox1 = new TGroupFrame(QStringLiteral(" MODEMS "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 24, 233, 117);
  lstMODEMS = new QListWidget(GroupBox1);
  lstMODEMS->setObjectName(QStringLiteral("lstMODEMS"));
  lstMODEMS->setGeometry(8, 18, 217, 91);
  lstMODEMS->setAccessibleName(QStringLiteral("MODEMS"));

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(87, 150, 75, 25);
  btnOK->setDefault(true);
  btnOK->setEnabled(false);
  connect(btnOK, &QPushButton::clicked, this, &TfrmMODEMDetect::btnOKClick);
  // A double click on a modem chooses it, as OK would.
  connect(lstMODEMS, &QListWidget::itemDoubleClicked, this, [this] {
    if (btnOK->isEnabled()) btnOKClick();
  });

  tmrTimer = new QTimer(this);
  tmrTimer->setObjectName(QStringLiteral("tmrTimer"));
  tmrTimer->setInterval(1);
  connect(tmrTimer, &QTimer::timeout, this, &TfrmMODEMDetect::tmrTimerTimer);

  // FormCreate
  tmrTimer->stop();
  Exchange.CommandBusy = false;
  Exchange.CommandTimeout = -1;
  Exchange.OnBusy = [](bool Busy) {
    if (Busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
  };
}

TfrmMODEMDetect::~TfrmMODEMDetect() = default;

void TfrmMODEMDetect::showEvent(QShowEvent* Event) {
  TFixedDialog::showEvent(Event);
  if (Event->spontaneous()) return;
  // Shown again: nothing of the last run may be chosen before this one begins.
  lstMODEMS->clear();
  btnOK->setEnabled(false);
  tmrTimer->start();  // FormShow: the run starts once the window is up
}

void TfrmMODEMDetect::SetCaption(const QString& Caption) {
  lblProgress->setText(Caption);
  setWindowTitle(Caption);
}

void TfrmMODEMDetect::ShowProgress(const QString& Caption) {
  SetCaption(Caption);
  repaint();
  // Only so that the caption and picture reach the screen: input waits until the run is over.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TfrmMODEMDetect::reject() {
  if (!FScanning) TFixedDialog::reject();
}

void TfrmMODEMDetect::tmrTimerTimer() {
  tmrTimer->stop();
  if (!isVisible()) return;  // closed before the run began
  // The run blocks the window, so it starts once the window is really on
  // screen, or the scan would show an empty frame (given a second at most).
  if (windowHandle() && !windowHandle()->isExposed() && FExposeWaits < 100) {
    ++FExposeWaits;
    tmrTimer->start(10);
    return;
  }
  FExposeWaits = 0;
  FScanning = true;
  const struct TEnd {
    bool& Flag;
    ~TEnd() { Flag = false; }
  } End{FScanning};
  lstMODEMS->clear();
  btnOK->setEnabled(false);
  if (ModemPort() != -1) {
    ShowProgress(QStringLiteral("Checking Last Known MODEM..."));
    if (ProbePort(uint16_t(ModemPort()))) {
      done(QDialog::Accepted);
      return;
    }
    // A port held by another program or closed to this account is still the
    // modem's: say so and keep it, as a scan could not find it either.
    const TPortProblem::TKind Kind = Exchange.PortError.Kind();
    if (Kind == TPortProblem::pkInUse || Kind == TPortProblem::pkForbidden) {
      Prompter().Error(this, QString::fromStdString(PortProblemText(ModemPort(), Exchange.PortError)));
      done(QDialog::Accepted);
      return;
    }
    Prompter().Information(this, QStringLiteral("The MODEM previously on COM%1 is no "
                                                "longer available.  MODEMS will be detected again.")
                                     .arg(ModemPort()));
    SetModemPort(-1);
  }
  for (int N = 1; N <= 9; ++N) {
    ShowProgress(QStringLiteral("Testing COM%1...").arg(N));
    if (ProbePort(uint16_t(N))) lstMODEMS->addItem(QStringLiteral("COM%1: OK").arg(N));
  }
  lstMODEMS->setCurrentRow(0);
  btnOK->setEnabled(true);
  SetCaption(QStringLiteral("Select MODEM"));
  if (lstMODEMS->count() == 0) {
    Prompter().Information(this, QStringLiteral("There are no MODEMS detected on this computer.  "
                                                "Telephone numbers cannot be dialed from this PC."));
    done(QDialog::Accepted);
  }
}

void TfrmMODEMDetect::btnOKClick() {
  const QListWidgetItem* Chosen = lstMODEMS->currentItem();
  if (lstMODEMS->count() > 0 && Chosen) {
    // The digit after "COM".
    const QString Line = Chosen->text();
    if (Line.size() > 3 && Line[3].isDigit()) SetModemPort(Line[3].digitValue());
  }
  done(QDialog::Accepted);
}
