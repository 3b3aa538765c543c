#include "Main.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTextCursor>
#include <QTimer>
#include <stdexcept>
#include <QToolButton>
#include <QUrl>
#include <QValidator>

#include "About.h"
#include "CommandLine.h"
#include "Contacts.h"
#include "Dflttab.h"
#include "Dial.h"
#include "Dialler.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "ModemExchange.h"
#include "Olineopt.h"
#include "FileDialogs.h"
#include "GroupFrame.h"
#include "Find.h"
#include "HelpService.h"
#include "NamesModel.h"
#include "Print.h"
#include "PrinterInfo.h"
#include "PrinterSetup.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "Qdial.h"
#include "Settings.h"
#include "WaitCursor.h"

const char* const BlankSurnameText =
    "Please enter a surname before attempting to enter any other details for the address";
const char* const ReadOnlyText = "This is a read-only file.  Please save to a different file name.";

QString DamagedBookText(const QString& FileName, int EntriesRead) {
  return QStringLiteral("'%1' is damaged or incomplete.  Only the %2 %3 that could be read "
                        "have been loaded.")
      .arg(FileName)
      .arg(EntriesRead)
      .arg(EntriesRead == 1 ? QStringLiteral("entry") : QStringLiteral("entries"));
}

namespace {

constexpr int ClientWidth = 602;
constexpr int ClientHeight = 354;
const char* const HelpContextProperty = "HelpContext";

std::string Std(const QString& Text) { return Text.toStdString(); }
QString Q(const std::string& Text) { return QString::fromStdString(Text); }
bool IsBlank(const QString& Text) { return TrimSpaces(Std(Text)).empty(); }

// A desk telephone, drawn in Colour with its dial in Dial.
QPixmap TelephonePicture(const QColor& Colour, const QColor& Dial) {
  QPixmap Picture(16, 16);
  Picture.fill(Qt::transparent);
  QPainter Painter(&Picture);
  Painter.setRenderHint(QPainter::Antialiasing);
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(Colour);
  // The handset across the top, its ends hanging down over the body.
  Painter.drawRoundedRect(QRectF(1, 2, 14, 3.5), 1.5, 1.5);
  Painter.drawRoundedRect(QRectF(1, 3, 4, 4), 1, 1);
  Painter.drawRoundedRect(QRectF(11, 3, 4, 4), 1, 1);
  QPainterPath Body;
  Body.moveTo(5, 7.5);
  Body.lineTo(11, 7.5);
  Body.lineTo(14.5, 15);
  Body.lineTo(1.5, 15);
  Body.closeSubpath();
  Painter.drawPath(Body);
  Painter.setBrush(Dial);
  Painter.drawEllipse(QPointF(8, 11.5), 2.2, 2.2);
  return Picture;
}

// The picture on the dial buttons: a red telephone, grey while the number cannot be dialled.
QIcon TelephoneIcon() {
  QIcon Icon;
  Icon.addPixmap(TelephonePicture(QColor(0xcc, 0x10, 0x10), QColor(0xff, 0xd8, 0xd8)), QIcon::Normal);
  Icon.addPixmap(TelephonePicture(QColor(0xa0, 0xa0, 0xa0), QColor(0xe8, 0xe8, 0xe8)), QIcon::Disabled);
  return Icon;
}

QLabel* AddLabel(QWidget* Parent, const QString& Caption, int Left, int Top, int Width = 66) {
  auto* Label = new QLabel(Caption, Parent);
  Label->setGeometry(Left, Top, Width, 21);
  Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return Label;
}

// Capacities count characters (code points), while the edit's own limit counts
// UTF-16 units and would cut a stored name of characters beyond the first plane.
class TCharLimit : public QValidator {
public:
  TCharLimit(int Capacity, QObject* Parent) : QValidator(Parent), Capacity(Capacity) {}
  State validate(QString& Input, int&) const override {
    return Input.toUcs4().size() <= Capacity ? Acceptable : Invalid;
  }

private:
  qsizetype Capacity;
};

QLineEdit* AddEdit(QWidget* Parent, const char* Name, int Left, int Top, int Width, int Capacity) {
  auto* Edit = new QLineEdit(Parent);
  Edit->setObjectName(QLatin1String(Name));
  Edit->setGeometry(Left, Top, Width, 21);
  Edit->setMaxLength(2 * Capacity);
  Edit->setValidator(new TCharLimit(Capacity, Edit));
  return Edit;
}

QPlainTextEdit* AddMemo(QWidget* Parent, const char* Name, const QRect& Place) {
  auto* Memo = new QPlainTextEdit(Parent);
  Memo->setObjectName(QLatin1String(Name));
  Memo->setGeometry(Place);
  Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo->setTabChangesFocus(true);
  return Memo;
}

QToolButton* AddDialButton(QWidget* Parent, const char* Name, int Left, int Top) {
  auto* Button = new QToolButton(Parent);
  Button->setObjectName(QLatin1String(Name));
  Button->setGeometry(Left, Top, 23, 21);
  Button->setIcon(TelephoneIcon());
  Button->setFocusPolicy(Qt::NoFocus);  // a picture button takes no focus
  return Button;
}

}  // namespace

TfrmMain::TfrmMain(const QStringList& Arguments, QWidget* Parent) : QMainWindow(Parent) {
  setObjectName(QStringLiteral("frmMain"));
  // A single border with a system menu and a minimise box, never maximised.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("Address Book"));
  QFont Font = QApplication::font();
  Font.setPointSize(8);
  setFont(Font);
  setProperty(HelpContextProperty, 9);
  CreateControls();
  CreateMenus();
  connect(qApp, &QApplication::focusChanged, this, &TfrmMain::OnFocusChanged);
  FormCreate(Arguments);
}

TfrmMain::~TfrmMain() {
  disconnect(qApp, &QApplication::focusChanged, this, &TfrmMain::OnFocusChanged);
  FormDestroy();
}

