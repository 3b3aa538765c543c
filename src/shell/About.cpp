#include "About.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "ProgramIcon.h"
#include "Splash.h"
#include "Verinfo.h"

// A dialog's border: a caption and a close button, no sizing.
TfrmAbout::TfrmAbout(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About"));
  QFont Font = QApplication::font();
  Font.setPointSize(8);
  setFont(Font);
  setFixedSize(330, 121);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(8, 8, 32, 32);
  Image1->setPixmap(ProgramIcon().pixmap(32, 32));

  auto AddLine = [this](const char* Name, int Top) {
    auto* Label = new QLabel(this);
    Label->setObjectName(QLatin1String(Name));
    Label->setGeometry(16, Top, 297, 16);
    Label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return Label;
  };
  lblProduct = AddLine("lblProduct", 8);
  lblVersion = AddLine("lblVersion", 32);
  lblCopyright = AddLine("lblCopyright", 56);
  // The icon stays visible where a long line passes under it.
  Image1->raise();

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setGeometry(8, 80, 313, 2);
  Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(127, 89, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::showEvent(QShowEvent* Event) {
  lblProduct->setText(QString::fromLatin1(ProductText));
  lblVersion->setText(VersionLine());
  lblCopyright->setText(QString::fromStdString(CopyrightText));
  QDialog::showEvent(Event);
}
