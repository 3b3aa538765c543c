#include "HelpViewer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

namespace {

const QString ContentsAnchor = QStringLiteral("contents");

// A top-level widget must go before the application object does.
void DestroyViewer() { delete THelpViewer::Instance(); }

}  // namespace

QPointer<THelpViewer> THelpViewer::FInstance;

THelpViewer::THelpViewer() : QWidget(nullptr) {
  setObjectName(QStringLiteral("frmHelp"));
  setWindowTitle(QStringLiteral("Tobrinel Help"));
  // An open help window must not keep the program alive after the main window closes.
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(640, 560);

  FContents = new QPushButton(QStringLiteral("&Contents"), this);
  FBack = new QPushButton(QStringLiteral("&Back"), this);
  FForward = new QPushButton(QStringLiteral("&Forward"), this);
  FBrowser = new QTextBrowser(this);
  FBrowser->setAccessibleName(QStringLiteral("Help topic"));
  // Links are followed here so that the history stays in anchors of the one file.
  FBrowser->setOpenLinks(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(FContents);
  buttons->addWidget(FBack);
  buttons->addWidget(FForward);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(buttons);
  layout->addWidget(FBrowser, 1);

  connect(FContents, &QPushButton::clicked, this, [this] { GoContents(); });
  connect(FBack, &QPushButton::clicked, this, [this] { Step(-1); });
  connect(FForward, &QPushButton::clicked, this, [this] { Step(+1); });
  connect(FBrowser, &QTextBrowser::anchorClicked, this, [this](const QUrl& Url) { FollowLink(Url); });
  new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Left), this, [this] { Step(-1); });
  new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Right), this, [this] { Step(+1); });
  new QShortcut(QKeySequence(Qt::Key_Escape), this, [this] { close(); });

  UpdateButtons();
}

THelpViewer* THelpViewer::Instance() { return FInstance.data(); }

THelpViewer* THelpViewer::Obtain() {
  if (!FInstance) {
    FInstance = new THelpViewer;
    static bool cleanupAdded = false;
    if (!cleanupAdded) {
      qAddPostRoutine(DestroyViewer);
      cleanupAdded = true;
    }
  }
  return FInstance.data();
}

void THelpViewer::ShowContents(const QString& HelpFile) { Obtain()->Open(HelpFile, ContentsAnchor); }

void THelpViewer::ShowContext(const QString& HelpFile, int Context) {
  Obtain()->Open(HelpFile, ContextAnchor(Context));
}

QString THelpViewer::CurrentAnchor() const {
  if (!FLoaded || FPosition < 0) return QString();
  return FHistory.at(FPosition);
}

void THelpViewer::Open(const QString& HelpFile, const QString& Anchor) {
  // Reread the file on every request that finds it unread or changed on disk, so that a
  // file put in place after a failed request is found.
  const QString path = QFileInfo(HelpFile).absoluteFilePath();
  const QDateTime stamp = QFileInfo(path).lastModified();
  if (!FLoaded || path != FHelpFile || stamp != FStamp) {
    if (!Load(path)) ShowMissing(path);
  }

  FollowModal();
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();

  if (FLoaded) Navigate(FAnchors.contains(Anchor) ? Anchor : ContentsAnchor, true);
}

bool THelpViewer::Load(const QString& Path) {
  FHelpFile = Path;
  FLoaded = false;
  FAnchors.clear();
  FHistory.clear();
  FPosition = -1;

  QFile file(Path);
  if (!file.open(QIODevice::ReadOnly)) {
    UpdateButtons();
    return false;
  }
  const QString html = QString::fromUtf8(file.readAll());
  FStamp = QFileInfo(Path).lastModified();
  FBrowser->setSearchPaths({QFileInfo(Path).absolutePath()});
  FBrowser->setHtml(html);
  FLoaded = true;
  CollectAnchors();
  UpdateButtons();
  return true;
}

void THelpViewer::ShowMissing(const QString& Path) {
  FBrowser->setHtml(
      QStringLiteral("<p>The help file could not be found:</p><p><b>%1</b></p>").arg(Path.toHtmlEscaped()));
  UpdateButtons();
}

void THelpViewer::CollectAnchors() {
  // Qt keeps a name of an empty <a name> on the text that follows it, so every fragment
  // is asked.
  const QTextDocument* doc = FBrowser->document();
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      for (const QString& name : fragment.charFormat().anchorNames()) FAnchors.insert(name);
    }
  }
}

void THelpViewer::Navigate(const QString& Anchor, bool Record) {
  if (Record && (FPosition < 0 || FHistory.at(FPosition) != Anchor)) {
    // A new visit drops the pages that Forward would have returned to.
    while (FHistory.size() > FPosition + 1) FHistory.removeLast();
    FHistory.append(Anchor);
    FPosition = FHistory.size() - 1;
  }
  if (Anchor == ContentsAnchor) FBrowser->verticalScrollBar()->setValue(0);
  else FBrowser->scrollToAnchor(Anchor);
  UpdateButtons();
}

void THelpViewer::GoContents() {
  if (FLoaded) Navigate(ContentsAnchor, true);
}

void THelpViewer::Step(int Direction) {
  const qsizetype target = FPosition + Direction;
  if (!FLoaded || target < 0 || target >= FHistory.size()) return;
  FPosition = target;
  Navigate(FHistory.at(FPosition), false);
}

void THelpViewer::FollowLink(const QUrl& Url) {
  const bool inFile = Url.isRelative() && Url.path().isEmpty() && Url.hasFragment();
  if (inFile) {
    if (FLoaded && FAnchors.contains(Url.fragment())) Navigate(Url.fragment(), true);
    return;
  }
  QDesktopServices::openUrl(Url);
}

bool THelpViewer::event(QEvent* Event) {
  // A dialog opened while the help is up would block it too.
  if (Event->type() == QEvent::WindowBlocked) FollowModal();
  return QWidget::event(Event);
}

void THelpViewer::FollowModal() {
  // A modal dialog blocks every window but its own, so the help becomes a
  // window of the dialog on top; the dialog's keys stay the dialog's.
  QWidget* Modal = QApplication::activeModalWidget();
  if (Modal == this) return;
  if (!windowHandle()) create();
  QWindow* Owner = Modal ? Modal->window()->windowHandle() : nullptr;
  if (windowHandle()->transientParent() != Owner) windowHandle()->setTransientParent(Owner);
}

void THelpViewer::UpdateButtons() {
  FContents->setEnabled(FLoaded);
  FBack->setEnabled(FLoaded && FPosition > 0);
  FForward->setEnabled(FLoaded && FPosition + 1 < FHistory.size());
}
