#pragma once

#include <array>
#include <cstring>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FileSystem.h"
#include "IniFile.h"
#include "LinkList.h"
#include "TextCodec.h"

// The out-of-place blocks of TFixedText: Text and a terminating zero.
char* NewTextBlock(std::string_view Text);
void FreeTextBlock(char* Block, size_t Size) noexcept;

// A text that keeps at most Capacity characters: a longer one keeps its
// leading characters. Sixteen bytes: up to fifteen bytes of text in place
// (the last byte, fifteen less the length, is the terminating zero of a
// full one), a longer text in a block of the entry pool. Seven of these are
// most of an entry, and a book of a hundred thousand entries holds them all.
template <size_t Capacity>
class TFixedText {
public:
  TFixedText() = default;
  TFixedText(std::string_view Text) { *this = Text; }
  TFixedText(const TFixedText& Other) { Set(Other.str()); }
  TFixedText(TFixedText&& Other) noexcept {
    std::memcpy(Bytes, Other.Bytes, sizeof Bytes);
    Other.Reset();
  }
  TFixedText& operator=(const TFixedText& Other) {
    if (this != &Other) Set(Other.str());
    return *this;
  }
  TFixedText& operator=(TFixedText&& Other) noexcept {
    if (this != &Other) {
      Release();
      std::memcpy(Bytes, Other.Bytes, sizeof Bytes);
      Other.Reset();
    }
    return *this;
  }
  ~TFixedText() { Release(); }
  TFixedText& operator=(std::string_view Text) {
    // Bytes within the capacity are characters within it.
    if (Text.size() <= Capacity) Set(Text);
    else Set(CutToChars(Text, Capacity));
    return *this;
  }
  TFixedText& operator=(const std::string& Text) { return *this = std::string_view(Text); }
  TFixedText& operator=(const char* Text) { return *this = std::string_view(Text); }
  operator std::string_view() const { return str(); }
  // A copy, for the many callers that hand a field on as a std::string.
  operator std::string() const { return string(); }
  std::string_view str() const { return {c_str(), size()}; }
  std::string string() const { return std::string(str()); }
  bool empty() const { return size() == 0; }
  size_t size() const {
    if (InPlace()) return InPlaceRoom - size_t(Bytes[InPlaceRoom]);
    uint32_t Size;
    std::memcpy(&Size, Bytes + sizeof(char*), sizeof Size);
    return Size;
  }
  const char* c_str() const {
    if (InPlace()) return Bytes;
    const char* Block;
    std::memcpy(&Block, Bytes, sizeof Block);
    return Block;
  }
  friend bool operator==(const TFixedText& A, const TFixedText& B) { return A.str() == B.str(); }
  friend bool operator==(const TFixedText& A, std::string_view B) { return A.str() == B; }

private:
  static constexpr size_t InPlaceRoom = 15;
  static constexpr char InBlock = char(0x80);
  bool InPlace() const { return Bytes[InPlaceRoom] != InBlock; }
  void Reset() {
    Bytes[0] = 0;
    Bytes[InPlaceRoom] = char(InPlaceRoom);
  }
  void Release() {
    if (!InPlace()) FreeTextBlock(const_cast<char*>(c_str()), size());
  }
  // Text may lie in this one's own bytes or block.
  void Set(std::string_view Text) {
    char* Old = InPlace() ? nullptr : const_cast<char*>(c_str());
    const size_t OldSize = Old ? size() : 0;
    if (Text.size() <= InPlaceRoom) {
      if (!Text.empty()) std::memmove(Bytes, Text.data(), Text.size());  // an empty view may have no data
      Bytes[Text.size()] = 0;
      Bytes[InPlaceRoom] = char(InPlaceRoom - Text.size());
    } else {
      char* Block = NewTextBlock(Text);
      const auto Size = uint32_t(Text.size());
      std::memcpy(Bytes, &Block, sizeof Block);
      std::memcpy(Bytes + sizeof Block, &Size, sizeof Size);
      Bytes[InPlaceRoom] = InBlock;
    }
    if (Old) FreeTextBlock(Old, OldSize);
  }
  char Bytes[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, char(InPlaceRoom)};
};

