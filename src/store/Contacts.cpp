#include "Contacts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "EntryPool.h"
#include "FileSystem.h"
#include "Sha1.h"
#include "VCardWriter.h"

using namespace ContactFields;

TImported ReadContacts(TInput& Input, EContactFormat Format, TEntrySink Sink) {
  return Format == EContactFormat::VCard ? ReadVCards(Input, std::move(Sink)) : ReadCsv(Input, std::move(Sink));
}

TImported ReadContacts(std::string_view Text, EContactFormat Format) {
  TInput Input(Text);
  return ReadContacts(Input, Format);
}

namespace {

// The 122 bits of a hash that its UID shows: two hashes give the same UID
// exactly when these are equal.
struct TUidBits {
  uint64_t Low = 0, High = 0;
  TUidBits() = default;
  explicit TUidBits(const std::array<uint8_t, 20>& Hash) {
    std::array<uint8_t, 16> Bytes;
    std::memcpy(Bytes.data(), Hash.data(), 16);
    Bytes[6] &= 0x0F;  // the version's place
    Bytes[8] &= 0x3F;  // the variant's
    std::memcpy(&Low, Bytes.data(), 8);
    std::memcpy(&High, Bytes.data() + 8, 8);
  }
  bool operator==(const TUidBits& Other) const { return Low == Other.Low && High == Other.High; }
};
// The UIDs given so far, in one open-addressed table: a node each would
// cost more than the hashing.
class TUidSet {
public:
  // Room for about Entries from the start: each doubling rehashed every UID
  // and touched twice the memory.
  explicit TUidSet(size_t Entries) {
    size_t Count = 1024;
    while (Count < 2 * (Entries + 1)) Count *= 2;
    Slots.resize(Count);
  }
  // Asks for the slot Insert(Bits) looks at first, so that it is at hand by
  // the time the card is written: the table is too large to stay in the cache.
  void Prefetch(const TUidBits& Bits) {
    if ((Used + 1) * 2 > Slots.size()) Grow();
    __builtin_prefetch(&Slots[Slot(Bits)]);
  }
  // False when Bits is there already.
  bool Insert(const TUidBits& Bits) {
    if (Bits.Low == 0 && Bits.High == 0) return !std::exchange(HasZero, true);
    if ((Used + 1) * 2 > Slots.size()) Grow();
    for (size_t At = Slot(Bits);; At = (At + 1) & (Slots.size() - 1)) {
      TUidBits& Here = Slots[At];
      if (Here == Bits) return false;
      if (Here.Low == 0 && Here.High == 0) {
        Here = Bits;
        ++Used;
        return true;
      }
    }
  }

private:
  size_t Slot(const TUidBits& Bits) const {
    return size_t((Bits.Low ^ (Bits.High * 0x9E3779B97F4A7C15ull)) >> 7) & (Slots.size() - 1);
  }
  void Grow() {
    TSlots Old(Slots.size() * 2);
    Old.swap(Slots);
    for (const TUidBits& Bits : Old)
      if (Bits.Low != 0 || Bits.High != 0)
        for (size_t At = Slot(Bits);; At = (At + 1) & (Slots.size() - 1))
          if (Slots[At].Low == 0 && Slots[At].High == 0) {
            Slots[At] = Bits;
            break;
          }
  }
  // A large table lies in huge pages: its slots are asked for at random, and
  // it was a tenth of an export's page faults.
  using TSlots = std::vector<TUidBits, EntryPool::TLargeAllocator<TUidBits>>;
  TSlots Slots;
  size_t Used = 0;
  bool HasZero = false;
};

}  // namespace

TEntrySource ListSource(const TLinkList& Items) {
  return [&Items, Cursor = static_cast<TListNode*>(nullptr), View = TEntryView()]() mutable -> const TEntryView* {
    if (!Items.MoveNext(Cursor)) return nullptr;
    View = *static_cast<const TAddressItem*>(Cursor);
    return &View;
  };
}

