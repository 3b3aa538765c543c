#include "Listrpt.h"

#include <QFileInfo>
#include <algorithm>

QFont ReportFont(double Points, bool Bold, bool Italic) {
  QFont Font(QStringLiteral("Liberation Sans"));
  Font.setPointSizeF(Points);
  Font.setBold(Bold);
  Font.setItalic(Italic);
  return Font;
}

QFont DefaultHeaderFont() { return ReportFont(16, true); }
QFont DefaultFooterFont() { return ReportFont(10, true); }

QString TimeStampText(const QDateTime& Now, const QLocale& Locale) {
  // The long time form without the time zone some locales add to it.
  QString TimeFormat = Locale.timeFormat(QLocale::LongFormat);
  TimeFormat.remove(QLatin1Char('t'));
  TimeFormat = TimeFormat.trimmed();
  return QStringLiteral("As of: ") + Locale.toString(Now.date(), QLocale::ShortFormat) + QStringLiteral(" at ") +
         Locale.toString(Now.time(), TimeFormat);
}

namespace {

QString Q(std::string_view Text) { return QString::fromUtf8(Text.data(), qsizetype(Text.size())); }

}  // namespace

QString PrintedName(const TAddressItem& Entry) {
  if (Entry.FirstName.empty()) return Q(Entry.Surname);
  if (Entry.Surname.empty()) return Q(Entry.FirstName);
  return Q(Entry.Surname) + QStringLiteral(", ") + Q(Entry.FirstName);
}

namespace {

// The first character of a text, whole even when it is outside the basic plane.
QString FirstCharacter(const QString& Text) {
  if (Text.isEmpty()) return {};
  return Text.left(Text.at(0).isHighSurrogate() && Text.size() > 1 ? 2 : 1);
}

}  // namespace

