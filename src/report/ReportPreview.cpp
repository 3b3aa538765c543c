#include "ReportPreview.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include "FileDialogs.h"
#include "HelpService.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "ReportPainter.h"
#include "WaitCursor.h"

namespace {
constexpr int Gap = 12;  // grey around the paper
}

TPreviewPage::TPreviewPage(const TReportLayout& Layout, QWidget* Parent) : QWidget(Parent), FLayout(Layout) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewPage::Show(int Page, double Scale) {
  FPage = Page;
  FScale = Scale;
  const QSizeF Paper = FLayout.PageSize * Scale;
  setFixedSize(int(Paper.width()) + 2 * Gap, int(Paper.height()) + 2 * Gap);
  update();
}

void TPreviewPage::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  Painter.fillRect(rect(), QColor(128, 128, 128));
  const QSizeF Paper = FLayout.PageSize * FScale;
  Painter.fillRect(QRectF(Gap + 3, Gap + 3, Paper.width(), Paper.height()), QColor(64, 64, 64));
  Painter.fillRect(QRectF(Gap, Gap, Paper.width(), Paper.height()), Qt::white);
  Painter.translate(Gap, Gap);
  Painter.scale(FScale, FScale);
  Painter.setClipRect(QRectF(QPointF(0, 0), FLayout.PageSize));
  PaintReportPage(Painter, FLayout, FPage, logicalDpiY());
}

TReportPreview::TReportPreview(const TReportLayout& Layout, std::function<void(QWidget*)> Print, QWidget* Parent)
    : QDialog(Parent), FLayout(Layout), FPrint(std::move(Print)) {
  setObjectName(QStringLiteral("frmPreview"));
  setWindowTitle(QStringLiteral("Print Preview"));
  setWindowFlag(Qt::WindowMaximizeButtonHint);
  setProperty("HelpContext", PreviewHelpContext);
  QFont Font = font();
  Font.setPointSize(8);
  setFont(Font);

  auto Button = [this](const char* Name, const QString& Caption, const QString& Tip = {}) {
    auto* Made = new QPushButton(Caption, this);
    Made->setObjectName(QLatin1String(Name));
    Made->setToolTip(Tip);
    Made->setAutoDefault(false);
    return Made;
  };
  btnFirst = Button("btnFirst", QStringLiteral("|<"), QStringLiteral("First page"));
  btnPrior = Button("btnPrior", QStringLiteral("<"), QStringLiteral("Previous page"));
  btnNext = Button("btnNext", QStringLiteral(">"), QStringLiteral("Next page"));
  btnLast = Button("btnLast", QStringLiteral(">|"), QStringLiteral("Last page"));
  for (QPushButton* Arrow : {btnFirst, btnPrior, btnNext, btnLast}) Arrow->setFixedWidth(32);
  spnPage = new QSpinBox(this);
  spnPage->setObjectName(QStringLiteral("spnPage"));
  spnPage->setRange(1, std::max(1, Layout.PageCount()));
  spnPage->setKeyboardTracking(false);
  lblPageCount = new QLabel(QStringLiteral("of %1").arg(Layout.PageCount()), this);
  lblPageCount->setObjectName(QStringLiteral("lblPageCount"));
  cboZoom = new QComboBox(this);
  cboZoom->setObjectName(QStringLiteral("cboZoom"));
  cboZoom->addItems({QStringLiteral("Whole Page"), QStringLiteral("Page Width"), QStringLiteral("50%"),
                     QStringLiteral("75%"), QStringLiteral("100%"), QStringLiteral("150%"), QStringLiteral("200%")});
  cboZoom->setCurrentIndex(FZoom);
  cboZoom->setAccessibleName(QStringLiteral("Zoom"));
  btnPrint = Button("btnPrint", QStringLiteral("&Print..."));
  btnSavePdf = Button("btnSavePdf", QStringLiteral("Save as P&DF..."));
  btnClose = Button("btnClose", QStringLiteral("&Close"));

  auto* Bar = new QHBoxLayout;
  Bar->setSpacing(4);
  Bar->addWidget(btnFirst);
  Bar->addWidget(btnPrior);
  auto* PageLabel = new QLabel(QStringLiteral("Pa&ge"), this);
  PageLabel->setBuddy(spnPage);
  Bar->addWidget(PageLabel);
  Bar->addWidget(spnPage);
  Bar->addWidget(lblPageCount);
  Bar->addWidget(btnNext);
  Bar->addWidget(btnLast);
  Bar->addSpacing(12);
  Bar->addWidget(cboZoom);
  Bar->addStretch(1);
  Bar->addWidget(btnPrint);
  Bar->addWidget(btnSavePdf);
  Bar->addWidget(btnClose);

  PageView = new TPreviewPage(Layout, this);
  Scroller = new QScrollArea(this);
  Scroller->setObjectName(QStringLiteral("Scroller"));
  Scroller->setWidget(PageView);
  Scroller->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Scroller->setBackgroundRole(QPalette::Dark);
  Scroller->setFocusPolicy(Qt::NoFocus);
  Scroller->viewport()->installEventFilter(this);

  auto* Layouts = new QVBoxLayout(this);
  Layouts->setContentsMargins(6, 6, 6, 6);
  Layouts->addLayout(Bar);
  Layouts->addWidget(Scroller, 1);

  connect(btnFirst, &QPushButton::clicked, this, [this] { SetPage(0); });
  connect(btnPrior, &QPushButton::clicked, this, [this] { SetPage(FPage - 1); });
  connect(btnNext, &QPushButton::clicked, this, [this] { SetPage(FPage + 1); });
  connect(btnLast, &QPushButton::clicked, this, [this] { SetPage(FLayout.PageCount() - 1); });
  connect(spnPage, &QSpinBox::valueChanged, this, [this](int Value) { SetPage(Value - 1); });
  connect(cboZoom, &QComboBox::currentIndexChanged, this, [this](int Zoom) { SetZoom(Zoom); });
  connect(btnPrint, &QPushButton::clicked, this, [this] {
    if (FPrint) FPrint(this);
  });
  connect(btnSavePdf, &QPushButton::clicked, this, &TReportPreview::btnSavePdfClick);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

  resize(760, 720);
  // At 2x a screen of 1280 x 1024 has 640 x 512 points: the window, its
  // Save as PDF and Close with it, stays within what the screen offers.
  const QWidget* Near = Parent ? Parent->window() : nullptr;
  if (const QScreen* Screen = Near && Near->screen() ? Near->screen() : QGuiApplication::primaryScreen()) {
    const QRect Free = Screen->availableGeometry();
    const QSize Frame(16, 40);  // what a title bar and borders may add
    resize(size().boundedTo(Free.size() - Frame).expandedTo(minimumSizeHint()));
    QRect Place(QPoint(), size());
    Place.moveCenter(Free.center());
    move(Place.topLeft());
  }
  UpdatePageView();
  EnableControls();
  btnClose->setFocus();
}

