#pragma once

#include <QDialog>
#include <functional>

#include "ReportLayout.h"

class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;

// One page, painted from the layout at each paint: nothing of it is kept.
class TPreviewPage : public QWidget {
public:
  TPreviewPage(const TReportLayout& Layout, QWidget* Parent);
  void Show(int Page, double Scale);

protected:
  void paintEvent(QPaintEvent* Event) override;

private:
  const TReportLayout& FLayout;
  int FPage = 0;
  double FScale = 1;
};

// The pages of a laid-out report on screen, one at a time, painted from the
// layout whenever they are shown: nothing is kept of the pages already seen.
class TReportPreview : public QDialog {
  Q_OBJECT
public:
  // Print: sends the report to the printer; empty disables the Print button.
  TReportPreview(const TReportLayout& Layout, std::function<void(QWidget*)> Print, QWidget* Parent = nullptr);

  int Page() const { return FPage; }
  void SetPage(int Page);
  // Zoom choices: whole page, page width, then fixed percentages.
  enum EZoom { WholePage, PageWidth, Percent50, Percent75, Percent100, Percent150, Percent200 };
  void SetZoom(int Zoom);
  // Device pixels per layout unit at the present zoom.
  double Scale() const;
  void EnableControls();

  QPushButton* btnFirst = nullptr;
  QPushButton* btnPrior = nullptr;
  QSpinBox* spnPage = nullptr;
  QLabel* lblPageCount = nullptr;
  QPushButton* btnNext = nullptr;
  QPushButton* btnLast = nullptr;
  QComboBox* cboZoom = nullptr;
  QPushButton* btnPrint = nullptr;
  QPushButton* btnSavePdf = nullptr;
  QPushButton* btnClose = nullptr;
  QScrollArea* Scroller = nullptr;
  TPreviewPage* PageView = nullptr;

protected:
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void btnSavePdfClick();
  void UpdatePageView();

  const TReportLayout& FLayout;
  std::function<void(QWidget*)> FPrint;
  int FPage = 0;
  int FZoom = PageWidth;
};

// Help topic of the preview window.
constexpr int PreviewHelpContext = 40;
