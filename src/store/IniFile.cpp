#include "IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include <fcntl.h>

#include "FileSystem.h"
#include "Letters.h"
#include "TextCodec.h"

namespace {

constexpr char EndOfFileMark = 26;

// TextBufferSize is a public field; keep a nonsense value from costing
// gigabytes or nothing at all.
size_t BufferSize(int32_t Requested) {
  if (Requested <= 0) return 16384;
  return std::min<size_t>(static_cast<size_t>(Requested), 1 << 20);
}

// The key of a line is the text before its first "="; lines without one
// have no key.
bool LineKey(std::string_view Line, std::string_view& Key) {
  size_t Equals = Line.find('=');
  if (Equals == std::string_view::npos) return false;
  Key = Line.substr(0, Equals);
  return true;
}

// Whether Text folds to Folded, without building the folded text unless it
// holds letters outside ASCII.
bool FoldsTo(std::string_view Text, const std::string& Folded) {
  for (size_t I = 0; I < Text.size(); ++I) {
    auto C = static_cast<unsigned char>(Text[I]);
    if (C >= 0x80) return FoldCase(Text) == Folded;
    if (I >= Folded.size() || (C >= 'A' && C <= 'Z' ? C + 32 : C) != static_cast<unsigned char>(Folded[I]))
      return false;
  }
  return Text.size() == Folded.size();
}

// The same for the key of Line, in one pass over it.
bool KeyFoldsTo(std::string_view Line, const std::string& FoldedKey) {
  for (size_t I = 0; I < Line.size(); ++I) {
    auto C = static_cast<unsigned char>(Line[I]);
    if (C == '=') return I == FoldedKey.size();
    if (C >= 0x80) {
      std::string_view Key;
      return LineKey(Line, Key) && FoldCase(Key) == FoldedKey;
    }
    if (I >= FoldedKey.size()) return false;
    if ((C >= 'A' && C <= 'Z' ? C + 32 : C) != static_cast<unsigned char>(FoldedKey[I])) return false;
  }
  return false;  // no "=": no key
}

bool IsDigitOfBase(char C, int Base, int& Value) {
  if (C >= '0' && C <= '9') Value = C - '0';
  else if (Base == 16 && C >= 'a' && C <= 'f') Value = C - 'a' + 10;
  else if (Base == 16 && C >= 'A' && C <= 'F') Value = C - 'A' + 10;
  else return false;
  return Value < Base;
}

// Leading spaces, an optional sign, "$"/"x"/"0x" for hexadecimal, then
// nothing but digits; the result must lie in the signed 32-bit range.
bool ConvertInteger(const std::string& Text, int32_t& Result) {
  size_t Pos = 0;
  while (Pos < Text.size() && Text[Pos] == ' ') ++Pos;
  bool Negative = false;
  if (Pos < Text.size() && (Text[Pos] == '-' || Text[Pos] == '+')) {
    Negative = Text[Pos] == '-';
    ++Pos;
  }
  int Base = 10;
  if (Pos < Text.size() && (Text[Pos] == '$' || Text[Pos] == 'x' || Text[Pos] == 'X')) {
    Base = 16;
    ++Pos;
  } else if (Pos + 1 < Text.size() && Text[Pos] == '0' && (Text[Pos + 1] == 'x' || Text[Pos + 1] == 'X')) {
    Base = 16;
    Pos += 2;
  }
  if (Pos >= Text.size()) return false;
  const int64_t Limit = Negative ? 2147483648LL : 2147483647LL;
  int64_t Value = 0;
  for (; Pos < Text.size(); ++Pos) {
    int Digit;
    if (!IsDigitOfBase(Text[Pos], Base, Digit)) return false;
    Value = Value * Base + Digit;
    if (Value > Limit) return false;
  }
  Result = static_cast<int32_t>(Negative ? -Value : Value);
  return true;
}

// Characters From..From+Count-1 (1-based), shorter near the end of the text.
std::string Copy(const std::string& Text, size_t From, size_t Count) {
  if (From - 1 >= Text.size()) return std::string();
  return Text.substr(From - 1, Count);
}

}  // namespace

