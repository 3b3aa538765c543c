#include "Splash.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QScreen>

#include "ProgramIcon.h"
#include "Verinfo.h"

const char* const ProductText = "Tobrinel Address Manager";

QString VersionLine() { return QStringLiteral("Version - ") + QString::fromStdString(VersionText); }

TfrmSplash::TfrmSplash(QWidget* Parent)
    : QWidget(Parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmSplash"));
  QFont Font = QApplication::font();
  Font.setPointSize(8);
  setFont(Font);
  setFixedSize(376, 121);

  auto* Outer = new QFrame(this);
  Outer->setObjectName(QStringLiteral("Panel1"));
  Outer->setGeometry(0, 0, 376, 121);
  Outer->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* Inner = new QFrame(Outer);
  Inner->setObjectName(QStringLiteral("Panel2"));
  Inner->setGeometry(48, 8, 281, 105);
  Inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Inner->setLineWidth(5);

  // The icon sits in the margins either side of the inner panel.
  for (int Left : {8, 336}) {
    auto* Icon = new QLabel(Outer);
    Icon->setGeometry(Left, 44, 32, 32);
    Icon->setPixmap(ProgramIcon().pixmap(32, 32));
  }

  auto AddLine = [Inner](const char* Name, int Left, int Top, int Width, int Height) {
    auto* Label = new QLabel(Inner);
    Label->setObjectName(QLatin1String(Name));
    Label->setGeometry(Left, Top, Width, Height);
    Label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return Label;
  };
  lblProduct = AddLine("lblProduct", 16, 20, 249, 24);
  QFont ProductFont = lblProduct->font();
  ProductFont.setPointSize(12);
  ProductFont.setBold(true);
  lblProduct->setFont(ProductFont);
  lblVersion = AddLine("lblVersion", 16, 52, 249, 16);
  lblCopyright = AddLine("lblCopyright", 8, 76, 265, 16);

  if (QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->geometry().center() - QPoint(width() / 2, height() / 2));
}

void TfrmSplash::showEvent(QShowEvent* Event) {
  lblProduct->setText(QString::fromLatin1(ProductText));
  lblVersion->setText(VersionLine());
  lblCopyright->setText(QString::fromStdString(CopyrightText));
  QWidget::showEvent(Event);
}
