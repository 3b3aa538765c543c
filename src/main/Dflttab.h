#pragma once

#include <QDialog>

class QPushButton;
class QTabWidget;

// Chooses the details page that the new-entry row starts on.
class TfrmDefaultTab : public QDialog {
  Q_OBJECT
public:
  explicit TfrmDefaultTab(QWidget* Parent = nullptr);

  int Tab() const;
  void SetTab(int Tab);
  void LoadDefaultTab();
  void SaveDefaultTab();

  QTabWidget* tabDetails = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

  void reject() override;

protected:
  void showEvent(QShowEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

private:
  int FShownTab = 0;  // the page held when the dialog was opened
};