bool WriteContacts(const TLinkList& Items, EContactFormat Format, const std::function<bool(std::string_view)>& Write,
                   TExported* Counts) {
  return WriteContacts(ListSource(Items), Format, Write, Counts, size_t(Items.Count));
}

bool WriteContacts(const TEntrySource& Next, EContactFormat Format, const std::function<bool(std::string_view)>& Write,
                   TExported* Counts, size_t EntriesAbout) {
  // Handed on in pieces of 256 KB: the system takes a file's writes in
  // pieces that large for a sixth less than in pieces of 64 KB.
  std::string Out;
  Out.reserve(1 << 19);
  if (Format == EContactFormat::Csv) AppendCsvHeader(Out);
  // Entries alike in every field still get a UID each; the UIDs given are
  // kept as the bits they show rather than as texts.
  TUidSet Uids(Format == EContactFormat::VCard ? EntriesAbout : 0);
  // Cards are written with room for their UID, and named two at a time:
  // two hashes side by side cost little more than one. A pair is looked up
  // among the UIDs given only once the next pair is hashed, so that its
  // slots are in the cache by then. The names are copies, for a view is
  // valid only until the next entry.
  struct TUnnamed {
    TVCardUidName Name;
    size_t UidAt;
    std::array<uint8_t, 20> Hash;
  } Cards[4];
  TUnnamed* Hashed = Cards;        // a pair hashed, not yet named: HashedCount of them
  TUnnamed* Building = Cards + 2;  // the pair being written: Unnamed of them
  int HashedCount = 0, Unnamed = 0;
  auto Name = [&](TUnnamed& Card) {
    std::array<uint8_t, 20> Hash = Card.Hash;
    if (!Uids.Insert(TUidBits(Hash))) {
      // An entry alike in every field to one before: the next UID not yet
      // given.
      int32_t Occurrence = 1;
      for (;; ++Occurrence) {
        Card.Name.SetOccurrence(Occurrence);
        if (Uids.Insert(TUidBits(Hash = Card.Name.Hash()))) break;
      }
    }
    WriteUuidFromSha1(Out.data() + Card.UidAt, Hash);
  };
  auto HashBuilding = [&] {
    if (Unnamed == 2)
      Sha1OfBlocksPair(Building[0].Name.Blocks(), Building[0].Name.BlockCount(), Building[1].Name.Blocks(),
                       Building[1].Name.BlockCount(), Building[0].Hash, Building[1].Hash);
    else if (Unnamed == 1) Building[0].Hash = Building[0].Name.Hash();
    for (int I = 0; I < Unnamed; ++I) Uids.Prefetch(TUidBits(Building[I].Hash));
  };
  // In entry order, as the UIDs of alike entries are given.
  auto NameHashed = [&] {
    for (int I = 0; I < HashedCount; ++I) Name(Hashed[I]);
    HashedCount = 0;
  };
  auto Step = [&] {
    HashBuilding();
    NameHashed();
    std::swap(Hashed, Building);
    HashedCount = std::exchange(Unnamed, 0);
  };
  auto NameAll = [&] {
    Step();
    NameHashed();
  };
  static constexpr std::string_view NoUidYet = "00000000-0000-0000-0000-000000000000";
  while (const TEntryView* Entry = Next()) {
    const TEntryView& Item = *Entry;
    if (Format == EContactFormat::VCard) {
      TUnnamed& Card = Building[Unnamed++];
      Card.Name.Build(Item);
      Card.UidAt = AppendVCard(Out, Item, NoUidYet, Counts);
      if (Unnamed == 2) Step();
    } else {
      AppendCsvRecord(Out, Item);
    }
    if (Out.size() >= (1 << 18)) {
      NameAll();
      if (!Write(Out)) return false;
      Out.clear();
    }
  }
  NameAll();
  return Out.empty() || Write(Out);
}

// =====================================================================
// Files

namespace {

std::string Extension(const std::string& Path) {
  size_t Slash = Path.rfind('/');
  size_t Dot = Path.rfind('.');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return "";
  return LowerText(std::string_view(Path).substr(Dot + 1));
}

}  // namespace

