#include "IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <wctype.h>

#include <fcntl.h>

#include "FileSystem.h"

namespace {

constexpr char EndOfFileMark = 26;

std::string SystemError(int Error) { return std::strerror(Error); }

// TextBufferSize is a public field; keep a nonsense value from costing
// gigabytes or nothing at all.
size_t BufferSize(int32_t Requested) {
  if (Requested <= 0) return 16384;
  return std::min<size_t>(static_cast<size_t>(Requested), 1 << 20);
}

// A fixed locale, so that name matching does not depend on the environment
// the program happens to be started in.
locale_t FoldLocale() {
  static locale_t Locale = [] {
    locale_t L = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!L) L = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    return L;
  }();
  return Locale;
}

// Decodes one well-formed UTF-8 sequence at Text[Pos]; returns its length or
// 0 when the bytes there are not one.
size_t DecodeUtf8(std::string_view Text, size_t Pos, char32_t& Code) {
  const auto Byte = [&](size_t I) { return static_cast<unsigned char>(Text[I]); };
  unsigned char B0 = Byte(Pos);
  size_t Length;
  char32_t Min;
  if (B0 >= 0xC2 && B0 <= 0xDF) { Length = 2; Code = B0 & 0x1F; Min = 0x80; }
  else if (B0 >= 0xE0 && B0 <= 0xEF) { Length = 3; Code = B0 & 0x0F; Min = 0x800; }
  else if (B0 >= 0xF0 && B0 <= 0xF4) { Length = 4; Code = B0 & 0x07; Min = 0x10000; }
  else return 0;
  if (Pos + Length > Text.size()) return 0;
  for (size_t I = 1; I < Length; ++I) {
    unsigned char B = Byte(Pos + I);
    if ((B & 0xC0) != 0x80) return 0;
    Code = (Code << 6) | (B & 0x3F);
  }
  if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return 0;
  return Length;
}

void EncodeUtf8(char32_t Code, std::string& Out) {
  if (Code < 0x80) {
    Out += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | (Code >> 6));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | (Code >> 12));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Code >> 18));
    Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

// The key of a line is the text before its first "="; lines without one
// have no key.
bool LineKey(const std::string& Line, std::string_view& Key) {
  size_t Equals = Line.find('=');
  if (Equals == std::string::npos) return false;
  Key = std::string_view(Line).substr(0, Equals);
  return true;
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

int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
  Y -= M <= 2;
  const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
  const unsigned Yoe = static_cast<unsigned>(Y - Era * 400);
  const unsigned Doy = (153 * (M > 2 ? M - 3 : M + 9) + 2) / 5 + D - 1;
  const unsigned Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
  return Era * 146097 + static_cast<int64_t>(Doe) - 719468;
}

void CivilFromDays(int64_t Z, int& Year, int& Month, int& Day) {
  Z += 719468;
  const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const unsigned Doe = static_cast<unsigned>(Z - Era * 146097);
  const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  const int64_t Y = static_cast<int64_t>(Yoe) + Era * 400;
  const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const unsigned Mp = (5 * Doy + 2) / 153;
  Day = static_cast<int>(Doy - (153 * Mp + 2) / 5 + 1);
  Month = static_cast<int>(Mp < 10 ? Mp + 3 : Mp - 9);
  Year = static_cast<int>(Y + (Month <= 2));
}

const int64_t DayZero = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

bool IsValidDate(int Year, int Month, int Day) {
  static const int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1) return false;
  return Day <= Days[Month - 1] + (Month == 2 && IsLeapYear(Year) ? 1 : 0);
}

bool IsValidTime(int Hour, int Minute, int Second, int Millisecond) {
  return Hour >= 0 && Hour < 24 && Minute >= 0 && Minute < 60 && Second >= 0 && Second < 60 &&
         Millisecond >= 0 && Millisecond < 1000;
}

