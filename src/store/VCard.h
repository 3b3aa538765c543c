#pragma once

// vCard: the cards of phones, mail programs and address servers (2.1, 3.0
// and 4.0) read into entries. The writer is VCardWriter.h; both are included
// here so that users of cards need one include.

#include <string_view>
#include <vector>

#include "ContactFields.h"
#include "VCardLexer.h"
#include "VCardWriter.h"

// Every card of the text, in order; a card nested in another (AGENT) comes
// after it. Whatever a card holds that an entry has no field for goes into
// the notes as a line; pictures and other binary values are counted, and so
// are cards with neither a name nor a number and contact groups (KIND:group),
// which are passed over. A card
// without a VERSION is read by the rules of 2.1. Throws EImportError, and
// EFileError when a file cannot be read.
TImported ReadVCards(std::string_view Text);
TImported ReadVCards(TInput& Input, TEntrySink Sink = {});
// The same for the sync's card patcher, which writes a card back: where the
// card of the first entry begins (damaged, group and empty cards before it
// are passed over) and what each of its lines went into.
struct TCardTrace {
  int32_t BeginLine = 0;  // its BEGIN:VCARD; 0 when no card gave an entry
  std::vector<ContactFields::TValueSource> Sources;
};
TImported ReadVCards(std::string_view Text, TCardTrace& Trace);

// The property whose notes line the reader labels so ("E-mail" is EMAIL, "Job
// title" TITLE): one an entry has no field for. Null for any other label.
const char* VCardPropertyOfLabel(std::string_view Label);
