#pragma once

// vCard: the cards of phones, mail programs and address servers (2.1, 3.0
// and 4.0) read into entries, and entries written as 3.0 cards.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ContactFields.h"

// One parameter of a content line: NAME=value, or a bare 2.1 type such as
// HOME or QUOTED-PRINTABLE (Name empty).
struct TVCardParam {
  std::string_view Name;
  std::string_view Value;  // without the double quotes around it
};

// One content line, unfolded and taken apart. The views point into the text
// or reader it came from.
struct TContentLine {
  std::string_view Group;  // "item1" of "item1.TEL", else empty
  std::string Name;        // upper case, without its group
  std::vector<TVCardParam> Params;
  std::string_view Value;  // as written: escapes and any transfer encoding still in place
  int32_t Number = 0;      // the physical line it begins on, from 1

  // The value of the first parameter of that name, "" when there is none.
  std::string_view Param(std::string_view ParamName) const;
  // Marked with the type: TYPE=home,fax or TYPE="home,fax" or a bare 2.1 HOME.
  bool HasType(std::string_view Type) const;
};

// Takes one unfolded content line apart. Throws EImportError when it has no
// ':' between its name and its value.
void ParseContentLine(std::string_view Line, int32_t Number, TContentLine& Out);

// The content lines of a text one at a time: a line that begins with a space
// or a tab goes on from the one before, and in quoted-printable a final '='
// joins the next line. Blank lines are passed over. A content line longer
// than MaxReadLength is refused, unless MayPassOver says its property is not
// wanted: then only its start is handed on, marked Cut.
class TContentLineReader {
public:
  explicit TContentLineReader(std::string_view Text);
  explicit TContentLineReader(TInput& Input);
  ~TContentLineReader();
  // The next content line, unfolded, and the physical line it begins on;
  // false at the end. Line holds until the next call. Throws EImportError
  // and, reading a file, EFileError.
  bool NextRaw(std::string_view& Line, int32_t& Number);
  // The same, taken apart.
  bool Next(TContentLine& Line);
  // 2.1 keeps the space or tab that begins a continuation line; later
  // versions drop it.
  bool KeepFoldingSpace = false;
  // Given the upper-case name of a property whose line is too long.
  std::function<bool(std::string_view Name)> MayPassOver;
  bool Cut = false;  // the last line was too long and only its start is there

private:
  bool FrontLine(size_t& Length, size_t& Consumed);
  bool NextIsFolded(size_t Offset);
  void PassOverLine();
  void TooLong(std::string Head, int32_t Number, bool InLine);
  std::unique_ptr<TInput> Owned;
  TInput* In;
  size_t Pending = 0;  // the line handed out last, still in the input
  int32_t Physical = 0;
  std::string Joined;
};

// The value after its transfer encoding (quoted-printable, base64) and its
// character set, as UTF-8; escapes are still in place. Only a value that
// needs decoding goes through Scratch; any other is handed back as it stands.
// Throws EImportError for bad base64 and unknown character sets.
std::string_view DecodeVCardValue(const TContentLine& Line, std::string& Scratch);
// Backslash escapes undone: \\ \, \; \: and \n or \N for a line break.
std::string UnescapeVCardText(std::string_view Value);
// The components of a structured value (N, ADR, ORG) split at unescaped
// ';', at least AtLeast of them; escapes are still in place.
std::vector<std::string_view> VCardComponents(std::string_view Value, size_t AtLeast);

// Every card of the text, in order; a card nested in another (AGENT) comes
// after it. Whatever a card holds that an entry has no field for goes into
// the notes as a line; pictures and other binary values are counted, and so
// are cards with neither a name nor a number, which are passed over. A card
// without a VERSION is read by the rules of 2.1. Throws EImportError, and
// EFileError when a file cannot be read.
TImported ReadVCards(std::string_view Text);
TImported ReadVCards(TInput& Input);

// A UID for the entry's card that stays the same while the entry does: a
// name-based UUID of its fields. Occurrence tells apart entries that are
// alike in every field (0 for the first).
std::string VCardUid(const TAddressItem& Item, int32_t Occurrence = 0);

// One entry as a 3.0 card, UTF-8, lines ending in CRLF and folded at 75
// octets. A UID line is written when Uid is not empty. Phone numbers are
// written without escapes; what cannot stand in one is left out and counted
// in Counts.
void AppendVCard(std::string& Out, const TAddressItem& Item, std::string_view Uid = {}, TExported* Counts = nullptr);