// The lines of a list without their owner: a line list's own packed form
// (each line after a size of one byte or more), or the book file's (each line
// after its two-byte size). Valid while what it looks at is.
class TLinesView {
public:
  enum EForm { Packed, Stored };
  TLinesView() = default;
  TLinesView(std::string_view ABytes, int32_t ACount, EForm AForm = Packed)
      : Bytes(ABytes), LineCount(ACount), Form(AForm) {}
  int32_t Count() const { return LineCount; }
  // At least the bytes of all lines.
  size_t PackedSize() const { return Bytes.size(); }
  const char* Data() const { return Bytes.data(); }
  template <class F>
  void ForEach(F&& Visit) const {
    const char* P = Bytes.data();
    const char* const End = P + Bytes.size();
    while (P < End) {
      size_t Size;
      if (Form == Stored) {
        Size = size_t(static_cast<unsigned char>(P[0]) | static_cast<unsigned char>(P[1]) << 8);
        P += 2;
      } else {
        Size = 0;
        for (int Shift = 0;; Shift += 7) {
          const auto C = static_cast<unsigned char>(*P++);
          Size |= size_t(C & 0x7F) << Shift;
          if (!(C & 0x80)) break;
        }
      }
      Visit(std::string_view(P, Size));
      P += Size;
    }
  }

private:
  std::string_view Bytes;
  int32_t LineCount = 0;
  EForm Form = Packed;
};

// The lines of an address or of the notes, packed into one block of their
// own so that a book of a hundred thousand entries stays small.
class TLineList {
public:
  TLineList() = default;
  TLineList(const TLineList& Other);
  TLineList(TLineList&& Other) noexcept : Block(Other.Block) { Other.Block = nullptr; }
  TLineList& operator=(const TLineList& Other);
  TLineList& operator=(TLineList&& Other) noexcept;
  ~TLineList();

  int32_t Count() const;
  // The bytes of all lines with a size of one byte or more before each.
  size_t PackedSize() const;
  // Asks for the lines to be brought into the cache.
  void Prefetch() const {
    if (Block) __builtin_prefetch(Block);
  }
  std::string operator[](int32_t Index) const;  // empty outside 0 .. Count() - 1
  void Add(std::string_view Line);
  void Clear();
  std::vector<std::string> Lines() const;
  void Assign(const std::vector<std::string>& Lines);
  // The lines joined with "\n", as a memo shows them.
  std::string Text() const;
  // Splits at "\n" (a "\r" before it is dropped); an empty text has no lines.
  void SetText(std::string_view Text);
  // Bulk building: lines packed into a scratch buffer with AppendPacked, then
  // taken over in one allocation.
  static void AppendPacked(std::string& Scratch, std::string_view Line);
  void AssignPacked(std::string_view Packed, int32_t Count);
  TLinesView View() const { return {std::string_view(Data(), DataSize()), Count()}; }
  template <class F>
  void ForEach(F&& Visit) const {
    View().ForEach(Visit);
  }
  friend bool operator==(const TLineList& A, const TLineList& B);

private:
  // Block: data size and line count, then each line as a variable-length size
  // followed by its bytes. No lines, no block.
  size_t DataSize() const;
  const char* Data() const;
  char* Block = nullptr;
};

constexpr size_t NameCapacity = 50;
constexpr size_t ExtnCapacity = 10;

class TAddressItem : public TListNode {
public:
  TFixedText<NameCapacity> Surname;
  TFixedText<NameCapacity> FirstName;
  TFixedText<NameCapacity> HomeTelephone;
  TLineList HomeAddress;
  TFixedText<NameCapacity> BusTelephone;
  TFixedText<ExtnCapacity> BusExtn;
  TFixedText<NameCapacity> BusFacsimile;
  TFixedText<NameCapacity> BusMobile;
  TLineList BusAddress;
  uint8_t TabPage = 0;
  TLineList Notes;

  // The one-line fields and the line lists, each in the order the book stores them.
  std::array<std::string_view, 7> TextFields() const {
    return {Surname, FirstName, HomeTelephone, BusTelephone, BusExtn, BusFacsimile, BusMobile};
  }
  std::array<const TLineList*, 3> LineLists() const { return {&HomeAddress, &BusAddress, &Notes}; }

  // From the entry pool: a large book touches few pages.
  static void* operator new(size_t Size);
  static void operator delete(void* Block, size_t Size) noexcept;
};

