#include "Adrbook.h"

#include "EntryPool.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSystem.h"
#include "NameOrder.h"

static_assert(alignof(TAddressItem) <= EntryPool::Alignment);
void* TAddressItem::operator new(size_t Size) { return EntryPool::Allocate(Size); }
void TAddressItem::operator delete(void* Block, size_t Size) noexcept { EntryPool::Free(Block, Size); }

char* NewTextBlock(std::string_view Text) {
  auto* Block = static_cast<char*>(EntryPool::Allocate(Text.size() + 1));
  std::memcpy(Block, Text.data(), Text.size());
  Block[Text.size()] = 0;
  return Block;
}
void FreeTextBlock(char* Block, size_t Size) noexcept { EntryPool::Free(Block, Size + 1); }

const char* const BookHeader = "TOBRINEL:1.04";

namespace {

constexpr size_t HeaderSize = 15;
constexpr int32_t MaxStoredLength = 32767;  // lengths and counts are signed 16-bit

// Records are put into room made for the whole record at once: a byte at a
// time through the string's checks was a tenth of an import.
char* PutInt16(char* At, int32_t Value) {
  At[0] = char(Value & 0xFF);
  At[1] = char((Value >> 8) & 0xFF);
  return At + 2;
}

char* PutString(char* At, std::string_view Text) {
  At = PutInt16(At, int32_t(Text.size()));
  if (!Text.empty()) std::memcpy(At, Text.data(), Text.size());
  return At + Text.size();
}

// The bytes of the record PutRecord writes; lines cost their text and two
// bytes each, never less than the packed list with its one-byte sizes.
size_t RecordSize(const TAddressItem& Item) {
  size_t Size = 7 * 2 + Item.Surname.size() + Item.FirstName.size() + Item.HomeTelephone.size() +
                Item.BusTelephone.size() + Item.BusExtn.size() + Item.BusFacsimile.size() + Item.BusMobile.size();
  for (const TLineList* List : Item.LineLists()) Size += 2 + List->PackedSize() + size_t(List->Count());
  return Size + 2;
}

char* PutRecord(char* At, const TAddressItem& Item) {
  for (std::string_view Field : Item.TextFields()) At = PutString(At, Field);
  for (const TLineList* List : Item.LineLists()) {
    At = PutInt16(At, List->Count());
    List->ForEach([&](std::string_view Line) { At = PutString(At, Line); });
  }
  return PutInt16(At, Item.TabPage);
}

std::string EntryName(const TAddressItem& Item) {
  std::string Name = Item.Surname.string();
  if (!Item.FirstName.empty()) Name.append(Name.empty() ? "" : ", ").append(Item.FirstName.str());
  return Name.empty() ? "(no name)" : Name;
}

void CheckLines(const TAddressItem& Item, const TLineList& Lines, const char* What) {
  if (Lines.Count() > MaxStoredLength)
    throw EFileError("The entry \"" + EntryName(Item) + "\" cannot be saved: its " + What +
                     " has more than 32767 lines.");
  bool TooLong = false;
  // No line is longer than all of them together: most lists need no walk.
  if (Lines.PackedSize() > size_t(MaxStoredLength))
    Lines.ForEach([&](std::string_view Line) { TooLong |= Line.size() > size_t(MaxStoredLength); });
  if (TooLong)
    throw EFileError("The entry \"" + EntryName(Item) + "\" cannot be saved: a line of its " + What +
                     " is longer than 32767 bytes.");
}

// Most text is valid UTF-8 already; only older single-byte text is converted.
template <class TField>
void AssignText(TField& Field, std::string_view Bytes) {
  if (IsValidUtf8(Bytes)) Field = Bytes;
  else Field = ToUtf8(Bytes);
}

// The first bytes of a file: the header line, ended by whatever ends it.
bool IsCurrentHeader(std::string_view First) {
  First = First.substr(0, std::min(First.size(), HeaderSize));
  size_t End = First.find_first_of("\r\n");
  if (End != std::string_view::npos) First = First.substr(0, End);
  return First == BookHeader;
}

// Whether the text of Fd from its start reads as an older book: split into
// lines as the INI engine splits them (a carriage return ends a line, a line
// feed right after one belongs to it, a line feed ends one too in a file without
// carriage returns, the end-of-file mark ends the text), it
// has an Items or a Settings section, and no byte of it is a control
// character that text never holds. Holds no more than the start of a line.
bool ReadsAsOlderBook(int Fd, const std::string& Path) {
  constexpr size_t NameRoom = 64;  // a name that folds to "settings" is shorter
  std::string Start;               // the current line's first bytes
  size_t Length = 0;
  char Last = 0;
  bool AfterReturn = false, Found = false;
  const bool Feeds = LineFeedsEndLines(Fd);
  auto EndLine = [&] {
    if (Length >= 2 && Length <= NameRoom && Start.front() == '[' && Last == ']') {
      const std::string Name = FoldCase(std::string_view(Start).substr(1, Length - 2));
      Found |= Name == "items" || Name == "settings";
    }
    Start.clear();
    Length = 0;
  };
  std::vector<char> Buffer(65536);
  for (off_t Offset = 0;;) {
    ssize_t Got = ::pread(Fd, Buffer.data(), Buffer.size(), Offset);
    if (Got < 0 && errno == EINTR) continue;
    if (Got < 0) throw EFileError("Cannot read file " + Path + ": " + SystemText(errno));
    if (Got == 0) break;
    Offset += Got;
    for (ssize_t I = 0; I < Got; ++I) {
      const auto C = static_cast<unsigned char>(Buffer[size_t(I)]);
      if (C == 26) {
        EndLine();
        return Found;
      }
      if (C < 0x20 && C != '\t' && C != '\n' && C != '\v' && C != '\f' && C != '\r') return false;
      const bool Skip = C == '\n' && AfterReturn;
      AfterReturn = C == '\r';
      if (Skip) continue;
      if (C == '\r' || (C == '\n' && Feeds)) {
        EndLine();
        continue;
      }
      if (Start.size() < NameRoom) Start += char(C);
      ++Length;
      Last = char(C);
    }
  }
  EndLine();
  return Found;
}

std::string AbsolutePath(const std::string& Path) {
  if (!Path.empty() && Path[0] == '/') return Path;
  char Cwd[4096];
  if (!::getcwd(Cwd, sizeof Cwd)) return Path;
  return std::string(Cwd) + "/" + Path;
}

}  // namespace

