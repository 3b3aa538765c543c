#pragma once

#include <QMainWindow>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Adrbook.h"
#include "Dofind.h"
#include "FontCoverage.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QToolButton;
class TNamesModel;
class TfrmDefaultTab;
class TfrmPrintAddresses;
class TfrmDial;
class TfrmDialler;
class TfrmDiallingOpt;
class TfrmMODEMDetect;
class TfrmOutsideLine;
class TfrmFind;
class TfrmQuickDial;
struct TDialRequest;

// The main window: the name index on the left, the open entry's details on the
// right, and the commands of the menu bar. It owns the one open book.
class TfrmMain : public QMainWindow, public IBookHost {
  Q_OBJECT
public:
  // Arguments: the command line without the program's name. Reads the settings
  // and loads the start-up book (FormCreate).
  explicit TfrmMain(const QStringList& Arguments, QWidget* Parent = nullptr);
  // Writes the settings back (FormDestroy).
  ~TfrmMain() override;

  TAddressBook& Book() { return *FBook; }
  TNamesModel& Names() { return *FNames; }
  int SelectedRow() const { return FSelectedRow; }
  // The program's one modem port number (see ModemExchange.h).
  int ModemPort() const;
  void SetModemPort(int Port);
  bool FirstRun() const { return FFirstRun; }
  bool Activated() const { return FActivated; }
  bool QuietUpdate = false;
  bool SuppressGridClick = false;

  // The windows created after this one.
  void SetDefaultTabDialog(TfrmDefaultTab* Dialog);
  void SetDiallingOptions(TfrmDiallingOpt* Window) { FDiallingOpt = Window; }
  void SetModemDetection(TfrmMODEMDetect* Window) { FModemDetect = Window; }
  void SetDialWindow(TfrmDial* Window) { FDial = Window; }
  void SetOutsideLineWindow(TfrmOutsideLine* Window) { FOutsideLine = Window; }
  int DefaultTab() const;

  // The name index.
  void BuildNamesList();
  void grdNamesClick();
  void UpdateCurrent();
  // Selects a grid row without showing it; callers show it with grdNamesClick.
  // AtTop scrolls the row to the top of the index, as a letter jump does.
  void SelectRow(int Row, bool AtTop = false);
  void btnAClick(int Tag);
  void EnableControls();

  // Editing.
  void edtSurnameExit(QWidget* Receiver);
  void edtFirstNameExit();
  void FocusFirstName();
  void mnuAAddClick();
  void mnuADeleteClick();
  void mnuECutClick();
  void mnuECopyClick();
  void mnuEPasteClick();
  void mnuEDeleteClick();
  void SelectAll1Click();
  void mnuODefaultTabClick();

  // Quick Dial and the dial pad.
  void SetQuickDialWindow(TfrmQuickDial* Window);
  void SetDiallerWindow(TfrmDialler* Window);
  void mnuAQuickDialClick();
  void mnuFDiallerClick();
  // Fills the dialling window's request and shows it, or hands the number to
  // the desktop's telephone application when the options say so.
  void ShowDialWindow(const TDialRequest& Request);

  // File commands.
  void mnuFNewClick();
  void mnuFOpenClick();
  void mnuFSaveClick();
  void mnuFSaveAsClick();
  bool SaveAs();
  bool QuerySaveChanges();
  void DropFiles(const QStringList& Files);
  void mnuHContentsClick();

  // Contacts in and out (vCard, CSV).
  void mnuFImportClick();
  void mnuFExportClick();

  // Synchronisation with an address book on a CardDAV server.
  void mnuFSyncClick();

  // Printing.
  void SetPrintAddressesDialog(TfrmPrintAddresses* Dialog) { FPrintAddresses = Dialog; }
  void mnuFPrinterSetupClick();
  void mnuFPrintClick();

  // Telephony.
  void mnuODetectMODEMSClick();
  void mnuMAutoDetModemClick(bool Checked);
  void mnuODiallingClick();
  void mnuOOutsideLineClick();
  void spdbtnDialClick(QToolButton* Button);
  // A modem is known, or calls go to the desktop's telephone application.
  bool CanDial() const;
  // Opens the number's tel: link; with no application for it, offers the modem.
  void DialThroughDesktop(const TDialRequest& Request);
  // Search.
  void SetFindDialog(TfrmFind* Dialog) { FFindDialog = Dialog; }
  TSearchEngine& Search() { return FSearch; }
  void mnuSFindClick();
  void mnuSFindNextClick();
  void LocateCurrentNode();

  // About box.
  void mnuHAboutClick();

  // IBookHost
  void OldFormatWarning(const std::string& Text) override;
  void SetDefaultTab(int Tab) override;

  bool FormCloseQuery();
  void FormClose();

