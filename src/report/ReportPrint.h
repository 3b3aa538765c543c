#pragma once

#include "Report.h"
#include "ReportLayout.h"

class QPrinter;
class QWidget;

enum class EPrintResult { Printed, Cancelled, NoPrinter, Failed };

// Sends the pages to the printer, with a progress window whose Cancel stops
// the job. The printer is set to the layout's paper, without margins.
EPrintResult PrintLayout(const TReportLayout& Layout, QPrinter& Printer, QWidget* Parent);

// Sends the pages to the printer chosen in the printer set-up, without asking;
// with no usable printer nothing is printed, and an error box says why.
EPrintResult PrintToChosenPrinter(const TReportLayout& Layout, QWidget* Parent);

// Runs the report and prints it on the chosen printer.
EPrintResult PrintReport(TReport& Report, QWidget* Parent);

// Runs the report and shows it in the preview window, from which it can be
// printed; returns when the window closes.
void PreviewReport(TReport& Report, QWidget* Parent);
