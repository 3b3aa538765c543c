#include "FontDialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <climits>
#include <cstdlib>

namespace {

// The font dialog of the program's own: family, style and size, with only the
// sizes the caller will use and no colour or effects to offer (Qt's dialog
// offers every size and cannot hide its effects).
class TFontChooser : public QDialog {
public:
  TFontChooser(const QFont& Font, const TFontDialogOptions& Options, QWidget* Parent)
      : QDialog(Parent), FOptions(Options) {
    setObjectName(QStringLiteral("frmFont"));
    setWindowTitle(Options.Title.isEmpty() ? QStringLiteral("Font") : Options.Title);

    lstFamily = AddList("lstFamily");
    lstStyle = AddList("lstStyle");
    lstSize = AddList("lstSize");
    lstFamily->setMinimumWidth(180);
    lstStyle->setMinimumWidth(110);
    lstSize->setFixedWidth(60);
    lblSample = new QLabel(QStringLiteral("AaBbYyZz"), this);
    lblSample->setObjectName(QStringLiteral("lblSample"));
    lblSample->setAlignment(Qt::AlignCenter);
    lblSample->setFixedHeight(40);

    auto* Lists = new QGridLayout;
    const std::pair<const char*, QListWidget*> Columns[] = {
        {"&Font:", lstFamily}, {"Font st&yle:", lstStyle}, {"&Size:", lstSize}};
    int Column = 0;
    for (const auto& [Caption, List] : Columns) {
      auto* Label = new QLabel(QLatin1String(Caption), this);
      Label->setBuddy(List);
      // A list is not named by its label for a screen reader.
      List->setAccessibleName(Label->text().remove(QLatin1Char('&')).chopped(1));
      Lists->addWidget(Label, 0, Column);
      Lists->addWidget(List, 1, Column++);
    }
    auto* Sample = new QGroupBox(QStringLiteral("Sample"), this);
    (new QVBoxLayout(Sample))->addWidget(lblSample);
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    Buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    auto* Layout = new QVBoxLayout(this);
    Layout->addLayout(Lists);
    Layout->addWidget(Sample);
    Layout->addWidget(Buttons);

    for (const QString& Family : QFontDatabase::families())
      if (!QFontDatabase::isPrivateFamily(Family) &&
          (!Options.ScalableOnly || QFontDatabase::isSmoothlyScalable(Family)))
        lstFamily->addItem(Family);

    connect(lstFamily, &QListWidget::currentRowChanged, this, [this] { FillStyles(); });
    connect(lstStyle, &QListWidget::currentRowChanged, this, [this] { FillSizes(); });
    connect(lstSize, &QListWidget::currentRowChanged, this, [this] { ShowSample(); });
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // Start at the caller's font, as near as the lists allow.
    const QFontInfo Info(Font);
    FWantedWeight = Info.weight();
    FWantedItalic = Info.italic();
    FWantedSize = Font.pointSizeF() > 0 ? Font.pointSizeF() : Info.pointSizeF();
    QList<QListWidgetItem*> Found = lstFamily->findItems(Font.family(), Qt::MatchFixedString);
    if (Found.isEmpty()) Found = lstFamily->findItems(Info.family(), Qt::MatchFixedString);
    if (!Found.isEmpty()) lstFamily->setCurrentItem(Found.first());
    else if (lstFamily->count() > 0) lstFamily->setCurrentRow(0);
    lstFamily->setFocus();
  }

  QFont Chosen() const {
    if (!lstFamily->currentItem() || !lstStyle->currentItem() || !lstSize->currentItem()) return QFont();
    return QFontDatabase::font(lstFamily->currentItem()->text(), lstStyle->currentItem()->text(),
                               lstSize->currentItem()->text().toInt());
  }
  bool Complete() const { return lstFamily->currentItem() && lstStyle->currentItem() && lstSize->currentItem(); }

private:
  QListWidget* AddList(const char* Name) {
    auto* List = new QListWidget(this);
    List->setObjectName(QLatin1String(Name));
    return List;
  }

  // Styles are matched by weight and slant, as their names differ from family to family.
  void FillStyles() {
    if (lstFamily->currentItem() && lstStyle->currentItem()) {
      FWantedWeight = QFontDatabase::weight(FStylesOf, lstStyle->currentItem()->text());
      FWantedItalic = QFontDatabase::italic(FStylesOf, lstStyle->currentItem()->text());
    }
    const QSignalBlocker Quiet(lstStyle);
    lstStyle->clear();
    if (!lstFamily->currentItem()) return;
    FStylesOf = lstFamily->currentItem()->text();
    int Best = 0, BestDistance = INT_MAX;
    for (const QString& Style : QFontDatabase::styles(FStylesOf)) {
      lstStyle->addItem(Style);
      const int Distance = std::abs(QFontDatabase::weight(FStylesOf, Style) - FWantedWeight) +
                           (QFontDatabase::italic(FStylesOf, Style) != FWantedItalic ? 1000 : 0);
      if (Distance < BestDistance) {
        BestDistance = Distance;
        Best = lstStyle->count() - 1;
      }
    }
    lstStyle->setCurrentRow(Best);
    FillSizes();
  }

  void FillSizes() {
    if (lstSize->currentItem()) FWantedSize = lstSize->currentItem()->text().toDouble();
    const QSignalBlocker Quiet(lstSize);
    lstSize->clear();
    if (!lstFamily->currentItem() || !lstStyle->currentItem()) return;
    const QString Family = lstFamily->currentItem()->text();
    const QString Style = lstStyle->currentItem()->text();
    const QList<int> Sizes = QFontDatabase::isSmoothlyScalable(Family, Style)
                                 ? QFontDatabase::standardSizes()
                                 : QFontDatabase::pointSizes(Family, Style);
    // The nearest size offered at or below the one wanted, else the smallest.
    int Pick = -1;
    for (int Size : Sizes) {
      if (FOptions.MaxPointSize > 0 && Size > FOptions.MaxPointSize) continue;
      lstSize->addItem(QString::number(Size));
      if (Size <= FWantedSize + 0.01 || Pick < 0) Pick = lstSize->count() - 1;
    }
    lstSize->setCurrentRow(Pick);
    ShowSample();
  }

  void ShowSample() {
    if (Complete()) lblSample->setFont(Chosen());
  }

  const TFontDialogOptions FOptions;
  QString FStylesOf;  // the family the style list was filled for
  int FWantedWeight = QFont::Normal;
  bool FWantedItalic = false;
  double FWantedSize = 0;
  QListWidget* lstFamily = nullptr;
  QListWidget* lstStyle = nullptr;
  QListWidget* lstSize = nullptr;
  QLabel* lblSample = nullptr;
};

class TQtFontDialogs : public IFontDialogs {
public:
  bool ChooseFont(QWidget* Parent, QFont& Font, const TFontDialogOptions& Options) override {
    TFontChooser Dialog(Font, Options, Parent);
    if (Dialog.exec() != QDialog::Accepted || !Dialog.Complete()) return false;
    Font = Dialog.Chosen();
    return true;
  }
};

TQtFontDialogs RealDialogs;
IFontDialogs* Installed = nullptr;

}  // namespace

IFontDialogs& FontDialogs() { return Installed ? *Installed : RealDialogs; }
void SetFontDialogs(IFontDialogs* Replacement) { Installed = Replacement; }