void TfrmMain::CreateControls() {
  auto* Client = new QWidget(this);
  Client->setObjectName(QStringLiteral("Client"));
  Client->setFixedSize(ClientWidth, ClientHeight);
  setCentralWidget(Client);

  GroupBox3 = new TGroupFrame(Client);
  GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
  GroupBox3->setGeometry(5, 0, 50, 321);
  QFont Bold = font();
  Bold.setBold(true);
  for (int Index = 0; Index < 26; ++Index) {
    const QChar Letter(QLatin1Char(static_cast<char>('A' + Index)));
    auto* Button = new QPushButton(QString(Letter), GroupBox3);
    Button->setObjectName(QStringLiteral("btn") + Letter);
    Button->setFont(Bold);
    Button->setProperty("Tag", Index + 1);
    const int Column = Index / 13, Row = Index % 13;
    Button->setGeometry(Column == 0 ? 3 : 25, 11 + Row * 20, 22, 20);
    Button->setAutoDefault(false);
    connect(Button, &QPushButton::clicked, this, [this, Index] { btnAClick(Index + 1); });
    btnLetters[static_cast<size_t>(Index)] = Button;
  }

  GroupBox2 = new TGroupFrame(QStringLiteral(" Index "), Client);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setGeometry(55, 0, 216, 321);
  FNames = new TNamesModel(this);
  grdNames = new QTableView(GroupBox2);
  grdNames->setObjectName(QStringLiteral("grdNames"));
  grdNames->setGeometry(8, 15, 201, 298);
  grdNames->setModel(FNames);
  grdNames->setSelectionBehavior(QAbstractItemView::SelectRows);
  grdNames->setSelectionMode(QAbstractItemView::SingleSelection);
  grdNames->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdNames->setShowGrid(true);
  grdNames->setWordWrap(false);
  grdNames->setTabKeyNavigation(false);
  grdNames->verticalHeader()->hide();
  grdNames->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grdNames->verticalHeader()->setMinimumSectionSize(15);
  grdNames->verticalHeader()->setDefaultSectionSize(15);
  grdNames->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grdNames->horizontalHeader()->setHighlightSections(false);
  grdNames->horizontalHeader()->setFixedHeight(17);
  grdNames->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  grdNames->setColumnWidth(0, 99);
  grdNames->setColumnWidth(1, 98);
  connect(grdNames->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& Now, const QModelIndex&) {
            if (FSettingRow || !Now.isValid()) return;
            const int Row = Now.row() + 1;
            if (Row == FSelectedRow) return;
            FSelectedRow = Row;
            grdNamesClick();
          });

  GroupBox1 = new TGroupFrame(QStringLiteral(" Name Details "), Client);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(271, 0, 322, 73);
  AddLabel(GroupBox1, QStringLiteral("Surname :"), 2, 16, 74);
  AddLabel(GroupBox1, QStringLiteral("First Name :"), 2, 40, 74);
  edtSurname = AddEdit(GroupBox1, "edtSurname", 80, 16, 233, 50);
  edtSurname->setProperty("Tag", 1);
  edtFirstName = AddEdit(GroupBox1, "edtFirstName", 80, 40, 233, 50);
  edtFirstName->setProperty("Tag", 1);

  tabDetails = new QTabWidget(Client);
  tabDetails->setObjectName(QStringLiteral("tabDetails"));
  tabDetails->setGeometry(270, 72, 325, 249);
  auto* Home = new QWidget;
  auto* Work = new QWidget;
  auto* Notes = new QWidget;
  tabDetails->addTab(Home, QStringLiteral("Home"));
  tabDetails->addTab(Work, QStringLiteral("Work"));
  tabDetails->addTab(Notes, QStringLiteral("Notes"));

  AddLabel(Home, QStringLiteral("Telephone :"), 8, 24);
  edtHomeTel = AddEdit(Home, "edtHomeTel", 80, 24, 201, 50);
  spdbtnDial1 = AddDialButton(Home, "spdbtnDial1", 284, 24);
  AddLabel(Home, QStringLiteral("Address :"), 8, 64);
  memHomeAddress = AddMemo(Home, "memHomeAddress", QRect(80, 64, 225, 73));

  AddLabel(Work, QStringLiteral("Telephone :"), 8, 8);
  edtBusTel = AddEdit(Work, "edtBusTel", 80, 8, 201, 50);
  spdbtnDial2 = AddDialButton(Work, "spdbtnDial2", 284, 8);
  AddLabel(Work, QStringLiteral("Extension :"), 8, 40);
  edtBusExtn = AddEdit(Work, "edtBusExtn", 80, 40, 73, 10);
  spdbtnDial3 = AddDialButton(Work, "spdbtnDial3", 156, 40);
  AddLabel(Work, QStringLiteral("Mobile :"), 8, 72);
  edtMobile = AddEdit(Work, "edtMobile", 80, 72, 201, 50);
  spdbtnDial4 = AddDialButton(Work, "spdbtnDial4", 284, 72);
  AddLabel(Work, QStringLiteral("Facsimile :"), 8, 104);
  edtBusFax = AddEdit(Work, "edtBusFax", 80, 104, 201, 50);
  AddLabel(Work, QStringLiteral("Address :"), 8, 136);
  memBusAddress = AddMemo(Work, "memBusAddress", QRect(80, 136, 225, 73));

  memNotes = AddMemo(Notes, "memNotes", QRect(9, 8, 297, 201));

  // Tab order is the order of creation: the letters A..M then N..Z, the index,
  // the names, the notebook and its pages' controls, then round again.
  // (Reordering with setTabOrder through the notebook, which hands its focus
  // to its tab bar, cut each page off into a ring of its own.)

  for (QLineEdit* Edit : {edtSurname, edtFirstName, edtHomeTel, edtBusTel, edtBusExtn, edtBusFax, edtMobile}) {
    connect(Edit, &QLineEdit::textChanged, this, &TfrmMain::edtSurnameChange);
    Edit->installEventFilter(this);
  }
  for (QPlainTextEdit* Memo : {memHomeAddress, memBusAddress, memNotes}) {
    connect(Memo, &QPlainTextEdit::textChanged, this, &TfrmMain::edtSurnameChange);
    Memo->installEventFilter(this);
  }
  connect(tabDetails, &QTabWidget::currentChanged, this, [this] { EnableControls(); });  // tabDetailsChange
  for (QToolButton* Button : {spdbtnDial1, spdbtnDial2, spdbtnDial3, spdbtnDial4})
    connect(Button, &QToolButton::clicked, this, [this, Button] { spdbtnDialClick(Button); });
  setAcceptDrops(true);
}

QAction* TfrmMain::AddItem(QMenu* Menu, const char* Name, const QString& Caption, int HelpContext,
                           const QKeySequence& Shortcut, void (TfrmMain::*Handler)()) {
  auto* Action = Menu->addAction(Caption);
  Action->setObjectName(QLatin1String(Name));
  Action->setProperty(HelpContextProperty, HelpContext);
  if (!Shortcut.isEmpty()) Action->setShortcut(Shortcut);
  if (Handler) connect(Action, &QAction::triggered, this, Handler);
  return Action;
}

