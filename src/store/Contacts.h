#pragma once

// Contacts in and out of a book: vCard and CSV, as phones, mail programs and
// spreadsheets write and read them.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Adrbook.h"

enum class EContactFormat { VCard, Csv };

// Input that cannot be read: the line it was found on (from 1) and what is wrong.
class EImportError : public std::runtime_error {
public:
  EImportError(int32_t Line, const std::string& Problem)
      : std::runtime_error("line " + std::to_string(Line) + ": " + Problem), Line(Line), Problem(Problem) {}
  int32_t Line;
  std::string Problem;
};

struct TImported {
  std::vector<std::unique_ptr<TAddressItem>> Items;  // in the order of the input
  int32_t ValuesCut = 0;  // values longer than their field, cut to its capacity
};

// Readers: vCard 2.1, 3.0 and 4.0; CSV with a header row. Whatever a card or a
// row holds that an entry has no field for goes into the notes as a line.
// Throw EImportError.
TImported ReadVCards(std::string_view Text);
TImported ReadCsv(std::string_view Text);
TImported ReadContacts(std::string_view Text, EContactFormat Format);

// Writers: vCard 3.0 and CSV with a header row, UTF-8.
void AppendVCard(std::string& Out, const TAddressItem& Item);
void AppendCsvHeader(std::string& Out);
void AppendCsvRecord(std::string& Out, const TAddressItem& Item);
// Every entry of the list in list order, handed to Write in pieces; stops and
// returns false as soon as Write does.
bool WriteContacts(const TLinkList& Items, EContactFormat Format,
                   const std::function<bool(std::string_view)>& Write);

// The file's format from its extension (.vcf, .vcard, .csv), else from its
// first line.
EContactFormat GuessContactFormat(const std::string& Path, std::string_view Text);
// Throw EFileError with the system's text.
std::string ReadContactsFile(const std::string& Path);
// Writes the whole book; a file that exists is replaced only once the new
// content is complete. Refuses the book's own file.
void ExportToFile(const TAddressBook& Book, EContactFormat Format, const std::string& Path);

// Hands the items to the list's AddAll, which puts them where adding them one
// by one would.
void AddAllInOrder(TMyLinkList& List, std::vector<std::unique_ptr<TAddressItem>>& Items);
