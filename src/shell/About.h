#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

// The About box: built for each use, shown modally, destroyed when closed.
class TfrmAbout : public QDialog {
  Q_OBJECT
public:
  explicit TfrmAbout(QWidget* Parent = nullptr);

  QLabel* Image1 = nullptr;
  QLabel* lblProduct = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblCopyright = nullptr;
  QFrame* Bevel1 = nullptr;
  QPushButton* Button1 = nullptr;

protected:
  // FormShow: the texts read at start-up.
  void showEvent(QShowEvent* Event) override;
};