void TfrmMain::CreateMenus() {
  QMenuBar* Bar = menuBar();
  Bar->setObjectName(QStringLiteral("mnuTop"));
  auto AddMenu = [&](const char* Name, const QString& Caption, int HelpContext) {
    QMenu* Menu = Bar->addMenu(Caption);
    Menu->setObjectName(QLatin1String(Name));
    Menu->menuAction()->setProperty(HelpContextProperty, HelpContext);
    Menu->installEventFilter(this);
    return Menu;
  };
  QMenu* File = AddMenu("mnuFile", QStringLiteral("&File"), 12);
  mnuFNew = AddItem(File, "mnuFNew", QStringLiteral("&New"), 10, QKeySequence(Qt::CTRL | Qt::Key_N), &TfrmMain::mnuFNewClick);
  mnuFOpen = AddItem(File, "mnuFOpen", QStringLiteral("&Open..."), 11, QKeySequence(Qt::CTRL | Qt::Key_O), &TfrmMain::mnuFOpenClick);
  mnuFSave = AddItem(File, "mnuFSave", QStringLiteral("&Save"), 17, QKeySequence(Qt::CTRL | Qt::Key_S), &TfrmMain::mnuFSaveClick);
  mnuFSaveAs = AddItem(File, "mnuFSaveAs", QStringLiteral("Save &As..."), 18, {}, &TfrmMain::mnuFSaveAsClick);
  mnuFImport = AddItem(File, "mnuFImport", QStringLiteral("&Import..."), 190, {}, &TfrmMain::mnuFImportClick);
  mnuFExport = AddItem(File, "mnuFExport", QStringLiteral("&Export..."), 191, {}, &TfrmMain::mnuFExportClick);
  File->addSeparator();
  mnuFPrinterSetup = AddItem(File, "mnuFPrinterSetup", QStringLiteral("Printer Set&up..."), 2, {}, &TfrmMain::mnuFPrinterSetupClick);
  mnuFPrint = AddItem(File, "mnuFPrint", QStringLiteral("&Print..."), 39, QKeySequence(Qt::CTRL | Qt::Key_P), &TfrmMain::mnuFPrintClick);
  File->addSeparator();
  mnuFDialler = AddItem(File, "mnuFDialler", QStringLiteral("Dialer..."), 54, QKeySequence(Qt::CTRL | Qt::Key_D), &TfrmMain::mnuFDiallerClick);
  File->addSeparator();
  mnuFExit = AddItem(File, "mnuFExit", QStringLiteral("E&xit"), 44, {}, nullptr);
  connect(mnuFExit, &QAction::triggered, this, [this] {
    UpdateCurrent();
    close();
  });

  QMenu* Edit = AddMenu("mnuEdit", QStringLiteral("&Edit"), 13);
  mnuECut = AddItem(Edit, "mnuECut", QStringLiteral("Cu&t"), 19, QKeySequence(Qt::CTRL | Qt::Key_X), &TfrmMain::mnuECutClick);
  mnuECopy = AddItem(Edit, "mnuECopy", QStringLiteral("&Copy"), 20, QKeySequence(Qt::CTRL | Qt::Key_C), &TfrmMain::mnuECopyClick);
  mnuEPaste = AddItem(Edit, "mnuEPaste", QStringLiteral("&Paste"), 21, QKeySequence(Qt::CTRL | Qt::Key_V), &TfrmMain::mnuEPasteClick);
  mnuEDelete = AddItem(Edit, "mnuEDelete", QStringLiteral("&Delete"), 22, QKeySequence(Qt::CTRL | Qt::Key_Delete), &TfrmMain::mnuEDeleteClick);
  Edit->addSeparator();
  SelectAll1 = AddItem(Edit, "SelectAll1", QStringLiteral("Se&lect All"), 23, QKeySequence(Qt::CTRL | Qt::Key_A), &TfrmMain::SelectAll1Click);
  Edit->addSeparator();
  mnuSFind = AddItem(Edit, "mnuSFind", QStringLiteral("&Find..."), 24, QKeySequence(Qt::CTRL | Qt::Key_F), &TfrmMain::mnuSFindClick);
  mnuSFindNext = AddItem(Edit, "mnuSFindNext", QStringLiteral("Find &Next"), 25, QKeySequence(Qt::Key_F3), &TfrmMain::mnuSFindNextClick);
  mnuSFindNext->setEnabled(false);  // until a Find has been run

  QMenu* Address = AddMenu("mnuAddress", QStringLiteral("&Address"), 14);
  mnuAAdd = AddItem(Address, "mnuAAdd", QStringLiteral("&Add New"), 26, QKeySequence(Qt::CTRL | Qt::Key_E), &TfrmMain::mnuAAddClick);
  mnuADelete = AddItem(Address, "mnuADelete", QStringLiteral("De&lete..."), 27, QKeySequence(Qt::CTRL | Qt::Key_R), &TfrmMain::mnuADeleteClick);
  Address->addSeparator();
  mnuAQuickDial = AddItem(Address, "mnuAQuickDial", QStringLiteral("Quick &Dial"), 28, QKeySequence(Qt::CTRL | Qt::Key_Q), &TfrmMain::mnuAQuickDialClick);

  QMenu* Options = AddMenu("mnuOptions", QStringLiteral("&Options"), 15);
  mnuODetectMODEMS = AddItem(Options, "mnuODetectMODEMS", QStringLiteral("&Detect MODEMS..."), 29, {}, &TfrmMain::mnuODetectMODEMSClick);
  mnuOAutoDetectMODEMS = AddItem(Options, "mnuOAutoDetectMODEMS", QStringLiteral("&Auto Detect MODEMS on Startup"), 30, {}, nullptr);
  mnuOAutoDetectMODEMS->setCheckable(true);
  connect(mnuOAutoDetectMODEMS, &QAction::triggered, this, &TfrmMain::mnuMAutoDetModemClick);
  Options->addSeparator();
  mnuODialling = AddItem(Options, "mnuODialling", QStringLiteral("Dialing..."), 31, {}, &TfrmMain::mnuODiallingClick);
  mnuODefaultTab = AddItem(Options, "mnuODefaultTab", QStringLiteral("Set Default &Tab..."), 33, {}, &TfrmMain::mnuODefaultTabClick);
  mnuOOutsideLine = AddItem(Options, "mnuOOutsideLine", QStringLiteral("Outside Line..."), 52, {}, &TfrmMain::mnuOOutsideLineClick);

  QMenu* Help = AddMenu("mnuHelp", QStringLiteral("&Help"), 16);
  mnuHContents = AddItem(Help, "mnuHContents", QStringLiteral("Contents"), 34, QKeySequence(Qt::CTRL | Qt::Key_F1), &TfrmMain::mnuHContentsClick);
  Help->addSeparator();
  mnuHAbout = AddItem(Help, "mnuHAbout", QStringLiteral("About Tobrinel..."), 37, {}, &TfrmMain::mnuHAboutClick);
}

// ---------------------------------------------------------------------------
// Creation, activation, closing

