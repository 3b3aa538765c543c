#include "TabFocus.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionTab>
#include <QTabBar>
#include <QTabWidget>

namespace {

class TTabFocusStyle : public QProxyStyle {
public:
  using QProxyStyle::QProxyStyle;
  void drawControl(ControlElement Element, const QStyleOption* Option, QPainter* Painter,
                   const QWidget* Widget) const override {
    QProxyStyle::drawControl(Element, Option, Painter, Widget);
    if (Element != CE_TabBarTabLabel || !(Option->state & State_HasFocus)) return;
    // A frame round the caption, two pixels of the highlight: seen in light
    // and dark themes alike, and never only a dotted hint.
    const QRect Text = subElementRect(SE_TabBarTabText, Option, Widget).adjusted(-3, 1, 3, -1);
    Painter->save();
    Painter->setPen(QPen(Option->palette.color(QPalette::Highlight), 2));
    Painter->setBrush(Qt::NoBrush);
    Painter->drawRect(Text);
    Painter->restore();
  }
};

}  // namespace

void ShowTabFocus(QTabWidget* Notebook, const QString& Name) {
  QTabBar* Bar = Notebook->tabBar();
  Bar->setAccessibleName(Name);
  Notebook->setAccessibleName(Name);
  auto* Style = new TTabFocusStyle;  // follows the application's style
  Style->setParent(Bar);
  Bar->setStyle(Style);
}