// ---- Buffered reading of the book with the three outcomes a read can have.

class TBookReader {
public:
  explicit TBookReader(int AFd) : Fd(AFd) {}

  enum TStatus { Ok, AtEnd, CutShort };

  // Reads exactly Size bytes; AtEnd when none were left, CutShort when some.
  TStatus Read(void* Target, size_t Size) {
    if (Fill - Pos >= Size) {
      std::memcpy(Target, Buffer + Pos, Size);
      Pos += Size;
      return Ok;
    }
    auto* Out = static_cast<char*>(Target);
    size_t Done = 0;
    while (Done < Size) {
      if (Pos == Fill && !Refill()) return Done == 0 ? AtEnd : CutShort;
      size_t N = std::min(Size - Done, Fill - Pos);
      std::memcpy(Out + Done, Buffer + Pos, N);
      Pos += N;
      Done += N;
    }
    return Ok;
  }

  TStatus ReadInt16(int16_t& Value) {
    if (Fill - Pos >= 2) {
      auto* B = reinterpret_cast<const unsigned char*>(Buffer + Pos);
      Value = int16_t(uint16_t(B[0] | (B[1] << 8)));
      Pos += 2;
      return Ok;
    }
    unsigned char B[2];
    TStatus S = Read(B, 2);
    if (S == Ok) Value = int16_t(uint16_t(B[0] | (B[1] << 8)));
    return S;
  }

  // Reads up to Size bytes; the number read.
  size_t ReadUpTo(char* Target, size_t Size) {
    size_t Done = 0;
    while (Done < Size && (Pos < Fill || Refill())) {
      size_t N = std::min(Size - Done, Fill - Pos);
      std::memcpy(Target + Done, Buffer + Pos, N);
      Pos += N;
      Done += N;
    }
    return Done;
  }

  // Passes over a stored text without reading it into memory.
  TStatus SkipString() {
    int16_t Length = 0;
    TStatus S = ReadInt16(Length);
    if (S != Ok) return S;
    if (Length < 0) return CutShort;
    for (size_t Left = size_t(Length); Left > 0;) {
      if (Pos == Fill && !Refill()) return CutShort;
      size_t N = std::min(Left, Fill - Pos);
      Pos += N;
      Left -= N;
    }
    return Ok;
  }

  TStatus ReadString(std::string& Value) {
    int16_t Length = 0;
    TStatus S = ReadInt16(Length);
    if (S != Ok) return S;
    if (Length < 0) return CutShort;
    Value.resize(size_t(Length));
    if (Length == 0) return Ok;
    return Read(Value.data(), size_t(Length)) == Ok ? Ok : CutShort;
  }

  // What has been read and not yet taken.
  std::string_view Unread() const { return std::string_view(Buffer + Pos, Fill - Pos); }
  void Advance(size_t Size) { Pos += Size; }

  int Error = 0;

private:
  bool Refill() {
    for (;;) {
      ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
      if (N < 0 && errno == EINTR) continue;
      if (N < 0) Error = errno;
      if (N <= 0) return false;
      Pos = 0;
      Fill = size_t(N);
      return true;
    }
  }

  int Fd;
  char Buffer[65536];
  size_t Pos = 0;
  size_t Fill = 0;
};

// ---- TLineList

namespace {

struct TLineBlock {
  uint32_t Size;  // bytes of packed lines after this header
  int32_t Count;
};

void PutSize(std::string& Data, size_t Size) {
  while (Size >= 0x80) {
    Data += char(0x80 | (Size & 0x7F));
    Size >>= 7;
  }
  Data += char(Size);
}

}  // namespace

TLineList::TLineList(const TLineList& Other) { *this = Other; }

TLineList& TLineList::operator=(const TLineList& Other) {
  if (this == &Other) return *this;
  Clear();
  if (Other.Block) {
    size_t Bytes = sizeof(TLineBlock) + Other.DataSize();
    Block = static_cast<char*>(EntryPool::Allocate(Bytes));
    std::memcpy(Block, Other.Block, Bytes);
  }
  return *this;
}

TLineList& TLineList::operator=(TLineList&& Other) noexcept {
  if (this != &Other) {
    Clear();
    Block = Other.Block;
    Other.Block = nullptr;
  }
  return *this;
}

TLineList::~TLineList() { Clear(); }

int32_t TLineList::Count() const { return Block ? reinterpret_cast<const TLineBlock*>(Block)->Count : 0; }

size_t TLineList::PackedSize() const { return DataSize(); }

size_t TLineList::DataSize() const { return Block ? reinterpret_cast<const TLineBlock*>(Block)->Size : 0; }

