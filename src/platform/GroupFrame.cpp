#include "GroupFrame.h"

#include <QPainter>

void TGroupFrame::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  const QFontMetrics Metrics(font());
  const QRect Frame = rect().adjusted(0, Metrics.height() / 2, -1, -1);
  Painter.setPen(palette().color(QPalette::Mid));
  Painter.drawRect(Frame.adjusted(0, 0, -1, -1));
  Painter.setPen(palette().color(QPalette::Light));
  Painter.drawRect(Frame.adjusted(1, 1, 0, 0));
  if (title().isEmpty()) return;
  const QRect Caption(8, 0, Metrics.horizontalAdvance(title()), Metrics.height());
  Painter.fillRect(Caption, palette().window());
  Painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  Painter.drawText(Caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title());
}
