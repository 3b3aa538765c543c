#pragma once

// Cards keep what the book cannot hold. An entry that came from a server's
// card goes back as that card with only what changed written anew: a field
// edited here changes the value of the property it came from (its group,
// parameters and value form kept), a field filled here adds the writer's
// line for it, a field emptied deletes its property. Everything else goes
// back byte for byte, in its order and with its folding.
//
// The reader puts what an entry has no field for into the notes as lines
// ("E-mail (work): ...", "Mobile: ...", "Birthday: ..."). Each such line is
// its property: edited, the property takes the new value; deleted since the
// last sync, the property goes; typed here in one of those forms, it makes a
// new property. Other lines of the notes are the card's NOTE. A changed
// card's REV is set to the time of the change.

#include <memory>
#include <string>
#include <string_view>

#include "Adrbook.h"

// The first entry of a card's text; null when the text cannot be read.
std::unique_ptr<TAddressItem> ReadCard(std::string_view Card);

// The card to send for Entry in place of Card. Base is the entry as last
// synced (null when unknown). A NewUid replaces the card's UID (or is added).
// The card patched is the one the entry is read from: cards before it that
// the reader passes over go back as they are. A card that cannot be read is
// replaced by a new one.
// Revision is REV's value ("20261209T101500Z"), the time now when empty.
std::string PatchCard(std::string_view Card, const TAddressItem& Entry, const TAddressItem* Base,
                      std::string_view NewUid = {}, std::string_view Revision = {});

// A new card for an entry, with its UID and REV.
std::string NewCard(const TAddressItem& Entry, std::string_view Uid, std::string_view Revision = {});

// A contact group (KIND:group, Apple's X-ADDRESSBOOKSERVER-KIND:group): a list
// of members, no entry.
bool IsGroupCard(std::string_view Card);

// The card's UID, "" when it has none.
std::string CardUid(std::string_view Card);