const char* TLineList::Data() const { return Block ? Block + sizeof(TLineBlock) : ""; }

std::string TLineList::operator[](int32_t Index) const {
  std::string Result;
  int32_t I = 0;
  ForEach([&](std::string_view Line) {
    if (I++ == Index) Result = Line;
  });
  return Result;
}

void TLineList::Add(std::string_view Line) {
  std::string Prefix;
  PutSize(Prefix, Line.size());
  size_t Old = DataSize();
  size_t Bytes = sizeof(TLineBlock) + Old + Prefix.size() + Line.size();
  char* Grown = static_cast<char*>(EntryPool::Allocate(Bytes));
  if (Block) std::memcpy(Grown, Block, sizeof(TLineBlock) + Old);
  else reinterpret_cast<TLineBlock*>(Grown)->Count = 0;
  Clear();
  Block = Grown;
  auto* Header = reinterpret_cast<TLineBlock*>(Block);
  char* At = Block + sizeof(TLineBlock) + Old;
  std::memcpy(At, Prefix.data(), Prefix.size());
  if (!Line.empty()) std::memcpy(At + Prefix.size(), Line.data(), Line.size());
  Header->Size = uint32_t(Old + Prefix.size() + Line.size());
  ++Header->Count;
}

void TLineList::Clear() {
  if (Block) EntryPool::Free(Block, sizeof(TLineBlock) + DataSize());
  Block = nullptr;
}

void TLineList::AppendPacked(std::string& Scratch, std::string_view Line) {
  PutSize(Scratch, Line.size());
  Scratch.append(Line);
}

void TLineList::AssignPacked(std::string_view Packed, int32_t Count) {
  // A block of the same room is written over: an entry read again and again
  // by a stream mostly has lines of about the same length.
  const size_t Bytes = sizeof(TLineBlock) + Packed.size();
  if (Count == 0 || !Block || !EntryPool::SameRoom(sizeof(TLineBlock) + DataSize(), Bytes)) {
    Clear();
    if (Count == 0) return;
    Block = static_cast<char*>(EntryPool::Allocate(Bytes));
  }
  auto* Header = reinterpret_cast<TLineBlock*>(Block);
  Header->Size = uint32_t(Packed.size());
  Header->Count = Count;
  std::memcpy(Block + sizeof(TLineBlock), Packed.data(), Packed.size());
}

std::vector<std::string> TLineList::Lines() const {
  std::vector<std::string> Result;
  Result.reserve(size_t(Count()));
  ForEach([&](std::string_view Line) { Result.emplace_back(Line); });
  return Result;
}

void TLineList::Assign(const std::vector<std::string>& Lines) {
  Clear();
  for (const std::string& Line : Lines) Add(Line);
}

std::string TLineList::Text() const {
  std::string Result;
  bool First = true;
  ForEach([&](std::string_view Line) {
    if (!First) Result += '\n';
    First = false;
    Result += Line;
  });
  return Result;
}

void TLineList::SetText(std::string_view Text) {
  Clear();
  if (Text.empty()) return;
  size_t Start = 0;
  for (;;) {
    size_t End = Text.find('\n', Start);
    std::string_view Line = Text.substr(Start, End == std::string_view::npos ? End : End - Start);
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    Add(Line);
    if (End == std::string_view::npos) break;
    Start = End + 1;
  }
}

bool operator==(const TLineList& A, const TLineList& B) {
  return A.Count() == B.Count() && A.DataSize() == B.DataSize() && std::memcmp(A.Data(), B.Data(), A.DataSize()) == 0;
}

// ---- TMyLinkList

int32_t TMyLinkList::CompareItems(const TAddressItem& A, const TAddressItem& B) {
  return CompareNames(A.Surname.str(), A.FirstName.str(), B.Surname.str(), B.FirstName.str());
}

int32_t TMyLinkList::CompareNames(std::string_view SurnameA, std::string_view FirstNameA, std::string_view SurnameB,
                                  std::string_view FirstNameB) {
  return TNameOrder::Current().CompareNames(SurnameA, FirstNameA, SurnameB, FirstNameB);
}

