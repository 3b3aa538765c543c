#pragma once

// Entries written as vCard 3.0 cards, with the UID each card carries.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "ContactFields.h"

// A UID for the entry's card that stays the same while the entry does: a
// name-based UUID of its fields. Occurrence tells apart entries that are
// alike in every field (0 for the first).
std::string VCardUid(const TEntryView& Item, int32_t Occurrence = 0);
// The SHA-1 that UID is made of (UuidFromSha1).
std::array<uint8_t, 20> VCardUidHash(const TEntryView& Item, int32_t Occurrence = 0);

// One entry as a 3.0 card, UTF-8, lines ending in CRLF and folded at 75
// octets. A UID line is written when Uid is not empty. Phone numbers are
// written without escapes; what cannot stand in one is left out and counted
// in Counts.
void AppendVCard(std::string& Out, const TEntryView& Item, std::string_view Uid = {}, TExported* Counts = nullptr);

// Text with the escapes of a vCard value: \\ \, \; and \n for a line break.
void AppendVCardEscaped(std::string& Out, std::string_view Text);
// One content line folded at 75 octets, each physical line ending in LineEnd.
void AppendVCardLine(std::string& Out, std::string_view Line, std::string_view LineEnd = "\r\n");