bool LineFeedsEndLines(int Fd) {
  // A file written on this system (an editor, a script) ends its lines with
  // line feeds alone; read by carriage returns it would be one line, lost at
  // the next write. A file with any carriage return keeps the rule that a
  // line feed is part of its line, so what this engine writes reads back the same.
  char Buffer[65536];
  bool Feeds = false;
  for (off_t Offset = 0;;) {
    const ssize_t Got = ::pread(Fd, Buffer, sizeof Buffer, Offset);
    if (Got < 0 && errno == EINTR) continue;
    if (Got <= 0) return Got == 0 && Feeds;
    const std::string_view Piece(Buffer, static_cast<size_t>(Got));
    const size_t Size = std::min(Piece.find(EndOfFileMark), Piece.size());
    if (Piece.substr(0, Size).find('\r') != std::string_view::npos) return false;
    Feeds = Feeds || Piece.substr(0, Size).find('\n') != std::string_view::npos;
    if (Size < Piece.size()) return Feeds;
    Offset += Got;
  }
}

// ---------------------------------------------------------------------------
// TIniSection

TIniSection::TIniSection(std::string Name) : SectionName(std::move(Name)), Folded(FoldCase(SectionName)) {}

std::string_view TIniSection::Line(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw std::out_of_range("TIniSection::Line");
  auto I = static_cast<size_t>(Index);
  return std::string_view(Text).substr(Starts[I], Starts[I + 1] - Starts[I]);
}

std::vector<std::string> TIniSection::Lines() const {
  std::vector<std::string> Result;
  Result.reserve(static_cast<size_t>(Count()));
  for (int32_t I = 0; I < Count(); ++I) Result.emplace_back(Line(I));
  return Result;
}

void TIniSection::Add(std::string_view Line) {
  if (Text.size() + Line.size() > UINT32_MAX) throw std::length_error("A settings section cannot hold 4 GB");
  Text.append(Line);
  Starts.push_back(static_cast<uint32_t>(Text.size()));
  std::string_view Key;
  // emplace keeps an earlier line with the same key: the first one wins.
  if (IndexValid && LineKey(this->Line(Count() - 1), Key)) KeyIndex.emplace(FoldCase(Key), Count() - 1);
}

void TIniSection::Replace(int32_t Index, std::string_view NewLine) {
  std::string_view Old = Line(Index), OldKey, NewKey;
  bool OldHas = LineKey(Old, OldKey), NewHas = LineKey(NewLine, NewKey);
  // The index stays right while the line keeps its key.
  if (IndexValid && (OldHas != NewHas || (NewHas && FoldCase(OldKey) != FoldCase(NewKey)))) IndexValid = false;
  auto I = static_cast<size_t>(Index);
  const int64_t Change = static_cast<int64_t>(NewLine.size()) - static_cast<int64_t>(Old.size());
  if (static_cast<int64_t>(Text.size()) + Change > static_cast<int64_t>(UINT32_MAX))
    throw std::length_error("A settings section cannot hold 4 GB");
  Text.replace(Starts[I], Old.size(), NewLine);
  for (size_t J = I + 1; J < Starts.size(); ++J) Starts[J] = static_cast<uint32_t>(Starts[J] + Change);
}

void TIniSection::Delete(int32_t Index) {
  auto I = static_cast<size_t>(Index);
  const uint32_t Size = static_cast<uint32_t>(Line(Index).size());
  Text.erase(Starts[I], Size);
  Starts.erase(Starts.begin() + static_cast<ptrdiff_t>(I));
  for (size_t J = I; J < Starts.size(); ++J) Starts[J] -= Size;
  // Later lines move up, so the positions in the index are stale.
  IndexValid = false;
}

void TIniSection::Clear() {
  Text.clear();
  Starts.assign(1, 0);
  KeyIndex.clear();
  IndexValid = false;
}

void TIniSection::Reserve(size_t Lines, size_t Bytes) {
  Text.reserve(Text.size() + Bytes);
  Starts.reserve(Starts.size() + Lines);
}

void TIniSection::BuildIndex() const {
  KeyIndex.clear();
  KeyIndex.reserve(static_cast<size_t>(Count()));
  for (int32_t I = 0; I < Count(); ++I) {
    std::string_view Key;
    if (LineKey(Line(I), Key)) KeyIndex.emplace(FoldCase(Key), I);
  }
  IndexValid = true;
}

