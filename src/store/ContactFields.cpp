#include "ContactFields.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "ByteWords.h"
#include "FileSystem.h"
#include "IniFile.h"
#include "TextCodec.h"

std::vector<std::string> ImportNotices(const TImported& Imported) {
  std::vector<std::string> Notices;
  auto Count = [&](int32_t N, const char* One, const char* Many) {
    if (N == 1) Notices.push_back(std::string("1 ") + One);
    else if (N > 1) Notices.push_back(std::to_string(N) + " " + Many);
  };
  Count(Imported.PhotosSkipped, "photo was not imported", "photos were not imported");
  Count(Imported.BinarySkipped, "sound, key or other binary value was not imported",
        "sounds, keys or other binary values were not imported");
  Count(Imported.EmptySkipped, "contact that held nothing an entry can show was skipped",
        "contacts that held nothing an entry can show were skipped");
  Count(Imported.GroupsSkipped, "contact group was not imported (the book has no groups)",
        "contact groups were not imported (the book has no groups)");
  Count(Imported.PhoneCharactersDropped, "character that cannot stand in a phone number was left out",
        "characters that cannot stand in a phone number were left out");
  Count(Imported.AlreadyInBook, "was already in the book and was not added again",
        "were already in the book and were not added again");
  for (const auto& [Line, Problem] : Imported.Refused)
    Notices.push_back("line " + std::to_string(Line) + ": " + Problem + "; skipped");
  return Notices;
}

std::vector<std::string> ExportNotices(const TExported& Exported) {
  if (Exported.PhoneCharactersDropped == 0) return {};
  auto Count = [](int32_t N, const char* One, const char* Many) {
    return std::to_string(N) + " " + (N == 1 ? One : Many);
  };
  return {Count(Exported.PhoneCharactersDropped, "character", "characters") +
          " that cannot stand in a phone number (a backslash, a line break or another control character) " +
          (Exported.PhoneCharactersDropped == 1 ? "was" : "were") + " left out of " +
          Count(Exported.NumbersChanged, "number", "numbers")};
}

// ---- TInput

namespace {

constexpr uint32_t Replacement = 0xFFFD;

}  // namespace

TInput::TInput(std::string_view AText) : Text(AText) {}

TInput::TInput(int AFd, std::string AName) : Kind(EKind::Bytes), Fd(AFd), Name(std::move(AName)) {}

size_t TInput::ReadRaw(char* To, size_t Size) {
  if (Fd < 0) {
    size_t N = std::min(Size, Text.size());
    std::copy_n(Text.data(), N, To);
    Text.remove_prefix(N);
    return N;
  }
  for (;;) {
    ssize_t N = ::read(Fd, To, Size);
    if (N >= 0) return size_t(N);
    if (errno != EINTR) throw EFileError("Cannot read file " + Name + ": " + SystemText(errno));
  }
}

void TInput::Start() {
  Started = true;
  char Head[3];
  size_t Got = 0;
  if (Fd < 0) {
    Got = std::min<size_t>(3, Text.size());
    std::copy_n(Text.data(), Got, Head);
  } else {
    for (size_t N = 1; Got < 3 && N > 0; Got += N) N = ReadRaw(Head + Got, 3 - Got);
  }
  const std::string_view Mark(Head, Got);
  size_t MarkSize = 0;
  EKind Unicode = EKind::Whole;
  if (Mark.substr(0, 3) == "\xEF\xBB\xBF") MarkSize = 3;
  else if (Mark.substr(0, 2) == "\xFF\xFE") MarkSize = 2, Unicode = EKind::Utf16Le;
  else if (Mark.substr(0, 2) == "\xFE\xFF") MarkSize = 2, Unicode = EKind::Utf16Be;
  if (Fd < 0) {
    Text.remove_prefix(MarkSize);
    if (Unicode != EKind::Whole) Kind = Unicode;  // decoded a piece at a time like a file
    return;
  }
  if (Unicode != EKind::Whole) Kind = Unicode;
  if (Kind == EKind::Bytes) Buffer.assign(Head + MarkSize, Got - MarkSize);
  else Decode(Head + MarkSize, Got - MarkSize);
}

