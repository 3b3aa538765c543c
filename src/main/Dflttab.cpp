#include "Dflttab.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

#include "HelpService.h"
#include "IniFile.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "Settings.h"
#include "TabFocus.h"

TfrmDefaultTab::TfrmDefaultTab(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("frmDefaultTab"));
  setWindowTitle(QStringLiteral("Select Default Tab"));
  // A dialog frame: nothing to resize or maximise.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  QFont Font = QApplication::font();
  Font.setPointSize(8);
  setFont(Font);
  setFixedSize(331, 72);
  setProperty("HelpContext", 58);

  tabDetails = new QTabWidget(this);
  tabDetails->setObjectName(QStringLiteral("tabDetails"));
  tabDetails->setGeometry(8, 4, 315, 33);
  tabDetails->addTab(new QWidget, QStringLiteral("&Home"));
  tabDetails->addTab(new QWidget, QStringLiteral("&Work"));
  tabDetails->addTab(new QWidget, QStringLiteral("&Notes"));
  ShowTabFocus(tabDetails, QStringLiteral("Default tab"));

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(164, 42, 75, 25);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(248, 42, 75, 25);

  connect(tabDetails, &QTabWidget::currentChanged, this, [this] { btnOK->setEnabled(true); });  // tabDetailsChange
  connect(btnOK, &QPushButton::clicked, this, [this] {                                          // btnOKClick
    SaveDefaultTab();
    accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  LoadDefaultTab();  // FormCreate
  btnOK->setEnabled(false);
  if (QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->geometry().center() - QPoint(width() / 2, height() / 2));
}

int TfrmDefaultTab::Tab() const { return tabDetails->currentIndex(); }

void TfrmDefaultTab::SetTab(int Tab) {
  if (Tab >= 0 && Tab <= 2) tabDetails->setCurrentIndex(Tab);
}

void TfrmDefaultTab::LoadDefaultTab() { SetTab(OpenSettings()->ReadInteger("Defaults", "Tab", 0)); }

void TfrmDefaultTab::SaveDefaultTab() {
  const auto Settings = OpenSettings();
  Settings->WriteInteger("Defaults", "Tab", Tab());
  try {
    Settings->UpdateFile();
  } catch (const EFileError& Error) {
    Prompter().Error(isVisible() ? this : parentWidget(), QString::fromStdString(Error.what()));
  }
}

void TfrmDefaultTab::reject() {
  // Cancel means the pick is not wanted: neither new entries nor the next
  // save of the settings may use it.
  SetTab(FShownTab);
  QDialog::reject();
}

void TfrmDefaultTab::showEvent(QShowEvent* Event) {
  FShownTab = Tab();
  btnOK->setEnabled(false);  // FormShow: OK only after a tab is picked
  QDialog::showEvent(Event);
}

void TfrmDefaultTab::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_F1) {
    const QString Help = HelpFileName();
    HelpService().ShowContext(Help, 58);
    return;
  }
  QDialog::keyPressEvent(Event);
}
