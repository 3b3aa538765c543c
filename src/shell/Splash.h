#pragma once

#include <QWidget>

class QLabel;

// Shown while the program starts: the product, its version and copyright.
class TfrmSplash : public QWidget {
  Q_OBJECT
public:
  explicit TfrmSplash(QWidget* Parent = nullptr);
  void SetTexts(const QString& Product, const QString& Version, const QString& Copyright);

  QLabel* lblProduct = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblCopyright = nullptr;
};
