#include "Prompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "HelpService.h"
#include "ProgramPaths.h"

namespace {

QString& TitleStore() {
  static QString Title = QStringLiteral("Tobrinel");
  return Title;
}

class TQtPrompter : public IPrompter {
public:
  void Error(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    QMessageBox::critical(Parent, ApplicationTitle(), Text, QMessageBox::Ok);
  }
  void Information(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    QMessageBox::information(Parent, ApplicationTitle(), Text, QMessageBox::Ok);
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
      QObject::connect(Help, &QPushButton::clicked, &Box, [HelpContext] {
        HelpService().ShowContext(HelpFileName(), HelpContext);
      });
    }
    Box.exec();
  }
  EAnswer Question(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    const auto Result = QMessageBox::question(Parent, ApplicationTitle(), Text,
                                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                              QMessageBox::Yes);
    if (Result == QMessageBox::Yes) return EAnswer::Yes;
    if (Result == QMessageBox::No) return EAnswer::No;
    return EAnswer::Cancel;
  }
  bool Confirm(QWidget* Parent, const QString& Text) override {
    QApplication::beep();
    return QMessageBox::question(Parent, ApplicationTitle(), Text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
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
