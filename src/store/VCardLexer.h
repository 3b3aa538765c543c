#pragma once

// The content lines of vCards: unfolding, parameters, transfer encodings
// and escapes, shared by the card reader and the sync's card patcher.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ByteWords.h"
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
// The same, but false (Out as it was) for a line without that ':'.
bool ParseContentLineIfAny(std::string_view Line, int32_t Number, TContentLine& Out);

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

// Where cards begin and end, as the reader and the sync's card patcher both
// see it: a block that begins inside a card (BEGIN:X) goes on to the END
// that closes it, whatever that END names, and a BEGIN:VCARD inside a card
// begins a card nested in it.
class TCardStructure {
public:
  enum EStep { Property, BeginCard, EndCard, InBlock };
  // What Line is to the cards open before it. Throws EImportError for a
  // line outside any card or an END of something else inside one.
  EStep Step(const TContentLine& Line);
  size_t OpenCards() const { return Blocks.size(); }
  // Inside a card nested in the first one, or inside a block of any card.
  bool Nested() const { return Blocks.size() > 1 || (!Blocks.empty() && Blocks.back() > 0); }

private:
  std::vector<int> Blocks;  // per open card, the blocks open inside it
};

// The value after its transfer encoding (quoted-printable, base64) and its
// character set, as UTF-8; escapes are still in place. Only a value that
// needs decoding goes through Scratch; any other is handed back as it stands.
// Throws EImportError for bad base64 and unknown character sets.
std::string_view DecodeVCardValue(const TContentLine& Line, std::string& Scratch);
// Backslash escapes undone: \\ \, \; \: and \n or \N for a line break.
std::string UnescapeVCardText(std::string_view Value);
// The same into Scratch, whose room is kept, or Value itself where it holds
// no escape.
std::string_view UnescapeVCardText(std::string_view Value, std::string& Scratch);
// The same always into Out, whose room is kept.
void AssignUnescapedVCardText(std::string& Out, std::string_view Value);
// The components of a structured value (N, ADR, ORG) split at unescaped
// ';', at least AtLeast of them; escapes are still in place.
std::vector<std::string_view> VCardComponents(std::string_view Value, size_t AtLeast);
// The same into Parts, whose room is kept.
void VCardComponents(std::string_view Value, size_t AtLeast, std::vector<std::string_view>& Parts);

// Where the name and parameters end: the first ':' outside double quotes;
// npos when there is none.
size_t ValueColon(std::string_view Line);

// Visits the parts between unescaped separators.
template <class F>
inline void ForEachPart(std::string_view Value, char Separator, F&& Visit) {
  size_t Start = 0;
  for (size_t I = 0; I < Value.size();) {
    // Plain runs eight bytes a step, to the first backslash or separator.
    if (Value.size() - I >= 8) {
      const uint64_t Word = ByteWords::Load(Value.data() + I);
      const uint64_t Marks = ByteWords::Has(Word, '\\') | ByteWords::Has(Word, static_cast<unsigned char>(Separator));
      if (!Marks) {
        I += 8;
        continue;
      }
      I += ByteWords::FirstMarked(Marks);
    }
    if (Value[I] == '\\') {
      I += 2;
    } else if (Value[I] == Separator) {
      Visit(Value.substr(Start, I - Start));
      Start = ++I;
    } else {
      ++I;
    }
  }
  Visit(Value.substr(Start));
}

// Visits the items of a comma-separated parameter value.
template <class F>
inline void ForEachItem(std::string_view Value, F&& Visit) {
  for (size_t Start = 0;;) {
    size_t Comma = Value.find(',', Start);
    Visit(ContactFields::Trim(Value.substr(Start, Comma == std::string_view::npos ? Comma : Comma - Start)));
    if (Comma == std::string_view::npos) return;
    Start = Comma + 1;
  }
}
