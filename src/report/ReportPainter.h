#pragma once

#include <QString>

#include "ReportLayout.h"

class QIODevice;
class QPainter;
class QPagedPaintDevice;

// Paints one page of a laid-out report. The painter draws in layout units
// from the paper's top-left corner; DeviceDpi is the resolution of the device
// underneath, for which the fonts are sized.
void PaintReportPage(QPainter& Painter, const TReportLayout& Layout, int Page, double DeviceDpi);

// Begins the page on a paged device (a printer, a PDF writer) that was set to
// the layout's paper with no margins: scales the painter to layout units and
// paints.
void PaintReportPageOn(QPainter& Painter, QPagedPaintDevice& Device, const TReportLayout& Layout, int Page);

// Writes every page to a PDF file, replacing it only once the whole file is
// written. Returns what went wrong, or an empty text.
QString WriteReportPdf(const TReportLayout& Layout, const QString& FileName);
// Writes every page as a PDF into Device, opened for writing; written from
// start to end, so a pipe will do. Failures of the device are its own to tell.
QString WriteReportPdf(const TReportLayout& Layout, QIODevice& Device);
