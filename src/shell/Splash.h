#pragma once

#include <QWidget>

class QLabel;

// Shown while the program starts: the product, its version and copyright.
class TfrmSplash : public QWidget {
  Q_OBJECT
public:
  explicit TfrmSplash(QWidget* Parent = nullptr);

  QLabel* lblProduct = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblCopyright = nullptr;

protected:
  // FormShow: the texts read at start-up.
  void showEvent(QShowEvent* Event) override;
};

// The product line of the splash and the About box.
extern const char* const ProductText;
// "Version - " and the file version, as both windows show it.
QString VersionLine();
