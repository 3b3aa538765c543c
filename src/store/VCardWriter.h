#pragma once

// Entries written as vCard 3.0 cards, with the UID each card carries.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ContactFields.h"

// A UID for the entry's card that stays the same while the entry does: a
// name-based UUID of its fields. Occurrence tells apart entries that are
// alike in every field (0 for the first).
std::string VCardUid(const TEntryView& Item, int32_t Occurrence = 0);
// The SHA-1 that UID is made of (UuidFromSha1).
std::array<uint8_t, 20> VCardUidHash(const TEntryView& Item, int32_t Occurrence = 0);

// The name of an entry that its UID is the hash of, laid out in blocks for
// Sha1OfBlocks in a buffer kept for its room: an export names every entry.
class TVCardUidName {
public:
  // Item's name, for Occurrence 0.
  void Build(const TEntryView& Item);
  // The name last built, for another Occurrence.
  void SetOccurrence(int32_t Occurrence);
  const unsigned char* Blocks() const { return Buffer.get(); }
  size_t BlockCount() const { return Padded / 64; }
  std::array<uint8_t, 20> Hash() const;

private:
  // Room for Size bytes, the first Keep of them kept.
  void Reserve(size_t Size, size_t Keep = 0);
  // Pads the name that ends at At.
  void Finish(unsigned char* At);
  std::unique_ptr<unsigned char[]> Buffer;
  size_t Room = 0;
  size_t Fields = 0;  // the name without an occurrence
  size_t Padded = 0;
};

// One entry as a 3.0 card, UTF-8, lines ending in CRLF and folded at 75
// octets. A UID line is written when Uid is not empty. Phone numbers are
// written without escapes; what cannot stand in one is left out and counted
// in Counts. Returns where in Out the UID's value begins (npos without one).
size_t AppendVCard(std::string& Out, const TEntryView& Item, std::string_view Uid = {}, TExported* Counts = nullptr);

// Text with the escapes of a vCard value: \\ \, \; and \n for a line break.
void AppendVCardEscaped(std::string& Out, std::string_view Text);
// One content line folded at 75 octets, each physical line ending in LineEnd.
void AppendVCardLine(std::string& Out, std::string_view Line, std::string_view LineEnd = "\r\n");