void TMyLinkList::SortByName(std::span<TAddressItem*> Entries) {
  auto Less = [](const TAddressItem* A, const TAddressItem* B) { return CompareItems(*A, *B) < 0; };
  // A saved book comes back in order: one comparison an entry tells.
  if (std::is_sorted(Entries.begin(), Entries.end(), Less)) return;
  // Otherwise each name is read by the collator once, into a key of bytes,
  // rather than at each of the sort's comparisons. What a large book needs
  // for this lies in huge pages (EntryPool::TLargeAllocator).
  const TNameOrder& Order = TNameOrder::Current();
  struct THead {
    uint64_t Head;   // the key's first eight bytes as a number, zeros after a shorter one
    uint32_t Index;  // into Entries and Starts
  };
  const size_t Count = Entries.size();
  TNameOrder::TLargeKeys Keys;
  Keys.reserve(Count * 32);
  std::vector<uint32_t, EntryPool::TLargeAllocator<uint32_t>> Starts;  // of each key in Keys, and its end
  Starts.reserve(Count + 1);
  TNameOrder::TKeyCache Known;
  for (const TAddressItem* Item : Entries) {
    Starts.push_back(uint32_t(Keys.size()));
    Order.AppendKey(Item->Surname.str(), Item->FirstName.str(), Keys, Known);
  }
  Starts.push_back(uint32_t(Keys.size()));
  const char* Base = Keys.data();
  // Eight bytes of key I from From on as a number, zeros after its end.
  auto Number = [&](uint32_t I, size_t From) {
    const size_t Size = Starts[I + 1] - Starts[I];
    const char* const At = Base + Starts[I] + From;
    if (Size >= From + 8) {
      uint64_t Word;
      std::memcpy(&Word, At, 8);
      if constexpr (std::endian::native == std::endian::little) Word = __builtin_bswap64(Word);
      return Word;
    }
    uint64_t Value = 0;
    for (size_t B = From; B < From + 8; ++B)
      Value = Value << 8 | (B < Size ? static_cast<unsigned char>(At[B - From]) : 0u);
    return Value;
  };
  std::vector<THead, EntryPool::TLargeAllocator<THead>> Heads(Count), Spare(Count);
  for (size_t I = 0; I < Count; ++I) Heads[I] = {Number(uint32_t(I), 0), uint32_t(I)};
  // Most keys differ in their heads. Sorted by them in passes of 11 bits from
  // the lowest, each pass keeping the order the one before left; then each
  // run of equal heads by the rest of their keys. A sort by comparisons
  // mispredicted half of its branches.
  constexpr int Bits = 11, Passes = (64 + Bits - 1) / Bits;
  constexpr size_t Buckets = size_t(1) << Bits;
  std::vector<uint32_t> Counts(Passes * Buckets);
  for (const THead& H : Heads)
    for (int P = 0; P < Passes; ++P) ++Counts[size_t(P) * Buckets + ((H.Head >> (P * Bits)) & (Buckets - 1))];
  for (int P = 0; P < Passes; ++P) {
    uint32_t* const At = &Counts[size_t(P) * Buckets];
    if (*std::max_element(At, At + Buckets) == Count) continue;  // these bits alike in every head
    uint32_t Before = 0;
    for (size_t B = 0; B < Buckets; ++B) Before += std::exchange(At[B], Before);
    for (const THead& H : Heads) Spare[At[(H.Head >> (P * Bits)) & (Buckets - 1)]++] = H;
    Heads.swap(Spare);
  }
  // Equal heads are most often one surname's: the next eight bytes, the
  // first names', decide without a call.
  auto RestLess = [&](const THead& A, const THead& B) {
    if (const uint64_t NextA = Number(A.Index, 8), NextB = Number(B.Index, 8); NextA != NextB) return NextA < NextB;
    const uint32_t SizeA = Starts[A.Index + 1] - Starts[A.Index], SizeB = Starts[B.Index + 1] - Starts[B.Index];
    const uint32_t Common = std::min(SizeA, SizeB);
    const int C = Common > 16 ? std::memcmp(Base + Starts[A.Index] + 16, Base + Starts[B.Index] + 16, Common - 16) : 0;
    return C != 0 ? C < 0 : SizeA < SizeB;
  };
  for (size_t Start = 0, End; Start < Count; Start = End) {
    for (End = Start + 1; End < Count && Heads[End].Head == Heads[Start].Head;) ++End;
    if (End - Start > 1) std::stable_sort(Heads.begin() + Start, Heads.begin() + End, RestLess);
  }
  // Spare's bytes hold the entries as given while they are put in order.
  static_assert(sizeof(THead) >= sizeof(TAddressItem*));
  char* const Given = reinterpret_cast<char*>(Spare.data());
  std::memcpy(Given, Entries.data(), Count * sizeof(TAddressItem*));
  for (size_t I = 0; I < Count; ++I)
    std::memcpy(&Entries[I], Given + Heads[I].Index * sizeof(TAddressItem*), sizeof(TAddressItem*));
}

int32_t TMyLinkList::Compare(const TListNode* A, const TListNode* B) const {
  return CompareItems(*static_cast<const TAddressItem*>(A), *static_cast<const TAddressItem*>(B));
}

void TMyLinkList::AddAll(std::vector<TAddressItem*>& Entries) {
  // Equal names keep the order they come in, as adding one by one would.
  SortByName(Entries);
  if (IsEmpty()) {
    for (TAddressItem* Item : Entries) AppendSorted(Item);
    Entries.clear();
    return;
  }
  std::vector<TAddressItem*> Old;
  Old.reserve(size_t(Count));
  for (TListNode* Node = Head; Node; Node = Node->Next) Old.push_back(static_cast<TAddressItem*>(Node));
  // Add puts an entry after the last one whose name is not greater, and a
  // renamed entry may have left the list out of order. The last such entry
  // lies within the run of entries whose least following name is not greater:
  // Least[i] is the least name from position i on, which only grows with i.
  std::vector<TAddressItem*> Least(Old.size());
  Least.back() = Old.back();
  for (size_t I = Old.size() - 1; I-- > 0;) Least[I] = CompareItems(*Old[I], *Least[I + 1]) < 0 ? Old[I] : Least[I + 1];
  size_t Before = 0;  // old entries that stay before the next new one
  size_t PreviousBefore = SIZE_MAX;
  TListNode* PreviousNew = nullptr;
  for (TAddressItem* Item : Entries) {
    while (Before < Old.size() && CompareItems(*Least[Before], *Item) <= 0) ++Before;
    TListNode* Anchor = Before == PreviousBefore ? PreviousNew : Before == 0 ? nullptr : Old[Before - 1];
    InsertAfter(Anchor, Item);
    PreviousNew = Item;
    PreviousBefore = Before;
  }
  Entries.clear();
}

// ---- TAddressBook