  QString HelpFile() const { return FHelpFile; }

signals:
  // The window has accepted its close: the program's run is over.
  void Closed();

protected:
  bool event(QEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

private:
  void CreateControls();
  void CreateMenus();
  void FormCreate(const QStringList& Arguments);
  void FormActivate();
  void FormDestroy();
  void SetCaption();
  // Loads into a book of its own and switches to it only when that worked.
  bool OpenBook(const QString& FileName);
  bool WriteBook();
  void ShowBookAfterOpen();
  void StoreEdits(TAddressItem& Item) const;
  void ShowSelectedRow();
  void edtSurnameChange();
  void edtSurnameKeyDown(int Key);
  void OnFocusChanged(QWidget* Old, QWidget* Now);
  void SetFocusQuietly(QWidget* Target);
  bool IsDetailControl(QWidget* Widget) const;
  QString TidyName(const QLineEdit* Edit, int Column, int Row) const;
  void TidyNameEdits(int Row);
  void MoveToItsPlace(TAddressItem& Item);
  void CheckShownName(const QString& Name, const QFont& Font);
  void ShowHelpContext(int Context);
  void RunSearch(bool First);
  QWidget* FieldControl(ESearchField Field) const;
  int FoundEntryRow(const TAddressItem& Found) const;
  QAction* AddItem(QMenu* Menu, const char* Name, const QString& Caption, int HelpContext, const QKeySequence& Shortcut,
                   void (TfrmMain::*Handler)());

  std::unique_ptr<TAddressBook> FBook;
  TNamesModel* FNames = nullptr;
  int FSelectedRow = 1;
  int FShownRow = 0;
  bool FFirstRun = false;
  bool FActivated = false;
  bool FSettingRow = false;
  bool FIgnoreFocus = false;
  int FPendingDefaultTab = 0;
  bool FTabFromBook = false;
  QString FHelpFile;
  TfrmDefaultTab* FDefaultTabDialog = nullptr;
  TfrmPrintAddresses* FPrintAddresses = nullptr;
  TfrmDiallingOpt* FDiallingOpt = nullptr;
  TfrmMODEMDetect* FModemDetect = nullptr;
  TfrmDial* FDial = nullptr;
  TfrmOutsideLine* FOutsideLine = nullptr;
  TfrmQuickDial* FQuickDial = nullptr;
  TfrmDialler* FDialler = nullptr;
  TfrmFind* FFindDialog = nullptr;
  TSearchEngine FSearch;
  // What was typed into the sync set-up dialog for a book not yet synchronised.
  QString FLastSyncServer;
  QString FLastSyncUser;
  bool FSecretStoreNoticeShown = false;  // said once a run
  TFontCoverage FShownCoverage;
  bool FMissingCharactersTold = false;  // said once a run

public:
  // Controls, named as in the design.
  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  std::array<QPushButton*, 26> btnLetters{};
  QTableView* grdNames = nullptr;
  QLineEdit* edtSurname = nullptr;
  QLineEdit* edtFirstName = nullptr;
  QTabWidget* tabDetails = nullptr;
  QLineEdit* edtHomeTel = nullptr;
  QPlainTextEdit* memHomeAddress = nullptr;
  QLineEdit* edtBusTel = nullptr;
  QLineEdit* edtBusExtn = nullptr;
  QLineEdit* edtMobile = nullptr;
  QLineEdit* edtBusFax = nullptr;
  QPlainTextEdit* memBusAddress = nullptr;
  QPlainTextEdit* memNotes = nullptr;
  QToolButton* spdbtnDial1 = nullptr;
  QToolButton* spdbtnDial2 = nullptr;
  QToolButton* spdbtnDial3 = nullptr;
  QToolButton* spdbtnDial4 = nullptr;

  QAction* mnuFNew = nullptr;
  QAction* mnuFOpen = nullptr;
  QAction* mnuFSave = nullptr;
  QAction* mnuFSaveAs = nullptr;
  QAction* mnuFImport = nullptr;
  QAction* mnuFExport = nullptr;
  QAction* mnuFSync = nullptr;
  QAction* mnuFPrinterSetup = nullptr;
  QAction* mnuFPrint = nullptr;
  QAction* mnuFDialler = nullptr;
  QAction* mnuFExit = nullptr;
  QAction* mnuECut = nullptr;
  QAction* mnuECopy = nullptr;
  QAction* mnuEPaste = nullptr;
  QAction* mnuEDelete = nullptr;
  QAction* SelectAll1 = nullptr;
  QAction* mnuSFind = nullptr;
  QAction* mnuSFindNext = nullptr;
  QAction* mnuAAdd = nullptr;
  QAction* mnuADelete = nullptr;
  QAction* mnuAQuickDial = nullptr;
  QAction* mnuODetectMODEMS = nullptr;
  QAction* mnuOAutoDetectMODEMS = nullptr;
  QAction* mnuODialling = nullptr;
  QAction* mnuODefaultTab = nullptr;
  QAction* mnuOOutsideLine = nullptr;
  QAction* mnuHContents = nullptr;
  QAction* mnuHAbout = nullptr;
};

// Texts of the boxes the main window shows.
extern const char* const BlankSurnameText;
extern const char* const ReadOnlyText;
extern const char* const NoMatchText;
extern const char* const NoMoreMatchText;
QString DamagedBookText(const QString& FileName, int EntriesRead);
QString ImportedText(const QString& FileName, int Entries, int ValuesCut);
QString ImportErrorText(const QString& FileName, int Line, const QString& Problem);
struct TSyncSummary;
QString SyncSummaryText(const TSyncSummary& Summary, const std::vector<std::string>& Skipped);
// The local files a drop carries, in the order dropped.
QStringList DroppedFiles(const QMimeData& Data);
