#pragma once

// The three-way merge of one entry: each field changed on one side takes
// that side's value, the notes merge line by line, and what both sides
// changed differently is a conflict.

#include <memory>
#include <vector>

#include "Adrbook.h"

struct TMerge {
  std::unique_ptr<TAddressItem> Result;
  unsigned LocalSet = 0, ServerSet = 0;  // bits of the fields each side changed
  std::vector<int> Conflicts;
};

TMerge Merge(const TAddressItem& LocalBase, const TAddressItem& Local, const TAddressItem& ServerBase,
             const TAddressItem& Server);