// An entry's fields without their owner, for the writers of files, which
// take an entry of the book and one still in a file's buffer alike. Valid
// while what it looks at is.
struct TEntryView {
  TEntryView() = default;
  TEntryView(const TAddressItem& Item)
      : Surname(Item.Surname.str()),
        FirstName(Item.FirstName.str()),
        HomeTelephone(Item.HomeTelephone.str()),
        BusTelephone(Item.BusTelephone.str()),
        BusExtn(Item.BusExtn.str()),
        BusFacsimile(Item.BusFacsimile.str()),
        BusMobile(Item.BusMobile.str()),
        HomeAddress(Item.HomeAddress.View()),
        BusAddress(Item.BusAddress.View()),
        Notes(Item.Notes.View()),
        TabPage(Item.TabPage) {}
  std::string_view Surname, FirstName, HomeTelephone, BusTelephone, BusExtn, BusFacsimile, BusMobile;
  TLinesView HomeAddress, BusAddress, Notes;
  uint8_t TabPage = 0;
  // In the order the book stores them, as TAddressItem's.
  std::array<std::string_view, 7> TextFields() const {
    return {Surname, FirstName, HomeTelephone, BusTelephone, BusExtn, BusFacsimile, BusMobile};
  }
  std::array<const TLinesView*, 3> LineLists() const { return {&HomeAddress, &BusAddress, &Notes}; }
};

// Entries in name order (TNameOrder::Current): surname, then first name, as
// the desktop's language sorts names; equal names keep the order in which
// they were added.
class TMyLinkList : public TLinkList {
public:
  int32_t Compare(const TListNode* A, const TListNode* B) const override;
  static int32_t CompareItems(const TAddressItem& A, const TAddressItem& B);
  static int32_t CompareNames(std::string_view SurnameA, std::string_view FirstNameA, std::string_view SurnameB,
                              std::string_view FirstNameB);
  // A stable sort in the list's order.
  static void SortByName(std::span<TAddressItem*> Entries);
  // Adds every entry, taking ownership and emptying Entries, in the order Add
  // one by one would give, without Add's walk from the tail for each: one
  // stable sort, then a merge; the cost grows with the list plus the entries.
  void AddAll(std::vector<TAddressItem*>& Entries);
};

// What the book needs from the window that owns it.
class IBookHost {
public:
  virtual ~IBookHost() = default;
  // The older-format warning (a box with OK and Help, help topic 177).
  virtual void OldFormatWarning(const std::string& Text) = 0;
  // The default details page found in an older-format book.
  virtual void SetDefaultTab(int Tab) = 0;
  // False for a host that only reads books and never saves them: an older
  // book is then read as it stands, with no ".OLD" copy beside it.
  virtual bool MaySave() const { return true; }
};

// What a file holds for the book reader.
enum class EBookFile {
  Current,   // the current header
  Older,     // text with an Items or a Settings section, or nothing at all
  NotABook,  // anything else: it would read as an empty book
};

// Reads only as far as it must to tell (up to the first byte that cannot be
// text, or to the end of an older book's text). Throws EFileError as loading
// would when the file cannot be opened or read.
EBookFile BookFileKind(const std::string& Path);

// Raised by LoadFromFile for a file that is no address book, before anything
// is written: "PATH is not an address book".
class ENotABook : public EFileError {
public:
  explicit ENotABook(const std::string& Path) : EFileError(Path + " is not an address book") {}
};

// How a load went: a book cut short or damaged loads what could be read.
struct TLoadResult {
  bool Damaged = false;
  int32_t EntriesRead = 0;
};

class TBookReader;

// Whether entries handed on one at a time come in list order, told as they
// come: most neighbours in a large book have the same names.
class TListOrderCheck {
public:
  bool Follows(const TEntryView& Entry);

private:
  std::string Surname, FirstName;
  bool Any = false;
};

