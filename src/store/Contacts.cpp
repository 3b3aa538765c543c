#include "Contacts.h"

#include <algorithm>
#include <cerrno>
#include <unordered_set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSystem.h"

using namespace ContactFields;

TImported ReadContacts(TInput& Input, EContactFormat Format) {
  return Format == EContactFormat::VCard ? ReadVCards(Input) : ReadCsv(Input);
}

TImported ReadContacts(std::string_view Text, EContactFormat Format) {
  TInput Input(Text);
  return ReadContacts(Input, Format);
}

bool WriteContacts(const TLinkList& Items, EContactFormat Format,
                   const std::function<bool(std::string_view)>& Write, TExported* Counts) {
  std::string Out;
  Out.reserve(1 << 17);
  if (Format == EContactFormat::Csv) AppendCsvHeader(Out);
  std::unordered_set<std::string> Uids;  // entries alike in every field still get a UID each
  if (Format == EContactFormat::VCard) Uids.reserve(size_t(Items.Count));
  TListNode* Cursor;
  Items.ResetCursor(Cursor);
  while (Items.MoveNext(Cursor)) {
    const auto& Item = *static_cast<const TAddressItem*>(Cursor);
    if (Format == EContactFormat::VCard) {
      std::string Uid;
      for (int32_t Occurrence = 0; !Uids.insert(Uid = VCardUid(Item, Occurrence)).second;) ++Occurrence;
      AppendVCard(Out, Item, Uid, Counts);
    } else {
      AppendCsvRecord(Out, Item);
    }
    if (Out.size() >= (1 << 16)) {
      if (!Write(Out)) return false;
      Out.clear();
    }
  }
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

TImported ImportContactsFile(const std::string& Path, std::optional<EContactFormat> Format, bool Streams) {
  TFd File(Streams ? OpenForReading(Path) : OpenRegularForReading(Path));
  TInput Input(File.Fd, Path);
  return ReadContacts(Input, Format ? *Format : GuessContactFormat(Path, Input.Peek(4096)));
}

TExported ExportToFile(const TAddressBook& Book, EContactFormat Format, const std::string& Path) {
  if (!Book.FileName.empty() && SameFile(Book.FileName, Path))
    throw EFileError("Cannot create file " + Path + ": it is the address book itself");
  struct stat Old;
  if (::stat(Path.c_str(), &Old) == 0 && !S_ISREG(Old.st_mode)) {
    // A pipe or a device is written as it is; there is nothing to replace.
    TFd File(::open(Path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    TExported Counts;
    if (File.Fd < 0 || !WriteContacts(*Book.Items, Format, [&](std::string_view Piece) {
          return WriteAll(File.Fd, Piece.data(), Piece.size());
        }, &Counts) || ::close(File.Release()) != 0)
      throw EFileError("Cannot write file " + Path + ": " + SystemText(errno));
    return Counts;
  }
  TFileReplacement File(Path, TFileReplacement::TOptions());
  TExported Counts;
  WriteContacts(*Book.Items, Format, [&](std::string_view Piece) {
    File.Write(Piece.data(), Piece.size());
    return true;
  }, &Counts);
  File.Commit();
  return Counts;
}

// =====================================================================
// Adding many entries

namespace {

// Every field of an entry, as one text that equal entries alone share.
std::string EntryKey(const TAddressItem& Item) {
  std::string Key;
  for (const std::string* Text : {&Item.Surname.str(), &Item.FirstName.str(), &Item.HomeTelephone.str(),
                                  &Item.BusTelephone.str(), &Item.BusExtn.str(), &Item.BusFacsimile.str(),
                                  &Item.BusMobile.str()})
    Key.append(*Text) += '\x1F';
  for (const TLineList* List : {&Item.HomeAddress, &Item.BusAddress, &Item.Notes}) {
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
  Items.erase(std::remove_if(Items.begin(), Items.end(), [&](const auto& Item) { return Keys.count(EntryKey(*Item)) > 0; }),
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