TListReport::TListReport() {
  TReport& R = FReport;
  R.DefaultFont = ReportFont(10);
  const QFont Plain = ReportFont(10);
  const QFont Bold = ReportFont(10, true);
  const QFont Value = ReportFont(10, true, true);
  auto Label = [](TReportBand* Band, const char* Name, double Left, double Top, const QFont& Font,
                  const QString& Caption = {}, double Width = 0) {
    TReportElement* Made = Band->AddLabel(QLatin1String(Name), Left, Top, Caption);
    Made->SetFont(Font);
    Made->Width = Width;
    return Made;
  };

  PageHeaderBand1 = R.AddBand(EBandKind::PageHeader, QStringLiteral("PageHeaderBand1"), 27);
  rlSystemName = Label(PageHeaderBand1, "rlSystemName", 0, 0, ReportFont(12, true));
  rlAddressBook = Label(PageHeaderBand1, "rlAddressBook", 0, 1, ReportFont(8));
  rlAddressBook->AlignToBand = true;
  rlAddressBook->Alignment = Qt::AlignRight;

  TitleBand1 = R.AddBand(EBandKind::Title, QStringLiteral("TitleBand1"), 35);
  rlHeader = Label(TitleBand1, "rlHeader", 0, 8, DefaultHeaderFont());
  rlHeader->AlignToBand = true;
  rlHeader->WordWrap = true;
  rlHeader->Stretch = true;

  rbSectionLetter = R.AddBand(EBandKind::Detail, QStringLiteral("rbSectionLetter"), 37);
  rfFrame1 = rbSectionLetter->AddFrame(QStringLiteral("rfFrame1"), 0, 1, 721, 26);
  rlSectionLetter = Label(rbSectionLetter, "rlSectionLetter", 8, 5, Bold);

  rbNameDetails = R.AddBand(EBandKind::SubDetail, QStringLiteral("rbNameDetails"), 40);
  rlName = Label(rbNameDetails, "rlName", 8, 13, Bold);

  rbNumberDetails = R.AddBand(EBandKind::SubDetail, QStringLiteral("rbNumberDetails"), 80, rbNameDetails);
  Label(rbNumberDetails, "rlLabel1", 32, 0, Plain, QStringLiteral("Home Phone:"));
  rlHomeTel = Label(rbNumberDetails, "rlHomeTel", 128, 0, Value, {}, 241);
  // The work column's captions end together, just before their values.
  Label(rbNumberDetails, "rlLabel5", 402, 0, Plain, QStringLiteral("Work Phone:"));
  rlWorkTel = Label(rbNumberDetails, "rlWorkTel", 488, 0, Value, {}, 225);
  Label(rbNumberDetails, "rlLabel6", 416, 19, Plain, QStringLiteral("Extension:"));
  rlExtension = Label(rbNumberDetails, "rlExtension", 488, 19, Value, {}, 225);
  Label(rbNumberDetails, "rlLabel7", 436, 38, Plain, QStringLiteral("Mobile:"));
  rlMobile = Label(rbNumberDetails, "rlMobile", 488, 38, Value, {}, 225);
  Label(rbNumberDetails, "rlLabel8", 418, 57, Plain, QStringLiteral("Facsimile:"));
  rlFax = Label(rbNumberDetails, "rlFax", 488, 57, Value, {}, 225);

  rbAddressDetails = R.AddBand(EBandKind::SubDetail, QStringLiteral("rbAddressDetails"), 24, rbNumberDetails);
  Label(rbAddressDetails, "rlLabel2", 32, 0, Plain, QStringLiteral("Home Address:"));
  rmHomeAddress = rbAddressDetails->AddMemo(QStringLiteral("rmHomeAddress"), 128, 0, 225, 17);
  rmHomeAddress->SetFont(Value);
  Label(rbAddressDetails, "rlLabel3", 376, 0, Plain, QStringLiteral("Work Address:"));
  rmWorkAddress = rbAddressDetails->AddMemo(QStringLiteral("rmWorkAddress"), 472, 0, 241, 17);
  rmWorkAddress->SetFont(Value);

  rbNotes = R.AddBand(EBandKind::SubDetail, QStringLiteral("rbNotes"), 24, rbAddressDetails);
  Label(rbNotes, "rlLabel4", 32, 0, Plain, QStringLiteral("Notes:"));
  rmNotes = rbNotes->AddMemo(QStringLiteral("rmNotes"), 128, 0, 585, 17);
  rmNotes->SetFont(Value);

  PageFooterBand1 = R.AddBand(EBandKind::PageFooter, QStringLiteral("PageFooterBand1"), 48);
  rlFooter = Label(PageFooterBand1, "rlFooter", 0, 8, DefaultFooterFont());
  rlFooter->AlignToBand = true;
  rlFooter->WordWrap = true;
  rlFooter->Stretch = true;
  rlTimeStamp = Label(PageFooterBand1, "rlTimeStamp", 0, 27, ReportFont(8));

  // A section letter keeps its first name with it, the name band its numbers,
  // and they their addresses.
  rbSectionLetter->LinkBand = rbNameDetails;
  rbNameDetails->LinkBand = rbNumberDetails;
  rbNumberDetails->LinkBand = rbAddressDetails;

  // Addresses and notes longer than the rest of a page go on on the next,
  // under the entry's name marked as continued.
  auto Continued = [this](TReportBand&) {
    if (const TAddressItem* Entry = FPrinting ? FPrinting : RangeLast)
      rlName->Text = PrintedName(*Entry) + QStringLiteral(" (continued)");
  };
  for (TReportBand* Band : {rbAddressDetails, rbNotes}) {
    Band->OnContinued = Continued;
    Band->ContinuedBand = rbNameDetails;
  }

  R.OnNeedData = [this](TReport& Sender, bool& More) { ReportNeedData(Sender, More); };
  rbNumberDetails->OnNeedData = [this](TReportBand& Sender, bool& More) { rbNumberDetailsNeedData(Sender, More); };
  rbAddressDetails->OnNeedData = [this](TReportBand& Sender, bool& More) { rbAddressDetailsNeedData(Sender, More); };
  rbNotes->OnNeedData = [this](TReportBand& Sender, bool& More) { rbNotesNeedData(Sender, More); };
}

