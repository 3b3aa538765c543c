#include "Prompter.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

#include "HelpService.h"
#include "ProgramPaths.h"

namespace {

QString& TitleStore() {
  static QString Title = QStringLiteral("Tobrinel");
  return Title;
}

// Room the window manager's title bar takes besides the title: the window's
// icon, three buttons and the margins.
constexpr int TitleBarExtras = 4 * 24 + 16;

// A box as wide as its title bar needs: the title is drawn in bold, and a
// short text would otherwise leave it cut in the middle.
QMessageBox::StandardButton Run(QMessageBox& Box) {
  QFont Bold = Box.font();
  Bold.setBold(true);
  const int Width = QFontMetrics(Bold).horizontalAdvance(Box.windowTitle()) + TitleBarExtras;
  if (auto* Grid = qobject_cast<QGridLayout*>(Box.layout()))
    Grid->addItem(new QSpacerItem(Width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), Grid->rowCount() - 1, 0, 1,
                  Grid->columnCount());
  else Box.setMinimumWidth(Width);
  Box.exec();
  return Box.standardButton(Box.clickedButton());
}

QMessageBox::StandardButton Show(QMessageBox::Icon Icon, QWidget* Parent, const QString& Text,
                                 QMessageBox::StandardButtons Buttons, QMessageBox::StandardButton Default) {
  QMessageBox Box(Icon, ApplicationTitle(), Text, Buttons, Parent);
  Box.setDefaultButton(Default);
  return Run(Box);
}

class TQtPrompter : public IPrompter {
public:
  void Error(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    Show(QMessageBox::Critical, Parent, Text, QMessageBox::Ok, QMessageBox::Ok);
  }
  void Information(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    Show(QMessageBox::Information, Parent, Text, QMessageBox::Ok, QMessageBox::Ok);
  }
  void Notice(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    auto* Box = new QMessageBox(QMessageBox::Information, ApplicationTitle(), Text, QMessageBox::Ok, Parent);
    Box->setAttribute(Qt::WA_DeleteOnClose);
    Box->setAttribute(Qt::WA_ShowWithoutActivating);
    Box->setWindowModality(Qt::NonModal);
    Box->show();
  }
  void Warning(QWidget* Parent, const QString& Text, int HelpContext) override {
    QApplication::beep();
    QMessageBox Box(QMessageBox::Warning, ApplicationTitle(), Text, QMessageBox::Ok, Parent);
    if (HelpContext > 0) {
      // Modal to its window only, so that the help window it opens can be used.
      Box.setWindowModality(Qt::WindowModal);
      // The Help button opens the topic and leaves the box up, as a help button should.
      QPushButton* Help = Box.addButton(QMessageBox::Help);
      Help->disconnect();
      QObject::connect(Help, &QPushButton::clicked, &Box,
                       [HelpContext] { HelpService().ShowContext(HelpFileName(), HelpContext); });
    }
    Run(Box);
  }
  EAnswer Question(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    const auto Result = Show(QMessageBox::Question, Parent, Text,
                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (Result == QMessageBox::Yes) return EAnswer::Yes;
    if (Result == QMessageBox::No) return EAnswer::No;
    return EAnswer::Cancel;
  }
  bool Confirm(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    return Show(QMessageBox::Question, Parent, Text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
  }
};

TQtPrompter RealPrompter;
IPrompter* Installed = nullptr;

}  // namespace

void IPrompter::Beep() { QApplication::beep(); }

IPrompter& Prompter() { return Installed ? *Installed : RealPrompter; }
void SetPrompter(IPrompter* Replacement) { Installed = Replacement; }

QString ApplicationTitle() { return TitleStore(); }
void SetApplicationTitle(const QString& Title) { TitleStore() = Title; }
