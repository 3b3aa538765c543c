#include "Verinfo.h"

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const char* const VersionItemKeys[VersionItemCount] = {
    // clang-format off
    "\\CompanyName",     "\\Comments",         "\\FileDescription", "\\FileVersion",    "\\InternalName",
    "\\LegalCopyright",  "\\LegalTrademarks",  "\\OriginalFilename", "\\ProductVersion", "\\ProductName"};
// clang-format on

std::string VersionText;
std::string CopyrightText;

namespace {

// Section tables and name tables larger than these are damage, not programs.
constexpr uint64_t SectionTableLimit = 4u << 20;
constexpr uint64_t NameTableLimit = 1u << 20;
constexpr uint32_t NoBitsSection = 8;  // SHT_NOBITS: takes no room in the file
constexpr uint16_t ExtendedIndex = 0xffff;

// An open file that is closed with the object; only regular files are read,
// so a named pipe or a device never blocks the start.
class TFile {
public:
  explicit TFile(const std::string& FileName) {
    FHandle = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat Status {};
    if (FHandle >= 0 && ::fstat(FHandle, &Status) == 0 && S_ISREG(Status.st_mode) && Status.st_size >= 0) {
      FSize = static_cast<uint64_t>(Status.st_size);
      FUsable = true;
    }
  }
  ~TFile() {
    if (FHandle >= 0) ::close(FHandle);
  }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  bool Usable() const { return FUsable; }
  uint64_t Size() const { return FSize; }
  // Reads exactly Count bytes at Offset, which must lie within the file.
  bool ReadAt(uint64_t Offset, void* Buffer, uint64_t Count) const {
    if (!FUsable || !Fits(Offset, Count)) return false;
    auto* Into = static_cast<char*>(Buffer);
    while (Count > 0) {
      const ssize_t Got = ::pread(FHandle, Into, Count, static_cast<off_t>(Offset));
      if (Got < 0 && errno == EINTR) continue;
      if (Got <= 0) return false;
      Into += Got;
      Offset += static_cast<uint64_t>(Got);
      Count -= static_cast<uint64_t>(Got);
    }
    return true;
  }
  bool Fits(uint64_t Offset, uint64_t Count) const { return Offset <= FSize && Count <= FSize - Offset; }

private:
  int FHandle = -1;
  uint64_t FSize = 0;
  bool FUsable = false;
};

// Fields of ELF headers in either byte order.
struct TElfLayout {
  bool Wide = true;  // 64-bit class
  bool BigEndian = false;

  uint64_t Field(const unsigned char* At, int Bytes) const {
    uint64_t Value = 0;
    for (int I = 0; I < Bytes; ++I) {
      const int Shift = BigEndian ? (Bytes - 1 - I) * 8 : I * 8;
      Value |= static_cast<uint64_t>(At[I]) << Shift;
    }
    return Value;
  }
  // A word that is 8 bytes in the 64-bit class and 4 in the 32-bit one.
  uint64_t Word(const unsigned char* At) const { return Field(At, Wide ? 8 : 4); }
  uint64_t SectionHeaderSize() const { return Wide ? 64 : 40; }

  struct TSection {
    uint32_t Name, Type, Link;
    uint64_t Offset, Size;
  };
  TSection Section(const unsigned char* At) const {
    TSection S{};
    S.Name = static_cast<uint32_t>(Field(At, 4));
    S.Type = static_cast<uint32_t>(Field(At + 4, 4));
    S.Offset = Word(At + (Wide ? 24 : 16));
    S.Size = Word(At + (Wide ? 32 : 20));
    S.Link = static_cast<uint32_t>(Field(At + (Wide ? 40 : 24), 4));
    return S;
  }
};

}  // namespace

int32_t GetFileVersionInfoSize(const std::string& FileName, uint64_t& Handle) {
  Handle = 0;
  TFile File(FileName);
  unsigned char Header[64] = {};
  if (!File.Usable() || !File.ReadAt(0, Header, std::min<uint64_t>(sizeof Header, File.Size()))) return 0;
  if (std::memcmp(Header,
                  "\x7f"
                  "ELF",
                  4) != 0)
    return 0;
  TElfLayout Elf;
  if (Header[4] != 1 && Header[4] != 2) return 0;
  if (Header[5] != 1 && Header[5] != 2) return 0;
  Elf.Wide = Header[4] == 2;
  Elf.BigEndian = Header[5] == 2;
  if (File.Size() < (Elf.Wide ? 64u : 52u)) return 0;

  const uint64_t TableOffset = Elf.Word(Header + (Elf.Wide ? 40 : 32));
  const unsigned char* Counts = Header + (Elf.Wide ? 58 : 46);
  const uint64_t EntrySize = Elf.Field(Counts, 2);
  uint64_t Count = Elf.Field(Counts + 2, 2);
  uint64_t NamesIndex = Elf.Field(Counts + 4, 2);
  if (TableOffset == 0 || EntrySize < Elf.SectionHeaderSize()) return 0;

  // Files with many sections keep the true count and name index in section 0.
  if (Count == 0 || NamesIndex == ExtendedIndex) {
    std::vector<unsigned char> First(EntrySize);
    if (!File.ReadAt(TableOffset, First.data(), EntrySize)) return 0;
    const auto Zero = Elf.Section(First.data());
    if (Count == 0) Count = Zero.Size;
    if (NamesIndex == ExtendedIndex) NamesIndex = Zero.Link;
  }
  if (Count == 0 || NamesIndex >= Count) return 0;
  if (Count > SectionTableLimit / EntrySize || !File.Fits(TableOffset, Count * EntrySize)) return 0;
  std::vector<unsigned char> Table(Count * EntrySize);
  if (!File.ReadAt(TableOffset, Table.data(), Table.size())) return 0;

  const auto NameSection = Elf.Section(Table.data() + NamesIndex * EntrySize);
  if (NameSection.Type == NoBitsSection || NameSection.Size == 0 || NameSection.Size > NameTableLimit) return 0;
  std::vector<char> Names(NameSection.Size);
  if (!File.ReadAt(NameSection.Offset, Names.data(), Names.size())) return 0;

  for (uint64_t I = 0; I < Count; ++I) {
    const auto Section = Elf.Section(Table.data() + I * EntrySize);
    if (Section.Name >= Names.size()) continue;
    const char* Name = Names.data() + Section.Name;
    const size_t Room = Names.size() - Section.Name;
    if (strnlen(Name, Room) == Room || std::strcmp(Name, VersionSectionName) != 0) continue;
    // Only the first section of the name counts; a damaged one gives nothing.
    if (Section.Type == NoBitsSection || Section.Size == 0 || Section.Size > static_cast<uint64_t>(VersionBlockLimit) ||
        !File.Fits(Section.Offset, Section.Size))
      return 0;
    Handle = Section.Offset;
    return static_cast<int32_t>(Section.Size);
  }
  return 0;
}

