#pragma once

// What vCard and CSV share: how a contact becomes an entry (its fields, and
// the lines of the notes for everything the entry has no field for), the
// lines of an address, and the small text helpers both readers use.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Adrbook.h"

// Input that cannot be read: the line it was found on (from 1) and what is wrong.
class EImportError : public std::runtime_error {
public:
  EImportError(int32_t ALine, const std::string& AProblem)
      : std::runtime_error("line " + std::to_string(ALine) + ": " + AProblem), Line(ALine), Problem(AProblem) {}
  int32_t Line;
  std::string Problem;
};

// Input past what Tobrinel reads or a book holds: refused whole, since what
// follows cannot be read either, or would cost without bound.
class EImportLimit : public EImportError {
public:
  using EImportError::EImportError;
};

// Takes each entry an import reads, in the order of the input, where the
// entries are not to be held all at once.
using TEntrySink = std::function<void(std::unique_ptr<TAddressItem>)>;

struct TImported {
  std::vector<std::unique_ptr<TAddressItem>> Items;  // in the order of the input
  int32_t ValuesCut = 0;                             // values longer than their field, cut to its capacity
  int32_t PhotosSkipped = 0;                         // pictures (PHOTO, LOGO), which an entry cannot hold
  int32_t BinarySkipped = 0;                         // other binary values (sounds, keys)
  int32_t EmptySkipped = 0;                          // contacts that hold nothing an entry can show
  int32_t GroupsSkipped = 0;                         // contact groups (lists of members), which are no entries
  int32_t PhoneCharactersDropped = 0;                // characters that cannot stand in a phone number
  int32_t AlreadyInBook = 0;                         // equal in every field to an entry of the book they were added to
  // Cards and rows that could not be read and were passed over: the line
  // of the fault and what it is.
  std::vector<std::pair<int32_t, std::string>> Refused;
  // Where set, the entries go here once the input can no longer take them
  // back, rather than stay in Items; Taken counts them.
  TEntrySink Sink;
  int64_t Taken = 0;
  // Hands on what Items holds, where there is a Sink.
  void PassOn();
  // Whether any entry was read, held or handed on.
  bool AnyEntry() const { return Taken > 0 || !Items.empty(); }
};

// What an export could not write as it stands.
struct TExported {
  int32_t PhoneCharactersDropped = 0;  // characters that cannot stand in a phone number
  int32_t NumbersChanged = 0;          // the numbers they were left out of
};

// What the person should be told about an export, one sentence a line.
std::vector<std::string> ExportNotices(const TExported& Exported);

// What the person should be told about an import beyond the count of entries,
// one sentence a line without a final full stop ("2 photos were not imported",
// "line 812: the card that begins here has no END:VCARD; skipped").
std::vector<std::string> ImportNotices(const TImported& Imported);

// The most a reader holds of one line of a card or one row of a CSV file; a
// longer one is refused (or, for a value that is not kept, passed over), so
// that a damaged input costs little memory whatever its size.
constexpr size_t MaxReadLength = size_t(8) << 20;
constexpr const char* MaxReadText = "8 MB";

// The bytes a reader reads: a text in memory, or a file read a piece at a
// time. A UTF-8 byte-order mark is dropped; a UTF-16 text with a byte-order
// mark is handed on as UTF-8.
class TInput {
public:
  explicit TInput(std::string_view Text);
  // Fd stays the caller's; Name is for the error text of a failed read.
  TInput(int Fd, std::string Name);
  TInput(const TInput&) = delete;
  TInput& operator=(const TInput&) = delete;