int32_t TIniSection::IndexOfKey(const std::string& FoldedKey) const {
  // A small section, such as an entry of an older book, is searched line by
  // line: an index for each of a hundred thousand of them costs more memory
  // than the book itself, and more time than it saves.
  constexpr int32_t SmallSection = 32;
  if (!IndexValid && Count() <= SmallSection) {
    const std::string_view All(Text);
    for (size_t I = 0; I + 1 < Starts.size(); ++I)
      if (KeyFoldsTo(All.substr(Starts[I], Starts[I + 1] - Starts[I]), FoldedKey)) return static_cast<int32_t>(I);
    return -1;
  }
  if (!IndexValid) BuildIndex();
  auto It = KeyIndex.find(FoldedKey);
  return It == KeyIndex.end() ? -1 : It->second;
}

// ---------------------------------------------------------------------------
// TIniSectionList

TIniSectionList::TIniSectionList() = default;
TIniSectionList::~TIniSectionList() = default;

int32_t TIniSectionList::Count() const { return static_cast<int32_t>(Items.size()); }

const std::string& TIniSectionList::Name(int32_t Index) const { return Items.at(static_cast<size_t>(Index))->Name(); }

TIniSection& TIniSectionList::Section(int32_t Index) { return *Items.at(static_cast<size_t>(Index)); }

const TIniSection& TIniSectionList::Section(int32_t Index) const { return *Items.at(static_cast<size_t>(Index)); }

int32_t TIniSectionList::Add(const std::string& Name) {
  Items.push_back(std::make_unique<TIniSection>(Name));
  int32_t Index = Count() - 1;
  if (IndexValid && !NameIndex.emplace(Items.back()->FoldedName(), Index).second) Repeated = true;
  return Index;
}

int32_t TIniSectionList::AddUnindexed(const std::string& Name) {
  Items.push_back(std::make_unique<TIniSection>(Name));
  if (IndexValid) NameIndex.clear();
  IndexValid = false;
  return Count() - 1;
}

void TIniSectionList::TakeOver(TIniSectionList& Other) {
  if (Items.empty()) {
    std::swap(Items, Other.Items);
    std::swap(NameIndex, Other.NameIndex);
    std::swap(Repeated, Other.Repeated);
    std::swap(IndexValid, Other.IndexValid);
  } else {
    Items.reserve(Items.size() + Other.Items.size());
    for (auto& Item : Other.Items) Items.push_back(std::move(Item));
    IndexValid = false;
  }
  Other.Clear();
}

void TIniSectionList::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) throw std::out_of_range("TIniSectionList::Delete");
  Items.erase(Items.begin() + Index);
  IndexValid = false;
}

void TIniSectionList::Clear() {
  Items.clear();
  NameIndex.clear();
  Repeated = false;
  IndexValid = true;
}

void TIniSectionList::BuildIndex() const {
  NameIndex.clear();
  NameIndex.reserve(Items.size());
  Repeated = false;
  for (size_t I = 0; I < Items.size(); ++I)
    if (!NameIndex.emplace(Items[I]->FoldedName(), static_cast<int32_t>(I)).second) Repeated = true;
  IndexValid = true;
}

int32_t TIniSectionList::Find(const std::string& FoldedName, int32_t Start) const {
  if (!IndexValid) BuildIndex();
  auto It = NameIndex.find(FoldedName);
  if (It == NameIndex.end()) return -1;
  if (!Repeated) return It->second;
  // The first match at or after Start, else the first one overall (the
  // search wraps round).
  for (int32_t I = std::max(Start, 0); I < Count(); ++I)
    if (Items[static_cast<size_t>(I)]->FoldedName() == FoldedName) return I;
  return It->second;
}

bool TIniSectionList::HasRepeatedNames() const {
  if (!IndexValid) BuildIndex();
  return Repeated;
}

int32_t TIniSectionList::IndexOf(const std::string& Name) {
  int32_t Index = Find(FoldCase(Name), LastFound);
  if (Index >= 0) LastFound = Index;
  return Index;
}

