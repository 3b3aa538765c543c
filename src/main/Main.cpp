#include "Main.h"

#include <memory>
#include <stdexcept>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QValidator>

#include "About.h"
#include "CommandLine.h"
#include "Dflttab.h"
#include "DialRequest.h"
#include "GroupFrame.h"
#include "HelpService.h"
#include "MDetect.h"
#include "MainShared.h"
#include "NamesModel.h"
#include "TabFocus.h"
#include "PrinterInfo.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "Settings.h"

using namespace MainWindow;

const char* const BlankSurnameText =
    "Please enter a surname before attempting to enter any other details for the address";
const char* const ReadOnlyText = "This is a read-only file.  Please save to a different file name.";

QString DamagedBookText(const QString& FileName, int EntriesRead) {
  return QStringLiteral(
             "'%1' is damaged or incomplete.  Only the %2 %3 that could be read "
             "have been loaded.")
      .arg(FileName)
      .arg(EntriesRead)
      .arg(EntriesRead == 1 ? QStringLiteral("entry") : QStringLiteral("entries"));
}

namespace {

constexpr int ClientWidth = 602;
constexpr int ClientHeight = 354;

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

// The caption of Control, beside it; a screen reader names the control by it,
// and Alt with its underlined letter puts the caret there.
void AddLabel(QWidget* Control, const QString& Caption, int Left, int Top, int Width = 66) {
  auto* Label = new QLabel(Caption, Control->parentWidget());
  Label->setObjectName(QStringLiteral("lbl") + Control->objectName().mid(3));
  Label->setGeometry(Left, Top, Width, 21);
  Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label->setBuddy(Control);
}

// Capacities count characters (code points), while the edit's own limit counts
// UTF-16 units and would cut a stored name of characters beyond the first plane.
class TCharLimit : public QValidator {
public:
  TCharLimit(int ACapacity, QObject* Parent) : QValidator(Parent), Capacity(ACapacity) {}
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
  // The style's frame loses its top and bottom lines at 1.5x, where they fall
  // between pixels; a border of the palette's own colour is drawn whole.
  Memo->setStyleSheet(ScaledFrameStyle(QStringLiteral("QPlainTextEdit")));
  return Memo;
}

QToolButton* AddDialButton(QWidget* Parent, const char* Name, int Left, int Top, const char* Location) {
  auto* Button = new QToolButton(Parent);
  Button->setObjectName(QLatin1String(Name));
  // A picture says nothing to a screen reader.
  Button->setAccessibleName(QStringLiteral("Dial ") + QLatin1String(Location));
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
    Button->setAccessibleName(QStringLiteral("Go to names starting with ") + Letter);
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
  FNames->OnShown = [this](const QString& Name) { CheckShownName(Name, grdNames->font()); };
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
  // The two columns fill the index: the vertical scroll bar covers the end
  // of the first names rather than bringing a horizontal one with it (the
  // widths are the person's own, kept in the settings).
  grdNames->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
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
  edtSurname = AddEdit(GroupBox1, "edtSurname", 80, 16, 233, 50);
  edtSurname->setProperty("Tag", 1);
  edtFirstName = AddEdit(GroupBox1, "edtFirstName", 80, 40, 233, 50);
  edtFirstName->setProperty("Tag", 1);
  AddLabel(edtSurname, QStringLiteral("&Surname :"), 2, 16, 74);
  AddLabel(edtFirstName, QStringLiteral("First &Name :"), 2, 40, 74);

  tabDetails = new QTabWidget(Client);
  tabDetails->setObjectName(QStringLiteral("tabDetails"));
  tabDetails->setGeometry(270, 72, 325, 249);
  auto* Home = new QWidget;
  auto* Work = new QWidget;
  auto* Notes = new QWidget;
  tabDetails->addTab(Home, QStringLiteral("Home"));
  tabDetails->addTab(Work, QStringLiteral("Work"));
  tabDetails->addTab(Notes, QStringLiteral("Notes"));
  ShowTabFocus(tabDetails, QStringLiteral("Details"));

  edtHomeTel = AddEdit(Home, "edtHomeTel", 80, 24, 201, 50);
  AddLabel(edtHomeTel, QStringLiteral("&Telephone :"), 8, 24);
  spdbtnDial1 = AddDialButton(Home, "spdbtnDial1", 284, 24, HomeLocation);
  memHomeAddress = AddMemo(Home, "memHomeAddress", QRect(80, 64, 225, 73));
  AddLabel(memHomeAddress, QStringLiteral("A&ddress :"), 8, 64);

  edtBusTel = AddEdit(Work, "edtBusTel", 80, 8, 201, 50);
  AddLabel(edtBusTel, QStringLiteral("Tele&phone :"), 8, 8);
  spdbtnDial2 = AddDialButton(Work, "spdbtnDial2", 284, 8, BusinessLocation);
  edtBusExtn = AddEdit(Work, "edtBusExtn", 80, 40, 73, 10);
  AddLabel(edtBusExtn, QStringLiteral("E&xtension :"), 8, 40);
  spdbtnDial3 = AddDialButton(Work, "spdbtnDial3", 156, 40, ExtensionLocation);
  edtMobile = AddEdit(Work, "edtMobile", 80, 72, 201, 50);
  AddLabel(edtMobile, QStringLiteral("&Mobile :"), 8, 72);
  spdbtnDial4 = AddDialButton(Work, "spdbtnDial4", 284, 72, MobileLocation);
  edtBusFax = AddEdit(Work, "edtBusFax", 80, 104, 201, 50);
  AddLabel(edtBusFax, QStringLiteral("Fa&csimile :"), 8, 104);
  memBusAddress = AddMemo(Work, "memBusAddress", QRect(80, 136, 225, 73));
  AddLabel(memBusAddress, QStringLiteral("Add&ress :"), 8, 136);

  memNotes = AddMemo(Notes, "memNotes", QRect(9, 8, 297, 201));
  memNotes->setAccessibleName(QStringLiteral("Notes"));
  grdNames->setAccessibleName(QStringLiteral("Index"));

  // Tab order is the order of creation: the letters A..M then N..Z, the index,
  // the names, the notebook and its pages' controls, then round again.
  // (Reordering with setTabOrder through the notebook, which hands its focus
  // to its tab bar, cut each page off into a ring of its own.)

  for (QLineEdit* Edit : {edtSurname, edtFirstName, edtHomeTel, edtBusTel, edtBusExtn, edtBusFax, edtMobile}) {
    connect(Edit, &QLineEdit::textChanged, this, &TfrmMain::edtSurnameChange);
    Edit->installEventFilter(this);
  }
  for (QLineEdit* Edit : {edtSurname, edtFirstName})
    connect(Edit, &QLineEdit::textChanged, this,
            [this, Edit](const QString& Name) { CheckShownName(Name, Edit->font()); });
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
  mnuFNew =
      AddItem(File, "mnuFNew", QStringLiteral("&New"), 10, QKeySequence(Qt::CTRL | Qt::Key_N), &TfrmMain::mnuFNewClick);
  mnuFOpen = AddItem(File, "mnuFOpen", QStringLiteral("&Open..."), 11, QKeySequence(Qt::CTRL | Qt::Key_O),
                     &TfrmMain::mnuFOpenClick);
  mnuFSave = AddItem(File, "mnuFSave", QStringLiteral("&Save"), 17, QKeySequence(Qt::CTRL | Qt::Key_S),
                     &TfrmMain::mnuFSaveClick);
  mnuFSaveAs = AddItem(File, "mnuFSaveAs", QStringLiteral("Save &As..."), 18, {}, &TfrmMain::mnuFSaveAsClick);
  mnuFImport = AddItem(File, "mnuFImport", QStringLiteral("&Import..."), 190, {}, &TfrmMain::mnuFImportClick);
  mnuFExport = AddItem(File, "mnuFExport", QStringLiteral("&Export..."), 191, {}, &TfrmMain::mnuFExportClick);
  mnuFSync = AddItem(File, "mnuFSync", QStringLiteral("S&ynchronize..."), 192, QKeySequence(Qt::CTRL | Qt::Key_Y),
                     &TfrmMain::mnuFSyncClick);
  File->addSeparator();
  mnuFPrinterSetup =
      AddItem(File, "mnuFPrinterSetup", QStringLiteral("Printer Set&up..."), 2, {}, &TfrmMain::mnuFPrinterSetupClick);
  mnuFPrint = AddItem(File, "mnuFPrint", QStringLiteral("&Print..."), 39, QKeySequence(Qt::CTRL | Qt::Key_P),
                      &TfrmMain::mnuFPrintClick);
  File->addSeparator();
  mnuFDialler = AddItem(File, "mnuFDialler", QStringLiteral("&Dialer..."), 54, QKeySequence(Qt::CTRL | Qt::Key_D),
                        &TfrmMain::mnuFDiallerClick);
  File->addSeparator();
  mnuFExit = AddItem(File, "mnuFExit", QStringLiteral("E&xit"), 44, {}, nullptr);
  connect(mnuFExit, &QAction::triggered, this, [this] {
    UpdateCurrent();
    close();
  });

  QMenu* Edit = AddMenu("mnuEdit", QStringLiteral("&Edit"), 13);
  mnuECut =
      AddItem(Edit, "mnuECut", QStringLiteral("Cu&t"), 19, QKeySequence(Qt::CTRL | Qt::Key_X), &TfrmMain::mnuECutClick);
  mnuECopy = AddItem(Edit, "mnuECopy", QStringLiteral("&Copy"), 20, QKeySequence(Qt::CTRL | Qt::Key_C),
                     &TfrmMain::mnuECopyClick);
  mnuEPaste = AddItem(Edit, "mnuEPaste", QStringLiteral("&Paste"), 21, QKeySequence(Qt::CTRL | Qt::Key_V),
                      &TfrmMain::mnuEPasteClick);
  mnuEDelete = AddItem(Edit, "mnuEDelete", QStringLiteral("&Delete"), 22, QKeySequence(Qt::CTRL | Qt::Key_Delete),
                       &TfrmMain::mnuEDeleteClick);
  Edit->addSeparator();
  SelectAll1 = AddItem(Edit, "SelectAll1", QStringLiteral("Se&lect All"), 23, QKeySequence(Qt::CTRL | Qt::Key_A),
                       &TfrmMain::SelectAll1Click);
  Edit->addSeparator();
  mnuSFind = AddItem(Edit, "mnuSFind", QStringLiteral("&Find..."), 24, QKeySequence(Qt::CTRL | Qt::Key_F),
                     &TfrmMain::mnuSFindClick);
  mnuSFindNext = AddItem(Edit, "mnuSFindNext", QStringLiteral("Find &Next"), 25, QKeySequence(Qt::Key_F3),
                         &TfrmMain::mnuSFindNextClick);
  mnuSFindNext->setEnabled(false);  // until a Find has been run

  QMenu* Address = AddMenu("mnuAddress", QStringLiteral("&Address"), 14);
  mnuAAdd = AddItem(Address, "mnuAAdd", QStringLiteral("&Add New"), 26, QKeySequence(Qt::CTRL | Qt::Key_E),
                    &TfrmMain::mnuAAddClick);
  mnuADelete = AddItem(Address, "mnuADelete", QStringLiteral("De&lete..."), 27, QKeySequence(Qt::CTRL | Qt::Key_R),
                       &TfrmMain::mnuADeleteClick);
  Address->addSeparator();
  mnuAQuickDial = AddItem(Address, "mnuAQuickDial", QStringLiteral("Quick &Dial"), 28,
                          QKeySequence(Qt::CTRL | Qt::Key_Q), &TfrmMain::mnuAQuickDialClick);

  QMenu* Options = AddMenu("mnuOptions", QStringLiteral("&Options"), 15);
  mnuODetectMODEMS = AddItem(Options, "mnuODetectMODEMS", QStringLiteral("&Detect MODEMS..."), 29, {},
                             &TfrmMain::mnuODetectMODEMSClick);
  mnuOAutoDetectMODEMS =
      AddItem(Options, "mnuOAutoDetectMODEMS", QStringLiteral("&Auto Detect MODEMS on Startup"), 30, {}, nullptr);
  mnuOAutoDetectMODEMS->setCheckable(true);
  connect(mnuOAutoDetectMODEMS, &QAction::triggered, this, &TfrmMain::mnuMAutoDetModemClick);
  Options->addSeparator();
  mnuODialling = AddItem(Options, "mnuODialling", QStringLiteral("Dia&ling..."), 31, {}, &TfrmMain::mnuODiallingClick);
  mnuODefaultTab =
      AddItem(Options, "mnuODefaultTab", QStringLiteral("Set Default &Tab..."), 33, {}, &TfrmMain::mnuODefaultTabClick);
  mnuOOutsideLine =
      AddItem(Options, "mnuOOutsideLine", QStringLiteral("&Outside Line..."), 52, {}, &TfrmMain::mnuOOutsideLineClick);

  QMenu* Help = AddMenu("mnuHelp", QStringLiteral("&Help"), 16);
  mnuHContents = AddItem(Help, "mnuHContents", QStringLiteral("&Contents"), 34, QKeySequence(Qt::CTRL | Qt::Key_F1),
                         &TfrmMain::mnuHContentsClick);
  Help->addSeparator();
  mnuHAbout = AddItem(Help, "mnuHAbout", QStringLiteral("&About Tobrinel..."), 37, {}, &TfrmMain::mnuHAboutClick);
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

int TfrmMain::DefaultTab() const { return FDefaultTabDialog ? FDefaultTabDialog->Tab() : FPendingDefaultTab; }

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
