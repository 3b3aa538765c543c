#pragma once

// What vCard and CSV share: how a contact becomes an entry (its fields, and
// the lines of the notes for everything the entry has no field for), the
// lines of an address, and the small text helpers both readers use.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Adrbook.h"

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

namespace ContactFields {

constexpr int32_t MaxStoredLength = 32767;  // what a book file holds per line and per list

// ASCII case only: names of properties and columns.
char Lower(char C);
bool SameText(std::string_view A, std::string_view B);
bool StartsWithText(std::string_view Text, std::string_view Prefix);
std::string LowerText(std::string_view Text);
// Without leading and trailing spaces and tabs.
std::string_view Trim(std::string_view Text);
std::string_view WithoutBom(std::string_view Text);

// Splits at "\n", dropping the "\r" of CRLF (or of a doubled CR) at a line's
// end, as the memos store their lines.
void AddLines(std::vector<std::string>& Lines, std::string_view Text);
// The non-empty lines joined with Between.
std::string JoinLines(const std::vector<std::string>& Lines, std::string_view Between);
// Words joined with single spaces; a single one is kept exactly as it is.
std::string JoinWords(const std::vector<std::string>& Words);

// Text of a single-byte Windows system (also Latin-1 and ASCII) as UTF-8.
std::string FromCp1252(std::string_view Bytes);
// Valid UTF-8 as it is, anything else taken as Windows-1252.
std::string AsUtf8(std::string&& Bytes);

// Address parts as lines: the street's own lines, then every other part that
// is given, each on a line of its own.
std::vector<std::string> AddressLines(const std::vector<std::string>& Before, std::string_view Street,
                                      const std::vector<std::string>& After);

// What becomes of a contact: the fields an entry has, and the lines of the
// notes for everything else.
class TEntryBuilder {
public:
  TEntryBuilder() : Item(std::make_unique<TAddressItem>()) {}

  template <size_t Capacity>
  void Put(TFixedText<Capacity>& Field, const std::string& Value) {
    if (Value.size() > Capacity && CharCount(Value) > Capacity) ++Cut;
    Field = Value;
  }
  // Into the field when it is still empty, else into the notes under Label.
  template <size_t Capacity>
  void PutOrNote(TFixedText<Capacity>& Field, const std::string& Value, const std::string& Label) {
    if (Field.empty()) Put(Field, Value);
    else Note(Label, Value);
  }
  void Note(const std::string& Label, std::string_view Value);
  // Names from a full name when no parts were given: the last word is the
  // surname, unless the name is an organisation's.
  void NamesFromFullName(std::string_view Full, bool Organisation);

  // Hands the entry over; Line is where its card or row begins. Throws
  // EImportError for what a book file cannot hold.
  std::unique_ptr<TAddressItem> Finish(int32_t Line, int32_t& ValuesCut);

  std::unique_ptr<TAddressItem> Item;
  std::vector<std::string> HomeAddress, BusAddress, NoteLines, Extras;
  bool HaveHomeAddress = false, HaveBusAddress = false, HaveNotes = false;
  int32_t Cut = 0;
};

}  // namespace ContactFields