void TIniSectionList::RemoveDuplicates() {
  if (!HasRepeatedNames()) return;
  std::unordered_set<std::string_view> Seen;
  Seen.reserve(Items.size());
  std::vector<std::unique_ptr<TIniSection>> Kept;
  Kept.reserve(Items.size());
  for (auto& Item : Items) {
    if (Seen.insert(Item->FoldedName()).second) Kept.push_back(std::move(Item));
  }
  Items = std::move(Kept);
  IndexValid = false;
}

// ---------------------------------------------------------------------------
// TSectionedIniFile

TSectionedIniFile::TSectionedIniFile(const std::string& Path) {
  TextBufferSize = 16384;
  CurrentSection = 0;
  SetFileName(Path);
}

TSectionedIniFile::~TSectionedIniFile() {
  try {
    UpdateFile();
  } catch (...) {
    // A destructor must not throw; callers that must know call UpdateFile.
  }
}

void TSectionedIniFile::SetFileName(const std::string& Path) {
  UpdateFile();
  Sections.Clear();
  Sections.LastFound = 0;
  CurrentSection = 0;
  FileName = Path;
  Modified = false;
  if (!Path.empty()) {
    try {
      LoadFromFile(Path);
    } catch (...) {
      // Never bind to a file that could not be read: a later write would
      // replace its content with whatever little was written here.
      Sections.Clear();
      FileName.clear();
      throw;
    }
  }
  Modified = false;
}

void TSectionedIniFile::LoadFromFile(const std::string& Path) {
  CurrentSection = 0;
  // A missing file reads as empty; a pipe or a device is refused rather than
  // read until it ends, which it may never do.
  TFd File(OpenRegularForReading(Path, true));
  if (File.Fd < 0) return;
  // Read through the buffer a piece at a time, never holding the whole file,
  // into sections of its own, so that a read error leaves the sections as
  // they were.
  TIniSectionList Loaded;
  int32_t Target = -1;  // lines before the first header are dropped
  // The lines of a section are gathered first, so that it takes them in
  // one allocation.
  std::string Gathered;
  std::vector<size_t> Ends;
  auto Flush = [&] {
    if (Target < 0) return;
    TIniSection& S = Loaded.Section(Target);
    S.Reserve(Ends.size(), Gathered.size());
    for (size_t I = 0, Start = 0; I < Ends.size(); Start = Ends[I++])
      S.Add(std::string_view(Gathered).substr(Start, Ends[I] - Start));
    Gathered.clear();
    Ends.clear();
  };
  auto TakeLine = [&](std::string_view Line) {
    if (Line.size() >= 2 && Line.front() == '[' && Line.back() == ']') {
      Flush();
      Target = Loaded.AddUnindexed(std::string(Line.substr(1, Line.size() - 2)));
    } else if (!Line.empty() && Target >= 0) {
      Gathered.append(Line);
      Ends.push_back(Gathered.size());
    }
  };

  std::vector<char> Buffer(BufferSize(TextBufferSize));
  std::string Partial;  // the start of a line that goes on in the next piece
  bool SkipLineFeed = false;
  bool SawMark = false;
  const char* Breaks = LineFeedsEndLines(File.Fd) ? "\r\n" : "\r";
  while (!SawMark) {
    ssize_t Got = ::read(File.Fd, Buffer.data(), Buffer.size());
    if (Got < 0) {
      if (errno == EINTR) continue;
      throw EFileError("Cannot read file " + Path + ": " + SystemText(errno));
    }
    if (Got == 0) break;
    const std::string_view Piece(Buffer.data(), static_cast<size_t>(Got));
    size_t Size = Piece.find(EndOfFileMark);
    SawMark = Size != std::string_view::npos;
    if (!SawMark) Size = Piece.size();
    size_t Pos = 0;
    // A line feed right after a carriage return belongs to it.
    if (SkipLineFeed && Size > 0 && Piece[0] == '\n') Pos = 1;
    SkipLineFeed = false;
    while (Pos < Size) {
      size_t End = Piece.find_first_of(Breaks, Pos);
      if (End == std::string_view::npos || End >= Size) {
        Partial.append(Piece.substr(Pos, Size - Pos));
        break;
      }
      if (Partial.empty()) {
        TakeLine(Piece.substr(Pos, End - Pos));
      } else {
        Partial.append(Piece.substr(Pos, End - Pos));
        TakeLine(Partial);
        Partial.clear();
      }
      Pos = End + 1;
      if (Piece[End] == '\n') continue;
      if (Pos == Size) SkipLineFeed = true;
      else if (Piece[Pos] == '\n') ++Pos;
    }
  }
  if (!Partial.empty()) TakeLine(Partial);
  Flush();
  Sections.TakeOver(Loaded);
  Sections.RemoveDuplicates();
}