void TfrmMain::FormCreate(const QStringList& Arguments) {
  FActivated = false;
  FFirstRun = false;
  QuietUpdate = false;
  SuppressGridClick = false;
  SetModemPort(-1);

  FHelpFile = HelpFileName();
  if (!QFileInfo::exists(FHelpFile)) FHelpFile.clear();

  FBook = std::make_unique<TAddressBook>(this);

  const auto SettingsFile = OpenSettings();
  TSectionedIniFile& Settings = *SettingsFile;
  int Top = Settings.ReadInteger("FormPosition", "Top", 52);
  int Left = Settings.ReadInteger("FormPosition", "Left", 21);

  if (QFile::exists(MarkerFileName())) {
    FFirstRun = true;
    QFile::remove(MarkerFileName());
  }

  grdNames->setColumnWidth(0, Settings.ReadInteger("FormPosition", "GridCol_1", 99));
  grdNames->setColumnWidth(1, Settings.ReadInteger("FormPosition", "GridCol_2", 99));
  SetModemPort(Settings.ReadInteger("MODEM", "Port", -1));
  mnuOAutoDetectMODEMS->setChecked(Settings.ReadBool("MODEM", "Detected", false));

  const TCommandLineBook Named = ChooseCommandLineBook(Arguments, QDir::currentPath());
  for (const QString& Error : Named.Errors) Prompter().Error(this, Error);
  QString FileName = Named.FileName;
  if (FileName.isEmpty() || !QFileInfo::exists(FileName)) {
    FileName = Q(Settings.ReadString("Startup", "LoadFile", ""));
    if (!FileName.isEmpty() && !QFileInfo::exists(FileName)) FileName.clear();
  }
  if (!FileName.isEmpty()) OpenBook(FileName);
  SetCaption();

  // The window is fixed in size around its client area and the menu bar.
  const QSize Outer(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
  setFixedSize(Outer);
  bool OnScreen = false;
  for (QScreen* Screen : QGuiApplication::screens())
    if (Screen->geometry().intersects(QRect(QPoint(Left, Top), Outer))) OnScreen = true;
  if (!OnScreen) {
    Left = 21;
    Top = 52;
  }
  // The stored place is the client's: the frame's size is the window
  // manager's, and is not yet known when a box came up before the window.
  setGeometry(QRect(QPoint(Left, Top), Outer));

  BuildNamesList();
  SuppressGridClick = true;
  SelectRow(1);
  grdNamesClick();
  SuppressGridClick = false;
  FActivated = false;
}

void TfrmMain::FormActivate() {
  if (FActivated) return;
  FActivated = true;  // a box raised below must not run this again
  grdNamesClick();
  EnableControls();
  if ((FFirstRun || mnuOAutoDetectMODEMS->isChecked()) && FModemDetect) {
    FModemDetect->exec();
    EnableControls();  // the dial commands follow the modem found, or lost
  }
  const bool Printing = PrinterInfo().PrinterAvailable();
  mnuFPrinterSetup->setEnabled(Printing);
  mnuFPrint->setEnabled(Printing);
}

bool TfrmMain::FormCloseQuery() {
  UpdateCurrent();
  return QuerySaveChanges();
}

void TfrmMain::FormClose() {
  if (FDefaultTabDialog) FDefaultTabDialog->SaveDefaultTab();
}

void TfrmMain::FormDestroy() {
  const auto SettingsFile = OpenSettings();
  TSectionedIniFile& Settings = *SettingsFile;
  Settings.WriteInteger("FormPosition", "Top", geometry().y());
  Settings.WriteInteger("FormPosition", "Left", geometry().x());
  try {
    Settings.WriteString("Startup", "LoadFile", FBook->FileName);
  } catch (const std::invalid_argument&) {
    // A name with a line break cannot be stored; the next start opens untitled.
    Settings.WriteString("Startup", "LoadFile", "");
  }
  Settings.WriteInteger("FormPosition", "GridCol_1", grdNames->columnWidth(0));
  Settings.WriteInteger("FormPosition", "GridCol_2", grdNames->columnWidth(1));
  Settings.WriteInteger("MODEM", "Port", ModemPort());
  Settings.WriteBool("MODEM", "Detected", mnuOAutoDetectMODEMS->isChecked());
  try {
    Settings.UpdateFile();
  } catch (const EFileError&) {
    // The program is ending and its windows are gone; there is nobody to tell.
  }
}

bool TfrmMain::event(QEvent* Event) {
  if (Event->type() == QEvent::WindowActivate) {
    const bool Result = QMainWindow::event(Event);
    FormActivate();
    return Result;
  }
  return QMainWindow::event(Event);
}

void TfrmMain::showEvent(QShowEvent* Event) {
  QMainWindow::showEvent(Event);
  // Without a window manager, or with one that keeps new windows from taking
  // the focus, the window may never be activated; the first entry must be
  // shown all the same.
  if (!FActivated) QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TfrmMain::closeEvent(QCloseEvent* Event) {
  if (!FormCloseQuery()) {
    Event->ignore();
    return;
  }
  FormClose();
  Event->accept();
  emit Closed();
}

void TfrmMain::SetDefaultTabDialog(TfrmDefaultTab* Dialog) {
  FDefaultTabDialog = Dialog;
  // An older-format book opened at start-up named the page before the dialog existed.
  if (Dialog && FTabFromBook) Dialog->SetTab(FPendingDefaultTab);
  FTabFromBook = false;
}

int TfrmMain::DefaultTab() const {
  return FDefaultTabDialog ? FDefaultTabDialog->Tab() : FPendingDefaultTab;
}

void TfrmMain::SetDefaultTab(int Tab) {
  // An older-format book may name it before the dialog exists.
  FPendingDefaultTab = Tab;
  FTabFromBook = FDefaultTabDialog == nullptr;
  if (FDefaultTabDialog) FDefaultTabDialog->SetTab(Tab);
}

void TfrmMain::OldFormatWarning(const std::string& Text) { Prompter().Warning(this, Q(Text), 177); }

void TfrmMain::SetCaption() {
  setWindowTitle(QStringLiteral("Address Book - ") + NameWithoutFolder(Q(FBook->DisplayName())));
}

// ---------------------------------------------------------------------------
// The name index

void TfrmMain::BuildNamesList() {
  FNames->Rebuild(*FBook->Items);
  FShownRow = 0;
  SelectRow(1);
}

void TfrmMain::SelectRow(int Row) {
  if (Row < 1) Row = 1;
  if (Row > FNames->NewEntryRow()) Row = FNames->NewEntryRow();
  FSelectedRow = Row;
  FSettingRow = true;
  const QModelIndex At = FNames->index(Row - 1, 0);
  grdNames->selectionModel()->setCurrentIndex(
      At, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  grdNames->scrollTo(At);
  FSettingRow = false;
}

void TfrmMain::StoreEdits(TAddressItem& Item) const {
  Item.Surname = Std(edtSurname->text());
  Item.FirstName = Std(edtFirstName->text());
  Item.HomeTelephone = Std(edtHomeTel->text());
  Item.BusTelephone = Std(edtBusTel->text());
  Item.BusExtn = Std(edtBusExtn->text());
  Item.BusFacsimile = Std(edtBusFax->text());
  Item.BusMobile = Std(edtMobile->text());
  Item.HomeAddress.SetText(Std(memHomeAddress->toPlainText()));
  Item.BusAddress.SetText(Std(memBusAddress->toPlainText()));
  Item.Notes.SetText(Std(memNotes->toPlainText()));
}

void TfrmMain::grdNamesClick() {
  if (SuppressGridClick) {
    EnableControls();
    return;
  }
  if (FBook->CurrentChanged) {
    if (TAddressItem* Current = FBook->Current) {
      // The index keeps what it shows until a name edit is left; its surname
      // is the one a blanked surname edit falls back to.
      const bool Shown = FNames->Item(FShownRow) == Current;
      const std::string Surname = Shown ? FNames->Cell(FShownRow, 0) : Current->Surname.str();
      const std::string FirstName = Shown ? FNames->Cell(FShownRow, 1) : Current->FirstName.str();
      StoreEdits(*Current);
      if (IsBlank(edtSurname->text()) && !Surname.empty()) Current->Surname = Surname;
      if (!QuietUpdate) Current->TabPage = static_cast<uint8_t>(tabDetails->currentIndex());
      if (Shown) FNames->KeepCells(FShownRow, Surname, FirstName);
    } else if (!IsBlank(edtSurname->text()) || !IsBlank(edtFirstName->text())) {
      auto Item = std::make_unique<TAddressItem>();
      StoreEdits(*Item);
      Item->TabPage = QuietUpdate ? 0 : static_cast<uint8_t>(tabDetails->currentIndex());
      FBook->Items->Add(Item.release());
      BuildNamesList();
    }
    FBook->Modified = true;
  }
  ShowSelectedRow();
  FBook->CurrentChanged = false;
  if (!QuietUpdate) edtSurname->setFocus();
  EnableControls();
}

void TfrmMain::ShowSelectedRow() {
  if (TAddressItem* Item = FNames->Item(FSelectedRow)) {
    // The entry shown has just been committed from the edits: filling them
    // again would only throw away the caret and the selection being edited.
    if (Item != FBook->Current || FShownRow != FSelectedRow) {
      edtSurname->setText(Q(Item->Surname));
      edtFirstName->setText(Q(Item->FirstName));
      edtHomeTel->setText(Q(Item->HomeTelephone));
      memHomeAddress->setPlainText(Q(Item->HomeAddress.Text()));
      edtBusTel->setText(Q(Item->BusTelephone));
      edtBusExtn->setText(Q(Item->BusExtn));
      edtBusFax->setText(Q(Item->BusFacsimile));
      edtMobile->setText(Q(Item->BusMobile));
      memBusAddress->setPlainText(Q(Item->BusAddress.Text()));
      memNotes->setPlainText(Q(Item->Notes.Text()));
    }
    if (!QuietUpdate && Item->TabPage <= 2) tabDetails->setCurrentIndex(Item->TabPage);
    FBook->Current = Item;
    FShownRow = FSelectedRow;
    FSearch.FollowEntry(Item);
    return;
  }
  for (QLineEdit* Edit : {edtSurname, edtFirstName, edtHomeTel, edtBusTel, edtBusExtn, edtBusFax, edtMobile})
    Edit->clear();
  for (QPlainTextEdit* Memo : {memHomeAddress, memBusAddress, memNotes}) Memo->clear();
  if (!QuietUpdate) tabDetails->setCurrentIndex(DefaultTab());
  if (FNames->GridRowCount() == 2) SelectRow(1);
  FBook->Current = nullptr;
  FShownRow = 0;
}

void TfrmMain::UpdateCurrent() {
  const bool Was = QuietUpdate;
  QuietUpdate = true;
  grdNamesClick();
  QuietUpdate = Was;
}

void TfrmMain::btnAClick(int Tag) {
  const char Letter = static_cast<char>(Tag + 64);
  const int Start = FSelectedRow == FNames->NewEntryRow() ? 1 : FSelectedRow + 1;
  int Found = FNames->FindLetter(Start, Letter);
  if (!Found) Found = FNames->FindLetter(1, Letter);
  if (!Found) return;
  SelectRow(Found);
  grdNamesClick();
}

void TfrmMain::edtSurnameKeyDown(int Key) {
  if (Key == Qt::Key_Down) {
    if (FSelectedRow < FNames->NewEntryRow()) {
      SelectRow(FSelectedRow + 1);
      grdNamesClick();
    }
    edtSurname->selectAll();
  } else if (Key == Qt::Key_Up) {
    if (FSelectedRow > 1) {
      SelectRow(FSelectedRow - 1);
      grdNamesClick();
    }
    edtSurname->setCursorPosition(0);
    edtSurname->deselect();
  }
}

// ---------------------------------------------------------------------------
// Editing

void TfrmMain::edtSurnameChange() {
  FBook->CurrentChanged = true;
  EnableControls();
}

void TfrmMain::EnableControls() {
  const bool EntryRow = !FNames->Cell(FSelectedRow, 0).empty();
  const bool Modem = ModemPort() != -1;
  mnuADelete->setEnabled(EntryRow);
  mnuAQuickDial->setEnabled(EntryRow && Modem);
  mnuFDialler->setEnabled(Modem);
  spdbtnDial1->setEnabled(!IsBlank(edtHomeTel->text()) && Modem);
  spdbtnDial2->setEnabled(!IsBlank(edtBusTel->text()) && Modem);
  spdbtnDial3->setEnabled(!IsBlank(edtBusExtn->text()) && Modem && FDiallingOpt &&
                          FDiallingOpt->chkDialExtensions->isChecked());
  spdbtnDial4->setEnabled(!IsBlank(edtMobile->text()) && Modem);
  mnuHContents->setEnabled(!FHelpFile.isEmpty());
  mnuFPrint->setEnabled(FBook->Items->Count > 0);
}

bool TfrmMain::IsDetailControl(QWidget* Widget) const {
  return Widget == edtFirstName || Widget == edtHomeTel || Widget == memHomeAddress || Widget == edtBusTel ||
         Widget == edtBusExtn || Widget == edtMobile || Widget == edtBusFax || Widget == memBusAddress ||
         Widget == memNotes || Widget == tabDetails || (Widget && Widget->parentWidget() == tabDetails);
}

void TfrmMain::SetFocusQuietly(QWidget* Target) {
  FIgnoreFocus = true;
  Target->setFocus();
  FIgnoreFocus = false;
}

void TfrmMain::OnFocusChanged(QWidget* Old, QWidget* Now) {
  // Only a move between two controls of this window counts; a box or another
  // window taking the focus leaves the controls' handlers alone.
  if (FIgnoreFocus || !Old || !Now || Old->window() != this || Now->window() != this) return;
  if (qobject_cast<QMenuBar*>(Now) || qobject_cast<QMenuBar*>(Old)) return;  // menus take no focus here
  if (Old == edtSurname) edtSurnameExit(Now);
  else if (Old == edtFirstName) edtFirstNameExit();
  if (Now == edtSurname || IsDetailControl(Now)) EnableControls();  // the enter handlers
}

void TfrmMain::edtSurnameExit(QWidget* Receiver) {
  const QString Tidy = Q(CapitaliseWords(Std(edtSurname->text())));
  if (Tidy != edtSurname->text()) edtSurname->setText(Tidy);
  const std::string& Cell = FNames->Cell(FSelectedRow, 0);
  if (!Cell.empty()) {
    if (!IsBlank(Tidy)) FNames->SetCell(FSelectedRow, 0, Std(Tidy));
    else edtSurname->setText(Q(Cell));
    return;
  }
  if (!IsBlank(Tidy)) {
    const std::string Surname = Std(Tidy);
    UpdateCurrent();
    SelectRow(FNames->FindSurname(Surname));
    grdNamesClick();
    QMetaObject::invokeMethod(this, &TfrmMain::FocusFirstName, Qt::QueuedConnection);
    return;
  }
  const bool Escape = Receiver == grdNames || grdNames->isAncestorOf(Receiver) ||
                      std::find(btnLetters.begin(), btnLetters.end(), Receiver) != btnLetters.end();
  if (Escape || QuietUpdate) return;
  Prompter().Error(this, QString::fromLatin1(BlankSurnameText));
  SetFocusQuietly(edtSurname);
}

void TfrmMain::FocusFirstName() { edtFirstName->setFocus(); }

void TfrmMain::edtFirstNameExit() {
  const QString Tidy = Q(CapitaliseWords(Std(edtFirstName->text())));
  if (Tidy != edtFirstName->text()) edtFirstName->setText(Tidy);
  if (!FNames->Cell(FSelectedRow, 0).empty()) {
    FNames->SetCell(FSelectedRow, 1, Std(Tidy));
    return;
  }
  const std::string Surname = Std(edtSurname->text());
  grdNamesClick();
  SelectRow(FNames->FindSurname(Surname));
  grdNamesClick();
}

void TfrmMain::mnuAAddClick() {
  UpdateCurrent();
  SelectRow(FNames->NewEntryRow());
  grdNamesClick();
}

void TfrmMain::mnuADeleteClick() {
  UpdateCurrent();
  const int Row = FSelectedRow;
  const QString Text = QStringLiteral("Are you sure you want to delete \"") + Q(FNames->Cell(Row, 1)) +
                       QLatin1Char(' ') + Q(FNames->Cell(Row, 0)) + QStringLiteral("\"?");
  if (Prompter().Question(this, Text) != EAnswer::Yes) return;
  TAddressItem* Current = FBook->Current;
  if (!Current) return;
  FBook->Current = nullptr;
  FSearch.EntryRemoved(Current);
  FBook->Items->Delete(Current);
  FBook->Modified = true;
  BuildNamesList();
  SelectRow(Row <= 2 ? 1 : Row - 1);
  grdNamesClick();
}

void TfrmMain::mnuECutClick() {
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
    QApplication::clipboard()->setText(Edit->selectedText());
    if (Edit->hasSelectedText()) Edit->insert(QString());
  } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
    Memo->cut();
  } else {
    return;
  }
  UpdateCurrent();
}

void TfrmMain::mnuECopyClick() {
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
    QApplication::clipboard()->setText(Edit->selectedText());
  } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
    Memo->copy();
  } else {
    return;
  }
  UpdateCurrent();
}

