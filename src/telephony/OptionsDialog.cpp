#include "OptionsDialog.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QShowEvent>

void TOptionsDialog::showEvent(QShowEvent* Event) {
  // FormShow: the options as shown, for Cancel.
  FChecks.clear();
  FTexts.clear();
  FChoices.clear();
  for (QAbstractButton* Button : findChildren<QAbstractButton*>())
    if (Button->isCheckable()) FChecks.emplace_back(Button, Button->isChecked());
  for (QLineEdit* Edit : findChildren<QLineEdit*>())
    if (!qobject_cast<QComboBox*>(Edit->parentWidget())) FTexts.emplace_back(Edit, Edit->text());
  for (QComboBox* List : findChildren<QComboBox*>()) FChoices.emplace_back(List, List->currentIndex());
  TFixedDialog::showEvent(Event);
}

void TOptionsDialog::btnCancelClick() {
  // A radio button is unset only by setting another of its group: set ones go last.
  for (const auto& [Button, Checked] : FChecks)
    if (!Checked) Button->setChecked(false);
  for (const auto& [Button, Checked] : FChecks)
    if (Checked) Button->setChecked(true);
  for (const auto& [Edit, Text] : FTexts) Edit->setText(Text);
  for (const auto& [List, Index] : FChoices) List->setCurrentIndex(Index);
  done(QDialog::Rejected);
}

void TOptionsDialog::reject() {
  if (FClosing) TFixedDialog::reject();
  else btnCancelClick();
}

void TOptionsDialog::closeEvent(QCloseEvent* Event) {
  FClosing = true;
  TFixedDialog::closeEvent(Event);
  FClosing = false;
}
