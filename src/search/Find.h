#pragma once

#include <QDialog>

#include "Dofind.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

// The search text and its rules. Made once at start-up; its controls keep
// their state for the whole run and are never stored in the settings.
class TfrmFind : public QDialog, public ISearchCriteria {
  Q_OBJECT
public:
  explicit TfrmFind(QWidget* Parent = nullptr);

  void EnableControls();
  bool ValidSearch();

  // ISearchCriteria: the controls as they stand.
  std::string SearchText() const override;
  bool Checked(ESearchBox Box) const override;
  QCheckBox* Box(ESearchBox Which) const;

  QGroupBox* grpWhat = nullptr;
  QGroupBox* grpHow = nullptr;
  QGroupBox* grpWhere = nullptr;
  QLineEdit* cboSearchString = nullptr;
  QCheckBox* chkMatchCase = nullptr;
  QCheckBox* chkWholeWords = nullptr;
  QCheckBox* chkAnyField = nullptr;
  QCheckBox* chkNotes = nullptr;
  QCheckBox* chkNames = nullptr;
  QCheckBox* chkSurname = nullptr;
  QCheckBox* chkFirstName = nullptr;
  QCheckBox* chkNumbers = nullptr;
  QCheckBox* chkHomeNo = nullptr;
  QCheckBox* chkWorkNo = nullptr;
  QCheckBox* chkMobileNo = nullptr;
  QCheckBox* chkFaxNo = nullptr;
  QCheckBox* chkExtension = nullptr;
  QCheckBox* chkAddresses = nullptr;
  QCheckBox* chkHomeAddress = nullptr;
  QCheckBox* chkWorkAddress = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

protected:
  void showEvent(QShowEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

private:
  void btnOKClick();
  bool Refuse(const char* Text, QWidget* Focus);
};

extern const char* const NoSearchTextText;
extern const char* const NoWhereText;
extern const char* const NoNamesText;
extern const char* const NoNumbersText;
extern const char* const NoAddressesText;