TAddressBook::TAddressBook(IBookHost* AHost) : Host(AHost) { Reset(); }

TAddressBook::~TAddressBook() = default;

void TAddressBook::Reset() {
  Items = std::make_unique<TMyLinkList>();
  Modified = false;
  FileName.clear();
  Current = nullptr;
  CurrentChanged = false;
}

std::string TAddressBook::DisplayName() const { return FileName.empty() ? "(Untitled)" : FileName; }

bool TAddressBook::CheckVersion(const std::string& Path) { return TBookStream(Path).CurrentFormat(); }

TLoadResult TAddressBook::LoadFromFile(const std::string& Path) {
  Reset();
  FileName = Path;
  TLoadResult Result;
  std::vector<TAddressItem*> Read;
  bool CurrentFormat;
  {
    TBookStream Stream(Path);
    CurrentFormat = Stream.CurrentFormat();
    try {
      while (CurrentFormat) {
        auto Item = std::make_unique<TAddressItem>();
        if (!Stream.Next(*Item)) break;
        Read.push_back(Item.release());
      }
    } catch (...) {
      for (TAddressItem* Item : Read) delete Item;
      throw;
    }
    Result.Damaged = Stream.Damaged();
  }
  if (!CurrentFormat) {
    // Refused before the older path writes its copy beside it.
    if (BookFileKind(Path) == EBookFile::NotABook) throw ENotABook(Path);
    if (Host) Host->OldFormatWarning(Host->MaySave() ? OldFormatWarningText(Path) : OldFormatReadText(Path));
    return LoadOldFormat();
  }
  Result.EntriesRead = int32_t(Read.size());
  Items->AddAll(Read);
  return Result;
}

TLoadResult TAddressBook::LoadOldFormat() {
  if (!Host || Host->MaySave()) CopyFile(FileName, ChangeFileExt(FileName, ".OLD"));
  TSectionedIniFile Ini(FileName);
  if (Host) {
    int Tab = Ini.ReadInteger("Settings", "DefaultTab", 0);
    Host->SetDefaultTab(Tab >= 0 && Tab <= 2 ? Tab : 0);
  }

  int32_t Count = Ini.ReadInteger("Items", "NumberOfItems", 0);
  // Only keys that are present can name an entry, so walk those rather than
  // every number up to a count that a damaged file may put at two billion.
  std::vector<std::string> Keys;
  Ini.ReadSection("Items", Keys);
  std::vector<int32_t> Numbers;
  for (const std::string& Key : Keys) {
    if (Key.empty() || Key.size() > 10 || Key[0] == '0') continue;
    if (!std::all_of(Key.begin(), Key.end(), [](char C) { return C >= '0' && C <= '9'; })) continue;
    long long N = std::stoll(Key);
    if (N >= 1 && N <= Count) Numbers.push_back(int32_t(N));
  }
  std::sort(Numbers.begin(), Numbers.end());
  Numbers.erase(std::unique(Numbers.begin(), Numbers.end()), Numbers.end());

  std::vector<TAddressItem*> Read;
  try {
    for (int32_t I : Numbers) {
      std::string Section = Ini.ReadString("Items", std::to_string(I), "");
      if (Section.empty()) continue;
      auto Item = std::make_unique<TAddressItem>();
      auto Text = [&](const char* Key) { return ToUtf8(Ini.ReadString(Section, Key, "")); };
      Item->Surname = Text("Surname");
      Item->FirstName = Text("FirstName");
      Item->HomeTelephone = Text("HomeTelephone");
      Item->BusTelephone = Text("BusTelephone");
      Item->BusExtn = Text("BusExtn");
      Item->BusFacsimile = Text("BusFacsimile");
      Item->BusMobile = Text("BusMobile");
      // A line count larger than the section itself comes from a damaged file.
      int32_t Found = Ini.Sections.IndexOf(Section);
      int32_t MostLines = Found < 0 ? 0 : Ini.Sections.Section(Found).Count();
      auto ReadLines = [&](TLineList& List, const char* CountKey, const std::string& Prefix) {
        int32_t Lines = std::min(Ini.ReadInteger(Section, CountKey, 0), MostLines);
        for (int32_t J = 1; J <= Lines; ++J) List.Add(ToUtf8(Ini.ReadString(Section, Prefix + std::to_string(J), "")));
      };
      ReadLines(Item->HomeAddress, "HomeAddressLines", "HomeAddress_");
      ReadLines(Item->BusAddress, "BusAddressLines", "BusAddress_");
      ReadLines(Item->Notes, "NotesLines", "Notes_");
      int32_t Page = Ini.ReadInteger(Section, "TabPage", 0);
      Item->TabPage = Page >= 0 && Page <= 2 ? uint8_t(Page) : 0;
      Read.push_back(Item.release());
    }
  } catch (...) {
    for (TAddressItem* Item : Read) delete Item;
    throw;
  }
  TLoadResult Result;
  Result.EntriesRead = int32_t(Read.size());
  Items->AddAll(Read);
  return Result;
}

void TAddressBook::SaveToFile() {
  std::vector<const TAddressItem*, EntryPool::TLargeAllocator<const TAddressItem*>> Entries;
  Entries.reserve(size_t(Items->Count));
  for (TListNode* Node : Items->Nodes()) Entries.push_back(static_cast<const TAddressItem*>(Node));
  // Refuse what the format cannot hold before anything on disk is touched.
  TBookWriter::CheckAll(Entries);
  // A symbolic link is followed, so the file it names is replaced and the link
  // kept; a read-only book or anything but a regular file is refused here.
  TBookWriter Writer(FileName);
  Writer.AddAll(Entries);
  Writer.Flush();
  const TFileReplacement& File = Writer.File();

  // The backup is replaced only once the new book is written, so a save that
  // fails leaves both the book and its backup as they were.
  if (File.Existed()) {
    std::string Backup = ChangeFileExt(FileName, ".~abk");
    if (!SameFile(Backup, File.Target())) CopyFile(File.Target(), Backup);
  }
  Writer.Commit();
  Modified = false;
}

