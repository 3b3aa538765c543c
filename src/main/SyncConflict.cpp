#include "SyncConflict.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>

#include "Adrbook.h"
#include "SyncFields.h"

namespace {

struct TShownField {
  const char* Caption;
  std::string (*Text)(const TAddressItem&);
  int Field;  // its ESyncField
};

// In the order the main window shows them.
const TShownField ShownFields[] = {
    {"Surname", [](const TAddressItem& I) { return I.Surname.string(); }, sfSurname},
    {"First Name", [](const TAddressItem& I) { return I.FirstName.string(); }, sfFirstName},
    {"Home Telephone", [](const TAddressItem& I) { return I.HomeTelephone.string(); }, sfHomeTelephone},
    {"Home Address", [](const TAddressItem& I) { return I.HomeAddress.Text(); }, sfHomeAddress},
    {"Work Telephone", [](const TAddressItem& I) { return I.BusTelephone.string(); }, sfBusTelephone},
    {"Extension", [](const TAddressItem& I) { return I.BusExtn.string(); }, sfBusExtn},
    {"Mobile", [](const TAddressItem& I) { return I.BusMobile.string(); }, sfBusMobile},
    {"Facsimile", [](const TAddressItem& I) { return I.BusFacsimile.string(); }, sfBusFacsimile},
    {"Work Address", [](const TAddressItem& I) { return I.BusAddress.Text(); }, sfBusAddress},
    {"Notes", [](const TAddressItem& I) { return I.Notes.Text(); }, sfNotes},
};

bool Holds(const std::vector<int>& Fields, int Field) {
  return std::find(Fields.begin(), Fields.end(), Field) != Fields.end();
}
constexpr int FieldRows = int(std::size(ShownFields));

QPushButton* AddButton(QWidget* Parent, const char* Name, const QString& Caption, int Left, int Width) {
  auto* Button = new QPushButton(Caption, Parent);
  Button->setObjectName(QLatin1String(Name));
  Button->setGeometry(Left, 326, Width, 25);
  Button->setAutoDefault(false);
  return Button;
}

}  // namespace

