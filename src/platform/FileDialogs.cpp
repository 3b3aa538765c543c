#include "FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QDateTime>
#include <QHeaderView>
#include <QLocale>
#include <QScreen>
#include <QTreeView>
#include <algorithm>

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
    else Result += C;
  }
  return Result;
}

// Centred on the window it belongs to, so that it is seen to belong there, at
// a size where names, sizes and dates can be read (the main window is too
// small to hold it), and kept on the screen. Placed by its client area: where
// the frame goes is the window manager's, and a frame position given before
// the dialog's frame is known lands a title bar too high.
void CentreOnWindow(QFileDialog& Dialog, QWidget* Parent) {
  if (!Parent) return;
  const QRect Window = Parent->window()->geometry();
  QSize Size = Dialog.sizeHint().expandedTo(QSize(720, 460)).expandedTo(Dialog.minimumSizeHint());
  QRect Place(QPoint(), Size);
  Place.moveCenter(Window.center());
  if (const QScreen* Screen = Parent->window()->screen()) {
    const QRect Free = Screen->availableGeometry();
    Place.setSize(Place.size().boundedTo(Free.size()));
    Place.moveLeft(std::clamp(Place.left(), Free.left(), std::max(Free.left(), Free.right() - Place.width() + 1)));
    Place.moveTop(std::clamp(Place.top(), Free.top(), std::max(Free.top(), Free.bottom() - Place.height() + 1)));
  }
  Dialog.setGeometry(Place);
}

// The detail view keeps its narrow stock columns whatever the dialog's width,
// cutting sizes, types and dates short: the name takes what the others leave.
void ReadableColumns(QFileDialog& Dialog) {
  auto* Details = Dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (!Details) return;
  QHeaderView* Header = Details->header();
  Header->setStretchLastSection(false);
  Header->setSectionResizeMode(0, QHeaderView::Stretch);
  const QFontMetrics Metrics(Details->font());
  const QString Date =
      QLocale::system().toString(QDateTime(QDate(2026, 12, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
  const int Widths[] = {Metrics.horizontalAdvance(QStringLiteral("999.9 KiB")),
                        Metrics.horizontalAdvance(QStringLiteral("electronic business card")),
                        Metrics.horizontalAdvance(Date)};
  for (int Column = 1; Column <= 3 && Column < Header->count(); ++Column)
    Header->resizeSection(Column, Widths[Column - 1] + 16);
}

// A name typed without an extension gets the one of the file type chosen in
// the dialog ("*.csv" gives "csv"); a type without one ("*") keeps the default.
void DefaultExtFollowsType(QFileDialog& Dialog, const TFileDialogOptions& Options) {
  const QStringList Filters = Options.Filter.split(QStringLiteral(";;"));
  // The type is named as shown, with or without its patterns.
  QObject::connect(&Dialog, &QFileDialog::filterSelected, &Dialog,
                   [&Dialog, Filters, Default = Options.DefaultExt](const QString& Chosen) {
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
    CentreOnWindow(Dialog, Parent);
    ReadableColumns(Dialog);
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
    CentreOnWindow(Dialog, Parent);
    ReadableColumns(Dialog);
    for (;;) {
      if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return {};
      const QString Chosen = Dialog.selectedFiles().first();
      const QString Name = QFileInfo(Chosen).fileName();
      if (IsFileReadOnly(Chosen.toStdString())) {
        Prompter().Warning(
            Parent, Name + QStringLiteral("\nThis file is set read-only.\nTry again with a different file name."));
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
