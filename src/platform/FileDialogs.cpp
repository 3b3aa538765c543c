#include "FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>

#include "Adrbook.h"
#include "Prompter.h"

namespace {

class TQtFileDialogs : public IFileDialogs {
public:
  QString OpenFile(QWidget* Parent, const TFileDialogOptions& Options) override {
    QFileDialog Dialog(Parent, Options.Title, Options.Folder, Options.Filter);
    Dialog.setAcceptMode(QFileDialog::AcceptOpen);
    Dialog.setFileMode(QFileDialog::ExistingFile);
    Dialog.setDefaultSuffix(Options.DefaultExt);
    if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return {};
    return Dialog.selectedFiles().first();
  }

  QString SaveFile(QWidget* Parent, const TFileDialogOptions& Options) override {
    QFileDialog Dialog(Parent, Options.Title, Options.Folder, Options.Filter);
    Dialog.setAcceptMode(QFileDialog::AcceptSave);
    Dialog.setFileMode(QFileDialog::AnyFile);
    Dialog.setDefaultSuffix(Options.DefaultExt);
    for (;;) {
      if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return {};
      const QString Chosen = Dialog.selectedFiles().first();
      if (!IsFileReadOnly(Chosen.toStdString())) return Chosen;
      Prompter().Warning(Parent, QFileInfo(Chosen).fileName() +
                                     QStringLiteral("\nThis file is set read-only.\nTry again with a different file name."));
    }
  }
};

TQtFileDialogs RealDialogs;
IFileDialogs* Installed = nullptr;

}  // namespace

IFileDialogs& FileDialogs() { return Installed ? *Installed : RealDialogs; }
void SetFileDialogs(IFileDialogs* Replacement) { Installed = Replacement; }
