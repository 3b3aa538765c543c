#include "FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

#include "Adrbook.h"
#include "Prompter.h"

namespace {

// Extensions are matched without regard to case, as the program does itself:
// "*.ABK" also lists book.abk.
QString AnyCase(const QString& Filter) {
  QString Result;
  bool InPattern = false;
  for (const QChar C : Filter) {
    if (C == QLatin1Char('(')) InPattern = true;
    if (C == QLatin1Char(')')) InPattern = false;
    if (InPattern && C.isLetter() && C.unicode() < 128)
      Result += QLatin1Char('[') + C.toUpper() + C.toLower() + QLatin1Char(']');
    else
      Result += C;
  }
  return Result;
}

// Centred on the window it belongs to and no larger than it, so that it is
// seen to belong there rather than covering it whole. Placed by its client
// area: where the frame goes is the window manager's, and a frame position
// given before the dialog's frame is known lands a title bar too high.
void FitOnWindow(QFileDialog& Dialog, QWidget* Parent) {
  if (!Parent) return;
  constexpr int Margin = 16;
  const QRect Window = Parent->window()->geometry();
  const QSize Size =
      Dialog.sizeHint().boundedTo(Window.size() - QSize(2 * Margin, 2 * Margin)).expandedTo(Dialog.minimumSizeHint());
  QRect Place(QPoint(), Size);
  Place.moveCenter(Window.center());
  Dialog.setGeometry(Place);
}

// A name typed without an extension gets the one of the file type chosen in
// the dialog ("*.csv" gives "csv"); a type without one ("*") keeps the default.
void DefaultExtFollowsType(QFileDialog& Dialog, const TFileDialogOptions& Options) {
  const QStringList Filters = Options.Filter.split(QStringLiteral(";;"));
  // The type is named as shown, with or without its patterns.
  QObject::connect(&Dialog, &QFileDialog::filterSelected, &Dialog, [&Dialog, Filters, Default = Options.DefaultExt](const QString& Chosen) {
    static const QRegularExpression Pattern(QStringLiteral("\\(\\*\\.(\\w+)"));
    QString Suffix = Default;
    for (const QString& Filter : Filters) {
      if (Filter != Chosen && Filter.section(QStringLiteral(" ("), 0, 0) != Chosen) continue;
      const QRegularExpressionMatch Match = Pattern.match(Filter);
      if (Match.hasMatch()) Suffix = Match.captured(1);
      break;
    }
    Dialog.setDefaultSuffix(Suffix);
  });
}

class TQtFileDialogs : public IFileDialogs {
public:
  QString OpenFile(QWidget* Parent, const TFileDialogOptions& Options) override {
    QFileDialog Dialog(Parent, Options.Title, Options.Folder, AnyCase(Options.Filter));
    Dialog.setOption(QFileDialog::HideNameFilterDetails);
    Dialog.setAcceptMode(QFileDialog::AcceptOpen);
    Dialog.setFileMode(QFileDialog::ExistingFile);
    Dialog.setDefaultSuffix(Options.DefaultExt);
    FitOnWindow(Dialog, Parent);
    if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return {};
    return Dialog.selectedFiles().first();
  }

  QString SaveFile(QWidget* Parent, const TFileDialogOptions& Options) override {
    QFileDialog Dialog(Parent, Options.Title, Options.Folder, AnyCase(Options.Filter));
    Dialog.setOption(QFileDialog::HideNameFilterDetails);
    Dialog.setAcceptMode(QFileDialog::AcceptSave);
    Dialog.setFileMode(QFileDialog::AnyFile);
    Dialog.setDefaultSuffix(Options.DefaultExt);
    DefaultExtFollowsType(Dialog, Options);
    // Read-only files are refused before anything is asked about replacing.
    Dialog.setOption(QFileDialog::DontConfirmOverwrite);
    FitOnWindow(Dialog, Parent);
    for (;;) {
      if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return {};
      const QString Chosen = Dialog.selectedFiles().first();
      const QString Name = QFileInfo(Chosen).fileName();
      if (IsFileReadOnly(Chosen.toStdString())) {
        Prompter().Warning(Parent, Name + QStringLiteral("\nThis file is set read-only.\nTry again with a different file name."));
        continue;
      }
      if (QFileInfo::exists(Chosen) &&
          !Prompter().Confirm(Parent, Name + QStringLiteral(" already exists.\nDo you want to replace it?")))
        continue;
      return Chosen;
    }
  }
};

TQtFileDialogs RealDialogs;
IFileDialogs* Installed = nullptr;

}  // namespace

IFileDialogs& FileDialogs() { return Installed ? *Installed : RealDialogs; }
void SetFileDialogs(IFileDialogs* Replacement) { Installed = Replacement; }