bool MakeFolders(const std::string& Path) {
  struct stat Info;
  if (::stat(Path.c_str(), &Info) == 0) return S_ISDIR(Info.st_mode);
  std::string Parent = FolderOf(Path);
  if (Parent != Path && !MakeFolders(Parent)) return false;
  return ::mkdir(Path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

// ---------------------------------------------------------------------------
// Case folding

std::string FoldCase(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  size_t Pos = 0;
  while (Pos < Text.size()) {
    unsigned char C = static_cast<unsigned char>(Text[Pos]);
    if (C < 0x80) {
      Out += (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : static_cast<char>(C);
      ++Pos;
      continue;
    }
    char32_t Code;
    size_t Length = DecodeUtf8(Text, Pos, Code);
    if (Length == 0) {
      Out += static_cast<char>(C);
      ++Pos;
      continue;
    }
    locale_t Locale = FoldLocale();
    char32_t Lower = Locale ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(Code), Locale)) : Code;
    EncodeUtf8(Lower, Out);
    Pos += Length;
  }
  return Out;
}

// ---------------------------------------------------------------------------
// TIniSection

TIniSection::TIniSection(std::string Name) : SectionName(std::move(Name)), Folded(FoldCase(SectionName)) {}

void TIniSection::Add(std::string Line) {
  Items.push_back(std::move(Line));
  if (!KeysValid) return;
  std::string_view Key;
  bool Has = LineKey(Items.back(), Key);
  LineKeys.push_back(Has ? FoldCase(Key) : std::string());
  HasKey.push_back(Has);
  // emplace keeps an earlier line with the same key: the first one wins.
  if (IndexValid && Has) KeyIndex.emplace(LineKeys.back(), Count() - 1);
}

void TIniSection::Replace(int32_t Index, std::string Line) {
  Items.at(static_cast<size_t>(Index)) = std::move(Line);
  if (!KeysValid) return;
  std::string_view Key;
  bool Has = LineKey(Items[Index], Key);
  std::string NewKey = Has ? FoldCase(Key) : std::string();
  if (Has == HasKey[Index] && NewKey == LineKeys[Index]) return;
  LineKeys[Index] = std::move(NewKey);
  HasKey[Index] = Has;
  IndexValid = false;
}

void TIniSection::Delete(int32_t Index) {
  Items.erase(Items.begin() + static_cast<ptrdiff_t>(Index));
  if (KeysValid) {
    LineKeys.erase(LineKeys.begin() + Index);
    HasKey.erase(HasKey.begin() + Index);
  }
  // Later lines move up, so the positions in the index are stale.
  IndexValid = false;
}

void TIniSection::Clear() {
  Items.clear();
  LineKeys.clear();
  HasKey.clear();
  KeyIndex.clear();
  KeysValid = true;
  IndexValid = true;
}

void TIniSection::BuildIndex() const {
  if (!KeysValid) {
    LineKeys.clear();
    HasKey.clear();
    LineKeys.reserve(Items.size());
    HasKey.reserve(Items.size());
    for (const std::string& Line : Items) {
      std::string_view Key;
      bool Has = LineKey(Line, Key);
      LineKeys.push_back(Has ? FoldCase(Key) : std::string());
      HasKey.push_back(Has);
    }
    KeysValid = true;
  }
  KeyIndex.clear();
  KeyIndex.reserve(Items.size());
  for (size_t I = 0; I < LineKeys.size(); ++I)
    if (HasKey[I]) KeyIndex.emplace(LineKeys[I], static_cast<int32_t>(I));
  IndexValid = true;
}

int32_t TIniSection::IndexOfKey(const std::string& FoldedKey) const {
  if (!IndexValid) BuildIndex();
  auto It = KeyIndex.find(FoldedKey);
  return It == KeyIndex.end() ? -1 : It->second;
}

// ---------------------------------------------------------------------------
// TIniSectionList

TIniSectionList::TIniSectionList() = default;
TIniSectionList::~TIniSectionList() = default;

int32_t TIniSectionList::Count() const { return static_cast<int32_t>(Items.size()); }

const std::string& TIniSectionList::Name(int32_t Index) const {
  return Items.at(static_cast<size_t>(Index))->Name();
}

TIniSection& TIniSectionList::Section(int32_t Index) { return *Items.at(static_cast<size_t>(Index)); }

const TIniSection& TIniSectionList::Section(int32_t Index) const {
  return *Items.at(static_cast<size_t>(Index));
}

int32_t TIniSectionList::Add(const std::string& Name) {
  Items.push_back(std::make_unique<TIniSection>(Name));
  int32_t Index = Count() - 1;
  // Appending keeps each index list ascending.
  if (IndexValid) NameIndex[Items.back()->FoldedName()].push_back(Index);
  return Index;
}

void TIniSectionList::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) throw std::out_of_range("TIniSectionList::Delete");
  Items.erase(Items.begin() + Index);
  IndexValid = false;
}

