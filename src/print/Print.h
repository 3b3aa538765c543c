#pragma once

#include <QDialog>
#include <QFont>
#include <vector>

#include "Adrbook.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TEntryRangeModel;
class TListReport;

// The Print Addresses dialog: the range of entries, the header and footer
// texts with their fonts and justification; previews or prints the list report.
class TfrmPrintAddresses : public QDialog {
  Q_OBJECT
public:
  explicit TfrmPrintAddresses(QWidget* Parent = nullptr);
  ~TfrmPrintAddresses() override;

  void SetReport(TListReport* Report) { FReport = Report; }
  // Shows the dialog modally for this book; the dialog's result.
  int Execute(TAddressBook& Book);

  // Fills the list with the entries at list positions First to Last.
  void LoadAddresses(int First, int Last, QComboBox* List);
  void EnableControls();
  void SetReportParameters();
  void cboFromAddressChange();
  void cboToAddressChange();
  void btnHeaderFontClick();
  void btnFooterFontClick();
  void btnPreviewClick();
  void btnOKClick();

  // The justification chosen in a group: 0 left, 1 centre, 2 right.
  static int ItemIndex(const QGroupBox* Group);
  static void SetItemIndex(QGroupBox* Group, int Index);

  QComboBox* cboFromAddress = nullptr;
  QComboBox* cboToAddress = nullptr;
  QLineEdit* edtHeader = nullptr;
  QPushButton* btnHeaderFont = nullptr;
  QGroupBox* HeaderJustify = nullptr;
  QLineEdit* edtFooter = nullptr;
  QPushButton* btnFooterFont = nullptr;
  QGroupBox* FooterJustify = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
  QPushButton* btnPreview = nullptr;
  // The fonts the two font dialogs hold.
  QFont fdlgHeaderFont;
  QFont fdlgFooterFont;

protected:
  void showEvent(QShowEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

private:
  void ChooseFont(QFont& Font, const QString& Title);

  TListReport* FReport = nullptr;
  TAddressBook* FBook = nullptr;
  std::vector<TAddressItem*> FEntries;  // the book's entries by list position
  TEntryRangeModel* FFromModel = nullptr;
  TEntryRangeModel* FToModel = nullptr;
};

extern const char* const DefaultText;  // "$$DEFAULT$$"
constexpr int PrintAddressesHelpContext = 38;
constexpr int MaxPrintFontSize = 16;
// The font dialogs offer no colour or effects and sizes up to 16 pt; what
// Qt's dialog cannot refuse is taken back here.
QFont ClampPrintFont(QFont Font);
