#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class TAddressItem;
class TMyLinkList;

// The rows of the name index. Grid rows are numbered as the user sees them:
// row 0 is the header, rows 1..n the entries in list order, row n + 1 the
// empty new-entry row. The name cells change when a name edit is left, not
// when the entry is committed, so a cell may differ from its entry either way.
class TNamesModel : public QAbstractTableModel {
  Q_OBJECT
public:
  using QAbstractTableModel::QAbstractTableModel;

  void Rebuild(const TMyLinkList& Items);

  int EntryCount() const { return static_cast<int>(Rows.size()); }
  int NewEntryRow() const { return EntryCount() + 1; }
  int GridRowCount() const { return EntryCount() + 2; }  // with the header
  TAddressItem* Item(int GridRow) const;
  // Column 0 the surname, 1 the first name; empty outside the entry rows.
  std::string_view Cell(int GridRow, int Column) const;
  void SetCell(int GridRow, int Column, const std::string& Text);
  // The entry of that row was committed: its cells go on showing these.
  void KeepCells(int GridRow, const std::string& Surname, const std::string& FirstName);

  // First entry row from Start to n whose surname sorts under Letter (A to
  // Z, accented letters with their base where the language has it so); 0
  // when none.
  int FindLetter(int Start, char Letter) const;
  // First entry row whose surname cell is exactly Surname, else the new-entry row.
  int FindSurname(const std::string& Surname) const;

  // Called with each name the index is about to show.
  std::function<void(const QString& Name)> OnShown;

  int rowCount(const QModelIndex& Parent = {}) const override;
  int columnCount(const QModelIndex& Parent = {}) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

private:
  std::vector<TAddressItem*> Rows;
  std::unordered_map<int, std::string> SurnameCells, FirstNameCells;  // by grid row
};
