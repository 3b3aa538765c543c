#pragma once

#include <QGroupBox>

// A group box drawn as on the desktop the program came from: an etched frame
// filling its rectangle, its top on the middle of the caption's line, the
// caption on that line. Frames with and without captions line up. Only the
// painting differs from QGroupBox, so layouts inside keep their margins.
class TGroupFrame : public QGroupBox {
public:
  using QGroupBox::QGroupBox;

protected:
  void paintEvent(QPaintEvent* Event) override;
};
