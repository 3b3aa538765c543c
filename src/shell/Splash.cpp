#include "Splash.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QScreen>

TfrmSplash::TfrmSplash(QWidget* Parent)
    : QWidget(Parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmSplash"));
  QFont Font = QApplication::font();
  Font.setPointSize(8);
  setFont(Font);
  setFixedSize(376, 121);

  auto* Outer = new QFrame(this);
  Outer->setGeometry(0, 0, 376, 121);
  Outer->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* Inner = new QFrame(Outer);
  Inner->setGeometry(48, 8, 281, 105);
  Inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Inner->setLineWidth(5);

  auto AddLine = [Inner](int Top, int Height, int PointSize, bool Bold) {
    auto* Label = new QLabel(Inner);
    Label->setGeometry(8, Top, 265, Height);
    Label->setAlignment(Qt::AlignCenter);
    Label->setWordWrap(true);
    QFont LineFont = Label->font();
    LineFont.setPointSize(PointSize);
    LineFont.setBold(Bold);
    Label->setFont(LineFont);
    return Label;
  };
  lblProduct = AddLine(10, 40, 11, true);
  lblVersion = AddLine(54, 18, 8, false);
  lblCopyright = AddLine(74, 22, 8, false);

  if (QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->geometry().center() - QPoint(width() / 2, height() / 2));
}

void TfrmSplash::SetTexts(const QString& Product, const QString& Version, const QString& Copyright) {
  lblProduct->setText(Product);
  lblVersion->setText(Version);
  lblCopyright->setText(Copyright);
}