void TInput::Decode(const char* Bytes, size_t Size) {
  Carry.append(Bytes, Size);
  const auto* B = reinterpret_cast<const unsigned char*>(Carry.data());
  auto Unit = [&](size_t At) -> uint32_t {
    return Kind == EKind::Utf16Le ? uint32_t(B[At] | (B[At + 1] << 8)) : uint32_t((B[At] << 8) | B[At + 1]);
  };
  size_t I = 0;
  while (I + 2 <= Carry.size()) {
    uint32_t U = Unit(I);
    if (U >= 0xD800 && U <= 0xDBFF) {
      if (I + 4 > Carry.size()) break;  // the other half is still to come
      uint32_t Low = Unit(I + 2);
      if (Low >= 0xDC00 && Low <= 0xDFFF) {
        AppendUtf8(Buffer, 0x10000 + ((U - 0xD800) << 10) + (Low - 0xDC00));
        I += 4;
        continue;
      }
      U = Replacement;
    } else if (U >= 0xDC00 && U <= 0xDFFF) {
      U = Replacement;
    }
    AppendUtf8(Buffer, U);
    I += 2;
  }
  Carry.erase(0, I);
}

std::string_view TInput::PeekMore(size_t Want) {
  if (!Started) Start();
  if (Kind == EKind::Whole) return Text.substr(Pos);
  if (Buffer.size() - Pos < Want && !RawEnded) {
    Buffer.erase(0, Pos);
    Pos = 0;
    constexpr size_t Piece = 1 << 16;
    while (Buffer.size() < Want && !RawEnded) {
      size_t N;
      if (Kind == EKind::Bytes) {
        size_t Old = Buffer.size();
        Buffer.resize(Old + Piece);
        N = ReadRaw(Buffer.data() + Old, Piece);
        Buffer.resize(Old + N);
      } else {
        char Raw[Piece];
        N = ReadRaw(Raw, Piece);
        Decode(Raw, N);
      }
      if (N == 0) {
        RawEnded = true;
        if (!Carry.empty()) AppendUtf8(Buffer, Replacement);  // an odd byte or half a pair at the end
        Carry.clear();
      }
    }
  }
  return std::string_view(Buffer).substr(Pos);
}

void TImported::PassOn() {
  if (!Sink) return;
  for (auto& Item : Items) {
    ++Taken;
    Sink(std::move(Item));
  }
  Items.clear();
}