void TfrmMain::mnuEPasteClick() {
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
    Edit->insert(QApplication::clipboard()->text());
  } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
    Memo->paste();
  } else {
    return;
  }
  UpdateCurrent();
}

void TfrmMain::mnuEDeleteClick() {
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
    if (Edit->hasSelectedText()) Edit->insert(QString());
  } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
    Memo->textCursor().removeSelectedText();
  } else {
    return;
  }
  UpdateCurrent();
}

void TfrmMain::SelectAll1Click() {
  UpdateCurrent();
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) Edit->setSelection(0, 32767);
  else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) Memo->selectAll();
}

// ---------------------------------------------------------------------------
// Quick Dial and the dial pad

void TfrmMain::SetQuickDialWindow(TfrmQuickDial* Window) {
  FQuickDial = Window;
  if (FQuickDial) FQuickDial->ShowDial = [this](const TDialRequest& Request) { ShowDialWindow(Request); };
}

void TfrmMain::SetDiallerWindow(TfrmDialler* Window) {
  FDialler = Window;
  if (!FDialler) return;
  FDialler->ShowDial = [this](const TDialRequest& Request) { ShowDialWindow(Request); };
  FDialler->OutsideLineTicked = [this] { return FOutsideLine && FOutsideLine->chkDialOutsideLine->isChecked(); };
}

