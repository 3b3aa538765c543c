#include "FontDialogs.h"

#include <QCheckBox>
#include <QFont>
#include <QFontDialog>
#include <QGroupBox>

namespace {

class TQtFontDialogs : public IFontDialogs {
public:
  bool ChooseFont(QWidget* Parent, QFont& Font, const TFontDialogOptions& Options) override {
    QFontDialog Dialog(Font, Parent);
    if (!Options.Title.isEmpty()) Dialog.setWindowTitle(Options.Title);
    Dialog.setOption(QFontDialog::DontUseNativeDialog);
    if (Options.ScalableOnly) Dialog.setOption(QFontDialog::ScalableFonts);
    // Qt offers no option against effects; the group holding the underline
    // and strike-out boxes is greyed out instead, and the caller clears them.
    for (QGroupBox* Group : Dialog.findChildren<QGroupBox*>())
      if (!Group->findChildren<QCheckBox*>().isEmpty()) Group->setEnabled(false);
    if (Dialog.exec() != QDialog::Accepted) return false;
    Font = Dialog.selectedFont();
    return true;
  }
};

TQtFontDialogs RealDialogs;
IFontDialogs* Installed = nullptr;

}  // namespace

IFontDialogs& FontDialogs() { return Installed ? *Installed : RealDialogs; }
void SetFontDialogs(IFontDialogs* Replacement) { Installed = Replacement; }