TfrmSyncConflict::TfrmSyncConflict(QWidget* Parent)
    : TFixedDialog("frmSyncConflict", QStringLiteral("Synchronize - Changed on Both Sides"), QSize(568, 360), 192,
                   Parent) {
  lblQuestion = new QLabel(this);
  lblQuestion->setObjectName(QStringLiteral("lblQuestion"));
  lblQuestion->setGeometry(8, 6, 552, 34);
  lblQuestion->setWordWrap(true);
  grdVersions = new QTableWidget(FieldRows, 3, this);
  grdVersions->setObjectName(QStringLiteral("grdVersions"));
  grdVersions->setGeometry(8, 44, 552, 274);
  grdVersions->setHorizontalHeaderLabels({QString(), QStringLiteral("This Computer"), QStringLiteral("Server")});
  grdVersions->verticalHeader()->hide();
  grdVersions->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdVersions->setSelectionMode(QAbstractItemView::NoSelection);
  grdVersions->setFocusPolicy(Qt::NoFocus);
  grdVersions->setWordWrap(true);
  grdVersions->setColumnWidth(0, 112);
  grdVersions->setColumnWidth(1, 212);
  grdVersions->horizontalHeader()->setStretchLastSection(true);
  grdVersions->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int Row = 0; Row < FieldRows; ++Row)
    grdVersions->setItem(Row, 0, new QTableWidgetItem(QString::fromLatin1(ShownFields[Row].Caption)));

  btnKeepBoth = AddButton(this, "btnKeepBoth", QStringLiteral("Keep &Both"), 8, 100);
  btnKeepLocal = AddButton(this, "btnKeepLocal", QStringLiteral("Keep This &Computer's"), 114, 140);
  btnKeepServer = AddButton(this, "btnKeepServer", QStringLiteral("Keep the &Server's"), 260, 120);
  btnCancel = AddButton(this, "btnCancel", QStringLiteral("Cancel"), 485, 75);
  btnKeepBoth->setDefault(true);
  connect(btnKeepBoth, &QPushButton::clicked, this, [this] { Choose(ESyncChoice::KeepBoth); });
  connect(btnKeepLocal, &QPushButton::clicked, this, [this] { Choose(ESyncChoice::KeepLocal); });
  connect(btnKeepServer, &QPushButton::clicked, this, [this] { Choose(ESyncChoice::KeepServer); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmSyncConflict::ShowVersions(const TAddressItem& Local, const TAddressItem& Server) {
  std::vector<int> Differ;
  for (const TShownField& Shown : ShownFields)
    if (Shown.Text(Local) != Shown.Text(Server)) Differ.push_back(Shown.Field);
  ShowVersions(Local, Server, Differ, {}, {});
}

void TfrmSyncConflict::ShowVersions(const TAddressItem& Local, const TAddressItem& Server,
                                    const std::vector<int>& Conflicts, const std::vector<int>& FromHere,
                                    const std::vector<int>& FromServer) {
  QString Name = QString::fromStdString(TrimSpaces(Local.FirstName.string() + " " + Local.Surname.string()));
  if (Name.isEmpty()) Name = QStringLiteral("(no name)");
  lblQuestion->setText(QStringLiteral("%1 was changed both on this computer and on the server. The marked "
                                      "fields differ; a change made on one side only is kept. Which version?")
                           .arg(Name));
  QFont Marked = font();
  Marked.setBold(true);
  for (int Row = 0; Row < FieldRows; ++Row) {
    const std::string Here = ShownFields[Row].Text(Local);
    const std::string There = ShownFields[Row].Text(Server);
    const bool Differs = Holds(Conflicts, ShownFields[Row].Field);
    QString Caption = QString::fromLatin1(ShownFields[Row].Caption);
    if (Holds(FromHere, ShownFields[Row].Field)) Caption += QStringLiteral(" (changed here)");
    if (Holds(FromServer, ShownFields[Row].Field)) Caption += QStringLiteral(" (changed on the server)");
    for (int Column : {0, 1, 2}) {
      QTableWidgetItem* Item = grdVersions->item(Row, Column);
      if (!Item) grdVersions->setItem(Row, Column, Item = new QTableWidgetItem);
      Item->setText(Column == 0 ? Caption : QString::fromStdString(Column == 1 ? Here : There));
      Item->setFont(Differs ? Marked : font());
      Item->setData(Qt::UserRole, Differs);
    }
  }
  PaintMarks();
  grdVersions->resizeRowsToContents();
  grdVersions->scrollToTop();
  FChoice = ESyncChoice::KeepBoth;
}

// The rows that differ in the theme's own highlight, text and fill as a pair,
// so that they read in a dark theme as in a light one.
void TfrmSyncConflict::PaintMarks() {
  const QPalette& Colours = grdVersions->palette();
  for (int Row = 0; Row < FieldRows; ++Row)
    for (int Column : {0, 1, 2}) {
      QTableWidgetItem* Item = grdVersions->item(Row, Column);
      if (!Item) continue;
      const bool Differs = Item->data(Qt::UserRole).toBool();
      Item->setBackground(Differs ? Colours.brush(QPalette::Active, QPalette::Highlight) : QBrush());
      Item->setForeground(Differs ? Colours.brush(QPalette::Active, QPalette::HighlightedText) : QBrush());
    }
}

void TfrmSyncConflict::changeEvent(QEvent* Event) {
  TFixedDialog::changeEvent(Event);
  if (Event->type() == QEvent::PaletteChange && grdVersions) PaintMarks();
}

std::vector<int> TfrmSyncConflict::MarkedRows() const {
  std::vector<int> Rows;
  for (int Row = 0; Row < FieldRows; ++Row)
    if (grdVersions->item(Row, 1) && grdVersions->item(Row, 1)->data(Qt::UserRole).toBool()) Rows.push_back(Row);
  return Rows;
}

void TfrmSyncConflict::Choose(ESyncChoice Choice) {
  FChoice = Choice;
  accept();
}
