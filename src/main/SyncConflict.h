#pragma once

#include <vector>

#include "FixedDialog.h"

class QLabel;
class QPushButton;
class QTableWidget;
class TAddressItem;

enum class ESyncChoice { KeepBoth, KeepLocal, KeepServer };

// An entry changed differently here and on the server: both versions side by
// side, field by field, the fields changed differently on both sides marked
// and those changed on one side merged into both; the person keeps both,
// this computer's or the server's. Cancel stops the whole sync.
class TfrmSyncConflict : public TFixedDialog {
  Q_OBJECT
public:
  explicit TfrmSyncConflict(QWidget* Parent = nullptr);

  void ShowVersions(const TAddressItem& Local, const TAddressItem& Server);
  // Only the Conflicts (ESyncField values) are marked; the fields merged
  // from one side say so in their caption.
  void ShowVersions(const TAddressItem& Local, const TAddressItem& Server, const std::vector<int>& Conflicts,
                    const std::vector<int>& FromHere, const std::vector<int>& FromServer);
  ESyncChoice Choice() const { return FChoice; }
  // The rows whose values differ (0 Surname ... 9 Notes), for the tests.
  std::vector<int> MarkedRows() const;

  QLabel* lblQuestion = nullptr;
  QTableWidget* grdVersions = nullptr;
  QPushButton* btnKeepBoth = nullptr;
  QPushButton* btnKeepLocal = nullptr;
  QPushButton* btnKeepServer = nullptr;
  QPushButton* btnCancel = nullptr;

protected:
  void changeEvent(QEvent* Event) override;

private:
  void Choose(ESyncChoice Choice);
  void PaintMarks();
  ESyncChoice FChoice = ESyncChoice::KeepBoth;
};