void TfrmMain::ShowDialWindow(const TDialRequest& Request) {
  if (!FDial) return;
  FDial->DialName = Request.DialName;
  FDial->DialLocation = Request.DialLocation;
  FDial->DialNumber = Request.DialNumber;
  if (Request.NoOutsideLine) FDial->NoOutsideLine = *Request.NoOutsideLine;
  FDial->exec();
}

void TfrmMain::mnuAQuickDialClick() {
  UpdateCurrent();
  if (!FQuickDial || !FBook->Current) return;
  const TAddressItem& Entry = *FBook->Current;
  FQuickDial->edtHomeNo->setText(Q(Entry.HomeTelephone.str()));
  FQuickDial->edtWorkNo->setText(Q(Entry.BusTelephone.str()));
  const bool Extensions = FDiallingOpt && FDiallingOpt->chkDialExtensions->isChecked();
  FQuickDial->edtExtension->setText(Extensions ? Q(Entry.BusExtn.str()) : QString());
  FQuickDial->edtMobile->setText(Q(Entry.BusMobile.str()));
  FQuickDial->DialName = edtFirstName->text() + QLatin1Char(' ') + edtSurname->text();
  FQuickDial->TabPage = Entry.TabPage;
  bool AnyNumber = false;
  for (int Kind = 0; Kind < 4; ++Kind) AnyNumber = AnyNumber || !IsBlank(FQuickDial->Field(Kind)->text());
  if (!AnyNumber) {
    Prompter().Error(this, QStringLiteral("There are no numbers to dial for \"%1 %2\"")
                               .arg(Q(FNames->Cell(FSelectedRow, 1)), Q(FNames->Cell(FSelectedRow, 0))));
    return;
  }
  FQuickDial->exec();
  EnableControls();  // a failed modem reset forgets the modem
}

