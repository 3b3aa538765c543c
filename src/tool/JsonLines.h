#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "Adrbook.h"

// One entry as a JSON object on one line, every field named as in the entry.
std::string EntryToJson(const TAddressItem& Item);

// Entries as JSON lines gathered in one buffer, to be written out in large blocks.
class TJsonLines {
public:
  void Add(const TEntryView& Item);  // one object and a line feed
  std::string_view Text() const { return {Buffer.get(), Length}; }
  void Clear() { Length = 0; }

private:
  // Where the next Bytes bytes go.
  char* Room(size_t Bytes) {
    if (Capacity - Length < Bytes) Grow(Bytes);
    return Buffer.get() + Length;
  }
  void Grow(size_t Bytes);
  void PutRaw(std::string_view Text) {
    std::memcpy(Room(Text.size()), Text.data(), Text.size());
    Length += Text.size();
  }
  void PutString(std::string_view Text);
  std::unique_ptr<char[]> Buffer;
  size_t Length = 0;
  size_t Capacity = 0;
};
// Fills Item from such a line; throws std::runtime_error naming the column at
// fault. Values longer than their fields are cut, and counted in Cut.
void ReadJsonEntry(const std::string& Line, TAddressItem& Item, int32_t* Cut = nullptr);