int32_t TSectionedIniFile::FindSection(const std::string& Section, bool Create) {
  int32_t Start = (CurrentSection >= 0 && CurrentSection < Sections.Count()) ? CurrentSection : 0;
  // The search starts at the current section: most reads stay in it.
  if (Start < Sections.Count() && FoldsTo(Section, Sections.Section(Start).FoldedName())) return Start;
  int32_t Index = Sections.Find(FoldCase(Section), Start);
  if (Index < 0) {
    if (!Create) return -1;
    Index = Sections.Add(Section);
  }
  CurrentSection = Index;
  return Index;
}

std::string TSectionedIniFile::ReadString(const std::string& Section, const std::string& Key,
                                          const std::string& Default) {
  int32_t Index = FindSection(Section, false);
  if (Index < 0) return Default;
  const TIniSection& S = Sections.Section(Index);
  int32_t Line = S.IndexOfKey(FoldCase(Key));
  if (Line < 0) return Default;
  std::string_view Text = S.Line(Line);
  return std::string(Text.substr(Text.find('=') + 1));
}

void TSectionedIniFile::WriteString(const std::string& Section, const std::string& Key, const std::string& Value) {
  for (const std::string* Part : {&Section, &Key, &Value})
    if (Part->find_first_of(std::string("\r\x1a", 2)) != std::string::npos)
      throw std::invalid_argument("A carriage return or end-of-file mark cannot be stored in a settings line");
  std::string Line = Key + "=" + Value;
  TIniSection& S = Sections.Section(FindSection(Section, true));
  int32_t Index = S.IndexOfKey(FoldCase(Key));
  if (Index < 0) {
    S.Add(Line);
    Modified = true;
  } else if (S.Line(Index) != Line) {
    S.Replace(Index, Line);
    Modified = true;
  }
}

int32_t TSectionedIniFile::ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) {
  std::string Text = ReadString(Section, Key, std::string());
  if (Text.size() >= 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) Text.replace(0, 2, "$");
  int32_t Result;
  return ConvertInteger(Text, Result) ? Result : Default;
}

void TSectionedIniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value) {
  WriteString(Section, Key, std::to_string(Value));
}

TDateTime TSectionedIniFile::ReadDate(const std::string& Section, const std::string& Key, TDateTime Default) {
  std::string Text = ReadString(Section, Key, std::string());
  if (Text.empty()) return Default;
  int32_t Day, Month, Year;
  if (!ConvertInteger(Copy(Text, 1, 2), Day) || !ConvertInteger(Copy(Text, 4, 2), Month) ||
      !ConvertInteger(Copy(Text, 7, 4), Year))
    return Default;
  if (!IsValidDate(Year, Month, Day)) return Default;
  return EncodeDate(Year, Month, Day);
}

void TSectionedIniFile::WriteDate(const std::string& Section, const std::string& Key, TDateTime Value) {
  int Year, Month, Day;
  DecodeDate(Value, Year, Month, Day);
  WriteString(Section, Key,
              PadWithZeros(std::to_string(Day), 2) + "/" + PadWithZeros(std::to_string(Month), 2) + "/" +
                  PadWithZeros(std::to_string(Year), 4));
}

TDateTime TSectionedIniFile::ReadTime(const std::string& Section, const std::string& Key, TDateTime Default) {
  std::string Text = ReadString(Section, Key, std::string());
  if (Text.empty()) return Default;
  int32_t Hour, Minute, Second, Millisecond;
  if (!ConvertInteger(Copy(Text, 1, 2), Hour) || !ConvertInteger(Copy(Text, 4, 2), Minute) ||
      !ConvertInteger(Copy(Text, 7, 2), Second))
    return Default;
  if (!ConvertInteger(Copy(Text, 10, 3), Millisecond)) Millisecond = 0;
  if (!IsValidTime(Hour, Minute, Second, Millisecond)) return Default;
  return EncodeTime(Hour, Minute, Second, Millisecond);
}