// Writes a book file an entry at a time, in the order given, as SaveToFile
// writes a list: the file is replaced only by Commit, and is left as it was
// when the writer goes without one.
class TBookWriter {
public:
  // Throws EFileError as TFileReplacement does.
  explicit TBookWriter(const std::string& FileName);
  // Throws EFileError for an entry the format cannot hold.
  void Add(const TAddressItem& Item);
  // What SaveToFile refuses before it writes anything.
  static void Check(const TAddressItem& Item);
  // The same for entries in the order they are written in, and that writing,
  // each entry asked for a few ahead of its turn.
  static void CheckAll(std::span<const TAddressItem* const> Entries);
  void AddAll(std::span<const TAddressItem* const> Entries);
  // Writes what is held back; Commit does too.
  void Flush();
  void Commit();
  const TFileReplacement& File() const { return Replacement; }

private:
  TFileReplacement Replacement;
  std::string Out;
  size_t Used = 0;
};

// Reads a book file one entry at a time, exactly as LoadFromFile reads it, for
// callers that need not hold the whole book.
class TBookStream {
public:
  // Throws EFileError when the file cannot be opened or read, or is not a
  // regular file.
  explicit TBookStream(const std::string& Path);
  ~TBookStream();
  TBookStream(const TBookStream&) = delete;
  TBookStream& operator=(const TBookStream&) = delete;

  // False for a book in the older format, which only LoadFromFile reads.
  bool CurrentFormat() const { return Current; }
  // Replaces every field of Item with the next entry in file order. False at
  // the end of the file and where the rest of it is damaged (Damaged() then
  // tells); throws EFileError when reading fails.
  bool Next(TAddressItem& Item);
  // The same as a view of the file's buffer where the entry lies whole in it
  // and needs no conversion, else of an entry read the way Next does; valid
  // until the next call.
  bool Next(TEntryView& View);
  bool Damaged() const { return IsDamaged; }
  // About how many entries the file holds, judged from its size; no more
  // than there are unless they are long (a typical entry takes some 150
  // bytes).
  size_t EntriesAbout() const;
  // Back to the first entry of the same open file, as it was when opened: a
  // book saved over meanwhile is another file.
  void Rewind();
  // Reads on to the end (or to the damage) and rewinds: whether every entry
  // is at least the one before, so that the list holds them in file order.
  // A book the program saved is, and can then be handed on as it is read
  // instead of held whole.
  bool InListOrder();

private:
  void CheckReadError();
  void ReadHeader();
  // NamesOnly: the other fields are passed over and left as they were.
  bool Read(TAddressItem& Item, bool NamesOnly);
  bool ReadInBuffer(TAddressItem& Item, bool NamesOnly);
  struct TRecordAt;
  bool MeasureInBuffer(TRecordAt& Record);
  void TakeMeasured(const TRecordAt& Record, TAddressItem& Item, bool NamesOnly);
  std::string Path;
  TFd File;  // closed even when the header cannot be read
  std::unique_ptr<TBookReader> Reader;
  bool Current = false;
  bool IsDamaged = false;
  std::string Text, Packed;
  std::unique_ptr<TAddressItem> Slow;  // for views of entries read the slow way
};

class TAddressBook {
public:
  explicit TAddressBook(IBookHost* Host = nullptr);
  ~TAddressBook();

  std::string FileName;
  bool Modified = false;
  std::unique_ptr<TMyLinkList> Items;
  TAddressItem* Current = nullptr;
  bool CurrentChanged = false;
  IBookHost* Host = nullptr;

  void Reset();
  std::string DisplayName() const;
  // Throws EFileError with the system's text when the file cannot be read,
  // and ENotABook when it is no book (BookFileKind).
  TLoadResult LoadFromFile(const std::string& Path);
  // Throws EFileError; on failure the file on disk, its backup and Modified
  // are unchanged. A book the user may not write, or that is not a regular
  // file, is refused with "Cannot create file ...".
  void SaveToFile();
  bool CheckVersion(const std::string& Path);
  TLoadResult LoadOldFormat();
};

extern const char* const BookHeader;  // "TOBRINEL:1.04"

// The warning text shown for a book in an older format.
std::string OldFormatWarningText(const std::string& Path);
// The notice for an older book read by a host that never saves it.
std::string OldFormatReadText(const std::string& Path);
// Path with its extension replaced (or appended when it has none).
std::string ChangeFileExt(const std::string& Path, const std::string& Ext);

void CopyFile(const std::string& Source, const std::string& Destination);
bool IsFileReadOnly(const std::string& Path);
