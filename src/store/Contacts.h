#pragma once

// Contacts in and out of a book: the format of a file, reading and writing
// files, and adding what was read. The formats are in VCard and Csv.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Adrbook.h"
#include "ContactFields.h"
#include "Csv.h"
#include "VCard.h"

enum class EContactFormat { VCard, Csv };

// Readers: vCard 2.1, 3.0 and 4.0; CSV with a header row. Throw EImportError
// (and EFileError for a file that cannot be read).
TImported ReadContacts(std::string_view Text, EContactFormat Format);
TImported ReadContacts(TInput& Input, EContactFormat Format, TEntrySink Sink = {});

// Every entry of the list in list order, handed to Write in pieces; stops and
// returns false as soon as Write does. Each card gets a UID that stays while
// its entry does. What could not be written as it stands is counted in Counts.
bool WriteContacts(const TLinkList& Items, EContactFormat Format, const std::function<bool(std::string_view)>& Write,
                   TExported* Counts = nullptr);
// The same for the entries Next hands out in turn until it gives nullptr.
// Each view is valid until the next call. EntriesAbout: how many it will
// give, where known, for the room of the UIDs; more room than needed costs
// memory, less a rehash.
using TEntrySource = std::function<const TEntryView*()>;
// The entries of Items in its order; Items outlives the source.
TEntrySource ListSource(const TLinkList& Items);
bool WriteContacts(const TEntrySource& Next, EContactFormat Format, const std::function<bool(std::string_view)>& Write,
                   TExported* Counts = nullptr, size_t EntriesAbout = 0);

// The file's format from its extension (.vcf, .vcard, .csv), else from its
// first line.
EContactFormat GuessContactFormat(const std::string& Path, std::string_view Text);
// The contacts of a file, read a piece at a time: a file that is refused
// costs little memory whatever its size. The format is Format when given,
// else from the extension or the first line. Only regular files are read,
// unless Streams: then named pipes (a process substitution, /dev/stdin) and
// character devices too. Throws EFileError with the system's text, and
// EImportError.
TImported ImportContactsFile(const std::string& Path, std::optional<EContactFormat> Format, bool Streams = false,
                             TEntrySink Sink = {});
// Writes the whole book; a file that exists is replaced only once the new
// content is complete. Refuses the book's own file.
TExported ExportToFile(const TAddressBook& Book, EContactFormat Format, const std::string& Path);
// The same for the entries Next hands out, read from the book file BookFile.
TExported ExportToFile(const std::string& BookFile, const TEntrySource& Next, EContactFormat Format,
                       const std::string& Path, size_t EntriesAbout = 0);
// False where ExportToFile writes into what is at Path as it goes (a pipe, a
// device) rather than into a new file that replaces it once complete: there,
// what was written cannot be taken back when the export is abandoned.
bool ExportReplacesFile(const std::string& Path);

// Takes out of Imported the entries equal in every field to one already in
// the list, so that importing a file twice does not double the book; counts
// them in Imported.AlreadyInBook.
void DropEntriesInBook(const TLinkList& List, TImported& Imported);

// Hands the items to the list's AddAll, which puts them where adding them one
// by one would.
void AddAllInOrder(TMyLinkList& List, std::vector<std::unique_ptr<TAddressItem>>& Items);
