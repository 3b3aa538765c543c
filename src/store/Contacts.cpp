#include "Contacts.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSystem.h"

using namespace ContactFields;

TImported ReadContacts(std::string_view Text, EContactFormat Format) {
  return Format == EContactFormat::VCard ? ReadVCards(Text) : ReadCsv(Text);
}

bool WriteContacts(const TLinkList& Items, EContactFormat Format,
                   const std::function<bool(std::string_view)>& Write) {
  std::string Out;
  Out.reserve(1 << 17);
  if (Format == EContactFormat::Csv) AppendCsvHeader(Out);
  TListNode* Cursor;
  Items.ResetCursor(Cursor);
  while (Items.MoveNext(Cursor)) {
    const auto& Item = *static_cast<const TAddressItem*>(Cursor);
    if (Format == EContactFormat::VCard) AppendVCard(Out, Item);
    else AppendCsvRecord(Out, Item);
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

std::string ReadContactsFile(const std::string& Path) {
  // Regular files only: a named pipe or a device would hang the reader.
  TFd File(OpenRegularForReading(Path));
  std::string Text;
  struct stat S;
  if (::fstat(File.Fd, &S) == 0) Text.reserve(size_t(S.st_size));
  char Buffer[65536];
  for (;;) {
    ssize_t N = ::read(File.Fd, Buffer, sizeof Buffer);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) throw EFileError("Cannot read file " + Path + ": " + SystemText(errno));
    if (N == 0) break;
    Text.append(Buffer, size_t(N));
  }
  return Text;
}

void ExportToFile(const TAddressBook& Book, EContactFormat Format, const std::string& Path) {
  if (!Book.FileName.empty() && SameFile(Book.FileName, Path))
    throw EFileError("Cannot create file " + Path + ": it is the address book itself");
  struct stat Old;
  if (::stat(Path.c_str(), &Old) == 0 && !S_ISREG(Old.st_mode)) {
    // A pipe or a device is written as it is; there is nothing to replace.
    TFd File(::open(Path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (File.Fd < 0 || !WriteContacts(*Book.Items, Format, [&](std::string_view Piece) {
          return WriteAll(File.Fd, Piece.data(), Piece.size());
        }) || ::close(File.Release()) != 0)
      throw EFileError("Cannot write file " + Path + ": " + SystemText(errno));
    return;
  }
  TFileReplacement File(Path, TFileReplacement::TOptions());
  WriteContacts(*Book.Items, Format, [&](std::string_view Piece) {
    File.Write(Piece.data(), Piece.size());
    return true;
  });
  File.Commit();
}

// =====================================================================
// Adding many entries

void AddAllInOrder(TMyLinkList& List, std::vector<std::unique_ptr<TAddressItem>>& Items) {
  std::vector<TAddressItem*> New;
  New.reserve(Items.size());
  for (auto& Item : Items) New.push_back(Item.release());
  Items.clear();
  List.AddAll(New);
}