double TReportPreview::Scale() const {
  const double Screen = logicalDpiY() / UnitsPerInch;
  const QSize Room = Scroller->viewport()->size() - QSize(2 * Gap, 2 * Gap);
  const QSizeF Paper = FLayout.PageSize;
  switch (FZoom) {
    case WholePage:
      return std::max(0.05, std::min(Room.width() / Paper.width(), Room.height() / Paper.height()));
    case PageWidth: {
      // Leave room for the vertical scroll bar the taller page will need.
      const int Bar =
          Scroller->verticalScrollBar()->isVisible() ? 0 : Scroller->verticalScrollBar()->sizeHint().width();
      return std::max(0.05, (Room.width() - Bar) / Paper.width());
    }
    case Percent50:
      return 0.5 * Screen;
    case Percent75:
      return 0.75 * Screen;
    case Percent150:
      return 1.5 * Screen;
    case Percent200:
      return 2.0 * Screen;
    default:
      return Screen;
  }
}

void TReportPreview::SetPage(int Page) {
  Page = std::clamp(Page, 0, std::max(0, FLayout.PageCount() - 1));
  if (Page == FPage && spnPage->value() == Page + 1) return;
  FPage = Page;
  const QSignalBlocker Quiet(spnPage);
  spnPage->setValue(Page + 1);
  UpdatePageView();
  Scroller->verticalScrollBar()->setValue(0);
  EnableControls();
}

void TReportPreview::SetZoom(int Zoom) {
  FZoom = Zoom;
  if (cboZoom->currentIndex() != Zoom) cboZoom->setCurrentIndex(Zoom);
  UpdatePageView();
}

void TReportPreview::UpdatePageView() { PageView->Show(FPage, Scale()); }

void TReportPreview::EnableControls() {
  const int Last = FLayout.PageCount() - 1;
  btnFirst->setEnabled(FPage > 0);
  btnPrior->setEnabled(FPage > 0);
  btnNext->setEnabled(FPage < Last);
  btnLast->setEnabled(FPage < Last);
  btnPrint->setEnabled(bool(FPrint));
}

void TReportPreview::btnSavePdfClick() {
  TFileDialogOptions Options;
  Options.Title = QStringLiteral("Save as PDF");
  Options.Filter = QStringLiteral("PDF Files (*.pdf)");
  Options.DefaultExt = QStringLiteral("pdf");
  Options.Folder = QDir::homePath();
  const QString FileName = FileDialogs().SaveFile(this, Options);
  if (FileName.isEmpty()) return;
  QString Failure;
  {
    TWaitCursor Wait;
    Failure = WriteReportPdf(FLayout, FileName);
  }
  if (!Failure.isEmpty()) Prompter().Error(this, QFileInfo(FileName).fileName() + QStringLiteral("\n") + Failure);
}

void TReportPreview::keyPressEvent(QKeyEvent* Event) {
  const bool Ctrl = Event->modifiers() & Qt::ControlModifier;
  switch (Event->key()) {
    case Qt::Key_PageDown:
      SetPage(FPage + 1);
      return;
    case Qt::Key_PageUp:
      SetPage(FPage - 1);
      return;
    case Qt::Key_Home:
      if (Ctrl) {
        SetPage(0);
        return;
      }
      break;
    case Qt::Key_End:
      if (Ctrl) {
        SetPage(FLayout.PageCount() - 1);
        return;
      }
      break;
    case Qt::Key_F1:
      HelpService().ShowContext(HelpFileName(), PreviewHelpContext);
      return;
    default:
      break;
  }
  QDialog::keyPressEvent(Event);
}

bool TReportPreview::eventFilter(QObject* Watched, QEvent* Event) {
  // The fitting zooms follow the room the page has.
  if (Watched == Scroller->viewport() && Event->type() == QEvent::Resize && (FZoom == WholePage || FZoom == PageWidth))
    UpdatePageView();
  return QDialog::eventFilter(Watched, Event);
}