bool GetFileVersionInfo(const std::string& FileName, uint64_t Handle, int32_t Size, char* Buffer) {
  if (Size <= 0 || !Buffer) return false;
  TFile File(FileName);
  return File.ReadAt(Handle, Buffer, static_cast<uint64_t>(Size));
}

bool VerQueryValue(const char* Block, size_t BlockSize, const std::string& Path, const char*& Value, size_t& Length) {
  Value = nullptr;
  Length = 0;
  constexpr size_t MagicSize = sizeof VersionBlockMagic;
  if (!Block || BlockSize < MagicSize || std::memcmp(Block, VersionBlockMagic, MagicSize) != 0) return false;
  // Each text must end inside the block; the first one that does not ends the search.
  auto NextText = [&](size_t& Pos, const char*& Text, size_t& TextLength) {
    if (Pos >= BlockSize) return false;
    const void* End = std::memchr(Block + Pos, 0, BlockSize - Pos);
    if (!End) return false;
    Text = Block + Pos;
    TextLength = static_cast<size_t>(static_cast<const char*>(End) - Text);
    Pos += TextLength + 1;
    return true;
  };
  size_t Pos = MagicSize;
  const char *Key = nullptr, *Text = nullptr;
  size_t KeyLength = 0, TextLength = 0;
  while (NextText(Pos, Key, KeyLength) && KeyLength > 0 && NextText(Pos, Text, TextLength)) {
    if (KeyLength == Path.size() && std::memcmp(Key, Path.data(), KeyLength) == 0) {
      Value = Text;
      Length = TextLength;
      return true;
    }
  }
  return false;
}

namespace {

bool ParseHex(const char* Text, int Digits, uint32_t& Value) {
  Value = 0;
  for (int I = 0; I < Digits; ++I) {
    const char C = Text[I];
    uint32_t Digit;
    if (C >= '0' && C <= '9') Digit = static_cast<uint32_t>(C - '0');
    else if (C >= 'A' && C <= 'F') Digit = static_cast<uint32_t>(C - 'A' + 10);
    else if (C >= 'a' && C <= 'f') Digit = static_cast<uint32_t>(C - 'a' + 10);
    else return false;
    Value = Value * 16 + Digit;
  }
  return true;
}

}  // namespace

TVersionInfo::TVersionInfo(const std::string& FileName) {
  FValid = false;
  uint64_t Handle = 0;
  FSize = GetFileVersionInfoSize(FileName, Handle);
  if (FSize <= 0) return;
  FBlock = std::make_unique<char[]>(static_cast<size_t>(FSize));
  if (!GetFileVersionInfo(FileName, Handle, FSize, FBlock.get())) return;
  const char* Value = nullptr;
  size_t Length = 0;
  if (!VerQueryValue(FBlock.get(), static_cast<size_t>(FSize), "\\VarFileInfo\\Translation", Value, Length)) return;
  // Only the first entry is used; more may follow after a space.
  uint32_t Language = 0, CodePage = 0;
  if (Length < 8 || (Length > 8 && Value[8] != ' ') || !ParseHex(Value, 4, Language) ||
      !ParseHex(Value + 4, 4, CodePage))
    return;
  FTranslation = Language | CodePage << 16;
  FValid = true;
}

std::string TVersionInfo::GetItemText(int Index) const {
  if (!FValid || Index < 0 || Index >= VersionItemCount) return std::string();
  char Path[96];
  std::snprintf(Path, sizeof Path, "%s%.4X%.4X%s", "\\StringFileInfo\\", FTranslation & 0xffffu, FTranslation >> 16,
                VersionItemKeys[Index]);
  const char* Value = nullptr;
  size_t Length = 0;
  if (!VerQueryValue(FBlock.get(), static_cast<size_t>(FSize), Path, Value, Length)) return std::string();
  return std::string(Value, Length);
}

void ReadVersionTexts(const std::string& ProgramFile) {
  TVersionInfo Info(ProgramFile);
  VersionText = Info.GetItemText(3);
  const std::string Copyright = Info.GetItemText(5);
  const std::string Company = Info.GetItemText(0);
  CopyrightText = Copyright + " " + Company;
}
