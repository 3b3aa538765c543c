// The main window: file commands.

#include "Main.h"

#include <memory>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTableView>
#include <QTimer>
#include <QUrl>

#include "CommandLine.h"
#include "FileDialogs.h"
#include "HelpService.h"
#include "MainShared.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "WaitCursor.h"

using namespace MainWindow;

bool TfrmMain::OpenBook(const QString& FileName) {
  auto Loaded = std::make_unique<TAddressBook>(this);
  TLoadResult Result;
  try {
    TWaitCursor Hourglass;
    Result = Loaded->LoadFromFile(Std(FileName));
  } catch (const ENotABook&) {
    Prompter().Error(this, NotABookBoxText(FileName));
    return false;
  } catch (const EFileError& Error) {
    Prompter().Error(this, Q(Error.what()));
    return false;
  }
  FSearch.ListReplaced();
  FBook = std::move(Loaded);
  // The index must not point into the book just freed, even while a box is up.
  BuildNamesList();
  if (Result.Damaged) Prompter().Warning(this, DamagedBookText(FileName, Result.EntriesRead));
  return true;
}

void TfrmMain::ShowBookAfterOpen() {
  SetCaption();
  BuildNamesList();
  grdNamesClick();
}

bool TfrmMain::WriteBook() {
  try {
    TWaitCursor Hourglass;
    FBook->SaveToFile();
    return true;
  } catch (const EFileError& Error) {
    FBook->Modified = true;
    Prompter().Error(this, Q(Error.what()));
    return false;
  }
}

bool TfrmMain::SaveAs() {
  TFileDialogOptions Options;
  Options.Title = QStringLiteral("Save as...");
  Options.Filter = QStringLiteral("Tobrinel Data Files (*.ABK);;All Files (*)");
  Options.DefaultExt = QStringLiteral("ABK");
  Options.Folder = ProgramFolder();
  const QString Chosen = FileDialogs().SaveFile(this, Options);
  if (Chosen.isEmpty()) return false;
  const std::string Previous = FBook->FileName;
  FBook->FileName = Std(Chosen);
  if (!WriteBook()) {
    FBook->FileName = Previous;
    return false;
  }
  SetCaption();
  return true;
}

bool TfrmMain::QuerySaveChanges() {
  if (!FBook->Modified) return true;
  const EAnswer Answer = Prompter().Question(this, QStringLiteral("Save changes to\n\n") + Q(FBook->DisplayName()));
  if (Answer == EAnswer::Cancel) return false;
  if (Answer == EAnswer::No) return true;
  if (FBook->FileName.empty()) return SaveAs();
  if (IsFileReadOnly(FBook->FileName)) {
    Prompter().Warning(this, QString::fromLatin1(ReadOnlyText));
    return SaveAs();
  }
  return WriteBook();
}

void TfrmMain::mnuFNewClick() {
  UpdateCurrent();
  if (!QuerySaveChanges()) return;
  FSearch.ListReplaced();
  FBook->Reset();
  FShownRow = 0;
  SetDefaultTab(0);
  BuildNamesList();
  grdNamesClick();
  SetCaption();
}

void TfrmMain::mnuFOpenClick() {
  UpdateCurrent();
  if (!QuerySaveChanges()) return;
  TFileDialogOptions Options;
  Options.Filter = QStringLiteral("Tobrinel Data File (*.ABK)");
  Options.DefaultExt = QStringLiteral("ABK");
  Options.Folder = ProgramFolder();
  const QString Chosen = FileDialogs().OpenFile(this, Options);
  if (Chosen.isEmpty()) return;
  if (!HasBookExtension(Chosen)) {
    Prompter().Error(this, NotABookBoxText(Chosen));
    return;
  }
  if (OpenBook(Chosen)) ShowBookAfterOpen();
}

void TfrmMain::mnuFSaveClick() {
  UpdateCurrent();
  if (FBook->FileName.empty()) {
    SaveAs();
  } else if (IsFileReadOnly(FBook->FileName)) {
    Prompter().Warning(this, QString::fromLatin1(ReadOnlyText));
    SaveAs();
  } else {
    WriteBook();
  }
}

void TfrmMain::mnuFSaveAsClick() {
  UpdateCurrent();
  SaveAs();
}

void TfrmMain::DropFiles(const QStringList& Files) {
  if (Files.isEmpty()) return;
  if (Files.size() > 1) Prompter().Error(this, QString::fromLatin1(MoreThanOneFileText));
  const QString Name = Files.first();
  UpdateCurrent();
  if (!QuerySaveChanges()) return;
  if (!HasBookExtension(Name)) {
    Prompter().Error(this, NotABookBoxText(Name));
    return;
  }
  if (OpenBook(Name)) ShowBookAfterOpen();
}

QStringList DroppedFiles(const QMimeData& Data) {
  QStringList Files;
  for (const QUrl& Url : Data.urls())
    if (Url.isLocalFile()) Files << Url.toLocalFile();
  return Files;
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* Event) {
  if (!DroppedFiles(*Event->mimeData()).isEmpty()) Event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* Event) {
  const QStringList Files = DroppedFiles(*Event->mimeData());
  if (Files.isEmpty()) return;
  Event->acceptProposedAction();
  // Boxes may follow; let the drag finish first.
  QTimer::singleShot(0, this, [this, Files] { DropFiles(Files); });
}

void TfrmMain::mnuHContentsClick() {
  UpdateCurrent();
  if (!FHelpFile.isEmpty()) HelpService().ShowContents(FHelpFile);
}
