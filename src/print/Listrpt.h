#pragma once

#include <QDateTime>
#include <QFont>
#include <QLocale>
#include <QString>
#include <cstdint>

#include "Adrbook.h"
#include "Report.h"

// What a run of the list report prints: the range, the texts and their fonts.
struct TListReportParameters {
  QString BookName;  // the book's display name; any folder is removed
  QString HeaderText;
  QFont HeaderFont;
  Qt::Alignment HeaderAlignment = Qt::AlignLeft;
  QString FooterText;
  QFont FooterFont;
  Qt::Alignment FooterAlignment = Qt::AlignLeft;
  const TLinkList* Items = nullptr;
  int32_t First = 0;  // list positions, 0-based, First <= Last
  int32_t Last = 0;
  QDateTime Now;  // for the time stamp
};

// The list of addresses: a fixed band layout on A4, filled entry by entry.
class TListReport {
public:
  TListReport();
  TListReport(const TListReport&) = delete;
  TListReport& operator=(const TListReport&) = delete;

  TReport& Report() { return FReport; }

  // Run before every preview and every print.
  void SetReportParameters(const TListReportParameters& Parameters);

  // The record feed and the band callbacks.
  void ReportNeedData(TReport& Sender, bool& More);
  void rbNumberDetailsNeedData(TReportBand& Sender, bool& More);
  void rbAddressDetailsNeedData(TReportBand& Sender, bool& More);
  void rbNotesNeedData(TReportBand& Sender, bool& More);

  TAddressItem* RangeFirst = nullptr;
  TAddressItem* RangeLast = nullptr;
  TAddressItem* RangeNext = nullptr;
  QString LastLetter;  // one character
  bool NumbersDone = false;
  bool AddressesDone = false;
  bool NotesDone = false;

  TReportBand* PageHeaderBand1 = nullptr;
  TReportElement* rlSystemName = nullptr;
  TReportElement* rlAddressBook = nullptr;
  TReportBand* TitleBand1 = nullptr;
  TReportElement* rlHeader = nullptr;
  TReportBand* rbSectionLetter = nullptr;
  TReportElement* rfFrame1 = nullptr;
  TReportElement* rlSectionLetter = nullptr;
  TReportBand* rbNameDetails = nullptr;
  TReportElement* rlName = nullptr;
  TReportBand* rbNumberDetails = nullptr;
  TReportElement* rlHomeTel = nullptr;
  TReportElement* rlWorkTel = nullptr;
  TReportElement* rlExtension = nullptr;
  TReportElement* rlMobile = nullptr;
  TReportElement* rlFax = nullptr;
  TReportBand* rbAddressDetails = nullptr;
  TReportElement* rmHomeAddress = nullptr;
  TReportElement* rmWorkAddress = nullptr;
  TReportBand* rbNotes = nullptr;
  TReportElement* rmNotes = nullptr;
  TReportBand* PageFooterBand1 = nullptr;
  TReportElement* rlFooter = nullptr;
  TReportElement* rlTimeStamp = nullptr;

private:
  TReport FReport;
  const TLinkList* FItems = nullptr;
  int32_t FNextPosition = -1;         // list position of RangeNext
  int32_t FLastPosition = -1;         // list position of RangeLast
  TAddressItem* FPrinting = nullptr;  // the entry the band callbacks fill from
};

// Surname ", " first name; without the comma when either is empty.
QString PrintedName(const TAddressItem& Entry);

// Liberation Sans, which stands in for Arial.
QFont ReportFont(double Points, bool Bold = false, bool Italic = false);
QFont DefaultHeaderFont();  // 16 pt bold
QFont DefaultFooterFont();  // 10 pt bold
// "As of: " date " at " time, in the locale's short date and long time forms.
QString TimeStampText(const QDateTime& Now, const QLocale& Locale = QLocale::system());