  // At least Want bytes unless the input ends first. The view holds until
  // the next Peek for more than it has, or the next Skip. Throws EFileError.
  std::string_view Peek(size_t Want) {
    // Readers look at every field and line this way: what is at hand is
    // handed out without a call.
    if (Kind == EKind::Bytes && Started && Buffer.size() - Pos >= Want)
      return std::string_view(Buffer.data() + Pos, Buffer.size() - Pos);
    return PeekMore(Want);
  }
  void Skip(size_t Count) { Pos += Count; }
  bool AtEnd() { return Peek(1).empty(); }

private:
  std::string_view PeekMore(size_t Want);
  void Start();
  size_t ReadRaw(char* To, size_t Size);
  void Decode(const char* Bytes, size_t Size);
  enum class EKind { Whole, Bytes, Utf16Le, Utf16Be };
  EKind Kind = EKind::Whole;
  bool Started = false;
  std::string_view Text;  // the whole input, or what is left of it to decode
  int Fd = -1;
  std::string Name;
  std::string Buffer;
  size_t Pos = 0;  // into Text (Whole) or Buffer
  bool RawEnded = false;
  std::string Carry;  // an odd byte or half a surrogate pair
};

namespace ContactFields {

constexpr int32_t MaxStoredLength = 32767;  // what a book file holds per line and per list

// Whether Text is Literal, compared in a few instructions: every line of a
// card has its name held against a dozen literals, and string_view's own
// equality called memcmp for each of the same length.
template <size_t N>
inline bool IsText(std::string_view Text, const char (&Literal)[N]) {
  return Text.size() == N - 1 && __builtin_memcmp(Text.data(), Literal, N - 1) == 0;
}

// ASCII case only: names of properties and columns.
// Inline: readers compare and trim every name and value, most at a glance.
inline char Lower(char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; }
inline bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I)
    if (Lower(A[I]) != Lower(B[I])) return false;
  return true;
}
bool StartsWithText(std::string_view Text, std::string_view Prefix);
std::string LowerText(std::string_view Text);
// Without leading and trailing spaces and tabs.
inline std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}
std::string_view WithoutBom(std::string_view Text);

// Splits at every line break: LF, CR, or CRs followed by LF (a CRLF, or the
// doubled CR of a text converted twice) as the memos store their lines.
void AddLines(std::vector<std::string>& Lines, std::string_view Text);
// A one-line value with its line breaks as LF only.
std::string WithLfBreaks(std::string_view Text);
// The non-empty lines joined with Between.
std::string JoinLines(const std::vector<std::string>& Lines, std::string_view Between);
// Words joined with single spaces; a single one is kept exactly as it is.
std::string JoinWords(const std::vector<std::string>& Words);

// A phone number without what cannot stand in one: backslashes, which other
// programs take for escapes, and control characters such as line breaks and
// tabs. Adds the number of characters left out to Dropped.
std::string PhoneNumberText(std::string_view Number, int32_t& Dropped);
// Whether PhoneNumberText would leave the number as it is.
bool IsPhoneNumberText(std::string_view Number);

// What a telephone number is, from its types or its label.
enum class ENumberKind { Home, Work, Mobile, Fax, HomeFax, Pager, Other, WorkFax };
// A label as the person reads it: Apple's "_$!<Mobile>!$_" is "Mobile", and
// the "* " that marks Google's preferred value goes.
std::string_view LabelText(std::string_view Label);
// The kind a label names ("Mobile", "Work Fax", "Home"); Other for any other.
ENumberKind NumberKindOfLabel(std::string_view Label);

// Text of a single-byte Windows system (also Latin-1 and ASCII) as UTF-8.
std::string FromCp1252(std::string_view Bytes);
// Valid UTF-8 as it is, anything else taken as Windows-1252.
std::string AsUtf8(std::string&& Bytes);

// The lines of an address or of the notes as an import gathers them, packed
// one after another as a line list keeps them: a contact's lines cost no
// allocation of their own.
class TLines {
public:
  // Line as it is; a line longer than a book holds is cut, and counted in Cut.
  void Add(std::string_view Line);
  // Text split at its line breaks, as AddLines splits it.
  void AddText(std::string_view Text);
  // Other's lines before these.
  void Prepend(const TLines& Other);
  void Append(const TLines& Other);
  void clear() {
    Bytes.clear();
    LineCount = 0;
    Cut = 0;
  }
  size_t size() const { return size_t(LineCount); }
  bool empty() const { return LineCount == 0; }
  // More than one line, or one that is not empty.
  bool Some() const { return LineCount > 1 || Bytes.size() > 1; }
  TLinesView View() const { return TLinesView(Bytes, LineCount); }
  int32_t Cut = 0;

private:
  std::string Bytes;
  int32_t LineCount = 0;
};