bool TListOrderCheck::Follows(const TEntryView& Entry) {
  if (Any && Entry.Surname == Surname && Entry.FirstName == FirstName) return true;
  const bool InOrder = !Any || TMyLinkList::CompareNames(Surname, FirstName, Entry.Surname, Entry.FirstName) <= 0;
  Surname.assign(Entry.Surname);
  FirstName.assign(Entry.FirstName);
  Any = true;
  return InOrder;
}

TBookWriter::TBookWriter(const std::string& FileName)
    : Replacement(FileName, TFileReplacement::TOptions()), Out(BookHeader) {
  Out += "\r\n";
  Used = Out.size();
  Out.resize(1 << 17);
}

void TBookWriter::Check(const TAddressItem& Item) {
  CheckLines(Item, Item.HomeAddress, "home address");
  CheckLines(Item, Item.BusAddress, "work address");
  CheckLines(Item, Item.Notes, "notes");
}

void TBookWriter::Add(const TAddressItem& Item) {
  Check(Item);
  const size_t Size = RecordSize(Item);
  if (Out.size() - Used < Size) {
    Replacement.Write(Out.data(), Used);
    Used = 0;
    if (Out.size() < Size) Out.resize(Size);
  }
  Used = size_t(PutRecord(Out.data() + Used, Item) - Out.data());
}

namespace {

// The entries are walked from a list of them, each asked for a few ahead of
// its turn: entries added in another order than the list's lie all over
// memory, and waiting for each in turn was most of a save. Inlined by force:
// GCC takes a function that only prefetches for one without effects, and
// drops the calls to it.
constexpr size_t Ahead = 8;
[[gnu::always_inline]] inline void PrefetchEntry(std::span<const TAddressItem* const> Entries, size_t I, bool Texts) {
  // The entry twice as far ahead, then what this one points to.
  if (I + Ahead < Entries.size())
    for (size_t Line = 0; Line < sizeof(TAddressItem); Line += 64)
      __builtin_prefetch(reinterpret_cast<const char*>(Entries[I + Ahead]) + Line);
  if (I >= Entries.size()) return;
  const TAddressItem& Item = *Entries[I];
  for (const TLineList* List : Item.LineLists()) List->Prefetch();
  if (Texts)
    for (const char* Field : {Item.Surname.c_str(), Item.FirstName.c_str(), Item.HomeTelephone.c_str(),
                              Item.BusTelephone.c_str(), Item.BusFacsimile.c_str(), Item.BusMobile.c_str()})
      __builtin_prefetch(Field);
}

}  // namespace

void TBookWriter::CheckAll(std::span<const TAddressItem* const> Entries) {
  for (size_t I = 0; I < Entries.size(); ++I) {
    PrefetchEntry(Entries, I + Ahead, false);
    Check(*Entries[I]);
  }
}

void TBookWriter::AddAll(std::span<const TAddressItem* const> Entries) {
  for (size_t I = 0; I < Entries.size(); ++I) {
    PrefetchEntry(Entries, I + Ahead, true);
    Add(*Entries[I]);
  }
}

void TBookWriter::Flush() {
  Replacement.Write(Out.data(), Used);
  Used = 0;
}

void TBookWriter::Commit() {
  Flush();
  Replacement.Commit();
}

// ---- TBookStream

// Where the parts of a record that lies whole in the buffer are.
struct TBookStream::TRecordAt {
  std::string_view Fields[7];
  std::string_view Lists[3];  // each list's lines, each after its two-byte size
  int16_t Counts[3];
  int16_t Page;
  size_t Size;
  // Every size and count below 0x80 in each byte: text that is valid as a
  // whole is then valid field by field, for no character spans a size.
  bool SizesAscii;
};

TBookStream::TBookStream(const std::string& APath)
    : Path(APath), File(OpenRegularForReading(APath)), Reader(std::make_unique<TBookReader>(File.Fd)) {
  ReadHeader();
}

void TBookStream::ReadHeader() {
  char Line[HeaderSize];
  size_t Got = Reader->ReadUpTo(Line, sizeof Line);
  CheckReadError();
  // Records start after the 15 header bytes whatever ends the line.
  Current = IsCurrentHeader(std::string_view(Line, Got));
}

TBookStream::~TBookStream() = default;

size_t TBookStream::EntriesAbout() const {
  struct stat Info;
  return ::fstat(File.Fd, &Info) == 0 && Info.st_size > 0 ? size_t(Info.st_size) / 128 : 0;
}

void TBookStream::Rewind() {
  if (::lseek(File.Fd, 0, SEEK_SET) != 0) throw EFileError("Cannot read file " + Path + ": " + SystemText(errno));
  Reader = std::make_unique<TBookReader>(File.Fd);
  IsDamaged = false;
  ReadHeader();
}

