#include "SyncFields.h"

#include <charconv>

namespace SyncFields {

namespace {

std::string_view Text(const TAddressItem& I, int Field) {
  switch (Field) {
    case sfSurname:
      return I.Surname;
    case sfFirstName:
      return I.FirstName;
    case sfHomeTelephone:
      return I.HomeTelephone;
    case sfBusTelephone:
      return I.BusTelephone;
    case sfBusExtn:
      return I.BusExtn;
    case sfBusFacsimile:
      return I.BusFacsimile;
    default:
      return I.BusMobile;
  }
}

void SetText(TAddressItem& I, int Field, std::string_view Value) {
  switch (Field) {
    case sfSurname:
      I.Surname = Value;
      break;
    case sfFirstName:
      I.FirstName = Value;
      break;
    case sfHomeTelephone:
      I.HomeTelephone = Value;
      break;
    case sfBusTelephone:
      I.BusTelephone = Value;
      break;
    case sfBusExtn:
      I.BusExtn = Value;
      break;
    case sfBusFacsimile:
      I.BusFacsimile = Value;
      break;
    default:
      I.BusMobile = Value;
      break;
  }
}

const TLineList& Lines(const TAddressItem& I, int Field) {
  return Field == sfHomeAddress ? I.HomeAddress : Field == sfBusAddress ? I.BusAddress : I.Notes;
}

TLineList& Lines(TAddressItem& I, int Field) {
  return Field == sfHomeAddress ? I.HomeAddress : Field == sfBusAddress ? I.BusAddress : I.Notes;
}

bool IsList(int Field) { return Field >= sfHomeAddress && Field <= sfNotes; }

// FNV-1a, then a final mix so that near-equal entries spread over all bits.
struct THash {
  uint64_t Value = 0xcbf29ce484222325ULL;
  void Bytes(std::string_view Data) {
    for (char C : Data) Value = (Value ^ static_cast<unsigned char>(C)) * 0x100000001b3ULL;
  }
  void Size(size_t N) {
    char Buffer[sizeof N];
    for (size_t I = 0; I < sizeof N; ++I) Buffer[I] = char(N >> (8 * I));
    Bytes(std::string_view(Buffer, sizeof N));
  }
  uint64_t Final() const {
    uint64_t H = Value;
    H ^= H >> 33;
    H *= 0xff51afd7ed558ccdULL;
    H ^= H >> 33;
    H *= 0xc4ceb9fe1a85ec53ULL;
    return H ^ (H >> 33);
  }
};

void PutPiece(std::string& Out, std::string_view Piece) {
  Out += std::to_string(Piece.size());
  Out += ':';
  Out += Piece;
}

bool GetNumber(std::string_view& In, size_t& Number) {
  size_t Colon = In.find(':');
  if (Colon == 0 || Colon == std::string_view::npos || Colon > 10) return false;
  auto [End, Error] = std::from_chars(In.data(), In.data() + Colon, Number);
  if (Error != std::errc() || End != In.data() + Colon) return false;
  In.remove_prefix(Colon + 1);
  return true;
}

bool GetPiece(std::string_view& In, std::string_view& Piece) {
  size_t Size;
  if (!GetNumber(In, Size) || Size > In.size()) return false;
  Piece = In.substr(0, Size);
  In.remove_prefix(Size);
  return true;
}

}  // namespace

const char* FieldName(int Field) {
  // clang-format off
  static const char* const Names[] = {"surname",    "first name", "home telephone", "work telephone",
                                      "extension",  "fax",        "mobile",         "home address",
                                      "work address", "notes",    "details page"};
  // clang-format on
  return Field >= 0 && Field < SyncFieldCount ? Names[Field] : "";
}

bool SameField(const TAddressItem& A, const TAddressItem& B, int Field) {
  if (Field == sfTabPage) return A.TabPage == B.TabPage;
  if (IsList(Field)) return Lines(A, Field) == Lines(B, Field);
  return Text(A, Field) == Text(B, Field);
}

bool FieldEmpty(const TAddressItem& Item, int Field) {
  if (Field == sfTabPage) return Item.TabPage == 0;
  if (IsList(Field)) return Lines(Item, Field).Count() == 0;
  return Text(Item, Field).empty();
}

void CopyField(const TAddressItem& From, TAddressItem& To, int Field) {
  if (Field == sfTabPage) To.TabPage = From.TabPage;
  else if (IsList(Field)) Lines(To, Field) = Lines(From, Field);
  else SetText(To, Field, Text(From, Field));
}

void CopyFields(const TAddressItem& From, TAddressItem& To) {
  for (int F = 0; F < SyncFieldCount; ++F) CopyField(From, To, F);
}

std::unique_ptr<TAddressItem> Clone(const TAddressItem& Item) {
  auto Copy = std::make_unique<TAddressItem>();
  CopyFields(Item, *Copy);
  return Copy;
}

bool SameContent(const TAddressItem& A, const TAddressItem& B) {
  for (int F = 0; F < sfTabPage; ++F)
    if (!SameField(A, B, F)) return false;
  return true;
}

bool SameEntry(const TAddressItem& A, const TAddressItem& B) { return SameContent(A, B) && A.TabPage == B.TabPage; }

int EqualFields(const TAddressItem& A, const TAddressItem& B) {
  int Equal = 0;
  for (int F = 0; F < sfTabPage; ++F) Equal += !FieldEmpty(A, F) && SameField(A, B, F);
  return Equal;
}

int FilledFields(const TAddressItem& Item) {
  int Filled = 0;
  for (int F = 0; F < sfTabPage; ++F) Filled += !FieldEmpty(Item, F);
  return Filled;
}

uint64_t Fingerprint(const TAddressItem& Item) {
  THash H;
  for (int F = 0; F < sfTabPage; ++F) {
    if (IsList(F)) {
      H.Size(size_t(Lines(Item, F).Count()));
      Lines(Item, F).ForEach([&](std::string_view Line) {
        H.Size(Line.size());
        H.Bytes(Line);
      });
    } else {
      H.Size(Text(Item, F).size());
      H.Bytes(Text(Item, F));
    }
  }
  return H.Final();
}

std::string NameKey(const TAddressItem& Item) {
  std::string Key = Item.Surname;
  Key += '\0';
  Key += Item.FirstName.str();
  return Key;
}

std::string DisplayName(const TAddressItem& Item) {
  std::string Name = Item.FirstName;
  if (!Name.empty() && !Item.Surname.empty()) Name += ' ';
  Name += Item.Surname.str();
  return Name.empty() ? "(no name)" : Name;
}

void Encode(std::string& Out, const TAddressItem& Item) {
  for (int F = 0; F < sfTabPage; ++F) {
    if (!IsList(F)) {
      PutPiece(Out, Text(Item, F));
      continue;
    }
    Out += std::to_string(Lines(Item, F).Count());
    Out += ':';
    Lines(Item, F).ForEach([&](std::string_view Line) { PutPiece(Out, Line); });
  }
  Out += std::to_string(Item.TabPage);
}

bool Decode(std::string_view In, TAddressItem& Item) {
  std::string Packed;
  for (int F = 0; F < sfTabPage; ++F) {
    std::string_view Piece;
    if (!IsList(F)) {
      if (!GetPiece(In, Piece)) return false;
      SetText(Item, F, Piece);
      continue;
    }
    size_t Count;
    if (!GetNumber(In, Count) || Count > In.size()) return false;
    Packed.clear();
    for (size_t I = 0; I < Count; ++I) {
      if (!GetPiece(In, Piece)) return false;
      TLineList::AppendPacked(Packed, Piece);
    }
    Lines(Item, F).AssignPacked(Packed, int32_t(Count));
  }
  unsigned Page = 0;
  auto [End, Error] = std::from_chars(In.data(), In.data() + In.size(), Page);
  if (In.empty() || Error != std::errc() || End != In.data() + In.size() || Page > 255) return false;
  Item.TabPage = uint8_t(Page);
  return true;
}

}  // namespace SyncFields