namespace ContactFields {

namespace {

const char* const Bom = "\xEF\xBB\xBF";
const char* const TooManyLines = "an address or the notes have more than 32767 lines, more than a book can hold";

// What the book file cannot hold is refused here rather than at the next
// save; a line longer than a book holds is cut like any other long value.
void Fill(TLineList& List, const TLines& Lines, int32_t Line, int32_t& Cut) {
  if (Lines.size() > size_t(MaxStoredLength)) throw EImportLimit(Line, TooManyLines);
  Cut += Lines.Cut;
  const TLinesView View = Lines.View();
  List.AssignPacked(std::string_view(View.Data(), View.PackedSize()), View.Count());
}

}  // namespace

std::string_view CutToBytes(std::string_view Text, size_t Bytes) {
  if (Text.size() <= Bytes) return Text;
  while (Bytes > 0 && (static_cast<unsigned char>(Text[Bytes]) & 0xC0) == 0x80) --Bytes;
  return Text.substr(0, Bytes);
}

bool StartsWithText(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameText(Text.substr(0, Prefix.size()), Prefix);
}

std::string LowerText(std::string_view Text) {
  std::string Out(Text);
  for (char& C : Out) C = Lower(C);
  return Out;
}

std::string_view WithoutBom(std::string_view Text) {
  if (Text.substr(0, 3) == Bom) Text.remove_prefix(3);
  return Text;
}

namespace {

// The first line break (CR or LF) from From on, or Text.size(): eight bytes
// a step, as most values have none.
size_t LineBreakFrom(std::string_view Text, size_t From) {
  constexpr uint64_t Ones = 0x0101010101010101ull, Highs = 0x8080808080808080ull;
  auto HasZero = [](uint64_t X) { return (X - Ones) & ~X & Highs; };
  size_t At = From;
  for (; At + 8 <= Text.size(); At += 8) {
    uint64_t Word;
    std::memcpy(&Word, Text.data() + At, 8);
    if (const uint64_t Breaks = HasZero(Word ^ (Ones * '\n')) | HasZero(Word ^ (Ones * '\r')))
      return At + ByteWords::FirstMarked(Breaks);
  }
  while (At < Text.size() && Text[At] != '\n' && Text[At] != '\r') ++At;
  return At;
}

// Visits the lines of Text between its line breaks.
template <class F>
void ForEachLine(std::string_view Text, F&& Visit) {
  for (size_t Start = 0;;) {
    const size_t End = LineBreakFrom(Text, Start);
    if (End == Text.size()) return Visit(Text.substr(Start));
    Visit(Text.substr(Start, End - Start));
    size_t After = End;
    while (After < Text.size() && Text[After] == '\r') ++After;
    Start = After < Text.size() && Text[After] == '\n' ? After + 1 : End + 1;
  }
}

}  // namespace

void AddLines(std::vector<std::string>& Lines, std::string_view Text) {
  ForEachLine(Text, [&](std::string_view Line) { Lines.emplace_back(Line); });
}

void TLines::Add(std::string_view Line) {
  const std::string_view Kept = CutToBytes(Line, size_t(MaxStoredLength));
  if (Kept.size() < Line.size()) ++Cut;
  TLineList::AppendPacked(Bytes, Kept);
  ++LineCount;
}

void TLines::AddText(std::string_view Text) {
  ForEachLine(Text, [&](std::string_view Line) { Add(Line); });
}

void TLines::Prepend(const TLines& Other) {
  Bytes.insert(0, Other.Bytes);
  LineCount += Other.LineCount;
  Cut += Other.Cut;
}

void TLines::Append(const TLines& Other) {
  Bytes += Other.Bytes;
  LineCount += Other.LineCount;
  Cut += Other.Cut;
}

std::string JoinLines(const TLines& Lines, std::string_view Between) {
  std::string Out;
  Lines.View().ForEach([&](std::string_view Line) {
    if (Line.empty()) return;
    if (!Out.empty()) Out += Between;
    Out += Line;
  });
  return Out;
}

void AddAddressLines(TLines& Into, std::string_view Street, std::initializer_list<std::string_view> After) {
  Into.clear();
  bool Others = std::any_of(After.begin(), After.end(), [](auto& P) { return !P.empty(); });
  if (!Street.empty() || !Others) Into.AddText(Street);
  for (std::string_view Part : After)
    if (!Part.empty()) Into.AddText(Part);
}

std::string WithLfBreaks(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  bool First = true;
  ForEachLine(Text, [&](std::string_view Line) {
    if (!First) Out += '\n';
    First = false;
    Out += Line;
  });
  return Out;
}

bool IsPhoneNumberText(std::string_view Number) {
  return std::all_of(Number.begin(), Number.end(), [](char C) {
    auto U = static_cast<unsigned char>(C);
    return C != '\\' && U >= 0x20 && U != 0x7F;
  });
}

std::string PhoneNumberText(std::string_view Number, int32_t& Dropped) {
  // Nearly every number has nothing to leave out.
  if (IsPhoneNumberText(Number)) return std::string(Number);
  std::string Out;
  Out.reserve(Number.size());
  for (char C : Number) {
    auto U = static_cast<unsigned char>(C);
    if (C == '\\' || U < 0x20 || U == 0x7F) ++Dropped;
    else Out += C;
  }
  return Out;
}

std::string JoinLines(const std::vector<std::string>& Lines, std::string_view Between) {
  std::string Out;
  for (const std::string& Line : Lines) {
    if (Line.empty()) continue;
    if (!Out.empty()) Out += Between;
    Out += Line;
  }
  return Out;
}

std::string JoinWords(const std::vector<std::string>& Words) {
  if (Words.size() == 1) return Words[0];
  std::string Out;
  for (const std::string& Word : Words) {
    std::string_view W = Trim(Word);
    if (W.empty()) continue;
    if (!Out.empty()) Out += ' ';
    Out += W;
  }
  return Out;
}

std::string FromCp1252(std::string_view Bytes) {
  std::string Out;
  Out.reserve(Bytes.size());
  for (char C : Bytes) {
    if (static_cast<unsigned char>(C) < 0x80) Out += C;
    else Out += ToUtf8(std::string_view(&C, 1));  // a lone high byte is never UTF-8
  }
  return Out;
}

std::string AsUtf8(std::string&& Bytes) {
  if (IsValidUtf8(Bytes)) return std::move(Bytes);
  return ToUtf8(Bytes);
}

std::string_view LabelText(std::string_view Label) {
  Label = Trim(Label);
  if (Label.size() > 8 && Label.substr(0, 4) == "_$!<" && Label.substr(Label.size() - 4) == ">!$_")
    Label = Label.substr(4, Label.size() - 8);
  if (Label.substr(0, 2) == "* ") Label.remove_prefix(2);
  return Trim(Label);
}

ENumberKind NumberKindOfLabel(std::string_view Label) {
  static constexpr std::pair<std::string_view, ENumberKind> Kinds[] = {
      // clang-format off
      {"mobile", ENumberKind::Mobile}, {"cell", ENumberKind::Mobile},     {"iphone", ENumberKind::Mobile},
      {"mobile phone", ENumberKind::Mobile}, {"cell phone", ENumberKind::Mobile},
      {"home", ENumberKind::Home},     {"home phone", ENumberKind::Home}, {"work", ENumberKind::Work},
      {"work phone", ENumberKind::Work}, {"business", ENumberKind::Work}, {"business phone", ENumberKind::Work},
      {"fax", ENumberKind::Fax},       {"work fax", ENumberKind::WorkFax}, {"business fax", ENumberKind::WorkFax},
      {"home fax", ENumberKind::HomeFax}, {"pager", ENumberKind::Pager}};
  // clang-format on
  Label = LabelText(Label);
  if (Label.empty()) return ENumberKind::Other;  // most numbers have no label
  for (auto [Name, Kind] : Kinds)
    if (SameText(Label, Name)) return Kind;
  return ENumberKind::Other;
}

void TEntryBuilder::Note(const std::string& Label, std::string_view Value) {
  const std::string Text = std::string(Label).append(": ").append(Value);
  Extras.AddText(Text);
  if (Sources)
    ForEachLine(Text, [&](std::string_view Line) { Sources->push_back({SourceLine, nullptr, std::string(Line)}); });
}

void TEntryBuilder::NamesFromFullName(std::string_view Full, bool Organisation) {
  Full = Trim(Full);
  size_t Space = Full.find_last_of(' ');
  if (Organisation || Space == std::string_view::npos) {
    Put(Item->Surname, Full);
    return;
  }
  Put(Item->Surname, Trim(Full.substr(Space + 1)));
  Put(Item->FirstName, Trim(Full.substr(0, Space)));
}

void TEntryBuilder::PutNumberOfKind(ENumberKind Kind, std::string_view Number, const std::string& Label) {
  static const char* const KindLabels[] = {
      "Telephone (home)", "Telephone (work)", "Mobile", "Fax", "Fax (home)", "Pager", "Telephone", "Fax (work)"};
  auto Named = [&](ENumberKind Of, const std::string& Given) { return Given.empty() ? KindLabels[int(Of)] : Given; };
  const int Rank = Kind == ENumberKind::WorkFax   ? 3
                   : Kind == ENumberKind::Fax     ? 2
                   : Kind == ENumberKind::HomeFax ? 1
                                                  : 0;
  if (Rank > 0) {
    // The fax box is on the Work page: a work fax displaces any other.
    if (!Item->BusFacsimile.empty() && Rank <= FaxRank) return Note(Named(Kind, Label), Number);
    if (!Item->BusFacsimile.empty())
      Note(KindLabels[int(FaxRank == 3   ? ENumberKind::WorkFax
                          : FaxRank == 2 ? ENumberKind::Fax
                                         : ENumberKind::HomeFax)],
           FaxNumber);
    FaxRank = Rank;
    FaxNumber = Number;
    return PutNumber(Item->BusFacsimile, Number);
  }
  TFixedText<NameCapacity>* Field = Kind == ENumberKind::Home     ? &Item->HomeTelephone
                                    : Kind == ENumberKind::Work   ? &Item->BusTelephone
                                    : Kind == ENumberKind::Mobile ? &Item->BusMobile
                                                                  : nullptr;
  if (Field && Field->empty()) PutNumber(*Field, Number);
  else Note(Named(Kind, Label), Number);
}

void TEntryBuilder::Names(std::string_view Family, std::string_view Given) {
  if (Family.empty()) return Put(Item->Surname, Given);
  Put(Item->Surname, Family);
  Put(Item->FirstName, Given);
}

bool TEntryBuilder::Empty() const {
  const TAddressItem& I = *Item;
  auto Blank = [](const TLineList& List) {
    bool Any = false;
    List.ForEach([&](std::string_view Line) { Any = Any || !Trim(Line).empty(); });
    return !Any;
  };
  return I.Surname.empty() && I.FirstName.empty() && I.HomeTelephone.empty() && I.BusTelephone.empty() &&
         I.BusExtn.empty() && I.BusFacsimile.empty() && I.BusMobile.empty() && Blank(I.HomeAddress) &&
         Blank(I.BusAddress) && Blank(I.Notes);
}

void TEntryBuilder::NameFromFirstOf(std::initializer_list<std::string_view> Candidates) {
  if (!Item->Surname.empty() || !Item->FirstName.empty()) return;
  for (std::string_view Candidate : Candidates) {
    std::string_view Name = Trim(Candidate);
    if (Name.empty()) continue;
    Put(Item->Surname, Name);
    return;
  }
}

void TEntryBuilder::CheckLines(int32_t Line) const {
  const size_t Most = size_t(MaxStoredLength);
  if (NoteLines.size() + Extras.size() > Most || HomeAddress.size() > Most || BusAddress.size() > Most)
    throw EImportLimit(Line, TooManyLines);
}

void TEntryBuilder::Reset() {
  Item = std::make_unique<TAddressItem>();
  for (TLines* Lines : {&HomeAddress, &BusAddress, &NoteLines, &Extras}) Lines->clear();
  HaveHomeAddress = HaveBusAddress = HaveNotes = false;
  Cut = PhoneCharactersDropped = 0;
  FaxRank = 0;
  FaxNumber.clear();
  SourceLine = 0;
}

void TEntryBuilder::Finish(int32_t Line, TImported& Into) {
  if (HaveHomeAddress) Fill(Item->HomeAddress, HomeAddress, Line, Cut);
  if (HaveBusAddress) Fill(Item->BusAddress, BusAddress, Line, Cut);
  NoteLines.Append(Extras);
  if (HaveNotes || !Extras.empty()) Fill(Item->Notes, NoteLines, Line, Cut);
  if (Empty()) {
    ++Into.EmptySkipped;
    return;
  }
  Into.ValuesCut += Cut;
  Into.PhoneCharactersDropped += PhoneCharactersDropped;
  Into.Items.push_back(std::move(Item));
}

}  // namespace ContactFields