void TfrmMain::mnuFDiallerClick() {
  if (FDialler) FDialler->exec();
  EnableControls();  // a failed modem reset forgets the modem
}

void TfrmMain::mnuODefaultTabClick() {
  UpdateCurrent();
  if (!FDefaultTabDialog) return;
  if (FDefaultTabDialog->exec() == QDialog::Accepted) tabDetails->setCurrentIndex(FDefaultTabDialog->Tab());
}

// ---------------------------------------------------------------------------
// Search

const char* const NoMatchText = "There are no addresses that match your search.";
const char* const NoMoreMatchText = "There are no more addresses that match your search.";

void TfrmMain::mnuSFindClick() {
  UpdateCurrent();
  if (!FFindDialog || FFindDialog->exec() != QDialog::Accepted) return;
  mnuSFindNext->setEnabled(true);  // for the rest of the run
  RunSearch(true);
}

void TfrmMain::mnuSFindNextClick() {
  UpdateCurrent();
  if (FFindDialog) RunSearch(false);
}

void TfrmMain::RunSearch(bool First) {
  QuietUpdate = true;
  const bool Found = First ? FSearch.FindFirstMatch(*FBook->Items, *FFindDialog)
                           : FSearch.FindNextMatch(*FBook->Items, *FFindDialog);
  if (Found) {
    // The matched field comes to the front with the focus, then its entry is shown.
    const int Page = FieldPage(FSearch.FoundField);
    if (Page >= 0) tabDetails->setCurrentIndex(Page);
    TAddressItem* Found = FSearch.FoundEntry();
    FieldControl(FSearch.FoundField)->setFocus();
    // Leaving the first name of the new-entry row shows another entry, which
    // the cursor follows; the match is still the one to place.
    FSearch.FollowEntry(Found);
    LocateCurrentNode();
  } else {
    Prompter().Error(this, QString::fromLatin1(First ? NoMatchText : NoMoreMatchText));
  }
  QuietUpdate = false;
}

QWidget* TfrmMain::FieldControl(ESearchField Field) const {
  switch (Field) {
    case ESearchField::Surname: return edtSurname;
    case ESearchField::FirstName: return edtFirstName;
    case ESearchField::HomeTelephone: return edtHomeTel;
    case ESearchField::BusTelephone: return edtBusTel;
    case ESearchField::BusExtn: return edtBusExtn;
    case ESearchField::BusMobile: return edtMobile;
    case ESearchField::BusFacsimile: return edtBusFax;
    case ESearchField::HomeAddress: return memHomeAddress;
    case ESearchField::BusAddress: return memBusAddress;
    case ESearchField::Notes: return memNotes;
  }
  return edtSurname;
}

// The first row after the selected one, wrapping to the top, that shows the
// found entry's two names. Among rows of the same names the found entry's own
// row wins, so that a namesake is never shown with a selection that is not a
// match; that row is looked up first, by the entry, which is also quicker.
int TfrmMain::FoundEntryRow(const TAddressItem& Found) const {
  const int Count = FNames->EntryCount();
  int Start = FSelectedRow + 1;
  if (Start > Count) Start = 1;  // from the last entry or the new-entry row, the scan wraps at once
  auto SameNames = [&](int Row) {
    return FNames->Cell(Row, 0) == Found.Surname.str() && FNames->Cell(Row, 1) == Found.FirstName.str();
  };
  for (int Step = 0, Row = Start; Step < Count; ++Step, Row = Row == Count ? 1 : Row + 1)
    if (FNames->Item(Row) == &Found) {
      if (SameNames(Row)) return Row;
      break;
    }
  for (int Step = 0, Row = Start; Step < Count; ++Step, Row = Row == Count ? 1 : Row + 1)
    if (SameNames(Row)) return Row;
  return 0;
}

void TfrmMain::LocateCurrentNode() {
  const bool Was = QuietUpdate;
  QuietUpdate = true;
  TAddressItem* Found = FSearch.FoundEntry();
  if (const int Row = Found ? FoundEntryRow(*Found) : 0) {
    SelectRow(Row);
    grdNamesClick();  // quietly: the page and the focus stay with the matched field
    QWidget* Focused = focusWidget();
    if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
      if (Edit->property("Tag").toInt() != 1) tabDetails->setCurrentIndex(FSearch.FoundPage);
      Edit->setSelection(FSearch.FoundSelStart, FSearch.FoundSelLength);
    } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
      tabDetails->setCurrentIndex(FSearch.FoundPage);
      const int Last = Memo->document()->characterCount() - 1;
      QTextCursor Cursor = Memo->textCursor();
      Cursor.setPosition(std::min(FSearch.FoundSelStart, Last));
      Cursor.setPosition(std::min(FSearch.FoundSelStart + FSearch.FoundSelLength, Last), QTextCursor::KeepAnchor);
      Memo->setTextCursor(Cursor);
    }
  }
  QuietUpdate = Was;
}

// ---------------------------------------------------------------------------
// File commands

bool TfrmMain::OpenBook(const QString& FileName) {
  auto Loaded = std::make_unique<TAddressBook>(this);
  TLoadResult Result;
  try {
    TWaitCursor Hourglass;
    Result = Loaded->LoadFromFile(Std(FileName));
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
  const EAnswer Answer =
      Prompter().Question(this, QStringLiteral("Save changes to\n\n") + Q(FBook->DisplayName()));
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
    Prompter().Error(this, NameWithoutFolder(Chosen) + QStringLiteral("\n\n") + QString::fromLatin1(NotABookText));
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
    Prompter().Error(this, NameWithoutFolder(Name) + QStringLiteral("\n\n") + QString::fromLatin1(NotABookText));
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

// ---------------------------------------------------------------------------
// About box

void TfrmMain::mnuHAboutClick() {
  UpdateCurrent();
  // Built for each use, unlike the other dialogs.
  TfrmAbout About(this);
  About.exec();
}

void TfrmMain::ShowHelpContext(int Context) {
  if (!FHelpFile.isEmpty()) HelpService().ShowContext(FHelpFile, Context);
}

void TfrmMain::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_F1 && Event->modifiers() == Qt::NoModifier) {
    ShowHelpContext(property(HelpContextProperty).toInt());
    return;
  }
  QMainWindow::keyPressEvent(Event);
}

