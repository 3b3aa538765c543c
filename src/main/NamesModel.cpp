#include "NamesModel.h"

#include "Adrbook.h"
#include "NameOrder.h"

namespace {
const std::string Empty;
}

void TNamesModel::Rebuild(const TMyLinkList& Items) {
  beginResetModel();
  Rows.clear();
  Rows.reserve(static_cast<size_t>(Items.Count));
  SurnameCells.clear();
  FirstNameCells.clear();
  TListNode* Cursor;
  TLinkList::ResetCursor(Cursor);
  while (Items.MoveNext(Cursor)) Rows.push_back(static_cast<TAddressItem*>(Cursor));
  endResetModel();
}

TAddressItem* TNamesModel::Item(int GridRow) const {
  if (GridRow < 1 || GridRow > EntryCount()) return nullptr;
  return Rows[static_cast<size_t>(GridRow - 1)];
}

std::string_view TNamesModel::Cell(int GridRow, int Column) const {
  const TAddressItem* Entry = Item(GridRow);
  if (!Entry) return Empty;
  const auto& Overrides = Column == 0 ? SurnameCells : FirstNameCells;
  if (!Overrides.empty()) {
    auto Found = Overrides.find(GridRow);
    if (Found != Overrides.end()) return Found->second;
  }
  return Column == 0 ? Entry->Surname.str() : Entry->FirstName.str();
}

void TNamesModel::SetCell(int GridRow, int Column, const std::string& Text) {
  if (!Item(GridRow) || Column < 0 || Column > 1) return;
  (Column == 0 ? SurnameCells : FirstNameCells)[GridRow] = Text;
  const QModelIndex At = index(GridRow - 1, Column);
  emit dataChanged(At, At);
}

void TNamesModel::KeepCells(int GridRow, const std::string& Surname, const std::string& FirstName) {
  const TAddressItem* Entry = Item(GridRow);
  if (!Entry) return;
  // Only a cell that differs from its entry needs a text of its own.
  auto Keep = [GridRow](std::unordered_map<int, std::string>& Cells, const std::string& Text, std::string_view Stored) {
    if (Text == Stored) Cells.erase(GridRow);
    else Cells[GridRow] = Text;
  };
  Keep(SurnameCells, Surname, Entry->Surname.str());
  Keep(FirstNameCells, FirstName, Entry->FirstName.str());
}

int TNamesModel::FindLetter(int Start, char Letter) const {
  if (Start < 1) Start = 1;
  const TNameOrder& Order = TNameOrder::Current();
  for (int Row = Start; Row <= EntryCount(); ++Row) {
    if (Order.UnderLetter(Cell(Row, 0), Letter)) return Row;
  }
  return 0;
}

int TNamesModel::FindSurname(const std::string& Surname) const {
  for (int Row = 1; Row <= EntryCount(); ++Row)
    if (Cell(Row, 0) == Surname) return Row;
  return NewEntryRow();
}

int TNamesModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : EntryCount() + 1; }

int TNamesModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : 2; }

QVariant TNamesModel::data(const QModelIndex& Index, int Role) const {
  if (Role != Qt::DisplayRole || !Index.isValid()) return {};
  const QString Name = QString::fromUtf8(Cell(Index.row() + 1, Index.column()));
  if (OnShown && !Name.isEmpty()) OnShown(Name);
  return Name;
}

QVariant TNamesModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Role != Qt::DisplayRole || Orientation != Qt::Horizontal) return {};
  if (Section == 0) return QStringLiteral("Surname");
  if (Section == 1) return QStringLiteral("First Name");
  return {};
}