void TIniSectionList::Clear() {
  Items.clear();
  NameIndex.clear();
  IndexValid = true;
}

void TIniSectionList::BuildIndex() const {
  NameIndex.clear();
  NameIndex.reserve(Items.size());
  for (size_t I = 0; I < Items.size(); ++I)
    NameIndex[Items[I]->FoldedName()].push_back(static_cast<int32_t>(I));
  IndexValid = true;
}

int32_t TIniSectionList::Find(const std::string& FoldedName, int32_t Start) const {
  if (!IndexValid) BuildIndex();
  auto It = NameIndex.find(FoldedName);
  if (It == NameIndex.end() || It->second.empty()) return -1;
  const std::vector<int32_t>& At = It->second;
  // The first match at or after Start, else the first one overall (the
  // search wraps round).
  auto Hit = std::lower_bound(At.begin(), At.end(), Start);
  return Hit != At.end() ? *Hit : At.front();
}

int32_t TIniSectionList::IndexOf(const std::string& Name) {
  int32_t Index = Find(FoldCase(Name), LastFound);
  if (Index >= 0) LastFound = Index;
  return Index;
}

void TIniSectionList::RemoveDuplicates() {
  if (Items.size() < 2) return;
  std::unordered_set<std::string> Seen;
  Seen.reserve(Items.size());
  std::vector<std::unique_ptr<TIniSection>> Kept;
  Kept.reserve(Items.size());
  bool Removed = false;
  for (auto& Item : Items) {
    if (Seen.insert(Item->FoldedName()).second) Kept.push_back(std::move(Item));
    else Removed = true;
  }
  Items = std::move(Kept);
  if (Removed) IndexValid = false;
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
  int Fd = OpenRegularForReading(Path, true);
  if (Fd < 0) return;
  // Read everything first, so that a read error leaves the sections as they
  // were.
  std::string Content;
  std::vector<char> Buffer(BufferSize(TextBufferSize));
  bool SawMark = false;
  while (!SawMark) {
    ssize_t Got = ::read(Fd, Buffer.data(), Buffer.size());
    if (Got < 0) {
      if (errno == EINTR) continue;
      int Error = errno;
      ::close(Fd);
      throw EFileError("Cannot read file " + Path + ": " + SystemError(Error));
    }
    if (Got == 0) break;
    const char* Mark = static_cast<const char*>(std::memchr(Buffer.data(), EndOfFileMark, static_cast<size_t>(Got)));
    size_t Use = Mark ? static_cast<size_t>(Mark - Buffer.data()) : static_cast<size_t>(Got);
    Content.append(Buffer.data(), Use);
    SawMark = Mark != nullptr;
  }
  ::close(Fd);

  int32_t Target = -1;  // lines before the first header are dropped
  size_t Pos = 0;
  const size_t Size = Content.size();
  while (Pos < Size) {
    size_t End = Content.find('\r', Pos);
    if (End == std::string::npos) End = Size;
    size_t Next = End;
    if (Next < Size) {
      ++Next;  // the carriage return
      if (Next < Size && Content[Next] == '\n') ++Next;
    }
    size_t Length = End - Pos;
    if (Length > 0) {
      if (Length >= 2 && Content[Pos] == '[' && Content[End - 1] == ']') {
        Target = Sections.Add(Content.substr(Pos + 1, Length - 2));
      } else if (Target >= 0) {
        Sections.Section(Target).Add(Content.substr(Pos, Length));
      }
    }
    Pos = Next;
  }
  Sections.RemoveDuplicates();
}

