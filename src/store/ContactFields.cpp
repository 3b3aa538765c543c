#include "ContactFields.h"

#include <algorithm>

#include "TextCodec.h"

namespace ContactFields {

namespace {

const char* const Bom = "\xEF\xBB\xBF";

// What the book file cannot hold is refused here rather than at the next save.
void Fill(TLineList& List, const std::vector<std::string>& Lines, int32_t Line) {
  if (Lines.size() > size_t(MaxStoredLength))
    throw EImportError(Line, "an address or the notes have more than 32767 lines, more than a book can hold");
  std::string Packed;
  for (const std::string& Text : Lines) {
    if (Text.size() > size_t(MaxStoredLength))
      throw EImportError(Line, "a line of an address or of the notes is longer than 32767 bytes, "
                               "more than a book can hold");
    TLineList::AppendPacked(Packed, Text);
  }
  List.AssignPacked(Packed, int32_t(Lines.size()));
}

}  // namespace

char Lower(char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; }

bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I)
    if (Lower(A[I]) != Lower(B[I])) return false;
  return true;
}

bool StartsWithText(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameText(Text.substr(0, Prefix.size()), Prefix);
}

std::string LowerText(std::string_view Text) {
  std::string Out(Text);
  for (char& C : Out) C = Lower(C);
  return Out;
}

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

std::string_view WithoutBom(std::string_view Text) {
  if (Text.substr(0, 3) == Bom) Text.remove_prefix(3);
  return Text;
}

void AddLines(std::vector<std::string>& Lines, std::string_view Text) {
  for (size_t Start = 0;;) {
    size_t End = Text.find('\n', Start);
    std::string_view Line = Text.substr(Start, End == std::string_view::npos ? End : End - Start);
    while (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    Lines.emplace_back(Line);
    if (End == std::string_view::npos) return;
    Start = End + 1;
  }
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

std::vector<std::string> AddressLines(const std::vector<std::string>& Before, std::string_view Street,
                                      const std::vector<std::string>& After) {
  std::vector<std::string> Lines;
  for (const std::string& Part : Before)
    if (!Part.empty()) AddLines(Lines, Part);
  bool Others = !Lines.empty() || std::any_of(After.begin(), After.end(), [](auto& P) { return !P.empty(); });
  if (!Street.empty() || !Others) AddLines(Lines, Street);
  for (const std::string& Part : After)
    if (!Part.empty()) AddLines(Lines, Part);
  return Lines;
}

void TEntryBuilder::Note(const std::string& Label, std::string_view Value) {
  AddLines(Extras, Label + ": " + std::string(Value));
}

void TEntryBuilder::NamesFromFullName(std::string_view Full, bool Organisation) {
  Full = Trim(Full);
  size_t Space = Full.find_last_of(' ');
  if (Organisation || Space == std::string_view::npos) {
    Put(Item->Surname, std::string(Full));
    return;
  }
  Put(Item->Surname, std::string(Trim(Full.substr(Space + 1))));
  Put(Item->FirstName, std::string(Trim(Full.substr(0, Space))));
}

std::unique_ptr<TAddressItem> TEntryBuilder::Finish(int32_t Line, int32_t& ValuesCut) {
  if (HaveHomeAddress) Fill(Item->HomeAddress, HomeAddress, Line);
  if (HaveBusAddress) Fill(Item->BusAddress, BusAddress, Line);
  NoteLines.insert(NoteLines.end(), Extras.begin(), Extras.end());
  if (HaveNotes || !Extras.empty()) Fill(Item->Notes, NoteLines, Line);
  ValuesCut += Cut;
  return std::move(Item);
}

}  // namespace ContactFields
