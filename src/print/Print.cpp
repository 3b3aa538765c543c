#include "Print.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <string_view>

#include "FontDialogs.h"
#include "HelpService.h"
#include "Listrpt.h"
#include "ProgramPaths.h"
#include "ReportPrint.h"
#include "GroupFrame.h"

const char* const DefaultText = "$$DEFAULT$$";

QFont ClampPrintFont(QFont Font) {
  Font.setUnderline(false);
  Font.setStrikeOut(false);
  Font.setOverline(false);
  double Points = Font.pointSizeF();
  if (Points <= 0) Points = Font.pixelSize() * 72.0 / 96.0;
  Font.setPointSizeF(std::clamp(Points, 1.0, double(MaxPrintFontSize)));
  return Font;
}

// The entries at a range of list positions, named as the lists show them;
// texts are made only for the rows the list asks for, so a large book opens
// the dialog at once.
class TEntryRangeModel : public QAbstractListModel {
public:
  TEntryRangeModel(const std::vector<TAddressItem*>& Entries, QObject* Parent)
      : QAbstractListModel(Parent), FEntries(Entries) {}

  void SetRange(int First, int Last) {
    beginResetModel();
    FFirst = First;
    FCount = std::max(0, Last - First + 1);
    endResetModel();
  }
  int rowCount(const QModelIndex& Parent = {}) const override { return Parent.isValid() ? 0 : FCount; }
  QVariant data(const QModelIndex& Index, int Role) const override {
    if (!Index.isValid() || Index.row() >= FCount || (Role != Qt::DisplayRole && Role != Qt::EditRole)) return {};
    const TAddressItem* Entry = FEntries[size_t(FFirst + Index.row())];
    return PrintedName(*Entry);
  }

private:
  const std::vector<TAddressItem*>& FEntries;
  int FFirst = 0;
  int FCount = 0;
};

namespace {

QGroupBox* Group(QWidget* Parent, const QString& Caption, const QRect& Place) {
  auto* Box = new TGroupFrame(Caption, Parent);
  Box->setGeometry(Place);
  return Box;
}

// The label names its control for a screen reader.
void Caption(QWidget* Parent, const QString& Text, int Top, QWidget* Control, const QString& Name) {
  auto* Label = new QLabel(Text, Parent);
  Label->setGeometry(8, Top, 40, 16);
  Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label->setBuddy(Control);
  // A list is otherwise announced by the entry it shows, and both text boxes
  // by the same "Text :".
  Control->setAccessibleName(Name);
}

QGroupBox* Justify(QGroupBox* Parent, const char* Name) {
  auto* Box = new QGroupBox(Parent);
  Box->setObjectName(QLatin1String(Name));
  Box->setGeometry(8, 48, 329, 28);
  // Each group its own mnemonics: the header's and the footer's differ.
  const bool Head = std::string_view(Name) == "HeaderJustify";
  const char* Items[] = {Head ? "&Left Justify" : "Left &Justify", Head ? "&Centre" : "C&entre",
                         Head ? "Ri&ght Justify" : "Right J&ustify"};
  for (int i = 0; i < 3; ++i) {
    auto* Item = new QRadioButton(QLatin1String(Items[i]), Box);
    Item->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(Name)).arg(i));
    Item->setGeometry(8 + 108 * i, 5, 100, 18);
  }
  TfrmPrintAddresses::SetItemIndex(Box, 0);
  return Box;
}

QPushButton* Button(QWidget* Parent, const char* Name, const QString& Caption, const QRect& Place) {
  auto* Made = new QPushButton(Caption, Parent);
  Made->setObjectName(QLatin1String(Name));
  Made->setGeometry(Place);
  return Made;
}

Qt::Alignment AlignmentOf(int Item) {
  return Item == 1 ? Qt::AlignHCenter : Item == 2 ? Qt::AlignRight : Qt::AlignLeft;
}

}  // namespace