int32_t TSectionedIniFile::FindSection(const std::string& Section, bool Create) {
  int32_t Start = (CurrentSection >= 0 && CurrentSection < Sections.Count()) ? CurrentSection : 0;
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
  const std::string& Text = S.Lines()[static_cast<size_t>(Line)];
  return Text.substr(Text.find('=') + 1);
}

void TSectionedIniFile::WriteString(const std::string& Section, const std::string& Key,
                                    const std::string& Value) {
  for (const std::string* Part : {&Section, &Key, &Value})
    if (Part->find_first_of(std::string("\r\x1a", 2)) != std::string::npos)
      throw std::invalid_argument("A carriage return or end-of-file mark cannot be stored in a settings line");
  std::string Line = Key + "=" + Value;
  TIniSection& S = Sections.Section(FindSection(Section, true));
  int32_t Index = S.IndexOfKey(FoldCase(Key));
  if (Index < 0) {
    S.Add(std::move(Line));
    Modified = true;
  } else if (S.Lines()[static_cast<size_t>(Index)] != Line) {
    S.Replace(Index, std::move(Line));
    Modified = true;
  }
}

int32_t TSectionedIniFile::ReadInteger(const std::string& Section, const std::string& Key,
                                       int32_t Default) {
  std::string Text = ReadString(Section, Key, std::string());
  if (Text.size() >= 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) Text.replace(0, 2, "$");
  int32_t Result;
  return ConvertInteger(Text, Result) ? Result : Default;
}

void TSectionedIniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value) {
  WriteString(Section, Key, std::to_string(Value));
}

TDateTime TSectionedIniFile::ReadDate(const std::string& Section, const std::string& Key,
                                      TDateTime Default) {
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

TDateTime TSectionedIniFile::ReadTime(const std::string& Section, const std::string& Key,
                                      TDateTime Default) {
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
                  PadWithZeros(std::to_string(Second), 2) + "." +
                  PadWithZeros(std::to_string(Millisecond), 3));
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
  for (const std::string& Line : Sections.Section(Index).Lines()) {
    size_t Equals = Line.find('=');
    Target.push_back(Equals == std::string::npos ? std::string() : Line.substr(0, Equals));
  }
}

void TSectionedIniFile::ReadSections(std::vector<std::string>& Target) {
  Target.clear();
  for (int32_t I = 0; I < Sections.Count(); ++I) Target.push_back(Sections.Name(I));
}

void TSectionedIniFile::ReadSectionValues(const std::string& Section, std::vector<std::string>& Target) {
  int32_t Index = Sections.IndexOf(Section);
  if (Index < 0) return;
  const auto& Lines = Sections.Section(Index).Lines();
  Target.insert(Target.end(), Lines.begin(), Lines.end());
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
    Target.insert(Target.end(), S.Lines().begin(), S.Lines().end());
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
    for (const std::string& Line : S.Lines()) {
      Content += Line;
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

// ---------------------------------------------------------------------------
// String utilities

std::string PadWithZeros(const std::string& Text, int Width) {
  if (Width <= 0 || Text.size() >= static_cast<size_t>(Width)) return Text;
  return std::string(static_cast<size_t>(Width) - Text.size(), '0') + Text;
}

std::string TrimLeadingSpaces(const std::string& Text) {
  size_t First = Text.find_first_not_of(' ');
  return First == std::string::npos ? std::string() : Text.substr(First);
}

std::string TrimTrailingChar(const std::string& Text, char Character) {
  size_t End = Text.size();
  while (End > 0 && Text[End - 1] == Character) --End;
  return Text.substr(0, End);
}

std::string TrimTrailingSpaces(const std::string& Text) { return TrimTrailingChar(Text, ' '); }

std::string TrimSpaces(const std::string& Text) { return TrimLeadingSpaces(TrimTrailingSpaces(Text)); }

std::string CapitaliseWords(const std::string& Text) {
  std::string Out = Text;
  bool WordStart = true;
  for (char& C : Out) {
    if (C >= 'A' && C <= 'Z') {
      WordStart = false;
    } else if (C >= 'a' && C <= 'z') {
      if (WordStart) C = static_cast<char>(C - 32);
      WordStart = false;
    } else {
      WordStart = true;
    }
  }
  return Out;
}

// ---------------------------------------------------------------------------
// Dates

TDateTime EncodeDate(int Year, int Month, int Day) {
  if (!IsValidDate(Year, Month, Day)) throw std::invalid_argument("Invalid date");
  return static_cast<TDateTime>(DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day)) -
                                DayZero);
}