bool TBookStream::InListOrder() {
  // A quarter of a dump went here: most neighbours have the same names, in
  // the same bytes, which need neither conversion nor the collator.
  // Stored bytes equal to the names taken from the entry before are those
  // names as they stand (valid UTF-8, within the room).
  TAddressItem Items[2];
  int Last = -1;  // the entry before, in Items
  bool Ordered = true;
  while (Ordered && Current && !IsDamaged) {
    const int Next = Last < 0 ? 0 : 1 - Last;
    TRecordAt R;
    if (MeasureInBuffer(R)) {
      if (Last >= 0 && Items[Last].Surname == R.Fields[0] && Items[Last].FirstName == R.Fields[1]) {
        Reader->Advance(R.Size);
        continue;
      }
      TakeMeasured(R, Items[Next], true);
    } else if (!Read(Items[Next], true)) break;
    Ordered = Last < 0 || TMyLinkList::CompareItems(Items[Last], Items[Next]) <= 0;
    Last = Next;
  }
  Rewind();
  return Ordered;
}

void TBookStream::CheckReadError() {
  if (Reader->Error) throw EFileError("Cannot read file " + Path + ": " + SystemText(Reader->Error));
}

bool TBookStream::Next(TAddressItem& Item) { return Read(Item, false); }

bool TBookStream::MeasureInBuffer(TRecordAt& R) {
  const std::string_view Bytes = Reader->Unread();
  const char* const Begin = Bytes.data();
  const char* const End = Begin + Bytes.size();
  const char* P = Begin;
  unsigned SizeBits = 0;
  auto Int16 = [&](int16_t& Value) {
    if (End - P < 2) return false;
    const auto Low = static_cast<unsigned char>(P[0]), High = static_cast<unsigned char>(P[1]);
    SizeBits |= Low | High;
    Value = int16_t(uint16_t(Low | High << 8));
    P += 2;
    return true;
  };
  auto String = [&](std::string_view& Value) {
    int16_t Length;
    if (!Int16(Length) || Length < 0 || End - P < Length) return false;
    Value = std::string_view(P, size_t(Length));
    P += Length;
    return true;
  };
  for (std::string_view& Field : R.Fields)
    if (!String(Field)) return false;
  for (int L = 0; L < 3; ++L) {
    if (!Int16(R.Counts[L])) return false;
    const char* const ListAt = P;
    std::string_view Line;
    for (int16_t I = 0; I < R.Counts[L]; ++I)
      if (!String(Line)) return false;
    R.Lists[L] = std::string_view(ListAt, size_t(P - ListAt));
  }
  if (!Int16(R.Page)) return false;
  R.Size = size_t(P - Begin);
  R.SizesAscii = SizeBits < 0x80;
  return true;
}

bool TBookStream::ReadInBuffer(TAddressItem& Item, bool NamesOnly) {
  // The record is measured whole before any of it is taken.
  TRecordAt R;
  if (!MeasureInBuffer(R)) return false;
  TakeMeasured(R, Item, NamesOnly);
  return true;
}

void TBookStream::TakeMeasured(const TRecordAt& R, TAddressItem& Item, bool NamesOnly) {
  AssignText(Item.Surname, R.Fields[0]);
  AssignText(Item.FirstName, R.Fields[1]);
  if (!NamesOnly) {
    AssignText(Item.HomeTelephone, R.Fields[2]);
    AssignText(Item.BusTelephone, R.Fields[3]);
    AssignText(Item.BusExtn, R.Fields[4]);
    AssignText(Item.BusFacsimile, R.Fields[5]);
    AssignText(Item.BusMobile, R.Fields[6]);
    int L = 0;
    for (TLineList* List : {&Item.HomeAddress, &Item.BusAddress, &Item.Notes}) {
      Packed.clear();
      TLinesView(R.Lists[L], R.Counts[L], TLinesView::Stored).ForEach([&](std::string_view Line) {
        if (IsValidUtf8(Line)) TLineList::AppendPacked(Packed, Line);
        else TLineList::AppendPacked(Packed, ToUtf8(Line));
      });
      List->AssignPacked(Packed, std::max<int16_t>(R.Counts[L], 0));
      ++L;
    }
  }
  Reader->Advance(R.Size);
  Item.TabPage = uint8_t(R.Page & 0xFF);
}

bool TBookStream::Next(TEntryView& View) {
  if (!Current || IsDamaged) return false;
  TRecordAt R;
  if (MeasureInBuffer(R)) {
    // Most records are UTF-8 within their fields' room, and are handed out
    // where they lie; a record to convert or cut is read as an entry.
    const std::string_view Whole = Reader->Unread().substr(0, R.Size);
    bool AsTheyLie = R.SizesAscii && IsValidUtf8(Whole);
    for (int F = 0; AsTheyLie && F < 7; ++F) AsTheyLie = R.Fields[F].size() <= (F == 4 ? ExtnCapacity : NameCapacity);
    if (AsTheyLie) {
      std::string_view* Fields[] = {&View.Surname, &View.FirstName,    &View.HomeTelephone, &View.BusTelephone,
                                    &View.BusExtn, &View.BusFacsimile, &View.BusMobile};
      for (int F = 0; F < 7; ++F) *Fields[F] = R.Fields[F];
      TLinesView* Lists[] = {&View.HomeAddress, &View.BusAddress, &View.Notes};
      for (int L = 0; L < 3; ++L)
        *Lists[L] = TLinesView(R.Lists[L], std::max<int16_t>(R.Counts[L], 0), TLinesView::Stored);
      View.TabPage = uint8_t(R.Page & 0xFF);
      Reader->Advance(R.Size);
      return true;
    }
  }
  if (!Slow) Slow = std::make_unique<TAddressItem>();
  if (!Read(*Slow, false)) return false;
  View = *Slow;
  return true;
}

