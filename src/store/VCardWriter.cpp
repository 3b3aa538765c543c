#include "VCardWriter.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ByteWords.h"
#include "Sha1.h"
#include "TextCodec.h"

using namespace ContactFields;

namespace {

// The bytes AppendEscaped writes otherwise.
struct TSpecialBytes {
  bool Is[256] = {};
  constexpr TSpecialBytes() {
    Is[uint8_t('\\')] = Is[uint8_t(',')] = Is[uint8_t(';')] = Is[uint8_t('\n')] = Is[uint8_t('\r')] = true;
  }
};
constexpr TSpecialBytes Special;

// Non-zero when one of the eight bytes of Word is one of the special ones,
// marked as ByteWords::Has marks it.
uint64_t HasSpecial(uint64_t Word) {
  using namespace ByteWords;
  return Has(Word, '\\') | Has(Word, ',') | Has(Word, ';') | Has(Word, '\n') | Has(Word, '\r');
}

// Where the first special byte may be: the start of the first eight bytes
// that hold one, or the end.
size_t PlainPrefix(std::string_view Text) {
  size_t At = 0;
  for (; Text.size() - At >= 8; At += 8)
    if (HasSpecial(ByteWords::Load(Text.data() + At))) return At;
  if (At == Text.size()) return At;
  // The rest padded with spaces, which are plain.
  return HasSpecial(ByteWords::LoadShort(Text.data() + At, Text.size() - At)) ? At : Text.size();
}

void AppendEscaped(std::string& Out, std::string_view Text) {
  // Plain runs are copied whole: most values have nothing to escape.
  size_t Run = 0;
  for (size_t I = PlainPrefix(Text); I < Text.size(); ++I) {
    if (!Special.Is[static_cast<unsigned char>(Text[I])]) continue;
    const char* Escape;
    size_t Width = 1;
    switch (Text[I]) {
      case '\\':
        Escape = "\\\\";
        break;
      case ',':
        Escape = "\\,";
        break;
      case ';':
        Escape = "\\;";
        break;
      case '\n':
        Escape = "\\n";
        break;
      case '\r':  // a line break too, alone or as CRLF
        Escape = "\\n";
        if (I + 1 < Text.size() && Text[I + 1] == '\n') Width = 2;
        break;
      default:
        continue;
    }
    Out.append(Text.data() + Run, I - Run);
    Out.append(Escape, 2);
    Run = I + Width;
    I = Run - 1;
  }
  Out.append(Text.data() + Run, Text.size() - Run);
}

// One byte of Text at S, escaped, at P; returns the byte after it.
const char* EscapeByte(char*& P, const char* S, const char* End) {
  const char C = *S;
  if (!Special.Is[static_cast<unsigned char>(C)]) {
    *P++ = C;
    return S + 1;
  }
  *P++ = '\\';
  if (C == '\r' || C == '\n') {
    *P++ = 'n';  // a line break, alone or as CRLF
    return C == '\r' && End - S > 1 && S[1] == '\n' ? S + 2 : S + 1;
  }
  *P++ = C;
  return S + 1;
}

// AppendEscaped into room had beforehand: twice the text's size, and eight
// bytes beyond, which a plain tail may be stored over.
char* EscapeInto(char* P, std::string_view Text) {
  const char* S = Text.data();
  const char* const End = S + Text.size();
#if defined(__SSE2__)
  // Sixteen bytes a step where there are as many: notes and addresses.
  while (End - S >= 16) {
    const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(P), Bytes);
    auto Is = [&](char C) { return _mm_cmpeq_epi8(Bytes, _mm_set1_epi8(C)); };
    const auto Marks = unsigned(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(_mm_or_si128(Is('\\'), Is(',')), _mm_or_si128(Is(';'), Is('\n'))), Is('\r'))));
    if (!Marks) {
      P += 16;
      S += 16;
      continue;
    }
    const auto Plain = size_t(std::countr_zero(Marks));
    P += Plain;
    S = EscapeByte(P, S + Plain, End);
  }
#endif
  while (End - S >= 8) {
    // Stored whole; a special byte and what follows it are written over.
    const uint64_t Word = ByteWords::Load(S);
    std::memcpy(P, &Word, 8);
    const uint64_t Marks = HasSpecial(Word);
    if (!Marks) {
      P += 8;
      S += 8;
      continue;
    }
    const size_t Plain = ByteWords::FirstMarked(Marks);
    P += Plain;
    S = EscapeByte(P, S + Plain, End);
  }
  const size_t Rest = size_t(End - S);
  if (Rest == 0) return P;
  const uint64_t Word = ByteWords::LoadShort(S, Rest);
  if (!HasSpecial(Word)) {
    std::memcpy(P, &Word, 8);
    return P + Rest;
  }
  while (S < End) S = EscapeByte(P, S, End);
  return P;
}