void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day) {
  // Whole days count towards zero, as the fraction is the time of day even
  // before 1899.
  const double Lowest = static_cast<double>(DaysFromCivil(1, 1, 1) - DayZero);
  const double Highest = static_cast<double>(DaysFromCivil(9999, 12, 31) - DayZero);
  if (!std::isfinite(Value) || std::trunc(Value) < Lowest || std::trunc(Value) > Highest) {
    Year = Month = Day = 0;
    return;
  }
  CivilFromDays(static_cast<int64_t>(std::trunc(Value)) + DayZero, Year, Month, Day);
}

TDateTime EncodeTime(int Hour, int Minute, int Second, int Millisecond) {
  if (!IsValidTime(Hour, Minute, Second, Millisecond)) throw std::invalid_argument("Invalid time");
  return (((Hour * 60.0 + Minute) * 60.0 + Second) * 1000.0 + Millisecond) / 86400000.0;
}

void DecodeTime(TDateTime Value, int& Hour, int& Minute, int& Second, int& Millisecond) {
  if (!std::isfinite(Value)) {
    Hour = Minute = Second = Millisecond = 0;
    return;
  }
  double Fraction = std::fabs(Value - std::trunc(Value));
  int64_t Total = static_cast<int64_t>(std::llround(Fraction * 86400000.0));
  if (Total >= 86400000) Total = 86399999;
  Millisecond = static_cast<int>(Total % 1000);
  Total /= 1000;
  Second = static_cast<int>(Total % 60);
  Total /= 60;
  Minute = static_cast<int>(Total % 60);
  Hour = static_cast<int>(Total / 60);
}

// ---------------------------------------------------------------------------
// Settings file location

std::string GetExecutablePath() {
  std::vector<char> Buffer(256);
  for (;;) {
    ssize_t Length = ::readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (Length < 0) return std::string();
    if (static_cast<size_t>(Length) < Buffer.size()) return std::string(Buffer.data(), static_cast<size_t>(Length));
    Buffer.resize(Buffer.size() * 2);
  }
}

std::string SettingsFileNameFor(const std::string& ExecutablePath, bool FolderWritable) {
  if (!ExecutablePath.empty() && FolderWritable) return ExecutablePath + ".INI";
  std::string Config;
  const char* Xdg = std::getenv("XDG_CONFIG_HOME");
  // Relative values are invalid and are ignored.
  if (Xdg && Xdg[0] == '/') {
    Config = Xdg;
  } else {
    const char* Home = std::getenv("HOME");
    std::string HomeFolder;
    if (Home && Home[0] != '\0') {
      HomeFolder = Home;
    } else if (const passwd* Entry = ::getpwuid(::getuid())) {
      HomeFolder = Entry->pw_dir;
    }
    Config = HomeFolder + "/.config";
  }
  std::string Folder = Config + "/tobrinel";
  // A folder that cannot be made shows up later as a write error naming it.
  MakeFolders(Folder);
  return Folder + "/tobrinel.INI";
}

std::string GetSettingsFileName() {
  std::string Executable = GetExecutablePath();
  bool Writable = !Executable.empty() && ::access(FolderOf(Executable).c_str(), W_OK) == 0;
  return SettingsFileNameFor(Executable, Writable);
}