void TSectionedIniFile::WriteTime(const std::string& Section, const std::string& Key, TDateTime Value) {
  int Hour, Minute, Second, Millisecond;
  DecodeTime(Value, Hour, Minute, Second, Millisecond);
  WriteString(Section, Key,
              PadWithZeros(std::to_string(Hour), 2) + ":" + PadWithZeros(std::to_string(Minute), 2) + ":" +
                  PadWithZeros(std::to_string(Second), 2) + "." + PadWithZeros(std::to_string(Millisecond), 3));
}

bool TSectionedIniFile::ReadBool(const std::string& Section, const std::string& Key, bool Default) {
  return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

void TSectionedIniFile::WriteBool(const std::string& Section, const std::string& Key, bool Value) {
  WriteString(Section, Key, Value ? "1" : "0");
}

void TSectionedIniFile::ReadSection(const std::string& Section, std::vector<std::string>& Target) {
  int32_t Index = Sections.IndexOf(Section);
  if (Index < 0) return;
  const TIniSection& S = Sections.Section(Index);
  for (int32_t I = 0; I < S.Count(); ++I) {
    std::string_view Key;
    Target.emplace_back(LineKey(S.Line(I), Key) ? Key : std::string_view());
  }
}

void TSectionedIniFile::ReadSections(std::vector<std::string>& Target) {
  Target.clear();
  for (int32_t I = 0; I < Sections.Count(); ++I) Target.push_back(Sections.Name(I));
}

void TSectionedIniFile::ReadSectionValues(const std::string& Section, std::vector<std::string>& Target) {
  int32_t Index = Sections.IndexOf(Section);
  if (Index < 0) return;
  const TIniSection& S = Sections.Section(Index);
  for (int32_t I = 0; I < S.Count(); ++I) Target.emplace_back(S.Line(I));
}

void TSectionedIniFile::EraseSection(const std::string& Section) {
  int32_t Index = Sections.IndexOf(Section);
  if (Index < 0) return;
  Sections.Delete(Index);
  Sections.LastFound = 0;
  Modified = true;
  if (CurrentSection >= Sections.Count()) CurrentSection = 0;
}

void TSectionedIniFile::DeleteKey(const std::string& Section, const std::string& Key) {
  TIniSection& S = Sections.Section(FindSection(Section, true));
  int32_t Index = S.IndexOfKey(FoldCase(Key));
  if (Index < 0) return;
  S.Delete(Index);
  Modified = true;
}

void TSectionedIniFile::ReadAll(std::vector<std::string>& Target) {
  for (int32_t I = 0; I < Sections.Count(); ++I) {
    const TIniSection& S = Sections.Section(I);
    if (S.Count() == 0) continue;
    Target.push_back("[" + S.Name() + "]");
    for (int32_t L = 0; L < S.Count(); ++L) Target.emplace_back(S.Line(L));
    Target.emplace_back();
  }
}

void TSectionedIniFile::UpdateFile() {
  if (!Modified || FileName.empty()) {
    Modified = false;
    return;
  }
  std::string Content;
  for (int32_t I = 0; I < Sections.Count(); ++I) {
    const TIniSection& S = Sections.Section(I);
    if (S.Count() == 0) continue;
    Content += "[" + S.Name() + "]\r\n";
    for (int32_t L = 0; L < S.Count(); ++L) {
      Content += S.Line(L);
      Content += "\r\n";
    }
    Content += "\r\n";
  }
  // Renaming would replace a read-only file without asking, so that is
  // refused as writing it in place would be. A settings file the user may
  // write in a folder they may not is written in place.
  TFileReplacement::TOptions Options;
  Options.CreateError = "Cannot write file ";
  Options.InPlaceWhenFolderLocked = true;
  TFileReplacement File(FileName, Options);
  File.Reserve(off_t(Content.size()));
  const size_t Limit = BufferSize(TextBufferSize);
  for (size_t Pos = 0; Pos < Content.size(); Pos += Limit)
    File.Write(Content.data() + Pos, std::min(Limit, Content.size() - Pos));
  File.Commit();
  Modified = false;
}