EContactFormat GuessContactFormat(const std::string& Path, std::string_view Text) {
  std::string Ext = Extension(Path);
  if (Ext == "vcf" || Ext == "vcard") return EContactFormat::VCard;
  if (Ext == "csv") return EContactFormat::Csv;
  Text = WithoutBom(Text);
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t' || Text.front() == '\r' || Text.front() == '\n'))
    Text.remove_prefix(1);
  return StartsWithText(Text, "BEGIN:VCARD") ? EContactFormat::VCard : EContactFormat::Csv;
}

TImported ImportContactsFile(const std::string& Path, std::optional<EContactFormat> Format, bool Streams,
                             TEntrySink Sink) {
  TFd File(Streams ? OpenForReading(Path) : OpenRegularForReading(Path));
  TInput Input(File.Fd, Path);
  return ReadContacts(Input, Format ? *Format : GuessContactFormat(Path, Input.Peek(4096)), std::move(Sink));
}

TExported ExportToFile(const TAddressBook& Book, EContactFormat Format, const std::string& Path) {
  return ExportToFile(Book.FileName, ListSource(*Book.Items), Format, Path, size_t(Book.Items->Count));
}

TExported ExportToFile(const std::string& BookFile, const TEntrySource& Next, EContactFormat Format,
                       const std::string& Path, size_t EntriesAbout) {
  if (!BookFile.empty() && SameFile(BookFile, Path))
    throw EFileError("Cannot create file " + Path + ": it is the address book itself");
  if (!ExportReplacesFile(Path)) {
    // A pipe or a device is written as it is; there is nothing to replace.
    TFd File(::open(Path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    TExported Counts;
    if (File.Fd < 0 ||
        !WriteContacts(
            Next, Format, [&](std::string_view Piece) { return WriteAll(File.Fd, Piece.data(), Piece.size()); },
            &Counts, EntriesAbout) ||
        ::close(File.Release()) != 0)
      throw EFileError("Cannot write file " + Path + ": " + SystemText(errno));
    return Counts;
  }
  TFileReplacement File(Path, TFileReplacement::TOptions());
  TExported Counts;
  WriteContacts(
      Next, Format,
      [&](std::string_view Piece) {
        File.Write(Piece.data(), Piece.size());
        return true;
      },
      &Counts, EntriesAbout);
  File.Commit();
  return Counts;
}

bool ExportReplacesFile(const std::string& Path) {
  struct stat Old;
  return ::stat(Path.c_str(), &Old) != 0 || S_ISREG(Old.st_mode);
}

// =====================================================================
// Adding many entries

namespace {

// Every field of an entry, as one text that equal entries alone share.
std::string EntryKey(const TAddressItem& Item) {
  std::string Key;
  for (std::string_view Text : Item.TextFields()) Key.append(Text) += '\x1F';
  for (const TLineList* List : Item.LineLists()) {
    List->ForEach([&](std::string_view Line) { Key.append(Line) += '\x1E'; });
    Key += '\x1F';
  }
  Key += char(Item.TabPage);
  return Key;
}

}  // namespace

void DropEntriesInBook(const TLinkList& List, TImported& Imported) {
  if (List.Count == 0 || Imported.Items.empty()) return;
  std::unordered_set<std::string> Keys;
  Keys.reserve(size_t(List.Count));
  TListNode* Cursor;
  List.ResetCursor(Cursor);
  while (List.MoveNext(Cursor)) Keys.insert(EntryKey(*static_cast<const TAddressItem*>(Cursor)));
  auto& Items = Imported.Items;
  const size_t Before = Items.size();
  Items.erase(
      std::remove_if(Items.begin(), Items.end(), [&](const auto& Item) { return Keys.count(EntryKey(*Item)) > 0; }),
      Items.end());
  Imported.AlreadyInBook += int32_t(Before - Items.size());
}

void AddAllInOrder(TMyLinkList& List, std::vector<std::unique_ptr<TAddressItem>>& Items) {
  std::vector<TAddressItem*> New;
  New.reserve(Items.size());
  for (auto& Item : Items) New.push_back(Item.release());
  Items.clear();
  List.AddAll(New);
}
