#pragma once

// The fields of an entry as synchronisation sees them: one by one for the
// three-way merge, whole for the fingerprint that tells an unchanged entry,
// and in a compact form for the sync state.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Adrbook.h"

enum ESyncField : int {
  sfSurname,
  sfFirstName,
  sfHomeTelephone,
  sfBusTelephone,
  sfBusExtn,
  sfBusFacsimile,
  sfBusMobile,
  sfHomeAddress,
  sfBusAddress,
  sfNotes,
  sfTabPage,
  SyncFieldCount
};

namespace SyncFields {

// "home telephone", for messages.
const char* FieldName(int Field);
bool SameField(const TAddressItem& A, const TAddressItem& B, int Field);
bool FieldEmpty(const TAddressItem& Item, int Field);
void CopyField(const TAddressItem& From, TAddressItem& To, int Field);
void CopyFields(const TAddressItem& From, TAddressItem& To);
std::unique_ptr<TAddressItem> Clone(const TAddressItem& Item);

// Equal in every field but the details page, which says nothing of the person.
bool SameContent(const TAddressItem& A, const TAddressItem& B);
bool SameEntry(const TAddressItem& A, const TAddressItem& B);
// Fields, the page not counted, that are filled in both and equal.
int EqualFields(const TAddressItem& A, const TAddressItem& B);
int FilledFields(const TAddressItem& Item);

// 64 bits over every field but the details page, which is where the person
// last looked and no reason to send a card; entries that differ elsewhere
// differ here but for a chance of 2^-64.
uint64_t Fingerprint(const TAddressItem& Item);
// Surname and first name as one key.
std::string NameKey(const TAddressItem& Item);
// "John Smith", "(no name)" for an entry without one.
std::string DisplayName(const TAddressItem& Item);

// Compact form: each text as its length, ':' and its bytes; each line list as
// its count, ':' and its lines the same way; then the page in decimal.
void Encode(std::string& Out, const TAddressItem& Item);
// False for a form that is cut short or damaged.
bool Decode(std::string_view Encoded, TAddressItem& Item);

}  // namespace SyncFields