bool TBookStream::Read(TAddressItem& Item, bool NamesOnly) {
  if (!Current || IsDamaged) return false;
  // A record that lies whole in what has been read is taken from there;
  // one that goes on past it, or is damaged, the way below.
  if (ReadInBuffer(Item, NamesOnly)) return true;
  int16_t Length = 0;
  TBookReader::TStatus S = Reader->ReadInt16(Length);
  if (S == TBookReader::AtEnd) {
    CheckReadError();
    return false;
  }
  bool Complete = S == TBookReader::Ok && Length >= 0;
  if (Complete) {
    Text.resize(size_t(Length));
    Complete = Length == 0 || Reader->Read(Text.data(), Text.size()) == TBookReader::Ok;
    if (Complete) AssignText(Item.Surname, Text);
  }
  auto Field = [&](auto& Target) {
    if (!Complete) return;
    if (NamesOnly && static_cast<const void*>(&Target) != &Item.FirstName)
      Complete = Reader->SkipString() == TBookReader::Ok;
    else if ((Complete = Reader->ReadString(Text) == TBookReader::Ok)) AssignText(Target, Text);
  };
  Field(Item.FirstName);
  Field(Item.HomeTelephone);
  Field(Item.BusTelephone);
  Field(Item.BusExtn);
  Field(Item.BusFacsimile);
  Field(Item.BusMobile);
  for (TLineList* List : {&Item.HomeAddress, &Item.BusAddress, &Item.Notes}) {
    int16_t Lines = 0;
    if (Complete) Complete = Reader->ReadInt16(Lines) == TBookReader::Ok;
    // A count of 0 or less is an empty list.
    Lines = std::max<int16_t>(Lines, 0);
    Packed.clear();
    for (int16_t I = 0; Complete && I < Lines; ++I) {
      if (NamesOnly) {
        Complete = Reader->SkipString() == TBookReader::Ok;
        continue;
      }
      Complete = Reader->ReadString(Text) == TBookReader::Ok;
      if (!Complete) break;
      if (IsValidUtf8(Text)) TLineList::AppendPacked(Packed, Text);
      else TLineList::AppendPacked(Packed, ToUtf8(Text));
    }
    if (Complete && !NamesOnly) List->AssignPacked(Packed, Lines);
  }
  int16_t Page = 0;
  if (Complete) Complete = Reader->ReadInt16(Page) == TBookReader::Ok;
  if (!Complete) {
    CheckReadError();
    IsDamaged = true;
    return false;
  }
  // Kept as stored: showing the entry leaves the page alone when it is not 0-2.
  Item.TabPage = uint8_t(Page & 0xFF);
  return true;
}

// ---- Utilities

std::string OldFormatWarningText(const std::string& Path) {
  return "'" + Path + "' was saved by an older version of " +
         "Tobrinel.  When you save it next, it will be upgraded to " +
         "the new version.  Your original old file will be backed up to: '" + ChangeFileExt(Path, ".OLD") + "'";
}

std::string OldFormatReadText(const std::string& Path) {
  return "'" + Path + "' was saved by an older version of Tobrinel.  It was read as it stands; nothing was " +
         "written beside it.";
}

EBookFile BookFileKind(const std::string& Path) {
  TFd File(OpenRegularForReading(Path));
  char Head[HeaderSize];
  ssize_t Got;
  while ((Got = ::pread(File.Fd, Head, sizeof Head, 0)) < 0 && errno == EINTR) {}
  if (Got < 0) throw EFileError("Cannot read file " + Path + ": " + SystemText(errno));
  if (Got == 0) return EBookFile::Older;  // an empty book, as older versions left it
  if (IsCurrentHeader(std::string_view(Head, size_t(Got)))) return EBookFile::Current;
  return ReadsAsOlderBook(File.Fd, Path) ? EBookFile::Older : EBookFile::NotABook;
}

std::string ChangeFileExt(const std::string& Path, const std::string& Ext) {
  size_t Slash = Path.rfind('/');
  size_t Dot = Path.rfind('.');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return Path + Ext;
  return Path.substr(0, Dot) + Ext;
}

void CopyFile(const std::string& Source, const std::string& Destination) {
  std::string Dest = AbsolutePath(Destination);
  // Copying a file onto itself would truncate it before it is read.
  if (SameFile(Source, Dest)) return;
  TFd In(OpenRegularForReading(Source));
  struct stat Info;
  if (::fstat(In.Fd, &Info) != 0) throw EFileError("Cannot read file " + Source + ": " + SystemText(errno));
  // Made beside the destination and renamed over it, so that a copy that fails
  // leaves the previous one whole. A new copy is as private as its source.
  TFileReplacement::TOptions Options;
  Options.RefuseReadOnly = false;
  Options.NewMode = Info.st_mode & 0777;
  TFileReplacement Out(Dest, Options);
  std::vector<char> Buffer(8192);
  for (;;) {
    ssize_t N = ::read(In.Fd, Buffer.data(), Buffer.size());
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) throw EFileError("Cannot read file " + Source + ": " + SystemText(errno));
    if (N == 0) break;
    Out.Write(Buffer.data(), size_t(N));
  }
  Out.Commit();
}

bool IsFileReadOnly(const std::string& Path) {
  struct stat S;
  if (::stat(Path.c_str(), &S) != 0) return false;
  if ((S.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return ::access(Path.c_str(), W_OK) != 0;
}
