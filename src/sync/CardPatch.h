#pragma once

// Cards keep what the book cannot hold. An entry that came from a server's
// card goes back as that card with only the properties the book maps
// replaced, and of those only the ones whose fields changed: the name (N, FN),
// the telephones (TEL, the extension property), the addresses (ADR), the notes
// (NOTE), the details page, and whatever else the vCard writer writes.
// Everything else (UID, VERSION, PHOTO, EMAIL, BDAY, CATEGORIES, grouped
// properties, other programs' own properties) goes back byte for byte, in its
// order and with its folding. A TEL or ADR that the reader would not put into a
// field (a pager, a home fax) is kept too.
//
// The reader puts what an entry has no field for into the notes as lines
// ("E-mail: ..."). Those lines are not written into NOTE again while the
// properties they come from stay in the card; a property whose line the
// person deleted from the notes since the last sync goes with it.

#include <memory>
#include <string>
#include <string_view>

#include "Adrbook.h"

// The first entry of a card's text; null when the text cannot be read.
std::unique_ptr<TAddressItem> ReadCard(std::string_view Card);

// The card to send for Entry in place of Card. Base is the entry as last
// synced (null when unknown). A NewUid replaces the card's UID (or is added).
// A card that cannot be read is replaced by a new one.
std::string PatchCard(std::string_view Card, const TAddressItem& Entry, const TAddressItem* Base,
                      std::string_view NewUid = {});

// A new card for an entry, with its UID.
std::string NewCard(const TAddressItem& Entry, std::string_view Uid);

// The card's UID, "" when it has none.
std::string CardUid(std::string_view Card);