void TListReport::SetReportParameters(const TListReportParameters& P) {
  rlSystemName->Text = QStringLiteral("Tobrinel Address Manager");
  rlAddressBook->Text = QFileInfo(P.BookName).fileName();
  FReport.Title = QStringLiteral("Tobrinel Address Manager - ") + rlAddressBook->Text;
  rlHeader->SetFont(P.HeaderFont);
  rlHeader->Text = P.HeaderText;
  rlHeader->Alignment = P.HeaderAlignment;
  FItems = P.Items;
  RangeFirst = RangeLast = RangeNext = FPrinting = nullptr;
  FNextPosition = FLastPosition = -1;
  if (FItems && P.First >= 0 && P.First <= P.Last && P.Last < FItems->Count) {
    RangeFirst = static_cast<TAddressItem*>(FItems->GetItem(P.First));
    RangeLast = static_cast<TAddressItem*>(FItems->GetItem(P.Last));
    RangeNext = RangeFirst;
    FNextPosition = P.First;
    FLastPosition = P.Last;
  }
  LastLetter = QStringLiteral(" ");
  rlFooter->SetFont(P.FooterFont);
  rlFooter->Text = P.FooterText;
  rlFooter->Alignment = P.FooterAlignment;
  rlTimeStamp->Text = TimeStampText(P.Now);
  NumbersDone = AddressesDone = NotesDone = false;
}

void TListReport::ReportNeedData(TReport&, bool& More) {
  More = RangeNext != nullptr;
  if (More) {
    TAddressItem* Entry = RangeNext;
    FPrinting = Entry;
    rlName->Text = PrintedName(*Entry);
    const QString Letter = FirstCharacter(rlName->Text);
    if (Letter != LastLetter) {
      rbSectionLetter->Visible = true;
      rbSectionLetter->Height = rfFrame1->Height + 12;
      rlSectionLetter->Text = Letter;
      LastLetter = Letter;
    } else {
      rbSectionLetter->Visible = false;
      rbSectionLetter->Height = 0;
      rlSectionLetter->Text.clear();
    }
    // The position is counted along, as looking it up for every entry would
    // take time in proportion to the book.
    RangeNext = static_cast<TAddressItem*>(Entry->Next);
    ++FNextPosition;
    if (!RangeNext || FNextPosition > FLastPosition) RangeNext = nullptr;
  }
  NumbersDone = AddressesDone = NotesDone = false;
}

void TListReport::rbNumberDetailsNeedData(TReportBand&, bool& More) {
  if (NumbersDone) {
    More = false;
    NumbersDone = false;
    return;
  }
  const TAddressItem* Entry = FPrinting ? FPrinting : RangeLast;
  if (!Entry) {
    More = false;
    return;
  }
  rlHomeTel->Text = Q(Entry->HomeTelephone);
  rlWorkTel->Text = Q(Entry->BusTelephone);
  rlExtension->Text = Q(Entry->BusExtn);
  rlMobile->Text = Q(Entry->BusMobile);
  rlFax->Text = Q(Entry->BusFacsimile);
  NumbersDone = true;
}

void TListReport::rbAddressDetailsNeedData(TReportBand& Sender, bool& More) {
  if (AddressesDone) {
    More = false;
    AddressesDone = false;
    return;
  }
  const TAddressItem* Entry = FPrinting ? FPrinting : RangeLast;
  if (!Entry) {
    More = false;
    return;
  }
  // Counted in full: a count past 16 bits must not wrap to a small band.
  const double Lines = std::max(Entry->HomeAddress.Count(), Entry->BusAddress.Count());
  const double Height = 17 * Lines;
  Sender.Height = Height != 0 ? Height + 6 : 0;
  rmHomeAddress->Height = Height;
  rmWorkAddress->Height = Height;
  rmHomeAddress->Text = Q(Entry->HomeAddress.Text());
  rmWorkAddress->Text = Q(Entry->BusAddress.Text());
  AddressesDone = true;
}

void TListReport::rbNotesNeedData(TReportBand& Sender, bool& More) {
  if (NotesDone) {
    More = false;
    NotesDone = false;
    return;
  }
  const TAddressItem* Entry = FPrinting ? FPrinting : RangeLast;
  if (!Entry) {
    More = false;
    return;
  }
  rmNotes->Height = 17.0 * Entry->Notes.Count();
  Sender.Height = rmNotes->Height != 0 ? rmNotes->Height + 6 : 0;
  rmNotes->Text = Q(Entry->Notes.Text());
  NotesDone = true;
}