bool TfrmMain::eventFilter(QObject* Watched, QEvent* Event) {
  if (auto* Menu = qobject_cast<QMenu*>(Watched)) {
    if (Event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(Event)->key() == Qt::Key_F1) {
      QAction* Active = Menu->activeAction();
      const int Context = (Active ? Active : Menu->menuAction())->property(HelpContextProperty).toInt();
      Menu->close();
      ShowHelpContext(Context);
      return true;
    }
    return false;
  }
  if (Event->type() == QEvent::ShortcutOverride) {
    // Menu shortcuts take their keys before the edits do: the Edit menu's
    // commands commit the entry as their handlers say, and the edits' own
    // bindings on this desktop (Ctrl+E to the line's end, Ctrl+D to delete)
    // must not swallow Add New or the Dialer.
    const auto* Key = static_cast<QKeyEvent*>(Event);
    const QKeySequence Pressed(Key->keyCombination());
    for (QAction* Action : menuBar()->findChildren<QAction*>())
      if (!Action->shortcut().isEmpty() && Action->shortcut() == Pressed) return true;
    return false;
  }
  if (Watched == edtSurname && Event->type() == QEvent::KeyPress) {
    const int Key = static_cast<QKeyEvent*>(Event)->key();
    if (Key == Qt::Key_Up || Key == Qt::Key_Down) {
      edtSurnameKeyDown(Key);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Telephony

int TfrmMain::ModemPort() const { return ::ModemPort(); }
void TfrmMain::SetModemPort(int Port) { ::SetModemPort(Port); }

void TfrmMain::mnuODetectMODEMSClick() {
  // Forget the modem, so that every port is tested again.
  SetModemPort(-1);
  if (FModemDetect) FModemDetect->exec();
  EnableControls();
}

void TfrmMain::mnuMAutoDetModemClick(bool Checked) {
  // The tick is the action's own; commit before the toggle takes effect.
  mnuOAutoDetectMODEMS->setChecked(!Checked);
  UpdateCurrent();
  mnuOAutoDetectMODEMS->setChecked(Checked);
}

void TfrmMain::mnuODiallingClick() {
  UpdateCurrent();
  if (FDiallingOpt) FDiallingOpt->exec();
  // The extension button follows "Allow Extension Dialling" at once.
  UpdateCurrent();
}

void TfrmMain::mnuOOutsideLineClick() {
  if (FOutsideLine) FOutsideLine->exec();
}

void TfrmMain::spdbtnDialClick(QToolButton* Button) {
  if (!FDial) return;
  // The numbers as they stand in the edits, saved or not.
  TDialRequest Request;
  Request.DialName = edtFirstName->text() + QLatin1Char(' ') + edtSurname->text();
  Request.NoOutsideLine = false;
  if (tabDetails->currentIndex() == 0) {
    Request.DialLocation = QLatin1String(HomeLocation);
    Request.DialNumber = edtHomeTel->text();
  } else if (Button == spdbtnDial2) {
    Request.DialLocation = QLatin1String(BusinessLocation);
    Request.DialNumber = edtBusTel->text();
  } else if (Button == spdbtnDial3) {
    Request.DialLocation = QLatin1String(ExtensionLocation);
    Request.DialNumber = edtBusExtn->text();
    Request.NoOutsideLine = true;
  } else if (Button == spdbtnDial4) {
    Request.DialLocation = QLatin1String(MobileLocation);
    Request.DialNumber = edtMobile->text();
  } else {
    return;
  }
  ShowDialWindow(Request);
  // A failed modem reset may have cleared the modem port.
  EnableControls();
}

// ---------------------------------------------------------------------------
// Printing

void TfrmMain::mnuFPrinterSetupClick() {
  UpdateCurrent();
  PrinterSetup().Setup(this);
}

void TfrmMain::mnuFPrintClick() {
  UpdateCurrent();
  if (FPrintAddresses && FBook->Items->Count > 0) FPrintAddresses->Execute(*FBook);
}

// ---------------------------------------------------------------------------
// Contacts in and out: vCard and CSV files of other contact tools

QString ImportedText(const QString& FileName, int Entries, int ValuesCut) {
  QString Text = Entries == 0 ? QStringLiteral("No entries were found in %1.").arg(FileName)
                 : Entries == 1 ? QStringLiteral("1 entry was imported from %1.").arg(FileName)
                                : QStringLiteral("%1 entries were imported from %2.").arg(Entries).arg(FileName);
  if (ValuesCut == 1)
    Text += QStringLiteral("\n\n1 value was longer than its field holds and was cut.");
  else if (ValuesCut > 1)
    Text += QStringLiteral("\n\n%1 values were longer than their fields hold and were cut.").arg(ValuesCut);
  return Text;
}

QString ImportErrorText(const QString& FileName, int Line, const QString& Problem) {
  return QStringLiteral("%1\n\nLine %2: %3.\n\nNothing was imported.").arg(FileName).arg(Line).arg(Problem);
}

void TfrmMain::mnuFImportClick() {
  UpdateCurrent();
  TFileDialogOptions Options;
  Options.Title = QStringLiteral("Import");
  Options.Filter = QStringLiteral("Contacts (*.vcf *.vcard *.csv);;vCard Files (*.vcf *.vcard);;"
                                  "CSV Files (*.csv);;All Files (*)");
  Options.Folder = ProgramFolder();
  const QString Chosen = FileDialogs().OpenFile(this, Options);
  if (Chosen.isEmpty()) return;
  const QString Name = NameWithoutFolder(Chosen);
  TImported Imported;
  try {
    TWaitCursor Hourglass;
    const std::string Text = ReadContactsFile(Std(Chosen));
    Imported = ReadContacts(Text, GuessContactFormat(Std(Chosen), Text));
  } catch (const EFileError& Error) {
    Prompter().Error(this, Q(Error.what()));
    return;
  } catch (const EImportError& Error) {
    Prompter().Error(this, ImportErrorText(Name, Error.Line, Q(Error.Problem)));
    return;
  }
  const int Entries = static_cast<int>(Imported.Items.size());
  if (Entries > 0) {
    TAddressItem* First = Imported.Items.front().get();
    AddAllInOrder(*FBook->Items, Imported.Items);
    FBook->Modified = true;
    BuildNamesList();
    SelectRow(FBook->Items->IndexOf(First) + 1);
    grdNamesClick();
  }
  Prompter().Information(this, ImportedText(Name, Entries, Imported.ValuesCut));
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
  try {
    TWaitCursor Hourglass;
    ExportToFile(*FBook, Format, Std(Chosen));
  } catch (const EFileError& Error) {
    Prompter().Error(this, Q(Error.what()));
  }
}