// Content lines are folded at 75 octets, never inside a character or an
// escape: continuation lines begin with a space.
void AppendFolded(std::string& Out, std::string_view Line, std::string_view LineEnd = "\r\n") {
  constexpr size_t Width = 75;
  size_t Room = Width;
  size_t Start = 0;
  while (Line.size() - Start > Room) {
    size_t End = Start + Room;
    // Back off to the start of a character...
    for (int Back = 0; Back < 3 && End > Start + 1 && (static_cast<unsigned char>(Line[End]) & 0xC0) == 0x80; ++Back)
      --End;
    // ...and off an escape's backslash: an odd run of them ending here means
    // the last one escapes the octet after the cut.
    size_t Slashes = 0;
    while (End - Slashes > Start && Line[End - Slashes - 1] == '\\') ++Slashes;
    if (Slashes % 2 == 1 && End - 1 > Start) --End;
    if (Start > 0) Out += ' ';
    Out.append(Line.data() + Start, End - Start);
    Out += LineEnd;
    Start = End;
    Room = Width - 1;
  }
  if (Start > 0) Out += ' ';
  Out.append(Line.data() + Start, Line.size() - Start);
  Out += LineEnd;
}

}  // namespace

void AppendVCardEscaped(std::string& Out, std::string_view Text) { AppendEscaped(Out, Text); }

void AppendVCardLine(std::string& Out, std::string_view Line, std::string_view LineEnd) {
  AppendFolded(Out, Line, LineEnd);
}

std::string VCardUid(const TEntryView& Item, int32_t Occurrence) {
  return UuidFromSha1(VCardUidHash(Item, Occurrence));
}

std::array<uint8_t, 20> VCardUidHash(const TEntryView& Item, int32_t Occurrence) {
  thread_local TVCardUidName Name;
  Name.Build(Item);
  if (Occurrence > 0) Name.SetOccurrence(Occurrence);
  return Name.Hash();
}

void TVCardUidName::Reserve(size_t Size, size_t Keep) {
  if (Size <= Room) return;
  Room = std::max(Size, Room * 2);
  auto Bigger = std::make_unique<unsigned char[]>(Room);
  if (Keep > 0) std::memcpy(Bigger.get(), Buffer.get(), Keep);
  Buffer.swap(Bigger);
}

void TVCardUidName::Build(const TEntryView& Item) {
  // Our own namespace for the names of entries.
  static const char Namespace[] = "\x3f\x0d\x5b\x6e\x8c\x2a\x4e\x71\x9a\x4b\x6d\x1c\x2e\x7f\x8a\x90";
  // The name: every field but the page last shown, which changes by looking
  // at the entry; each field ends in 0x1F, each line of a list begins with
  // 0x1E. The room is had once: each line and its 0x1E fit in the room of the
  // line and its size in the list's packed bytes.
  size_t Need = 16 + 3 * 12 + 11 + Sha1PadRoom, Lines = 0;
  for (std::string_view Field : Item.TextFields()) Need += Field.size() + 1;
  for (const TLinesView* List : Item.LineLists()) Lines += List->PackedSize();
  Reserve(Need + Lines);
  unsigned char* At = Buffer.get();
  std::memcpy(At, Namespace, 16);
  At += 16;
  auto Put = [&](std::string_view Text) {
    ByteWords::CopyShort(reinterpret_cast<char*>(At), Text.data(), Text.size());
    At += Text.size();
  };
  for (std::string_view Field : Item.TextFields()) {
    Put(Field);
    *At++ = 0x1F;
  }
  for (const TLinesView* List : Item.LineLists()) {
    const int32_t Count = List->Count();
    if (Count >= 0 && Count < 10) *At++ = static_cast<unsigned char>('0' + Count);
    else
      At = reinterpret_cast<unsigned char*>(
          std::to_chars(reinterpret_cast<char*>(At), reinterpret_cast<char*>(At) + 11, Count).ptr);
    List->ForEach([&](std::string_view Line) {
      if (Line.size() + 1 > Lines) {
        // More than the list's packed bytes: never from a book or a line
        // list, but a view may be wrong.
        const size_t Done = size_t(At - Buffer.get());
        Reserve(Room + Line.size() + 1, Done);
        Lines += Line.size() + 1;
        At = Buffer.get() + Done;
      }
      Lines -= Line.size() + 1;
      *At++ = 0x1E;
      Put(Line);
    });
    *At++ = 0x1F;
  }
  Fields = size_t(At - Buffer.get());
  Finish(At);
}

void TVCardUidName::Finish(unsigned char* At) {
  const size_t Size = size_t(At - Buffer.get());
  Padded = Size + Sha1Pad(At, Size, Size % 64);
}

void TVCardUidName::SetOccurrence(int32_t Occurrence) {
  char* At = reinterpret_cast<char*>(Buffer.get() + Fields);
  if (Occurrence > 0) At = std::to_chars(At, At + 11, Occurrence).ptr;
  Finish(reinterpret_cast<unsigned char*>(At));
}

