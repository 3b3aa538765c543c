#pragma once

#include <QDateTime>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

class QPushButton;
class QTextBrowser;
class QUrl;

// The program's own help window: a text browser over the HTML help file, which holds
// one anchor "ctxN" per help context number and a "contents" anchor at the top.
// One window serves every request; asking again raises it. No modal dialog
// blocks it, so help asked for from a dialog can be read while the dialog waits.
class THelpViewer : public QWidget {
  Q_OBJECT

public:
  static void ShowContents(const QString& HelpFile);
  // An unknown context number opens the contents.
  static void ShowContext(const QString& HelpFile, int Context);

  // The one viewer, or null before the first request.
  static THelpViewer* Instance();

  // The anchor shown last ("contents", "ctx9"); empty when the file could not be read.
  QString CurrentAnchor() const;
  QString HelpFile() const { return FHelpFile; }
  bool FileLoaded() const { return FLoaded; }
  bool HasAnchor(const QString& Name) const { return FAnchors.contains(Name); }
  QTextBrowser* Browser() const { return FBrowser; }
  QPushButton* ContentsButton() const { return FContents; }
  QPushButton* BackButton() const { return FBack; }
  QPushButton* ForwardButton() const { return FForward; }

  static QString ContextAnchor(int Context) { return QStringLiteral("ctx%1").arg(Context); }

protected:
  bool event(QEvent* Event) override;

private:
  THelpViewer();

  static THelpViewer* Obtain();
  void Open(const QString& HelpFile, const QString& Anchor);
  bool Load(const QString& Path);
  void ShowMissing(const QString& Path);
  void CollectAnchors();
  void Navigate(const QString& Anchor, bool Record);
  void GoContents();
  void Step(int Direction);
  void FollowLink(const QUrl& Url);
  void UpdateButtons();
  void FollowModal();

  QTextBrowser* FBrowser = nullptr;
  QPushButton* FContents = nullptr;
  QPushButton* FBack = nullptr;
  QPushButton* FForward = nullptr;
  QString FHelpFile;
  QDateTime FStamp;
  bool FLoaded = false;
  QSet<QString> FAnchors;
  // Anchors visited, for Back and Forward; FPosition is the one shown.
  QStringList FHistory;
  qsizetype FPosition = -1;

  static QPointer<THelpViewer> FInstance;
};
