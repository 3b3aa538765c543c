#include "SyncConflict.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "Adrbook.h"

namespace {

struct TShownField {
  const char* Caption;
  std::string (*Text)(const TAddressItem&);
};

// In the order the main window shows them.
const TShownField ShownFields[] = {
    {"Surname", [](const TAddressItem& I) { return I.Surname.str(); }},
    {"First Name", [](const TAddressItem& I) { return I.FirstName.str(); }},
    {"Home Telephone", [](const TAddressItem& I) { return I.HomeTelephone.str(); }},
    {"Home Address", [](const TAddressItem& I) { return I.HomeAddress.Text(); }},
    {"Work Telephone", [](const TAddressItem& I) { return I.BusTelephone.str(); }},
    {"Extension", [](const TAddressItem& I) { return I.BusExtn.str(); }},
    {"Mobile", [](const TAddressItem& I) { return I.BusMobile.str(); }},
    {"Facsimile", [](const TAddressItem& I) { return I.BusFacsimile.str(); }},
    {"Work Address", [](const TAddressItem& I) { return I.BusAddress.Text(); }},
    {"Notes", [](const TAddressItem& I) { return I.Notes.Text(); }},
};
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
  grdVersions->setHorizontalHeaderLabels(
      {QString(), QStringLiteral("This Computer"), QStringLiteral("Server")});
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
  QString Name = QString::fromStdString(TrimSpaces(Local.FirstName.str() + " " + Local.Surname.str()));
  if (Name.isEmpty()) Name = QStringLiteral("(no name)");
  lblQuestion->setText(QStringLiteral("%1 was changed both on this computer and on the server. The fields "
                                      "that differ are marked. Which version do you want to keep?")
                           .arg(Name));
  QFont Marked = font();
  Marked.setBold(true);
  for (int Row = 0; Row < FieldRows; ++Row) {
    const std::string Here = ShownFields[Row].Text(Local);
    const std::string There = ShownFields[Row].Text(Server);
    const bool Differs = Here != There;
    for (int Column : {0, 1, 2}) {
      QTableWidgetItem* Item = grdVersions->item(Row, Column);
      if (!Item) grdVersions->setItem(Row, Column, Item = new QTableWidgetItem);
      if (Column > 0) Item->setText(QString::fromStdString(Column == 1 ? Here : There));
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