TfrmPrintAddresses::TfrmPrintAddresses(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("frmPrintAddresses"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("Print Addresses"));
  QFont Font = QApplication::font();
  Font.setPointSize(8);
  setFont(Font);
  setFixedSize(446, 262);
  setProperty("HelpContext", PrintAddressesHelpContext);

  QGroupBox* Range = Group(this, QStringLiteral(" Address Range "), QRect(8, 4, 345, 76));
  cboFromAddress = new QComboBox(Range);
  cboFromAddress->setObjectName(QStringLiteral("cboFromAddress"));
  cboFromAddress->setGeometry(54, 20, 283, 21);
  Caption(Range, QStringLiteral("F&rom :"), 22, cboFromAddress, QStringLiteral("From"));
  cboToAddress = new QComboBox(Range);
  cboToAddress->setObjectName(QStringLiteral("cboToAddress"));
  cboToAddress->setGeometry(54, 46, 283, 21);
  Caption(Range, QStringLiteral("T&o :"), 48, cboToAddress, QStringLiteral("To"));
  FFromModel = new TEntryRangeModel(FEntries, this);
  FToModel = new TEntryRangeModel(FEntries, this);
  for (auto [List, Model] : {std::pair{cboFromAddress, FFromModel}, std::pair{cboToAddress, FToModel}}) {
    List->setModel(Model);
    List->setMaxVisibleItems(16);
    if (auto* View = qobject_cast<QListView*>(List->view())) View->setUniformItemSizes(true);
  }

  QGroupBox* Header = Group(this, QStringLiteral(" Page Header "), QRect(8, 86, 345, 84));
  edtHeader = new QLineEdit(Header);
  edtHeader->setObjectName(QStringLiteral("edtHeader"));
  edtHeader->setGeometry(54, 20, 200, 21);
  Caption(Header, QStringLiteral("&Text :"), 22, edtHeader, QStringLiteral("Header text"));
  btnHeaderFont = Button(Header, "btnHeaderFont", QStringLiteral("&Font..."), QRect(262, 18, 75, 25));
  HeaderJustify = Justify(Header, "HeaderJustify");

  QGroupBox* Footer = Group(this, QStringLiteral(" Page Footer "), QRect(8, 172, 345, 84));
  edtFooter = new QLineEdit(Footer);
  edtFooter->setObjectName(QStringLiteral("edtFooter"));
  edtFooter->setGeometry(54, 20, 200, 21);
  Caption(Footer, QStringLiteral("Te&xt :"), 22, edtFooter, QStringLiteral("Footer text"));
  btnFooterFont = Button(Footer, "btnFooterFont", QStringLiteral("Fo&nt..."), QRect(262, 18, 75, 25));
  FooterJustify = Justify(Footer, "FooterJustify");

  btnOK = Button(this, "btnOK", QStringLiteral("OK"), QRect(363, 10, 75, 25));
  btnCancel = Button(this, "btnCancel", QStringLiteral("Cancel"), QRect(363, 41, 75, 25));
  btnPreview = Button(this, "btnPreview", QStringLiteral("&Preview..."), QRect(363, 72, 75, 25));
  btnPreview->setDefault(true);

  // Only a choice by the user counts as a change of the lists.
  connect(cboFromAddress, &QComboBox::activated, this, &TfrmPrintAddresses::cboFromAddressChange);
  connect(cboToAddress, &QComboBox::activated, this, &TfrmPrintAddresses::cboToAddressChange);
  connect(edtHeader, &QLineEdit::textChanged, this, &TfrmPrintAddresses::EnableControls);  // edtHeaderChange
  connect(edtFooter, &QLineEdit::textChanged, this, &TfrmPrintAddresses::EnableControls);
  connect(btnHeaderFont, &QPushButton::clicked, this, &TfrmPrintAddresses::btnHeaderFontClick);
  connect(btnFooterFont, &QPushButton::clicked, this, &TfrmPrintAddresses::btnFooterFontClick);
  connect(btnPreview, &QPushButton::clicked, this, &TfrmPrintAddresses::btnPreviewClick);
  connect(btnOK, &QPushButton::clicked, this, &TfrmPrintAddresses::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  // FormCreate
  fdlgHeaderFont = DefaultHeaderFont();
  fdlgFooterFont = DefaultFooterFont();
  edtHeader->setText(QLatin1String(DefaultText));
  edtFooter->setText(QLatin1String(DefaultText));

  if (QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->geometry().center() - QPoint(width() / 2, height() / 2));
}

TfrmPrintAddresses::~TfrmPrintAddresses() = default;

int TfrmPrintAddresses::Execute(TAddressBook& Book) {
  FBook = &Book;
  FEntries.clear();
  FEntries.reserve(size_t(std::max(0, Book.Items->Count)));
  TListNode* Cursor;
  Book.Items->ResetCursor(Cursor);
  while (Book.Items->MoveNext(Cursor)) FEntries.push_back(static_cast<TAddressItem*>(Cursor));
  const int Result = exec();
  // The lists must not outlive the entries they name.
  LoadAddresses(0, -1, cboFromAddress);
  LoadAddresses(0, -1, cboToAddress);
  FEntries.clear();
  FBook = nullptr;
  return Result;
}

void TfrmPrintAddresses::showEvent(QShowEvent* Event) {
  // FormShow: the whole book, and the texts emptied the first time only.
  const int Last = int(FEntries.size()) - 1;
  LoadAddresses(0, Last, cboFromAddress);
  LoadAddresses(0, Last, cboToAddress);
  cboFromAddress->setCurrentIndex(0);
  cboToAddress->setCurrentIndex(cboToAddress->count() - 1);
  if (edtHeader->text() == QLatin1String(DefaultText)) edtHeader->clear();
  if (edtFooter->text() == QLatin1String(DefaultText)) edtFooter->clear();
  EnableControls();
  QDialog::showEvent(Event);
}

void TfrmPrintAddresses::LoadAddresses(int First, int Last, QComboBox* List) {
  TEntryRangeModel* Model = List == cboFromAddress ? FFromModel : FToModel;
  Model->SetRange(First, Last);
}

void TfrmPrintAddresses::EnableControls() {
  btnHeaderFont->setEnabled(!TrimSpaces(edtHeader->text().toStdString()).empty());
  HeaderJustify->setEnabled(btnHeaderFont->isEnabled());
  btnFooterFont->setEnabled(!TrimSpaces(edtFooter->text().toStdString()).empty());
  FooterJustify->setEnabled(btnFooterFont->isEnabled());
}

void TfrmPrintAddresses::cboFromAddressChange() {
  const int Chosen = cboToAddress->currentIndex();
  const int Count = cboToAddress->count();
  LoadAddresses(cboFromAddress->currentIndex(), int(FEntries.size()) - 1, cboToAddress);
  cboToAddress->setCurrentIndex(cboToAddress->count() + Chosen - Count);
}

void TfrmPrintAddresses::cboToAddressChange() {
  const int Chosen = cboFromAddress->currentIndex();
  LoadAddresses(0, Chosen + cboToAddress->currentIndex(), cboFromAddress);
  cboFromAddress->setCurrentIndex(Chosen);
}

int TfrmPrintAddresses::ItemIndex(const QGroupBox* Group) {
  const auto Items = Group->findChildren<QRadioButton*>();
  for (int i = 0; i < Items.size(); ++i)
    if (Items[i]->isChecked()) return i;
  return -1;
}

void TfrmPrintAddresses::SetItemIndex(QGroupBox* Group, int Index) {
  const auto Items = Group->findChildren<QRadioButton*>();
  if (Index >= 0 && Index < Items.size()) Items[Index]->setChecked(true);
}

void TfrmPrintAddresses::ChooseFont(QFont& Font, const QString& Title) {
  TFontDialogOptions Options;
  Options.Title = Title;
  Options.ScalableOnly = true;
  Options.MaxPointSize = MaxPrintFontSize;
  QFont Chosen = Font;
  if (FontDialogs().ChooseFont(this, Chosen, Options)) Font = ClampPrintFont(Chosen);
}

void TfrmPrintAddresses::btnHeaderFontClick() { ChooseFont(fdlgHeaderFont, QStringLiteral("Header Font")); }
void TfrmPrintAddresses::btnFooterFontClick() { ChooseFont(fdlgFooterFont, QStringLiteral("Footer Font")); }

void TfrmPrintAddresses::SetReportParameters() {
  if (!FReport || !FBook) return;
  TListReportParameters P;
  P.BookName = QString::fromStdString(FBook->DisplayName());
  P.HeaderText = edtHeader->text();
  P.HeaderFont = fdlgHeaderFont;
  P.HeaderAlignment = AlignmentOf(ItemIndex(HeaderJustify));
  P.FooterText = edtFooter->text();
  P.FooterFont = fdlgFooterFont;
  P.FooterAlignment = AlignmentOf(ItemIndex(FooterJustify));
  P.Items = FBook->Items.get();
  P.First = cboFromAddress->currentIndex();
  P.Last = cboFromAddress->currentIndex() + cboToAddress->currentIndex();
  P.Now = QDateTime::currentDateTime();
  FReport->SetReportParameters(P);
}

void TfrmPrintAddresses::btnPreviewClick() {
  if (!FReport || !FBook) return;
  SetReportParameters();
  PreviewReport(FReport->Report(), this);
}

void TfrmPrintAddresses::btnOKClick() {
  if (FReport && FBook) {
    SetReportParameters();
    // Nothing printed (no printer, a refused job, Cancel in the progress
    // window): the dialog stays, as it would not be if it had printed.
    if (PrintReport(FReport->Report(), this) != EPrintResult::Printed) return;
  }
  accept();
}

void TfrmPrintAddresses::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_F1) {
    HelpService().ShowContext(HelpFileName(), PrintAddressesHelpContext);
    return;
  }
  QDialog::keyPressEvent(Event);
}
