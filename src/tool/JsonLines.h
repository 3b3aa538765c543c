#pragma once

#include <string>

#include "Adrbook.h"

// One entry as a JSON object on one line, every field named as in the entry.
std::string EntryToJson(const TAddressItem& Item);
// Fills Item from such a line; throws std::runtime_error naming the column at fault.
void ReadJsonEntry(const std::string& Line, TAddressItem& Item);
