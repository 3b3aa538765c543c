// The main window: contacts in and out, vCard and CSV files of other contact tools.

#include "Main.h"

#include <QFileInfo>
#include <QTableView>

#include "CommandLine.h"
#include "Contacts.h"
#include "FileDialogs.h"
#include "MainShared.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "WaitCursor.h"

using namespace MainWindow;

QString ImportedText(const QString& FileName, int Entries, int ValuesCut) {
  QString Text = Entries == 0   ? QStringLiteral("No entries were found in %1.").arg(FileName)
                 : Entries == 1 ? QStringLiteral("1 entry was imported from %1.").arg(FileName)
                                : QStringLiteral("%1 entries were imported from %2.").arg(Entries).arg(FileName);
  if (ValuesCut == 1) Text += QStringLiteral("\n\n1 value was longer than its field holds and was cut.");
  else if (ValuesCut > 1)
    Text += QStringLiteral("\n\n%1 values were longer than their fields hold and were cut.").arg(ValuesCut);
  return Text;
}

namespace {

// What else the person should know about an import or export, a paragraph.
QString NoticesText(const std::vector<std::string>& Notices) {
  QString Text;
  for (const std::string& Notice : Notices)
    Text += (Text.isEmpty() ? QStringLiteral("\n\n") : QStringLiteral("\n")) + Q(Notice) + '.';
  return Text;
}

}  // namespace

QString ImportErrorText(const QString& FileName, int Line, const QString& Problem) {
  return QStringLiteral("%1\n\nLine %2: %3.\n\nNothing was imported.").arg(FileName).arg(Line).arg(Problem);
}

void TfrmMain::mnuFImportClick() {
  UpdateCurrent();
  TFileDialogOptions Options;
  Options.Title = QStringLiteral("Import");
  Options.Filter = QStringLiteral(
      "Contacts (*.vcf *.vcard *.csv);;vCard Files (*.vcf *.vcard);;"
      "CSV Files (*.csv);;All Files (*)");
  Options.Folder = ProgramFolder();
  const QString Chosen = FileDialogs().OpenFile(this, Options);
  if (Chosen.isEmpty()) return;
  const QString Name = NameWithoutFolder(Chosen);
  TImported Imported;
  try {
    TWaitCursor Hourglass;
    Imported = ImportContactsFile(Std(Chosen), std::nullopt);
  } catch (const EFileError& Error) {
    Prompter().Error(this, Q(Error.what()));
    return;
  } catch (const EImportError& Error) {
    Prompter().Error(this, ImportErrorText(Name, Error.Line, Q(Error.Problem)));
    return;
  }
  DropEntriesInBook(*FBook->Items, Imported);
  const int Entries = static_cast<int>(Imported.Items.size());
  if (Entries > 0) {
    TAddressItem* First = Imported.Items.front().get();
    AddAllInOrder(*FBook->Items, Imported.Items);
    FBook->Modified = true;
    BuildNamesList();
    SelectRow(FBook->Items->IndexOf(First) + 1);
    grdNamesClick();
  }
  Prompter().Information(this, ImportedText(Name, Entries, Imported.ValuesCut) + NoticesText(ImportNotices(Imported)));
}

void TfrmMain::mnuFExportClick() {
  UpdateCurrent();
  TFileDialogOptions Options;
  Options.Title = QStringLiteral("Export");
  Options.Filter = QStringLiteral("vCard Files (*.vcf);;CSV Files (*.csv)");
  Options.DefaultExt = QStringLiteral("vcf");
  Options.Folder = ProgramFolder();
  const QString Chosen = FileDialogs().SaveFile(this, Options);
  if (Chosen.isEmpty()) return;
  const EContactFormat Format = QFileInfo(Chosen).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0
                                    ? EContactFormat::Csv
                                    : EContactFormat::VCard;
  TExported Exported;
  try {
    TWaitCursor Hourglass;
    Exported = ExportToFile(*FBook, Format, Std(Chosen));
  } catch (const EFileError& Error) {
    Prompter().Error(this, Q(Error.what()));
    return;
  }
  if (const QString Notices = NoticesText(ExportNotices(Exported)); !Notices.isEmpty())
    Prompter().Information(this, NameWithoutFolder(Chosen) + QStringLiteral(" was written.") + Notices);
}