// The non-empty lines joined with Between.
std::string JoinLines(const TLines& Lines, std::string_view Between);
// Address parts into Into (emptied first) in the order a letter is addressed:
// the street's own lines, then every other part that is given, each on a
// line of its own.
void AddAddressLines(TLines& Into, std::string_view Street, std::initializer_list<std::string_view> After);

// Where a value of an entry came from: the line of the card it was read
// from, and the field it went into (null for a line of the notes).
struct TValueSource {
  int32_t Line;
  const void* Field;
  std::string NoteLine;
};

// What becomes of a contact: the fields an entry has, and the lines of the
// notes for everything else.
class TEntryBuilder {
public:
  TEntryBuilder() : Item(std::make_unique<TAddressItem>()) {}
  // Ready for the next contact, as if new; the room of its lines is kept.
  void Reset();

  template <size_t Capacity>
  void Put(TFixedText<Capacity>& Field, std::string_view Value) {
    if (Value.find('\r') != std::string_view::npos) return Put(Field, WithLfBreaks(Value));
    if (Value.size() > Capacity && CharCount(Value) > Capacity) ++Cut;
    Field = Value;
    From(&Field);
  }
  // Into the field of its kind while that is empty, else into the notes
  // under Label (by default one that names the kind); a number of no
  // field's kind always goes there.
  void PutNumberOfKind(ENumberKind Kind, std::string_view Number, const std::string& Label);
  // Into a number field, without what cannot stand in a phone number.
  template <size_t Capacity>
  void PutNumber(TFixedText<Capacity>& Field, std::string_view Value) {
    if (IsPhoneNumberText(Value)) return Put(Field, Value);
    int32_t Dropped = 0;
    const std::string Clean = PhoneNumberText(Value, Dropped);
    PhoneCharactersDropped += Dropped;
    Put(Field, Clean);
  }
  // Into the field when it is still empty, else into the notes under Label.
  template <size_t Capacity>
  void PutOrNote(TFixedText<Capacity>& Field, std::string_view Value, const std::string& Label) {
    if (Field.empty()) Put(Field, Value);
    else Note(Label, Value);
  }
  void Note(const std::string& Label, std::string_view Value);
  // When no family name was given: the given name stands in for it, so
  // that the entry has a surname the book can list and the window key on.
  void Names(std::string_view Family, std::string_view Given);
  // Nothing an entry can show: no name, number, address or notes.
  bool Empty() const;
  // When the entry has no name yet: the first of these that is given
  // (a full name, an organisation, a nickname, an e-mail address) is its surname.
  void NameFromFirstOf(std::initializer_list<std::string_view> Candidates);
  // Throws EImportError (naming Line) once the notes and addresses hold more
  // lines than a book can, rather than collecting them to the end.
  void CheckLines(int32_t Line) const;
  // Names from a full name when no parts were given: the last word is the
  // surname, unless the name is an organisation's.
  void NamesFromFullName(std::string_view Full, bool Organisation);

  // Hands the entry over to Into (an empty one is counted instead); Line is
  // where its card or row begins. Throws EImportError for what a book file
  // cannot hold.
  void Finish(int32_t Line, TImported& Into);

  // When Sources is set, each value put is recorded there as coming from
  // SourceLine.
  void From(const void* Field) {
    if (Sources) Sources->push_back({SourceLine, Field, {}});
  }
  std::vector<TValueSource>* Sources = nullptr;
  int32_t SourceLine = 0;

  std::unique_ptr<TAddressItem> Item;
  TLines HomeAddress, BusAddress, NoteLines, Extras;
  bool HaveHomeAddress = false, HaveBusAddress = false, HaveNotes = false;
  int32_t Cut = 0;
  int32_t PhoneCharactersDropped = 0;

private:
  // The one fax field: a work fax before a fax of no kind before a home fax.
  int FaxRank = 0;
  std::string FaxNumber;
};

// Text cut to at most Bytes bytes, never inside a UTF-8 character.
std::string_view CutToBytes(std::string_view Text, size_t Bytes);

}  // namespace ContactFields