std::array<uint8_t, 20> TVCardUidName::Hash() const { return Sha1OfBlocks(Blocks(), BlockCount()); }

namespace {

// The writers of a card's pieces take where to write and give back where
// they ended: a pointer that lambdas share by reference lives in memory, and
// each piece waited for it.
char* Put(char* P, std::string_view Words) {
  ByteWords::CopyShort(P, Words.data(), Words.size());
  return P + Words.size();
}

// Ends the content line begun at Start, folded there in the few cases where
// it is longer than a line may be.
char* EndLine(char* Start, char* P) {
  if (P - Start > 75) {
    const std::string Line(Start, P);
    std::string Folded;
    AppendFolded(Folded, Line);
    return Put(Start, Folded);
  }
  P[0] = '\r';
  P[1] = '\n';
  return P + 2;
}

char* TextLine(char* P, std::string_view Head, std::string_view Value) {
  if (Value.empty()) return P;
  char* const Start = P;
  return EndLine(Start, EscapeInto(Put(P, Head), Value));
}

// A phone number is no text: it is written as it is, without escapes,
// which other programs keep and a modem cannot dial.
char* NumberLine(char* P, std::string_view Head, std::string_view Value, TExported* Counts) {
  if (Value.empty()) return P;
  std::string Clean;
  std::string_view Kept = Value;
  if (!IsPhoneNumberText(Value)) {
    int32_t Dropped = 0;
    Kept = Clean = PhoneNumberText(Value, Dropped);
    if (Dropped > 0 && Counts) {
      Counts->PhoneCharactersDropped += Dropped;
      ++Counts->NumbersChanged;
    }
  }
  if (Kept.empty()) return P;
  char* const Start = P;
  return EndLine(Start, Put(Put(P, Head), Kept));  // never longer than Value: characters are only left out
}

// The lines of an address stay lines: all of them in the street.
char* LinesLine(char* P, std::string_view Head, std::string_view Tail, const TLinesView& List) {
  if (List.Count() == 0) return P;
  char* const Start = P;
  char* At = Put(P, Head);
  bool First = true;
  List.ForEach([&](std::string_view Line) {
    if (!First) At = Put(At, "\\n");
    First = false;
    At = EscapeInto(At, Line);
  });
  return EndLine(Start, Put(At, Tail));
}

}  // namespace

size_t AppendVCard(std::string& Out, const TEntryView& Item, std::string_view Uid, TExported* Counts) {
  // The card is written into room had once, at most what the escapes, the
  // folds and the fixed words can take.
  size_t Bytes = Uid.size() + Item.FirstName.size() + Item.Surname.size();
  for (std::string_view Field : Item.TextFields()) Bytes += Field.size();
  for (const TLinesView* List : Item.LineLists()) Bytes += List->PackedSize() + 2 * size_t(std::max(List->Count(), 0));
  const size_t Room = 2 * Bytes + 400, Begin = Out.size();
  Out.resize(Begin + Room + Room / 16 + 16);
  char* const Base = Out.data();
  char* P = Put(Base + Begin, "BEGIN:VCARD\r\nVERSION:3.0\r\n");
  size_t UidAt = std::string::npos;
  if (!Uid.empty()) {
    char* const Start = P;
    P = Put(P, "UID:");
    UidAt = size_t(P - Base);
    P = EndLine(Start, EscapeInto(P, Uid));
  }
  char* Start = P;
  P = EscapeInto(Put(P, "N:"), Item.Surname);
  *P++ = ';';
  P = EndLine(Start, Put(EscapeInto(P, Item.FirstName), ";;;"));
  Start = P;
  P = EscapeInto(Put(P, "FN:"), Item.FirstName);
  if (!Item.FirstName.empty() && !Item.Surname.empty()) *P++ = ' ';
  P = EndLine(Start, EscapeInto(P, Item.Surname));
  P = NumberLine(P, "TEL;TYPE=HOME,VOICE:", Item.HomeTelephone, Counts);
  P = NumberLine(P, "TEL;TYPE=WORK,VOICE:", Item.BusTelephone, Counts);
  P = TextLine(P, "X-TOBRINEL-EXTENSION:", Item.BusExtn);
  P = NumberLine(P, "TEL;TYPE=WORK,FAX:", Item.BusFacsimile, Counts);
  P = NumberLine(P, "TEL;TYPE=CELL:", Item.BusMobile, Counts);
  P = LinesLine(P, "ADR;TYPE=HOME:;;", ";;;;", Item.HomeAddress);
  P = LinesLine(P, "ADR;TYPE=WORK:;;", ";;;;", Item.BusAddress);
  P = LinesLine(P, "NOTE:", "", Item.Notes);
  if (Item.TabPage != 0) {
    Start = P;
    P = EndLine(Start, std::to_chars(Put(P, "X-TOBRINEL-TABPAGE:"), P + 64, Item.TabPage).ptr);
  }
  P = Put(P, "END:VCARD\r\n");
  Out.resize(size_t(P - Base));
  return UidAt;
}
